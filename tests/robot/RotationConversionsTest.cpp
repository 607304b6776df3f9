// SPDX-License-Identifier: Apache-2.0
// The 24 Euler conventions, rotation vectors and quaternions, checked against rotations built from
// elementary angle-axis rotations.

#include "robot/RotationConversions.h"

#include "ElementaryRotations.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Matchers.h"

#include <cmath>
#include <random>
#include <string>

namespace {

using Eigen::Matrix3d;
using Eigen::Vector3d;
using Eigen::Vector4d;
using TamoHandEye::EulerFromMatrix;
using TamoHandEye::EulerFromQuaternion;
using TamoHandEye::QuaternionAboutAxis;
using TamoHandEye::QuaternionFromEuler;
using TamoHandEye::QuaternionToMatrix;
using TamoHandEye::RotationVectorFromQuaternion;
using TarnTest::EulerRotation;

constexpr double kPi = 3.14159265358979323846;
constexpr double kTolerance = 1e-12;
// Angles recovered near the singular middle angle lose precision in proportion to 1/cos(aj).
constexpr double kAngleTolerance = 1e-9;

using TarnTest::MatrixNear;

// The middle angle's range for a key: (-pi/2, pi/2) without repetition, (0, pi) with repetition and
// parity 0, (-pi, 0) with repetition and parity 1.
std::pair<double, double> MiddleRange(const std::string& key) {
  const TamoHandEye::AxesTuple* row = TamoHandEye::FindAxes(key);
  if (row->repetition == 0) return {-kPi / 2, kPi / 2};
  return row->parity == 0 ? std::make_pair(0.0, kPi) : std::make_pair(-kPi, 0.0);
}

class EulerConvention : public testing::TestWithParam<std::string> {};

TEST_P(EulerConvention, QuaternionIsTheProductOfElementaryRotations) {
  const std::string key = GetParam();
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> any(-2 * kPi, 2 * kPi);
  for (int n = 0; n < 500; ++n) {
    const double a = any(rng), b = any(rng), c = any(rng);
    const Vector4d q = QuaternionFromEuler(a, b, c, key);
    ASSERT_NEAR(q.norm(), 1.0, kTolerance);
    ASSERT_TRUE(MatrixNear(TarnTest::QuaternionRotation(q), EulerRotation(key, a, b, c), kTolerance))
        << key << " " << a << " " << b << " " << c;
    ASSERT_TRUE(MatrixNear(QuaternionToMatrix(q), EulerRotation(key, a, b, c), kTolerance));
  }
}

TEST_P(EulerConvention, AnglesRoundTripInsideTheirRangesAndGiveTheSameRotationOutside) {
  const std::string key = GetParam();
  const auto [low, high] = MiddleRange(key);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> outer(-kPi + 1e-6, kPi - 1e-6);
  std::uniform_real_distribution<double> middle(low + 1e-3, high - 1e-3);
  std::uniform_real_distribution<double> any(-10.0, 10.0);
  for (int n = 0; n < 500; ++n) {
    const Vector3d angles(outer(rng), middle(rng), outer(rng));
    const Vector3d back = EulerFromQuaternion(QuaternionFromEuler(angles(0), angles(1), angles(2), key), key);
    ASSERT_TRUE(MatrixNear(back, angles, kAngleTolerance)) << key;

    const Vector3d wild(any(rng), any(rng), any(rng));
    const Matrix3d m = EulerRotation(key, wild(0), wild(1), wild(2));
    const Vector3d equivalent = EulerFromMatrix(m, key);
    ASSERT_TRUE(MatrixNear(EulerRotation(key, equivalent(0), equivalent(1), equivalent(2)), m, kAngleTolerance));
    ASSERT_LE(equivalent.cwiseAbs().maxCoeff(), kPi + kTolerance);
  }
}

// At gimbal lock the angles are not unique: only the rotation is compared.
TEST_P(EulerConvention, GimbalLockGivesTheSameRotation) {
  const std::string key = GetParam();
  const TamoHandEye::AxesTuple* row = TamoHandEye::FindAxes(key);
  const std::vector<double> locks =
      row->repetition == 1 ? std::vector<double>{0.0, kPi, -kPi} : std::vector<double>{kPi / 2, -kPi / 2};
  for (const double lock : locks) {
    for (const auto& [a, c] : {std::pair{0.3, 0.4}, std::pair{-1.2, 2.5}, std::pair{3.0, -3.0}}) {
      const Matrix3d m = EulerRotation(key, a, lock, c);
      const Vector3d angles = EulerFromMatrix(m, key);
      EXPECT_TRUE(MatrixNear(EulerRotation(key, angles(0), angles(1), angles(2)), m, 1e-9)) << key << " " << lock;
    }
  }
}

TEST_P(EulerConvention, KeysAreReadWithoutRegardToCase) {
  const std::string key = GetParam();
  std::string upper = key, mixed = key;
  for (std::size_t i = 0; i < key.size(); ++i) {
    upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(key[i])));
    if (i % 2 == 0) mixed[i] = upper[i];
  }
  const Vector4d q = QuaternionFromEuler(0.1, -0.7, 2.2, key);
  EXPECT_EQ(QuaternionFromEuler(0.1, -0.7, 2.2, upper), q);
  EXPECT_EQ(QuaternionFromEuler(0.1, -0.7, 2.2, mixed), q);
  EXPECT_EQ(EulerFromQuaternion(q, upper), EulerFromQuaternion(q, key));
}

INSTANTIATE_TEST_SUITE_P(AllKeys, EulerConvention, testing::ValuesIn(TamoHandEye::AxesKeys()),
                         [](const testing::TestParamInfo<std::string>& p) { return p.param; });

TEST(EulerConversions, KnownValues) {
  const Vector4d sxyz = QuaternionFromEuler(0.1, 0.2, 0.3, "sxyz");
  EXPECT_TRUE(MatrixNear(sxyz, Vector4d(0.034271, 0.106021, 0.143572, 0.983347), 5e-7));
  const Vector4d rzyx = QuaternionFromEuler(0.1, 0.2, 0.3, "rzyx");
  EXPECT_TRUE(MatrixNear(rzyx, Vector4d(0.143572, 0.106021, 0.034271, 0.983347), 5e-7));

  // "sxyz" at gimbal lock: the third angle is 0 and the first takes the rest of the rotation.
  const Vector3d locked = EulerFromQuaternion(QuaternionFromEuler(0.3, kPi / 2, 0.4, "sxyz"), "sxyz");
  EXPECT_TRUE(MatrixNear(locked, Vector3d(-0.1, kPi / 2, 0.0), 1e-7));

  // A zero quaternion is read as the identity.
  EXPECT_EQ(EulerFromQuaternion(Vector4d::Zero(), "sxyz"), Vector3d::Zero());
  EXPECT_EQ(QuaternionToMatrix(Vector4d::Zero()), Matrix3d::Identity());
  // Any non-negligible length gives a proper rotation.
  EXPECT_TRUE(MatrixNear(QuaternionToMatrix(Vector4d(0, 0, 3, 3)), TarnTest::AxisRotation('z', kPi / 2), kTolerance));
}

TEST(EulerConversions, UnknownKeysAreReportedAndGiveZeros) {
  for (const std::string key : {"abcd", "xyz", "sxyzz", "", "Sxya"}) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(QuaternionFromEuler(0.1, 0.2, 0.3, key), Vector4d::Zero());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unknown axes type: " + key);

    testing::internal::CaptureStdout();
    EXPECT_EQ(EulerFromQuaternion(Vector4d(0, 0, 0, 1), key), Vector3d::Zero());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unknown axes type: " + key);  // reported once
  }
}

TEST(AxisAngle, QuaternionAboutAxis) {
  EXPECT_TRUE(MatrixNear(QuaternionAboutAxis(0.8, Vector3d::Zero()), Vector4d(0, 0, 0, std::cos(0.4)), kTolerance));
  EXPECT_TRUE(MatrixNear(QuaternionAboutAxis(kPi / 2, Vector3d(0, 0, 2)),
                         Vector4d(0, 0, std::sqrt(0.5), std::sqrt(0.5)), kTolerance));
  const Vector3d axis = Vector3d(1, -2, 0.5);
  const Vector4d q = QuaternionAboutAxis(1.3, axis);
  EXPECT_TRUE(MatrixNear(TarnTest::QuaternionRotation(q), Eigen::AngleAxisd(1.3, axis.normalized()).toRotationMatrix(),
                         kTolerance));
}

TEST(AxisAngle, RotationVectorFromQuaternion) {
  EXPECT_EQ(RotationVectorFromQuaternion(Vector4d(0, 0, 0, 1)), Vector3d::Zero());
  EXPECT_EQ(RotationVectorFromQuaternion(Vector4d(0, 0, 0, -1)), Vector3d::Zero());
  EXPECT_EQ(RotationVectorFromQuaternion(Vector4d(0, 0, 0, 1.0000000000000002)), Vector3d::Zero());
  // The sign of q is kept: w < 0 gives a vector between pi and 2 pi long.
  EXPECT_TRUE(MatrixNear(RotationVectorFromQuaternion(Vector4d(0, 0, std::sqrt(0.5), -std::sqrt(0.5))),
                         Vector3d(0, 0, 3 * kPi / 2), 1e-12));
  // Round trip through the axis-angle form.
  const Vector3d r(0.3, -1.1, 0.7);
  EXPECT_TRUE(MatrixNear(RotationVectorFromQuaternion(QuaternionAboutAxis(r.norm(), r)), r, 1e-12));
}

}  // namespace
