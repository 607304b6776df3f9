// SPDX-License-Identifier: Apache-2.0
// Robots that turn about the vertical axis only: a rendered palletiser set calibrates to its known camera once the
// one quantity no shot can see is given from the truth, and without it the failure names that quantity.

#include <tarn/CalibrationCheck.h>
#include <tarn/CalibrationReport.h>
#include <tarn/PoseSuggestion.h>

#include "HandEyeScene.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <cmath>
#include <string>

namespace {

using namespace TamoHandEye;
using TarnSim::RowFormat;
using TarnSim::Scene;
using TarnSim::SceneOptions;

Scene Palletiser(bool eyeToHand, unsigned seed) {
  SceneOptions o;
  o.poses = 15;
  o.eyeToHand = eyeToHand;
  o.motion = TarnSim::Motion::FourAxis;
  o.fourAxisTiltDeg = 180.0;  // the flange's z axis down, as the controller reports it: W = 180
  o.pointNoise = 0.0005;
  o.depthNoise = 0.001;
  o.robotTranslationNoise = 0.00005;
  o.robotRotationNoise = 0.0001;
  o.seed = seed;
  return TarnSim::MakeScene(o);
}

// The errors of the camera and marker figures (mm, radians) in the order of the report's covariance.
Eigen::Matrix<double, 9, 1> Errors(const Scene& scene, const CalibrationReport& r) {
  Eigen::Matrix4d m;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j)
      m(i, j) = r.result.cameraMatrix[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
  }
  Eigen::Matrix<double, 9, 1> error;
  for (std::size_t k = 0; k < 3; ++k)
    error(static_cast<int>(k)) = r.result.markerPosition[k] - scene.marker(static_cast<int>(k)) * 1000.0;
  const Eigen::AngleAxisd turn(Eigen::Matrix3d(scene.camera.linear().transpose() * m.topLeftCorner<3, 3>()));
  error.segment<3>(3) = turn.angle() * turn.axis();
  error.tail<3>() = m.topRightCorner<3, 1>() - scene.camera.translation() * 1000.0;
  return error;
}

// The errors' squared Mahalanobis length under the report's covariance, over the parameters not held (χ² with 8
// degrees of freedom when the covariance is right).
double ChiSquared(const Scene& scene, const CalibrationReport& r) {
  const Eigen::Matrix<double, 9, 9> c =
      Eigen::Map<const Eigen::Matrix<double, 9, 9, Eigen::RowMajor>>(r.covariance.matrix.data());
  const Eigen::Matrix<double, 9, 1> e = Errors(scene, r);
  const int held = r.fixedQuantity == "marker-height" ? 2 : 8;
  Eigen::Matrix<double, 8, 8> c8;
  Eigen::Matrix<double, 8, 1> e8;
  for (int i = 0, a = 0; i < 9; ++i) {
    if (i == held) continue;
    e8(a) = e(i);
    for (int j = 0, b = 0; j < 9; ++j) {
      if (j != held) c8(a, b++) = c(i, j);
    }
    ++a;
  }
  return e8.dot(c8.ldlt().solve(e8));
}

TEST(FourAxis, AGivenQuantityCalibratesAPalletiserToItsTruth) {
  for (const bool eyeToHand : {false, true}) {
    for (const bool height : {true, false}) {
      for (const unsigned seed : {1u, 2u, 3u}) {
        const Scene scene = Palletiser(eyeToHand, seed);
        AlgoParam param;
        param.HandEyeType = eyeToHand ? 1 : 0;
        ReportOptions options;
        (height ? options.fixedHeightMm : options.cameraOffsetZMm) =
            (height ? scene.marker.z() : scene.camera.translation().z()) * 1000.0;
        CalibrationReport r;
        ASSERT_EQ(SolveCalibrationReport(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Fanuc), param,
                                         RobotKind::Fanuc, options, r),
                  Success)
            << r.failure;
        SCOPED_TRACE((eyeToHand ? "eye-to-hand " : "eye-in-hand ") + r.fixedQuantity + " seed " + std::to_string(seed));
        EXPECT_EQ(r.fixedQuantity, height ? "marker-height" : "camera-offset-z");
        EXPECT_TRUE(r.uncertainty.known && r.covariance.known);
        EXPECT_EQ(r.covariance.freedom, 3 * 15 - 8);
        // Within the report's own uncertainty: χ²(8) below its 99.9 % point.
        EXPECT_LT(ChiSquared(scene, r), 26.1);
        // The σ the report gives is that of the noise, not of the quantity no shot sees.
        EXPECT_LT(r.uncertainty.translationNormMm, 4.0);
        EXPECT_EQ(r.leaveOneOutMm.size(), 15u);
        for (const ReportWarning& w : r.warnings) EXPECT_NE(w.code, "single-axis");
      }
    }
  }
}

TEST(FourAxis, WithoutTheQuantityTheFailureNamesIt) {
  for (const bool eyeToHand : {false, true}) {
    const Scene scene = Palletiser(eyeToHand, 4);
    AlgoParam param;
    param.HandEyeType = eyeToHand ? 1 : 0;
    CalibrationReport r;
    EXPECT_EQ(SolveCalibrationReport(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Fanuc), param,
                                     RobotKind::Fanuc, ReportOptions{}, r),
              Err_Solve_Fail);
    EXPECT_NE(r.failure.find("(fixed height)"), std::string::npos) << r.failure;
    EXPECT_NE(r.failure.find("(camera offset z)"), std::string::npos) << r.failure;
    EXPECT_NE(r.failure.find(eyeToHand ? "camera's height in the base" : "marker's height in the base"),
              std::string::npos)
        << r.failure;
  }
}

TEST(FourAxis, SuggestionsTurnAboutTheVerticalOnlyAndNeedTheQuantity) {
  const Scene scene = Palletiser(false, 5);
  const RobotRows rows = TarnSim::RobotRows(scene, RowFormat::Fanuc);
  SuggestOptions options;
  options.count = 4;
  PoseSuggestions out;
  EXPECT_EQ(SuggestNextPoses(scene.Markers(), rows, AlgoParam{}, RobotKind::Fanuc, options, out), Err_Solve_Fail);
  EXPECT_NE(out.failure.find("(fixed height)"), std::string::npos) << out.failure;

  options.fixedHeightMm = scene.marker.z() * 1000.0;
  out = PoseSuggestions{};
  ASSERT_EQ(SuggestNextPoses(scene.Markers(), rows, AlgoParam{}, RobotKind::Fanuc, options, out), Success)
      << out.failure;
  ASSERT_EQ(out.suggestions.size(), 4u);
  double before = out.sigmaMm;
  for (const PoseSuggestion& s : out.suggestions) {
    EXPECT_NEAR(std::abs(s.axis[2]), 1.0, 1e-9);
    EXPECT_NEAR(std::abs(s.row[3]), 180.0, 0.05);  // W and P as taken (up to the robot noise): still pointing down
    EXPECT_NEAR(s.row[4], 0.0, 0.05);
    EXPECT_LT(s.sigmaMmAfter, before);
    before = s.sigmaMmAfter;
  }
}

// Verify judges new 4-axis shots with the saved covariance (the held height known), and sees a camera moved by 3 mm.
TEST(FourAxis, VerifyUsesTheCovarianceWithTheHeldQuantityKnown) {
  const Scene scene = Palletiser(false, 6);
  ReportOptions options;
  options.fixedHeightMm = scene.marker.z() * 1000.0;
  CalibrationReport r;
  ASSERT_EQ(SolveCalibrationReport(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Fanuc), AlgoParam{},
                                   RobotKind::Fanuc, options, r),
            Success);
  SavedCalibration saved;
  saved.cameraMatrix = r.result.cameraMatrix;
  saved.markerPosition = r.result.markerPosition;
  saved.rmsErrorMm = r.result.rmsError;
  saved.uncertainty = r.uncertainty;
  saved.covariance = r.covariance;
  for (const double shiftMm : {0.0, 3.0}) {
    Scene moved = Palletiser(false, 7);  // new shots of the same cell, other poses
    moved.camera = scene.camera;
    moved.marker = scene.marker;
    moved.camera.translation().x() += shiftMm / 1000.0;
    moved.points.clear();
    for (const Eigen::Isometry3d& f : moved.flange) moved.points.push_back((f * moved.camera).inverse() * moved.marker);
    CalibrationCheck check;
    CheckOptions held;
    held.toleranceMm = 2.0;  // what 15 shots at real-camera noise can see
    held.toleranceDeg = 0.5;
    ASSERT_EQ(CheckCalibration(moved.Markers(), TarnSim::RobotRows(moved, RowFormat::Fanuc), AlgoParam{},
                               RobotKind::Fanuc, saved, held, check),
              Success)
        << check.failure;
    EXPECT_TRUE(check.powerKnown);
    EXPECT_EQ(check.verdict, shiftMm > 0.0 ? CheckVerdict::Drift : CheckVerdict::Ok)
        << shiftMm << " sees " << check.detectableShiftMm << " mm, " << check.detectableTurnDeg << " deg";
  }
}

}  // namespace
