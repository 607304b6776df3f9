// SPDX-License-Identifier: Apache-2.0
#pragma once

// The tangent of SO(3): a rotation vector ω (3 scalars) whose length θ = |ω| is the angle in radians.
// SO3TangentBase holds the operations, so they work on an owning SO3Tangent and on Eigen::Map views.
//
// Formulas follow J. Sola, D. Atchuthan, J. Deray, "A micro Lie theory for state estimation in
// robotics" (2018): Exp Eq. (143), left Jacobian Eq. (145).

#include <LieGroup/LieGroupFwd.h>
#include <LieGroup/LieGroupLog.h>

#include <Eigen/Core>

#include <cmath>

namespace Kel {

template <typename Derived>
class SO3TangentBase {
 public:
  using Scalar = typename internal::traits<Derived>::Scalar;
  using Vector3 = Eigen::Matrix<Scalar, 3, 1>;
  using Matrix3 = Eigen::Matrix<Scalar, 3, 3>;

  /// The skew-symmetric K with K·v = ω × v.
  static Matrix3 Hat(const Vector3& w) {
    Matrix3 k;
    k << Scalar(0), -w.z(), w.y(),  //
        w.z(), Scalar(0), -w.x(),   //
        -w.y(), w.x(), Scalar(0);
    return k;
  }
  Matrix3 Hat() const { return Hat(Coeffs()); }

  Scalar Angle() const { return Coeffs().norm(); }

  /// The rotation exp(ω) as a unit quaternion. Throws std::runtime_error("SO3::Exp failed!") when the
  /// result is not of unit length (a non-finite ω).
  SO3<Scalar> Exp() const {
    const Vector3 w = Coeffs();
    const Scalar theta2 = w.squaredNorm();
    const Scalar theta = std::sqrt(theta2);
    Scalar k;
    Scalar qw;
    if (theta < Scalar(1e-8)) {
      // Taylor series of sin(θ/2)/θ and cos(θ/2).
      k = Scalar(0.5) - theta2 / Scalar(48) + theta2 * theta2 / Scalar(3840);
      qw = Scalar(1) - theta2 / Scalar(8) + theta2 * theta2 / Scalar(384);
    } else {
      k = std::sin(theta / Scalar(2)) / theta;
      qw = std::cos(theta / Scalar(2));
    }
    SO3<Scalar> q(k * w.x(), k * w.y(), k * w.z(), qw);
    q.Normalize();
    if (!(std::abs(Scalar(1) - q.Coeffs().squaredNorm()) <= Scalar(1e-8))) KEL_LIEGROUP_FAIL("SO3::Exp failed!");
    return q;
  }

  /// The left Jacobian V(ω) = I + ((1 - cos θ)/θ²)·K + ((θ - sin θ)/θ³)·K², K = hat(ω); it maps the
  /// translational part of an se(3) tangent to the translation of its exponential.
  Matrix3 LeftJacobian() const {
    const Matrix3 k = Hat();
    const Scalar theta2 = Coeffs().squaredNorm();
    if (theta2 <= Scalar(1e-8)) {
      return Matrix3::Identity() + k / Scalar(2) + k * k / Scalar(6);
    }
    const Scalar theta = std::sqrt(theta2);
    return Matrix3::Identity() + ((Scalar(1) - std::cos(theta)) / theta2) * k +
           ((theta - std::sin(theta)) / (theta2 * theta)) * k * k;
  }

  /// The inverse of the left Jacobian, V⁻¹(ω) = I - K/2 + ((1 - θ·cos(θ/2)/(2·sin(θ/2)))/θ²)·K².
  Matrix3 LeftJacobianInverse() const {
    const Matrix3 k = Hat();
    const Scalar theta2 = Coeffs().squaredNorm();
    if (theta2 <= Scalar(1e-8)) {
      return Matrix3::Identity() - k / Scalar(2) + k * k / Scalar(12);
    }
    const Scalar theta = std::sqrt(theta2);
    const Scalar half = theta / Scalar(2);
    const Scalar c = (Scalar(1) - theta * std::cos(half) / (Scalar(2) * std::sin(half))) / theta2;
    return Matrix3::Identity() - k / Scalar(2) + c * k * k;
  }

  decltype(auto) Coeffs() const { return derived().Coeffs(); }

 protected:
  SO3TangentBase() = default;
  ~SO3TangentBase() = default;
  SO3TangentBase(const SO3TangentBase&) = default;
  SO3TangentBase& operator=(const SO3TangentBase&) = default;

  const Derived& derived() const { return static_cast<const Derived&>(*this); }
};

/// An owning rotation vector.
template <typename ScalarType>
class SO3Tangent : public SO3TangentBase<SO3Tangent<ScalarType>> {
 public:
  using Scalar = ScalarType;
  using Coefficients = Eigen::Matrix<Scalar, 3, 1>;

  /// The zero rotation.
  SO3Tangent() : coeffs(Coefficients::Zero()) {}
  SO3Tangent(Scalar wx, Scalar wy, Scalar wz) : coeffs(wx, wy, wz) {}
  explicit SO3Tangent(const Coefficients& w) : coeffs(w) {}
  template <typename OtherDerived>
  SO3Tangent(const SO3TangentBase<OtherDerived>& other) : coeffs(other.Coeffs()) {}  // NOLINT

  Coefficients& Coeffs() { return coeffs; }
  const Coefficients& Coeffs() const { return coeffs; }

 private:
  Coefficients coeffs;
};

using SO3Tangentd = SO3Tangent<double>;

namespace internal {
template <typename S>
struct traits<SO3Tangent<S>> {
  using Scalar = S;
};
template <typename S>
struct traits<Eigen::Map<SO3Tangent<S>, 0>> {
  using Scalar = S;
};
template <typename S>
struct traits<Eigen::Map<const SO3Tangent<S>, 0>> {
  using Scalar = S;
};
}  // namespace internal

}  // namespace Kel

namespace Eigen {

/// A rotation-vector view over 3 scalars owned elsewhere.
template <typename S>
class Map<Kel::SO3Tangent<S>, 0> : public Kel::SO3TangentBase<Map<Kel::SO3Tangent<S>, 0>> {
 public:
  using Scalar = S;
  using Coefficients = Eigen::Map<Eigen::Matrix<S, 3, 1>>;

  explicit Map(S* data) : coeffs(data) {}
  Map(const Map&) = default;
  Map& operator=(const Map& other) {
    coeffs = other.Coeffs();
    return *this;
  }
  template <typename OtherDerived>
  Map& operator=(const Kel::SO3TangentBase<OtherDerived>& other) {
    coeffs = other.Coeffs();
    return *this;
  }

  Coefficients& Coeffs() { return coeffs; }
  const Coefficients& Coeffs() const { return coeffs; }

 private:
  Coefficients coeffs;
};

/// A read-only rotation-vector view.
template <typename S>
class Map<const Kel::SO3Tangent<S>, 0> : public Kel::SO3TangentBase<Map<const Kel::SO3Tangent<S>, 0>> {
 public:
  using Scalar = S;
  using Coefficients = Eigen::Map<const Eigen::Matrix<S, 3, 1>>;

  explicit Map(const S* data) : coeffs(data) {}
  Map(const Map&) = default;
  Map& operator=(const Map&) = delete;

  const Coefficients& Coeffs() const { return coeffs; }

 private:
  Coefficients coeffs;
};

}  // namespace Eigen

#include <LieGroup/SO3.h>
