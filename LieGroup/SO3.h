// SPDX-License-Identifier: Apache-2.0
#pragma once

// The rotation group SO(3) as unit quaternions.
//
// Storage: 4 scalars in the order x, y, z, w (Eigen's coefficient order); identity (0, 0, 0, 1).
// Invariant: after Normalize, composition and inversion the quaternion has unit length.
// SO3Base holds every operation, so they work the same on an owning SO3 and on an Eigen::Map view
// (plain or const) over existing memory.
//
// Formulas follow J. Sola, D. Atchuthan, J. Deray, "A micro Lie theory for state estimation in
// robotics" (2018): Exp Eq. (143), Log Eq. (144).

#include <LieGroup/LieGroupFwd.h>
#include <LieGroup/LieGroupLog.h>

#include <Eigen/Core>
#include <Eigen/Geometry>

#include <cmath>

namespace Kel {

template <typename Derived>
class SO3Base {
 public:
  using Scalar = typename internal::traits<Derived>::Scalar;
  using Vector3 = Eigen::Matrix<Scalar, 3, 1>;
  using Matrix3 = Eigen::Matrix<Scalar, 3, 3>;
  using Coefficients = Eigen::Matrix<Scalar, 4, 1>;

  Scalar X() const { return Coeffs()(0); }
  Scalar Y() const { return Coeffs()(1); }
  Scalar Z() const { return Coeffs()(2); }
  Scalar W() const { return Coeffs()(3); }

  /// The coefficients as an Eigen quaternion (a copy).
  Eigen::Quaternion<Scalar> Quaternion() const { return Eigen::Quaternion<Scalar>(W(), X(), Y(), Z()); }

  /// Scales the quaternion to unit length in place. A quaternion whose four coefficients are all below
  /// 1e-8 in absolute value carries no rotation: it becomes the identity, with a warning.
  Derived& Normalize() {
    auto&& c = derived().Coeffs();
    if ((c.array().abs() < Scalar(1e-8)).all()) {
      KEL_LIEGROUP_WARN("Current data [0, 0, 0, 0] is invalid, set to Identity element");
      c << Scalar(0), Scalar(0), Scalar(0), Scalar(1);
    }
    const Scalar squaredNorm = c.squaredNorm();
    if (squaredNorm > Scalar(0)) c /= std::sqrt(squaredNorm);
    return derived();
  }

  /// Hamilton product this ⊗ other, normalised.
  template <typename OtherDerived>
  SO3<Scalar> operator*(const SO3Base<OtherDerived>& other) const {
    SO3<Scalar> product(Quaternion() * other.Quaternion());
    product.Normalize();
    return product;
  }

  /// The conjugate (-x, -y, -z, w), normalised.
  SO3<Scalar> Inverse() const {
    SO3<Scalar> inverse(-X(), -Y(), -Z(), W());
    inverse.Normalize();
    return inverse;
  }

  /// The rotation vector of this rotation, of length at most pi. Throws std::runtime_error
  /// ("Quaternion should be normalized!") for a quaternion with zero vector part and zero w.
  SO3Tangent<Scalar> Log() const {
    const Vector3 v = Coeffs().template head<3>();
    const Scalar w = W();
    const Scalar n = v.norm();
    Scalar factor;
    if (n < Scalar(1e-8)) {
      if (!(std::abs(w) > Scalar(1e-8))) KEL_LIEGROUP_FAIL("Quaternion should be normalized!");
      factor = Scalar(2) / w - Scalar(2) * n * n / (w * w * w);
    } else if (std::abs(w) >= Scalar(1e-8)) {
      factor = Scalar(2) * std::atan(n / w) / n;
    } else {
      factor = (w > Scalar(0) ? Scalar(EIGEN_PI) : -Scalar(EIGEN_PI)) / n;
    }
    return SO3Tangent<Scalar>(factor * v);
  }

  /// The 3x3 rotation matrix, computed from the coefficients as they are (not normalised first).
  Matrix3 RotationMatrix() const {
    const Scalar x = X(), y = Y(), z = Z(), w = W();
    Matrix3 r;
    r << 1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y),  //
        2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x),   //
        2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y);
    return r;
  }

  /// The rotated point R·p.
  Vector3 Act(const Vector3& p) const { return RotationMatrix() * p; }

  decltype(auto) Coeffs() const { return derived().Coeffs(); }
  const Scalar* Data() const { return derived().Coeffs().data(); }

 protected:
  SO3Base() = default;
  ~SO3Base() = default;
  SO3Base(const SO3Base&) = default;
  SO3Base& operator=(const SO3Base&) = default;

  Derived& derived() { return static_cast<Derived&>(*this); }
  const Derived& derived() const { return static_cast<const Derived&>(*this); }
};

/// An owning rotation.
template <typename ScalarType>
class SO3 : public SO3Base<SO3<ScalarType>> {
 public:
  using Scalar = ScalarType;
  using Coefficients = Eigen::Matrix<Scalar, 4, 1>;

  /// The identity.
  SO3() : coeffs(Scalar(0), Scalar(0), Scalar(0), Scalar(1)) {}
  SO3(Scalar x, Scalar y, Scalar z, Scalar w) : coeffs(x, y, z, w) {}
  explicit SO3(const Coefficients& xyzw) : coeffs(xyzw) {}
  explicit SO3(const Eigen::Quaternion<Scalar>& q) : coeffs(q.coeffs()) {}
  template <typename OtherDerived>
  SO3(const SO3Base<OtherDerived>& other) : coeffs(other.Coeffs()) {}  // NOLINT: views convert implicitly

  static SO3 Identity() { return SO3(); }

  Coefficients& Coeffs() { return coeffs; }
  const Coefficients& Coeffs() const { return coeffs; }
  Scalar* Data() { return coeffs.data(); }
  using SO3Base<SO3>::Data;

 private:
  Coefficients coeffs;
};

using SO3d = SO3<double>;

namespace internal {
template <typename S>
struct traits<SO3<S>> {
  using Scalar = S;
};
template <typename S>
struct traits<Eigen::Map<SO3<S>, 0>> {
  using Scalar = S;
};
template <typename S>
struct traits<Eigen::Map<const SO3<S>, 0>> {
  using Scalar = S;
};
}  // namespace internal

}  // namespace Kel

namespace Eigen {

/// A rotation view over 4 scalars x, y, z, w owned elsewhere; every SO3 operation works on it in place.
template <typename S>
class Map<Kel::SO3<S>, 0> : public Kel::SO3Base<Map<Kel::SO3<S>, 0>> {
 public:
  using Scalar = S;
  using Coefficients = Eigen::Map<Eigen::Matrix<S, 4, 1>>;

  explicit Map(S* data) : coeffs(data) {}
  Map(const Map&) = default;
  /// Assignment writes through the view.
  Map& operator=(const Map& other) {
    coeffs = other.Coeffs();
    return *this;
  }
  template <typename OtherDerived>
  Map& operator=(const Kel::SO3Base<OtherDerived>& other) {
    coeffs = other.Coeffs();
    return *this;
  }

  Coefficients& Coeffs() { return coeffs; }
  const Coefficients& Coeffs() const { return coeffs; }
  S* Data() { return coeffs.data(); }

 private:
  Coefficients coeffs;
};

/// A read-only rotation view.
template <typename S>
class Map<const Kel::SO3<S>, 0> : public Kel::SO3Base<Map<const Kel::SO3<S>, 0>> {
 public:
  using Scalar = S;
  using Coefficients = Eigen::Map<const Eigen::Matrix<S, 4, 1>>;

  explicit Map(const S* data) : coeffs(data) {}
  Map(const Map&) = default;
  Map& operator=(const Map&) = delete;

  const Coefficients& Coeffs() const { return coeffs; }

 private:
  Coefficients coeffs;
};

}  // namespace Eigen

#include <LieGroup/SO3Tangent.h>
