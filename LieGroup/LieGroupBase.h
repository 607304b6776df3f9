// SPDX-License-Identifier: Apache-2.0
#pragma once

// The rigid-transform group SE(3): a translation and a unit-quaternion rotation.
//
// Storage: 7 scalars tx, ty, tz, qx, qy, qz, qw (translation first); identity (0, 0, 0, 0, 0, 0, 1).
// A transform T = (t, q) maps a point p to R(q)·p + t. Its tangent is 6 scalars (ρ, ω): translation
// part first, then the rotation vector. LieGroupBase holds every operation, so they work the same on an
// owning SE3 and on Eigen::Map views over existing memory; Rotation() is itself a view, so the rotation
// stored inside a transform can be normalised in place.
//
// Formulas follow J. Sola, D. Atchuthan, J. Deray, "A micro Lie theory for state estimation in
// robotics" (2018): Exp Eq. (172), Log Eq. (173).

#include <LieGroup/LieGroupFwd.h>
#include <LieGroup/LieGroupLog.h>
#include <LieGroup/SO3.h>

#include <Eigen/Core>

namespace Kel {

template <typename Derived>
class LieGroupBase {
 public:
  using Scalar = typename internal::traits<Derived>::Scalar;
  using Vector3 = Eigen::Matrix<Scalar, 3, 1>;
  using Matrix3 = Eigen::Matrix<Scalar, 3, 3>;
  using Matrix4 = Eigen::Matrix<Scalar, 4, 4>;
  using Tangent = Eigen::Matrix<Scalar, 6, 1>;
  using Coefficients = Eigen::Matrix<Scalar, 7, 1>;

  /// Coefficient i (0 to 6). Any other index logs and throws std::runtime_error("Index out of range").
  decltype(auto) operator[](int i) {
    if (i < 0 || i > 6) KEL_LIEGROUP_FAIL("Index out of range");
    return derived().Coeffs()(i);
  }
  Scalar operator[](int i) const {
    if (i < 0 || i > 6) KEL_LIEGROUP_FAIL("Index out of range");
    return derived().Coeffs()(i);
  }

  /// The translation (a view into the coefficients).
  auto Translation() { return derived().Coeffs().template head<3>(); }
  auto Translation() const { return derived().Coeffs().template head<3>(); }

  /// The rotation (a view into the coefficients).
  typename internal::traits<Derived>::RotationView Rotation() {
    return typename internal::traits<Derived>::RotationView(derived().Coeffs().data() + 3);
  }
  Eigen::Map<const SO3<Scalar>> Rotation() const {
    return Eigen::Map<const SO3<Scalar>>(derived().Coeffs().data() + 3);
  }

  /// a·b: rotation qa ⊗ qb normalised, translation R(qa)·tb + ta.
  template <typename OtherDerived>
  SE3<Scalar> operator*(const LieGroupBase<OtherDerived>& b) const {
    return SE3<Scalar>(Rotation().Act(b.Translation()) + Translation(), Rotation() * b.Rotation());
  }

  /// (t, q)⁻¹: rotation conj(q) normalised, translation -(that rotation applied to t).
  SE3<Scalar> Inverse() const {
    const SO3<Scalar> r = Rotation().Inverse();
    return SE3<Scalar>(-r.Act(Translation()), r);
  }

  /// The transformed point R·p + t.
  Vector3 Act(const Vector3& p) const { return Rotation().Act(p) + Translation(); }

  /// The tangent (ρ, ω): ω = Log(q), ρ = V⁻¹(ω)·t.
  Tangent Log() const {
    const SO3Tangent<Scalar> w = Rotation().Log();
    Tangent tangent;
    tangent.template head<3>() = w.LeftJacobianInverse() * Translation();
    tangent.template tail<3>() = w.Coeffs();
    return tangent;
  }

  /// The 4x4 homogeneous matrix [R t; 0 0 0 1].
  Matrix4 Matrix() const {
    Matrix4 m = Matrix4::Identity();
    m.template topLeftCorner<3, 3>() = Rotation().RotationMatrix();
    m.template topRightCorner<3, 1>() = Translation();
    return m;
  }

  decltype(auto) Coeffs() const { return derived().Coeffs(); }
  const Scalar* Data() const { return derived().Coeffs().data(); }

 protected:
  LieGroupBase() = default;
  ~LieGroupBase() = default;
  LieGroupBase(const LieGroupBase&) = default;
  LieGroupBase& operator=(const LieGroupBase&) = default;

  Derived& derived() { return static_cast<Derived&>(*this); }
  const Derived& derived() const { return static_cast<const Derived&>(*this); }
};

}  // namespace Kel
