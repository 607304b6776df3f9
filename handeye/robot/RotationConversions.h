// SPDX-License-Identifier: Apache-2.0
#pragma once

// Conversions between Euler angles (24 conventions), rotation matrices, rotation vectors and quaternions.
//
// An Euler convention is named by a four-letter axes key: "s" (static frame, every rotation about an axis
// of the fixed frame) or "r" (rotating frame, every rotation about an axis of the frame the rotations
// before it produced), then the axes of the first, second and third angle (ai, aj, ak):
//   "s" a1 a2 a3: R = R_a3(ak) · R_a2(aj) · R_a1(ai)
//   "r" a1 a2 a3: R = R_a1(ai) · R_a2(aj) · R_a3(ak)
// so "sxyz" (W, P, R) is Rz(R)·Ry(P)·Rx(W) and "rzyx" (A, B, C) is Rz(A)·Ry(B)·Rx(C). Keys are matched
// without regard to case.
//
// Every convention is encoded as (first axis, parity, repetition, frame) and one formula handles all 24:
// K. Shoemake, "Euler angle conversion", Graphics Gems IV (1994), pp. 222-229.
//
// Quaternions are (x, y, z, w); angles are radians. No function throws.

#include <Eigen/Core>

#include <array>
#include <string>

namespace TamoHandEye {

/// (first axis 0..2, parity, repetition, frame) of one axes key.
struct AxesTuple {
  int firstAxis;
  int parity;
  int repetition;
  int frame;
};

/// The 24 axes keys in table order: the static-frame keys "sxyz" … "szyz", then the rotating-frame keys
/// "rzyx" … "rzyz".
const std::array<std::string, 24>& AxesKeys();

/// The row of `key` (already lower case), or nullptr when the key is not one of the 24.
const AxesTuple* FindAxes(const std::string& key);

/// Threshold of the Euler conversions: four times the double-precision machine epsilon.
constexpr double EPS = 8.881784197001252e-16;

/// The quaternion of the angles (ai, aj, ak) in convention `axes`. An unknown key writes
/// "Unknown axes type: <key>" to standard output (no line end) and returns (0, 0, 0, 0).
Eigen::Vector4d QuaternionFromEuler(double ai, double aj, double ak, const std::string& axes);

/// The angles of rotation matrix `m` in convention `axes`. The first and third angle lie in (-pi, pi]; the
/// middle one in [-pi/2, pi/2] without repetition, [0, pi] with repetition and parity 0, [-pi, 0] with
/// repetition and parity 1. At gimbal lock the third angle is 0. An unknown key writes
/// "Unknown axes type: <key>" to standard output and returns (0, 0, 0).
Eigen::Vector3d EulerFromMatrix(const Eigen::Matrix3d& m, const std::string& axes);

/// EulerFromMatrix of QuaternionToMatrix(q).
Eigen::Vector3d EulerFromQuaternion(const Eigen::Vector4d& xyzw, const std::string& axes);

/// The rotation matrix of q = (x, y, z, w) of any non-negligible length (the identity when its squared
/// length is below EPS).
Eigen::Matrix3d QuaternionToMatrix(const Eigen::Vector4d& xyzw);

/// The quaternion of a rotation by `angle` about `axis` (any length). Not normalised: a zero axis gives
/// (0, 0, 0, cos(angle/2)).
Eigen::Vector4d QuaternionAboutAxis(double angle, const Eigen::Vector3d& axis);

/// The rotation vector of a unit quaternion. The sign of q is kept: for w < 0 the vector's length lies
/// between pi and 2·pi (the same rotation as the shorter vector the other way round).
Eigen::Vector3d RotationVectorFromQuaternion(const Eigen::Vector4d& xyzw);

}  // namespace TamoHandEye
