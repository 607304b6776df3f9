// SPDX-License-Identifier: Apache-2.0
// Every controller convention: rows to poses checked against transforms built independently (elementary
// rotations, Eigen quaternions and angle-axis), and poses back to rows.

#include "robot/ABBQuat.h"
#include "robot/ABBQuatRobot.h"
#include "robot/Fanuc.h"
#include "robot/FanucRobot.h"
#include "robot/KuKaRobot.h"
#include "robot/Kuka.h"
#include "robot/R123.h"
#include "robot/R1234.h"
#include "robot/R1R2R3.h"
#include "robot/R1R2R3R4.h"
#include "robot/Ur.h"
#include "robot/UrRobot.h"

#include "CapturingSink.h"
#include "ElementaryRotations.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Matchers.h"

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace TamoHandEye;
using Eigen::Matrix3d;
using Eigen::Vector3d;
using Kel::SE3d;
using TarnTest::AxisRotation;
using TarnTest::Degrees;
using TarnTest::EulerRotation;
using Row = std::vector<double>;

constexpr double kTolerance = 1e-12;
constexpr double kRowTolerance = 1e-9;  // millimetres and degrees after a round trip
constexpr double kPi = 3.14159265358979323846;

using TarnTest::MatrixNear;

testing::AssertionResult RowNear(const Row& a, const Row& b, double tol) {
  if (a.size() != b.size()) return testing::AssertionFailure() << "sizes " << a.size() << " vs " << b.size();
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!(std::abs(a[i] - b[i]) <= tol)) {
      return testing::AssertionFailure() << "value " << i << ": " << a[i] << " vs " << b[i];
    }
  }
  return testing::AssertionSuccess();
}

// A convention object with the given unit flags (and axes key, for the generic conventions).
template <typename Convention>
std::unique_ptr<Convention> MakeRobot(bool isMeter, bool isRadian, const std::string& axes) {
  auto robot = std::make_unique<Convention>(std::vector<MarkerBoardResult>{});
  robot->param.IsMeter = isMeter;
  robot->param.IsRadian = isRadian;
  if constexpr (std::is_same_v<Convention, R1R2R3> || std::is_same_v<Convention, R1R2R3R4>) robot->axes = axes;
  return robot;
}

// Converts one row with a convention object and the given unit flags.
template <typename Convention>
SE3d PoseOf(const Row& row, bool isMeter = false, bool isRadian = false, const std::string& axes = "") {
  const auto robot = MakeRobot<Convention>(isMeter, isRadian, axes);
  robot->robotData = {Row{9, 9, 9, 9, 9, 9, 9}, row};
  std::vector<SE3d> poses(1);  // earlier entries stay
  robot->AddRobotPose(1, poses);
  EXPECT_EQ(poses.size(), 2u);
  return poses.back();
}

template <typename Convention>
Row RowOf(const SE3d& pose, bool isMeter = false, bool isRadian = false, const std::string& axes = "") {
  Row row(10, 42.0);  // a longer row is replaced whole
  MakeRobot<Convention>(isMeter, isRadian, axes)->ToRobotData(pose, row);
  return row;
}

TEST(FanucRobot, FixedAxesInMillimetresAndDegrees) {
  const SE3d pose = PoseOf<FanucRobot>({100, 200, 300, 0, 0, 90});
  EXPECT_TRUE(MatrixNear(pose.Translation(), Vector3d(0.1, 0.2, 0.3), kTolerance));
  EXPECT_TRUE(MatrixNear(pose.Rotation().Coeffs(), Eigen::Vector4d(0, 0, std::sqrt(0.5), std::sqrt(0.5)), kTolerance));
  EXPECT_TRUE(RowNear(RowOf<FanucRobot>(pose), {100, 200, 300, 0, 0, 90}, kRowTolerance));

  // W, P, R about the fixed X, Y, Z: Rz(R)·Ry(P)·Rx(W); the flags change nothing.
  const Row row{-512.5, 40.25, 1033.0, 170.0, -35.0, 62.0};
  const Matrix3d expected =
      AxisRotation('z', Degrees(62)) * AxisRotation('y', Degrees(-35)) * AxisRotation('x', Degrees(170));
  for (const bool flag : {false, true}) {
    const SE3d p = PoseOf<FanucRobot>(row, flag, flag);
    EXPECT_TRUE(MatrixNear(p.Rotation().RotationMatrix(), expected, kTolerance));
    EXPECT_TRUE(MatrixNear(p.Translation(), Vector3d(-0.5125, 0.04025, 1.033), kTolerance));
    EXPECT_TRUE(RowNear(RowOf<FanucRobot>(p, flag, flag), row, kRowTolerance));
  }
}

TEST(KuKaRobot, MovingAxesZYXInMillimetresAndDegrees) {
  EXPECT_TRUE(MatrixNear(PoseOf<KuKaRobot>({0, 0, 0, 90, 0, 0}).Rotation().RotationMatrix(), AxisRotation('z', kPi / 2),
                         kTolerance));
  EXPECT_TRUE(MatrixNear(PoseOf<KuKaRobot>({0, 0, 0, 0, 0, 90}).Rotation().RotationMatrix(), AxisRotation('x', kPi / 2),
                         kTolerance));
  // A about Z, then B about the new Y, then C about the newest X: Rz(A)·Ry(B)·Rx(C).
  const Row row{850.0, -120.0, 40.0, -150.0, 25.0, 100.0};
  const SE3d pose = PoseOf<KuKaRobot>(row, true, true);
  const Matrix3d expected =
      AxisRotation('z', Degrees(-150)) * AxisRotation('y', Degrees(25)) * AxisRotation('x', Degrees(100));
  EXPECT_TRUE(MatrixNear(pose.Rotation().RotationMatrix(), expected, kTolerance));
  EXPECT_TRUE(MatrixNear(pose.Translation(), Vector3d(0.85, -0.12, 0.04), kTolerance));
  EXPECT_TRUE(RowNear(RowOf<KuKaRobot>(pose), row, kRowTolerance));
}

TEST(ABBQuatRobot, ScalarFirstQuaternionOfAnyLength) {
  for (const Row& row : {Row{0, 0, 0, 1, 0, 0, 0}, Row{0, 0, 0, 2, 0, 0, 0}}) {
    EXPECT_EQ(PoseOf<ABBQuatRobot>(row).Coeffs(), SE3d().Coeffs());
  }
  {
    TarnTest::ScopedCapture capture("Kel");
    const auto kel = Kel::Logger::Get("Kel");
    const int level = kel->GetLevel();
    kel->SetLevel(2);
    EXPECT_EQ(PoseOf<ABBQuatRobot>({0, 0, 0, 0, 0, 0, 0}).Coeffs(), SE3d().Coeffs());
    kel->SetLevel(level);
    ASSERT_EQ(capture.Entries().size(), 1u);
    EXPECT_THAT(capture.Entries()[0].text, testing::HasSubstr("set to Identity element"));
    // The record names the file from the repository's root, not the tree it was built in.
    EXPECT_THAT(capture.Entries()[0].text, testing::StartsWith("LieGroup/SO3.h:"));
  }
  const Eigen::Quaterniond q(Eigen::AngleAxisd(0.7, Vector3d(1, 2, 3).normalized()));
  const Row row{10, 20, 30, 2 * q.w(), 2 * q.x(), 2 * q.y(), 2 * q.z()};
  const SE3d pose = PoseOf<ABBQuatRobot>(row, true);  // always millimetres
  EXPECT_TRUE(MatrixNear(pose.Rotation().RotationMatrix(), q.toRotationMatrix(), kTolerance));
  EXPECT_TRUE(MatrixNear(pose.Translation(), Vector3d(0.01, 0.02, 0.03), kTolerance));
  // Written back with the scalar fourth, right after Z, at unit length.
  EXPECT_TRUE(RowNear(RowOf<ABBQuatRobot>(pose), {10, 20, 30, q.w(), q.x(), q.y(), q.z()}, kRowTolerance));
}

TEST(UrRobot, RotationVectorHonoursTheUnitFlags) {
  const Row row{0, 0, 0, 0, 0, 1.5707963};
  EXPECT_TRUE(MatrixNear(PoseOf<UrRobot>(row, false, true).Rotation().RotationMatrix(), AxisRotation('z', 1.5707963),
                         kTolerance));
  EXPECT_TRUE(MatrixNear(PoseOf<UrRobot>(row, false, false).Rotation().RotationMatrix(),
                         AxisRotation('z', Degrees(1.5707963)), kTolerance));
  EXPECT_EQ(PoseOf<UrRobot>({1, 2, 3, 0, 0, 0}).Rotation().Coeffs(), Kel::SO3d().Coeffs());
  EXPECT_TRUE(RowNear(RowOf<UrRobot>(SE3d()), {0, 0, 0, 0, 0, 0}, 0.0));

  const Vector3d r(0.4, -1.2, 0.9);
  const Matrix3d expected = Eigen::AngleAxisd(r.norm(), r.normalized()).toRotationMatrix();
  struct Case {
    bool isMeter, isRadian;
    double length, angle;  // unit factors of the row
  };
  for (const Case c : {Case{false, false, 1000, 180 / kPi}, Case{true, false, 1, 180 / kPi}, Case{false, true, 1000, 1},
                       Case{true, true, 1, 1}}) {
    const Row written{0.5 * c.length,  -0.25 * c.length, 1.5 * c.length,
                      r.x() * c.angle, r.y() * c.angle,  r.z() * c.angle};
    const SE3d pose = PoseOf<UrRobot>(written, c.isMeter, c.isRadian);
    EXPECT_TRUE(MatrixNear(pose.Rotation().RotationMatrix(), expected, kTolerance));
    EXPECT_TRUE(MatrixNear(pose.Translation(), Vector3d(0.5, -0.25, 1.5), kTolerance));
    EXPECT_TRUE(RowNear(RowOf<UrRobot>(pose, c.isMeter, c.isRadian), written, kRowTolerance));
  }
}

TEST(R1R2R3, EulerKeyOrRotationVectorWithUnits) {
  const Row row{100, 200, 300, 30, -20, 75};
  // Under "rzyx" the generic row reads like a KUKA row, in degrees and millimetres by default.
  const SE3d pose = PoseOf<R1R2R3>(row, false, false, "rzyx");
  EXPECT_TRUE(MatrixNear(pose.Matrix(), PoseOf<KuKaRobot>(row).Matrix(), kTolerance));
  EXPECT_TRUE(RowNear(RowOf<R1R2R3>(pose, false, false, "rzyx"), row, kRowTolerance));
  // Metres and radians when the flags say so.
  const Row si{0.1, 0.2, 0.3, 0.5, -0.3, 1.2};
  const SE3d p = PoseOf<R1R2R3>(si, true, true, "SXYZ");
  EXPECT_TRUE(MatrixNear(p.Rotation().RotationMatrix(), EulerRotation("sxyz", 0.5, -0.3, 1.2), kTolerance));
  EXPECT_TRUE(MatrixNear(p.Translation(), Vector3d(0.1, 0.2, 0.3), kTolerance));
  EXPECT_TRUE(RowNear(RowOf<R1R2R3>(p, true, true, "sxyz"), si, kTolerance));
  // "axis" (any case) reads a rotation vector like a UR row.
  const Row vector{10, 20, 30, 20, 40, -10};
  EXPECT_TRUE(
      MatrixNear(PoseOf<R1R2R3>(vector, false, false, "Axis").Matrix(), PoseOf<UrRobot>(vector).Matrix(), kTolerance));
  EXPECT_TRUE(RowNear(RowOf<R1R2R3>(PoseOf<UrRobot>(vector), false, false, "axis"), vector, kRowTolerance));
}

TEST(R1R2R3R4, ScalarFirstOrLast) {
  const Eigen::Quaterniond q(Eigen::AngleAxisd(2.0, Vector3d(-1, 0.5, 2).normalized()));
  const Matrix3d expected = q.toRotationMatrix();
  const Row first{1, 2, 3, q.w(), q.x(), q.y(), q.z()};
  const Row last{1, 2, 3, q.x(), q.y(), q.z(), q.w()};
  const SE3d a = PoseOf<R1R2R3R4>(first, false, false, "wxyz");
  const SE3d b = PoseOf<R1R2R3R4>(last, true, false, "XYZW");
  EXPECT_TRUE(MatrixNear(a.Rotation().RotationMatrix(), expected, kTolerance));
  EXPECT_TRUE(MatrixNear(b.Rotation().RotationMatrix(), expected, kTolerance));
  EXPECT_TRUE(MatrixNear(a.Translation(), Vector3d(0.001, 0.002, 0.003), kTolerance));
  EXPECT_TRUE(MatrixNear(b.Translation(), Vector3d(1, 2, 3), kTolerance));
  EXPECT_TRUE(RowNear(RowOf<R1R2R3R4>(a, false, false, "wxyz"), first, kRowTolerance));
  EXPECT_TRUE(RowNear(RowOf<R1R2R3R4>(b, true, false, "xyzw"), last, kRowTolerance));
}

TEST(R1R2R3R4, UnsupportedOrderIsReportedAndReadsAsTheIdentityAtTheOrigin) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(PoseOf<R1R2R3R4>({1, 2, 3, 1, 0, 0, 0}, false, false, "abcd").Coeffs(), SE3d().Coeffs());
  // The zero quaternion's own warning may follow on the console.
  EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::StartsWith("Unsupported axes: abcd"));
  testing::internal::CaptureStdout();
  EXPECT_EQ(RowOf<R1R2R3R4>(SE3d(), false, false, "abcd"), Row(7, 0.0));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unsupported axes: abcd");
}

TEST(IRobot, BaseConversionsLeaveNothing) {
  IRobot robot(std::vector<MarkerBoardResult>{});
  std::vector<SE3d> poses(3);
  robot.AddRobotPose(0, poses);
  EXPECT_TRUE(poses.empty());
  Row row{1, 2};
  robot.ToRobotData(SE3d(), row);
  EXPECT_TRUE(row.empty());
}

TEST(Robot, EachTypeOwnsItsConventionObject) {
  const std::vector<MarkerBoardResult> markers(2);
  EXPECT_NE(dynamic_cast<FanucRobot*>(Fanuc(markers).robot.get()), nullptr);
  EXPECT_NE(dynamic_cast<KuKaRobot*>(Kuka(markers).robot.get()), nullptr);
  EXPECT_NE(dynamic_cast<UrRobot*>(Ur(markers).robot.get()), nullptr);
  EXPECT_NE(dynamic_cast<ABBQuatRobot*>(ABBQuat(markers).robot.get()), nullptr);
  EXPECT_NE(dynamic_cast<R1R2R3*>(R123(markers).robot.get()), nullptr);
  EXPECT_NE(dynamic_cast<R1R2R3R4*>(R1234(markers).robot.get()), nullptr);

  Fanuc fanuc(markers);
  EXPECT_EQ(fanuc.robot->markers.size(), 2u);
  fanuc.SetRobotData({{1, 2, 3, 4, 5, 6}});
  fanuc.SetRobotData({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}});
  EXPECT_EQ(fanuc.robot->robotData.size(), 2u);
  EXPECT_EQ(fanuc.robot->robotData[1][0], 7.0);
}

}  // namespace
