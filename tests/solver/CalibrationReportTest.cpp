// SPDX-License-Identifier: Apache-2.0
// The calibration report on synthetic scenes with a known camera transform: its uncertainty against the
// spread of repeated noisy solves, the set-up mistakes it names, and its warnings.

#include <tarn/CalibrationReport.h>

#include "robot/IRobot.h"

#include "HandEyeScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace TamoHandEye;
using Eigen::Matrix3d;
using Eigen::Vector3d;
using TarnSim::RowFormat;
using TarnSim::Scene;
using TarnSim::SceneOptions;

constexpr double kNoise = 0.0002;  // σ of each measured point coordinate, metres

SceneOptions Options(int poses, bool eyeToHand = false) {
  SceneOptions o;
  o.poses = poses;
  o.eyeToHand = eyeToHand;
  o.pointNoise = kNoise;
  return o;
}

AlgoParam Param(bool eyeToHand = false) {
  AlgoParam p;
  p.HandEyeType = eyeToHand ? 1 : 0;
  return p;
}

CalibrationReport Report(const Scene& scene, RobotKind kind, const RobotRows& rows, const AlgoParam& param,
                         ErrorCode expected = Success) {
  CalibrationReport report;
  EXPECT_EQ(SolveCalibrationReport(scene.Markers(), rows, param, kind, ReportOptions{}, report), expected)
      << report.failure;
  return report;
}

std::vector<std::string> Codes(const CalibrationReport& r) {
  std::vector<std::string> codes;
  for (const ReportWarning& w : r.warnings) codes.push_back(w.code);
  return codes;
}

bool Has(const CalibrationReport& r, const std::string& code) {
  const auto codes = Codes(r);
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// ---- Uncertainty against the spread of 300 solves of the same poses with fresh noise ----

struct Spread {
  double translationMm, rotationDeg, markerMm;
};

class ReportUncertainty : public testing::TestWithParam<std::tuple<bool, int>> {};

TEST_P(ReportUncertainty, MatchesTheSpreadOfRepeatedNoisySolves) {
  const auto [eyeToHand, poses] = GetParam();
  constexpr int kRuns = 300;
  Spread actual{0, 0, 0};     // sums of squared errors against the truth
  Spread predicted{0, 0, 0};  // sums of squared predicted σ
  for (int run = 0; run < kRuns; ++run) {
    SceneOptions o = Options(poses, eyeToHand);
    o.seed = 11;
    o.noiseSeed = static_cast<unsigned>(1000 + run);
    const Scene scene = TarnSim::MakeScene(o);
    ReportOptions options;
    options.setupCheck = false;
    CalibrationReport r;
    ASSERT_EQ(SolveCalibrationReport(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Fanuc), Param(eyeToHand),
                                     RobotKind::Fanuc, options, r),
              Success);
    ASSERT_TRUE(r.uncertainty.known);
    Eigen::Matrix4d m;
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 4; ++j) m(i, j) = r.result.cameraMatrix[std::size_t(i)][std::size_t(j)];
    }
    const Vector3d t = m.topRightCorner<3, 1>() / 1000.0 - scene.camera.translation();
    const Eigen::AngleAxisd rotation(Matrix3d(scene.camera.linear().transpose() * m.topLeftCorner<3, 3>()));
    const Vector3d marker =
        Vector3d(r.result.markerPosition[0], r.result.markerPosition[1], r.result.markerPosition[2]) / 1000.0 -
        scene.marker;
    actual.translationMm += t.squaredNorm() * 1e6;
    actual.rotationDeg += std::pow(rotation.angle() * 180.0 / M_PI, 2);
    actual.markerMm += marker.squaredNorm() * 1e6;
    predicted.translationMm += std::pow(r.uncertainty.translationNormMm, 2);
    predicted.rotationDeg += std::pow(r.uncertainty.rotationDeg, 2);
    predicted.markerMm += std::pow(r.uncertainty.markerNormMm, 2);
  }
  const auto ratio = [](double predictedSum, double actualSum) { return std::sqrt(predictedSum / actualSum); };
  EXPECT_NEAR(ratio(predicted.translationMm, actual.translationMm), 1.0, 0.2);
  EXPECT_NEAR(ratio(predicted.rotationDeg, actual.rotationDeg), 1.0, 0.2);
  EXPECT_NEAR(ratio(predicted.markerMm, actual.markerMm), 1.0, 0.2);
}

INSTANTIATE_TEST_SUITE_P(HandEyeTypesAndPoseCounts, ReportUncertainty,
                         testing::Combine(testing::Bool(), testing::Values(6, 12, 40)));

// ---- Set-up mistakes ----

struct Mistake {
  std::string name;
  RobotKind kind;
  RobotRows rows;
  std::vector<MarkerBoardResult> markers;
  AlgoParam param;
  std::string expectedCode;
};

std::vector<Mistake> Mistakes(const Scene& scene, const Scene& eyeToHandScene) {
  const RobotRows fanuc = TarnSim::RobotRows(scene, RowFormat::Fanuc);
  Scene inverted = scene;
  for (auto& pose : inverted.flange) pose = pose.inverse();
  RobotRows reversed = fanuc;
  std::reverse(reversed.begin(), reversed.end());
  std::vector<MarkerBoardResult> millimetres = scene.Markers();
  for (auto& m : millimetres) m.x *= 1000.0, m.y *= 1000.0, m.z *= 1000.0;
  AlgoParam radianFlag = Param();
  radianFlag.IsRadian = true;
  return {
      {"KUKA rows read as FANUC", RobotKind::Fanuc, TarnSim::RobotRows(scene, RowFormat::Kuka), scene.Markers(),
       Param(), "robot"},
      {"rows in reverse order", RobotKind::Fanuc, reversed, scene.Markers(), Param(), "reversed"},
      {"metres to a millimetre type", RobotKind::Fanuc, TarnSim::RobotRows(scene, RowFormat::Fanuc, true),
       scene.Markers(), Param(), "meter"},
      {"eye-to-hand solved as eye-in-hand", RobotKind::Fanuc, TarnSim::RobotRows(eyeToHandScene, RowFormat::Fanuc),
       eyeToHandScene.Markers(), Param(), "eye-to-hand"},
      {"UR angles in degrees", RobotKind::Ur, TarnSim::RobotRows(scene, RowFormat::Ur), scene.Markers(), radianFlag,
       "degree"},
      {"marker points in millimetres", RobotKind::Fanuc, fanuc, millimetres, Param(), "markers-x0.001"},
      {"radians without the radian flag", RobotKind::Common3, TarnSim::RobotRows(scene, RowFormat::Kuka, false, true),
       scene.Markers(), Param(), "radian"},
      {"base-in-flange rows", RobotKind::Fanuc, TarnSim::RobotRows(inverted, RowFormat::Fanuc), scene.Markers(),
       Param(), "inverted"},
  };
}

TEST(CalibrationReport, NamesEachSetUpMistakeAsTheLikelySetUp) {
  const Scene scene = TarnSim::MakeScene(Options(15));
  const Scene eyeToHand = TarnSim::MakeScene(Options(15, true));
  for (const Mistake& m : Mistakes(scene, eyeToHand)) {
    SCOPED_TRACE(m.name);
    CalibrationReport r;
    const ErrorCode code = SolveCalibrationReport(m.markers, m.rows, m.param, m.kind, ReportOptions{}, r);
    // A mistake either fits badly or does not solve at all; either way the report names it.
    if (code == Success) {
      EXPECT_GT(r.result.rmsError, 3.0);
    }
    EXPECT_TRUE(r.setupChecked);
    ASSERT_FALSE(r.alternatives.empty());
    EXPECT_EQ(r.alternatives.front().code, m.expectedCode);
    EXPECT_LT(r.alternatives.front().rmsMm, 1.0);
    EXPECT_TRUE(Has(r, "likely-setup"));
    if (m.expectedCode == "robot") {
      EXPECT_EQ(r.alternatives.front().robot, RobotKind::Kuka);
    }
  }
}

// ---- Warnings with a known cause ----

TEST(CalibrationReport, GoodSetHasNoWarningAndNamesTheGenericConvention) {
  const Scene scene = TarnSim::MakeScene(Options(20));
  const CalibrationReport fanuc = Report(scene, RobotKind::Fanuc, TarnSim::RobotRows(scene, RowFormat::Fanuc), Param());
  EXPECT_TRUE(fanuc.warnings.empty()) << fanuc.warnings.front().message;
  EXPECT_EQ(fanuc.convention, "sxyz");
  EXPECT_TRUE(fanuc.setupChecked);  // always, and on a good set it names nothing
  EXPECT_TRUE(fanuc.alternatives.empty());
  EXPECT_EQ(fanuc.poseSet.poses, 20);
  EXPECT_GT(fanuc.poseSet.largestRotationDeg, 30.0);
  EXPECT_GT(fanuc.poseSet.axisSpread, 0.05);
  ASSERT_EQ(fanuc.leaveOneOutMm.size(), 20u);
  // Left out, a pose is further from the solution than when it took part.
  for (std::size_t i = 0; i < 20; ++i) EXPECT_GE(fanuc.leaveOneOutMm[i], fanuc.result.residuals[i].distance - 1e-9);

  const CalibrationReport generic =
      Report(scene, RobotKind::Common3, TarnSim::RobotRows(scene, RowFormat::Kuka), Param());
  EXPECT_EQ(generic.convention, "rzyx");
  EXPECT_FALSE(generic.runnerUp.empty());
  EXPECT_GT(generic.runnerUpRmsMm, 10.0 * generic.result.rmsError);
  EXPECT_TRUE(generic.warnings.empty());
}

// Beyond the bound the report stays linear in the pose count: no leave-one-out figures, and the pose set
// judged on pairs of an even sample, which sees the same spread as every pair does.
TEST(CalibrationReport, AboveTheBoundLeavesOutTheLeaveOneOutFiguresAndSamplesThePairs) {
  const Scene scene = TarnSim::MakeScene(Options(static_cast<int>(kMostLeaveOneOutPoses) + 1));
  const CalibrationReport r = Report(scene, RobotKind::Fanuc, TarnSim::RobotRows(scene, RowFormat::Fanuc), Param());
  EXPECT_TRUE(r.leaveOneOutMm.empty());
  EXPECT_TRUE(r.leaveOneOutStudentised.empty());
  EXPECT_EQ(r.poseSet.poses, static_cast<int>(kMostLeaveOneOutPoses) + 1);
  Scene fewer = scene;
  fewer.flange.resize(kMostLeaveOneOutPoses);
  fewer.points.resize(kMostLeaveOneOutPoses);
  const CalibrationReport all = Report(fewer, RobotKind::Fanuc, TarnSim::RobotRows(fewer, RowFormat::Fanuc), Param());
  EXPECT_EQ(all.leaveOneOutMm.size(), kMostLeaveOneOutPoses);
  EXPECT_NEAR(r.poseSet.largestRotationDeg, all.poseSet.largestRotationDeg, 1.0);
  EXPECT_NEAR(r.poseSet.axisSpread, all.poseSet.axisSpread, 0.01);
}

TEST(CalibrationReport, NarrowRotationsAreUncertainThoughTheyFit) {
  SceneOptions o = Options(12, true);
  o.rotationSpreadDeg = 0.5;
  const Scene scene = TarnSim::MakeScene(o);
  const CalibrationReport r = Report(scene, RobotKind::Fanuc, TarnSim::RobotRows(scene, RowFormat::Fanuc), Param(true));
  EXPECT_LT(r.result.rmsError, 1.0);
  EXPECT_TRUE(Has(r, "narrow-rotation"));
  EXPECT_TRUE(Has(r, "uncertain"));
  EXPECT_GT(r.uncertainty.translationNormMm, 1.0);
}

TEST(CalibrationReport, PlantedBadPoseIsTheOneSuspectPose) {
  SceneOptions o = Options(20);
  o.outliers = {7};
  o.outlierOffset = 0.02;
  const Scene scene = TarnSim::MakeScene(o);
  const CalibrationReport r = Report(scene, RobotKind::Fanuc, TarnSim::RobotRows(scene, RowFormat::Fanuc), Param());
  std::vector<int> suspects;
  for (const ReportWarning& w : r.warnings) {
    if (w.code == "suspect-pose") suspects.push_back(w.pose);
  }
  EXPECT_EQ(suspects, std::vector<int>{7});
}

TEST(CalibrationReport, SameSeedSameResultAsTheEntryPoint) {
  SceneOptions o = Options(20);
  o.outliers = {3, 12};
  const Scene scene = TarnSim::MakeScene(o);
  const RobotRows rows = TarnSim::RobotRows(scene, RowFormat::Kuka);
  AlgoParam p = Param();
  p.Exhaust = true;
  p.RansacDist = 0.002;
  ReportOptions options;
  options.seed = 99;
  CalibrationReport first;
  CalibrationReport second;
  ASSERT_EQ(SolveCalibrationReport(scene.Markers(), rows, p, RobotKind::Common3, options, first), Success);
  ASSERT_EQ(SolveCalibrationReport(scene.Markers(), rows, p, RobotKind::Common3, options, second), Success);
  IRobot::SetPoseSearchSeed(99);
  FinalResult entry;
  const ErrorCode code = Common3SolveFinalResult(scene.Markers(), rows, p, entry);
  IRobot::SetPoseSearchSeed(std::nullopt);
  ASSERT_EQ(code, Success);
  for (const FinalResult* r : {&second.result, &entry}) {
    EXPECT_EQ(r->cameraMatrix, first.result.cameraMatrix);
    EXPECT_EQ(r->mask, first.result.mask);
    EXPECT_EQ(r->rmsError, first.result.rmsError);
  }
  EXPECT_EQ(first.result.mask[3], 0);
  EXPECT_EQ(first.result.mask[12], 0);
  EXPECT_EQ(first.leaveOneOutMm, second.leaveOneOutMm);
}

TEST(CalibrationReport, FailuresSayWhatToDo) {
  const Scene few = TarnSim::MakeScene(Options(4));
  CalibrationReport r =
      Report(few, RobotKind::Fanuc, TarnSim::RobotRows(few, RowFormat::Fanuc), Param(), Err_Solve_Fail);
  EXPECT_EQ(r.failure, "needs at least 5 poses, got 4");
  EXPECT_TRUE(r.result.cameraMatrix.empty());

  SceneOptions o = Options(10);
  o.motion = TarnSim::Motion::SingleAxis;
  const Scene oneAxis = TarnSim::MakeScene(o);
  r = Report(oneAxis, RobotKind::Fanuc, TarnSim::RobotRows(oneAxis, RowFormat::Fanuc), Param(), Err_Solve_Fail);
  EXPECT_NE(r.failure.find("one axis"), std::string::npos) << r.failure;

  const Scene scene = TarnSim::MakeScene(Options(8));
  RobotRows shortRow = TarnSim::RobotRows(scene, RowFormat::Fanuc);
  shortRow[2].pop_back();
  r = Report(scene, RobotKind::Fanuc, shortRow, Param(), Err_Solve_RobotType_Mismatch);
  EXPECT_EQ(r.failure, "robot row 3 has 5 values; this robot type needs 6");
}

}  // namespace
