// SPDX-License-Identifier: Apache-2.0
#pragma once

// Rotations built independently of the library: products of Eigen angle-axis rotations about the
// coordinate axes, in the order an Euler axes key names them.

#include <Eigen/Geometry>

#include <string>

namespace TarnTest {

inline Eigen::Matrix3d AxisRotation(char axis, double angle) {
  const Eigen::Vector3d unit = axis == 'x'   ? Eigen::Vector3d::UnitX()
                               : axis == 'y' ? Eigen::Vector3d::UnitY()
                                             : Eigen::Vector3d::UnitZ();
  return Eigen::AngleAxisd(angle, unit).toRotationMatrix();
}

/// "s" a1 a2 a3: R_a3(ak)·R_a2(aj)·R_a1(ai) (fixed axes); "r" a1 a2 a3: R_a1(ai)·R_a2(aj)·R_a3(ak) (moving axes).
inline Eigen::Matrix3d EulerRotation(const std::string& key, double ai, double aj, double ak) {
  const Eigen::Matrix3d r1 = AxisRotation(key[1], ai);
  const Eigen::Matrix3d r2 = AxisRotation(key[2], aj);
  const Eigen::Matrix3d r3 = AxisRotation(key[3], ak);
  return key[0] == 's' ? Eigen::Matrix3d(r3 * r2 * r1) : Eigen::Matrix3d(r1 * r2 * r3);
}

/// The rotation of quaternion (x, y, z, w) through Eigen.
inline Eigen::Matrix3d QuaternionRotation(const Eigen::Vector4d& xyzw) {
  return Eigen::Quaterniond(xyzw(3), xyzw(0), xyzw(1), xyzw(2)).normalized().toRotationMatrix();
}

inline double Degrees(double d) { return d * 3.14159265358979323846 / 180.0; }

}  // namespace TarnTest
