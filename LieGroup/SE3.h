// SPDX-License-Identifier: Apache-2.0
#pragma once

// The owning rigid transform and its Eigen::Map views; the operations are in LieGroupBase.

#include <LieGroup/LieGroupBase.h>
#include <LieGroup/SO3.h>
#include <LieGroup/SO3Tangent.h>

#include <Eigen/Core>

namespace Kel {

template <typename ScalarType>
class SE3 : public LieGroupBase<SE3<ScalarType>> {
  using Base = LieGroupBase<SE3<ScalarType>>;

 public:
  using Scalar = ScalarType;
  using typename Base::Coefficients;
  using typename Base::Matrix4;
  using typename Base::Tangent;
  using typename Base::Vector3;

  /// The identity.
  SE3() { coeffs << 0, 0, 0, 0, 0, 0, 1; }
  /// From 7 coefficients tx, ty, tz, qx, qy, qz, qw.
  explicit SE3(const Coefficients& coefficients) : coeffs(coefficients) {}
  template <typename RotationDerived>
  SE3(const Vector3& translation, const SO3Base<RotationDerived>& rotation) {
    coeffs.template head<3>() = translation;
    coeffs.template tail<4>() = rotation.Coeffs();
  }
  template <typename OtherDerived>
  SE3(const LieGroupBase<OtherDerived>& other) : coeffs(other.Coeffs()) {}  // NOLINT: views convert implicitly

  static SE3 Identity() { return SE3(); }

  /// exp(ρ, ω): rotation Exp(ω), translation V(ω)·ρ.
  static SE3 Exp(const Tangent& tangent) {
    const SO3Tangent<Scalar> w(Eigen::Matrix<Scalar, 3, 1>(tangent.template tail<3>()));
    return SE3(w.LeftJacobian() * tangent.template head<3>(), w.Exp());
  }

  Coefficients& Coeffs() { return coeffs; }
  const Coefficients& Coeffs() const { return coeffs; }
  Scalar* Data() { return coeffs.data(); }
  using Base::Data;

 private:
  Coefficients coeffs;
};

using SE3d = SE3<double>;

namespace internal {
template <typename S>
struct traits<SE3<S>> {
  using Scalar = S;
  using RotationView = Eigen::Map<SO3<S>>;
};
template <typename S>
struct traits<Eigen::Map<SE3<S>, 0>> {
  using Scalar = S;
  using RotationView = Eigen::Map<SO3<S>>;
};
template <typename S>
struct traits<Eigen::Map<const SE3<S>, 0>> {
  using Scalar = S;
  using RotationView = Eigen::Map<const SO3<S>>;
};
}  // namespace internal

}  // namespace Kel

namespace Eigen {

/// A transform view over 7 scalars tx, ty, tz, qx, qy, qz, qw owned elsewhere.
template <typename S>
class Map<Kel::SE3<S>, 0> : public Kel::LieGroupBase<Map<Kel::SE3<S>, 0>> {
 public:
  using Scalar = S;
  using Coefficients = Eigen::Map<Eigen::Matrix<S, 7, 1>>;

  explicit Map(S* data) : coeffs(data) {}
  Map(const Map&) = default;
  /// Assignment writes through the view.
  Map& operator=(const Map& other) {
    coeffs = other.Coeffs();
    return *this;
  }
  template <typename OtherDerived>
  Map& operator=(const Kel::LieGroupBase<OtherDerived>& other) {
    coeffs = other.Coeffs();
    return *this;
  }

  Coefficients& Coeffs() { return coeffs; }
  const Coefficients& Coeffs() const { return coeffs; }
  S* Data() { return coeffs.data(); }

 private:
  Coefficients coeffs;
};

/// A read-only transform view.
template <typename S>
class Map<const Kel::SE3<S>, 0> : public Kel::LieGroupBase<Map<const Kel::SE3<S>, 0>> {
 public:
  using Scalar = S;
  using Coefficients = Eigen::Map<const Eigen::Matrix<S, 7, 1>>;

  explicit Map(const S* data) : coeffs(data) {}
  Map(const Map&) = default;
  Map& operator=(const Map&) = delete;

  const Coefficients& Coeffs() const { return coeffs; }

 private:
  Coefficients coeffs;
};

}  // namespace Eigen
