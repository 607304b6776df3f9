// Suggested next poses on synthetic scenes: six suggested poses added one by one to six random ones leave
// the camera translation's σ at most 0.7 × of what six more random ones leave (mean over ten scenes per
// set-up), and every suggested row, read back through its convention independently of the library, keeps
// the marker within 25° of the optical axis.

#include <tarn/CalibrationReport.h>
#include <tarn/PoseSuggestion.h>

#include "ElementaryRotations.h"
#include "HandEyeScene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using namespace TamoHandEye;
using Eigen::Isometry3d;
using Eigen::Vector3d;
using TarnSim::RowFormat;
using TarnSim::Scene;

constexpr double kNoise = 0.0002;  // metres, each coordinate of a measured point

AlgoParam Param(bool eyeToHand) {
  AlgoParam p;
  p.HandEyeType = eyeToHand ? 1 : 0;
  return p;
}

double SigmaMm(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, bool eyeToHand) {
  CalibrationReport report;
  EXPECT_EQ(SolveCalibrationReport(markers, rows, Param(eyeToHand), RobotKind::Fanuc, ReportOptions{}, report),
            Success);
  EXPECT_TRUE(report.uncertainty.known);
  return report.uncertainty.translationNormMm;
}

// A FANUC row (X Y Z mm, W P R deg: Rz(R)·Ry(P)·Rx(W)) as a flange pose in metres.
Isometry3d ReadFanucRow(const std::vector<double>& row) {
  Isometry3d f = Isometry3d::Identity();
  f.linear() =
      TarnTest::EulerRotation("sxyz", TarnTest::Degrees(row[3]), TarnTest::Degrees(row[4]), TarnTest::Degrees(row[5]));
  f.translation() = 0.001 * Vector3d(row[0], row[1], row[2]);
  return f;
}

// Where the scene's camera sees its marker from flange pose `f`.
Vector3d Seen(const Scene& scene, const Isometry3d& f) {
  return scene.eyeToHand ? Vector3d(scene.camera.inverse() * (f * scene.marker))
                         : Vector3d((f * scene.camera).inverse() * scene.marker);
}

TEST(PoseSuggestion, SuggestedPosesShrinkTheUncertaintyAndKeepTheMarkerInView) {
  constexpr unsigned kScenes = 10;
  for (const bool eyeToHand : {false, true}) {
    double ratios = 0.0;
    for (unsigned seed = 1; seed <= kScenes; ++seed) {
      SCOPED_TRACE(std::string(eyeToHand ? "eye-to-hand" : "eye-in-hand") + " seed " + std::to_string(seed));
      TarnSim::SceneOptions o;
      o.poses = 12;
      o.eyeToHand = eyeToHand;
      o.pointNoise = kNoise;
      o.seed = seed;
      const Scene scene = TarnSim::MakeScene(o);
      std::vector<MarkerBoardResult> markers = scene.Markers();
      RobotRows rows = TarnSim::RobotRows(scene, RowFormat::Fanuc);
      const double random = SigmaMm(markers, rows, eyeToHand);

      markers.resize(6);
      rows.resize(6);
      std::mt19937 rng(seed);
      std::normal_distribution<double> noise(0.0, kNoise);
      for (int k = 0; k < 6; ++k) {
        PoseSuggestions next;
        SuggestOptions options;
        options.count = 1;
        ASSERT_EQ(SuggestNextPoses(markers, rows, Param(eyeToHand), RobotKind::Fanuc, options, next), Success)
            << next.failure;
        ASSERT_EQ(next.suggestions.size(), 1u) << next.failure;
        const std::vector<double>& row = next.suggestions[0].row;
        ASSERT_EQ(row.size(), 6u);
        const Vector3d seen = Seen(scene, ReadFanucRow(row));
        EXPECT_GT(seen.z(), 0.0);
        EXPECT_LE(std::acos(seen.normalized().z()) * 180.0 / 3.14159265358979323846, 25.0 + 1e-6);
        MarkerBoardResult m;
        m.x = seen.x() + noise(rng);
        m.y = seen.y() + noise(rng);
        m.z = seen.z() + noise(rng);
        markers.push_back(m);
        rows.push_back(row);
      }
      const double suggested = SigmaMm(markers, rows, eyeToHand);
      EXPECT_LT(suggested, random);
      ratios += suggested / random;
    }
    // Each σ is estimated from its own twelve poses' residuals, which scatter it by ±15 %: the figure is
    // the mean over the scenes.
    std::printf("%s: suggested / random sigma, mean over %u scenes %.3f\n", eyeToHand ? "eye-to-hand" : "eye-in-hand",
                kScenes, ratios / kScenes);
    EXPECT_LE(ratios / kScenes, 0.7) << (eyeToHand ? "eye-to-hand" : "eye-in-hand");
  }
}

// What cannot be calibrated gets the entry point's code and the report's reason; bad options are refused.
TEST(PoseSuggestion, RefusesPosesThatDoNotCalibrateAndBadOptions) {
  TarnSim::SceneOptions o;
  o.poses = 6;
  const Scene scene = TarnSim::MakeScene(o);
  std::vector<MarkerBoardResult> markers = scene.Markers();
  RobotRows rows = TarnSim::RobotRows(scene, RowFormat::Fanuc);
  PoseSuggestions s;
  SuggestOptions options;
  options.count = 0;
  EXPECT_EQ(SuggestNextPoses(markers, rows, Param(false), RobotKind::Fanuc, options, s), Err_Solve_Fail);
  EXPECT_NE(s.failure.find("count"), std::string::npos) << s.failure;
  markers.resize(4);
  rows.resize(4);
  EXPECT_EQ(SuggestNextPoses(markers, rows, Param(false), RobotKind::Fanuc, SuggestOptions{}, s), Err_Solve_Fail);
  EXPECT_NE(s.failure.find("at least 5 poses"), std::string::npos) << s.failure;
  EXPECT_TRUE(s.suggestions.empty());
  rows.pop_back();
  EXPECT_EQ(SuggestNextPoses(markers, rows, Param(false), RobotKind::Fanuc, SuggestOptions{}, s),
            Err_Solve_Count_Mismatch);
}

}  // namespace
