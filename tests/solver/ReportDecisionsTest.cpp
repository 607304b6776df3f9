// SPDX-License-Identifier: Apache-2.0
// The report's decisions on data as noisy as real depth cameras give (1–2 mm per shot, more along the line
// of sight, a robot accurate to a few tenths): how often a good set raises an alarm, and whether a planted
// fault or a set-up mistake is still named.

#include <tarn/CalibrationReport.h>

#include "solver/Statistics.h"

#include "HandEyeScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace TamoHandEye;
using TarnSim::RowFormat;
using TarnSim::Scene;
using TarnSim::SceneOptions;

// A real depth camera and robot: 1 mm per axis, 1.5 mm more along the line of sight, flange off by 0.2 mm
// and 0.01°.
SceneOptions RealCamera(int poses, unsigned seed) {
  SceneOptions o;
  o.poses = poses;
  o.seed = seed;
  o.pointNoise = 0.001;
  o.depthNoise = 0.0015;
  o.robotTranslationNoise = 0.0002;
  o.robotRotationNoise = 0.01 * M_PI / 180.0;
  return o;
}

CalibrationReport Report(const Scene& scene, const RobotRows& rows, RobotKind kind, const AlgoParam& param = {},
                         const ReportOptions& options = {}) {
  CalibrationReport r;
  SolveCalibrationReport(scene.Markers(), rows, param, kind, options, r);
  return r;
}

int Count(const CalibrationReport& r, const std::string& code) {
  return static_cast<int>(
      std::count_if(r.warnings.begin(), r.warnings.end(), [&](const ReportWarning& w) { return w.code == code; }));
}

TEST(Statistics, FisherQuantilesMatchPublishedTables) {
  EXPECT_NEAR(FisherQuantile(0.99, 3, 12), 5.953, 0.002);
  EXPECT_NEAR(FisherQuantile(0.95, 1, 10), 4.965, 0.002);
  EXPECT_NEAR(FisherQuantile(0.999, 15, 15), 5.535, 0.005);
  EXPECT_NEAR(FisherQuantile(0.99, 3, 1000), 3.801, 0.005);
  EXPECT_NEAR(ChiSquareQuantile(0.99, 3), 11.345, 0.002);
  for (const double p : {0.01, 0.5, 0.9999}) EXPECT_NEAR(FisherCdf(FisherQuantile(p, 3, 7), 3, 7), p, 1e-9);
}

TEST(ReportDecisions, SuspectPoseIsRareOnGoodSmallSetsAndCatchesAPlanted20Millimetres) {
  constexpr int kRuns = 150;
  int alarms = 0;
  int caught = 0;
  for (int run = 0; run < kRuns; ++run) {
    SceneOptions o = RealCamera(8, static_cast<unsigned>(100 + run));
    const Scene good = TarnSim::MakeScene(o);
    ReportOptions quick;
    quick.setupCheck = false;
    const CalibrationReport r = Report(good, TarnSim::RobotRows(good, RowFormat::Fanuc), RobotKind::Fanuc, {}, quick);
    if (Count(r, "suspect-pose") > 0) ++alarms;
    if (run % 5 != 0) continue;
    o.outliers = {run % 8};
    o.outlierOffset = 0.02;
    const Scene bad = TarnSim::MakeScene(o);
    const CalibrationReport flagged =
        Report(bad, TarnSim::RobotRows(bad, RowFormat::Fanuc), RobotKind::Fanuc, {}, quick);
    for (const ReportWarning& w : flagged.warnings) {
      if (w.code == "suspect-pose" && w.pose == run % 8) ++caught;
    }
  }
  std::printf("suspect-pose on good 8-pose sets: %d of %d; planted 20 mm caught: %d of %d\n", alarms, kRuns, caught,
              kRuns / 5);
  EXPECT_LE(alarms, kRuns * 2 / 100);
  EXPECT_GE(caught, kRuns / 5 - 1);
}

// One set-up mistake: the rows, points and settings a user gives, and the code that names it.
struct NamedMistake {
  std::string name;
  RobotKind kind;
  std::string code;
  std::function<void(Scene&, RobotRows&, AlgoParam&)> make;  // from a correct FANUC set
  bool eyeToHand = false;                                    // that set's
};

std::vector<NamedMistake> Mistakes() {
  const auto rows = [](RowFormat format, bool metres = false, bool radians = false) {
    return [=](Scene& s, RobotRows& r, AlgoParam&) { r = TarnSim::RobotRows(s, format, metres, radians); };
  };
  return {
      {"metres given as millimetres", RobotKind::Fanuc, "meter", rows(RowFormat::Fanuc, true)},
      {"KUKA rows read as FANUC", RobotKind::Fanuc, "robot", rows(RowFormat::Kuka)},
      {"rows in reverse order", RobotKind::Fanuc, "reversed",
       [](Scene&, RobotRows& r, AlgoParam&) { std::reverse(r.begin(), r.end()); }},
      {"base-in-flange rows", RobotKind::Fanuc, "inverted",
       [](Scene& s, RobotRows& r, AlgoParam&) {
         Scene inverted = s;
         for (auto& pose : inverted.flange) pose = pose.inverse();
         r = TarnSim::RobotRows(inverted, RowFormat::Fanuc);
       }},
      {"marker points in millimetres", RobotKind::Fanuc, "markers-x0.001",
       [](Scene& s, RobotRows&, AlgoParam&) {
         for (auto& p : s.points) p *= 1000.0;
       }},
      {"UR angles in degrees", RobotKind::Ur, "degree",
       [](Scene& s, RobotRows& r, AlgoParam& p) {
         r = TarnSim::RobotRows(s, RowFormat::Ur);
         p.IsRadian = true;
       }},
      {"radians without the radian flag", RobotKind::Common3, "radian", rows(RowFormat::Kuka, false, true)},
      {"eye-to-hand solved as eye-in-hand", RobotKind::Fanuc, "eye-to-hand", [](Scene&, RobotRows&, AlgoParam&) {},
       true},
      {"correct", RobotKind::Fanuc, "", [](Scene&, RobotRows&, AlgoParam&) {}},
      {"correct, generic rows", RobotKind::Common3, "", rows(RowFormat::Kuka)},
      {"correct, eye-to-hand", RobotKind::Fanuc, "", [](Scene&, RobotRows&, AlgoParam& p) { p.HandEyeType = 1; }, true},
  };
}

TEST(ReportDecisions, SetUpMistakesAreNamedOnSmallNoisySetsAndCorrectSetsRaiseNone) {
  constexpr int kRuns = 40;
  for (const NamedMistake& m : Mistakes()) {
    int named = 0;
    for (int run = 0; run < kRuns; ++run) {
      SceneOptions o = RealCamera(8, static_cast<unsigned>(500 + run));
      o.eyeToHand = m.eyeToHand;
      Scene scene = TarnSim::MakeScene(o);
      RobotRows rows = TarnSim::RobotRows(scene, RowFormat::Fanuc);
      AlgoParam param;
      m.make(scene, rows, param);
      const CalibrationReport r = Report(scene, rows, m.kind, param);
      EXPECT_TRUE(r.setupChecked);
      if (!r.alternatives.empty() && r.alternatives.front().code == m.code && Count(r, "likely-setup") == 1) ++named;
      if (m.code.empty()) {
        EXPECT_EQ(Count(r, "likely-setup"), 0) << r.warnings.front().message;
      }
    }
    std::printf("%s: named in %d of %d 8-pose sets\n", m.name.c_str(), named, kRuns);
    if (!m.code.empty()) {
      EXPECT_GE(named, kRuns * 95 / 100) << m.name;
    }
  }
}

TEST(ReportDecisions, SearchWithoutADistanceFollowsTheNoiseAndExplainsEveryDrop) {
  AlgoParam search;
  search.Exhaust = true;  // no distance: taken from the data
  int dropped = 0;
  int poses = 0;
  for (int run = 0; run < 10; ++run) {
    const Scene scene = TarnSim::MakeScene(RealCamera(30, static_cast<unsigned>(700 + run)));
    const CalibrationReport r = Report(scene, TarnSim::RobotRows(scene, RowFormat::Fanuc), RobotKind::Fanuc, search);
    ASSERT_TRUE(r.failure.empty()) << r.failure;
    EXPECT_TRUE(r.searchDistanceFromData);
    EXPECT_GT(r.searchDistanceMm, 4.0);  // several times the 1.8 mm per-axis noise
    dropped += static_cast<int>(r.dropped.size());
    poses += 30;
  }
  std::printf("poses dropped by the search without a distance on clean sets: %d of %d\n", dropped, poses);
  EXPECT_LE(dropped, poses * 5 / 100);

  // A planted 25 mm pose is dropped and explained; a given distance still rules, and one too tight for the
  // camera says so.
  SceneOptions o = RealCamera(30, 800);
  o.outliers = {4};
  o.outlierOffset = 0.025;
  const Scene scene = TarnSim::MakeScene(o);
  const RobotRows rows = TarnSim::RobotRows(scene, RowFormat::Fanuc);
  CalibrationReport r = Report(scene, rows, RobotKind::Fanuc, search);
  ASSERT_EQ(r.dropped.size(), 1u);
  EXPECT_EQ(r.dropped[0].pose, 4);
  EXPECT_GT(r.dropped[0].residualMm, r.dropped[0].distanceMm);
  EXPECT_NE(r.dropped[0].reason.find("not below the search distance"), std::string::npos);
  EXPECT_EQ(Count(r, "search-dropped-many"), 0);
  AlgoParam tight = search;
  tight.RansacDist = 0.002;
  r = Report(scene, rows, RobotKind::Fanuc, tight);
  EXPECT_FALSE(r.searchDistanceFromData);
  EXPECT_DOUBLE_EQ(r.searchDistanceMm, 2.0);
  EXPECT_GT(r.dropped.size(), 6u);
  EXPECT_EQ(Count(r, "search-dropped-many"), 1);
}

TEST(ReportDecisions, TheToleranceDecidesUncertainAndIsReported) {
  const Scene scene = TarnSim::MakeScene(RealCamera(12, 900));
  const RobotRows rows = TarnSim::RobotRows(scene, RowFormat::Fanuc);
  ReportOptions strict;
  strict.toleranceMm = 0.01;
  CalibrationReport r = Report(scene, rows, RobotKind::Fanuc, {}, strict);
  ASSERT_TRUE(r.uncertainty.known);
  EXPECT_FALSE(r.meetsTolerance);
  EXPECT_EQ(Count(r, "uncertain"), 1);
  ReportOptions loose;
  loose.toleranceMm = 2.0 * r.uncertainty.translationNormMm;
  loose.toleranceDeg = 2.0 * r.uncertainty.rotationDeg;
  r = Report(scene, rows, RobotKind::Fanuc, {}, loose);
  EXPECT_TRUE(r.meetsTolerance);
  EXPECT_EQ(Count(r, "uncertain"), 0);
}

}  // namespace

namespace {

// Each shot's measured normal as the report takes it, stating `sigma` (radians).
std::vector<ShotPlane> Planes(const Scene& scene, double sigma) {
  std::vector<ShotPlane> planes;
  for (const Eigen::Vector3d& n : scene.normals) {
    ShotPlane p;
    p.hasNormal = true;
    p.normal = {n.x(), n.y(), n.z()};
    p.normalCovariance = {sigma * sigma, 0.0, 0.0, sigma * sigma};
    planes.push_back(p);
  }
  return planes;
}

// With the board's normals the set-up check tests every reading a second time: on sets too few and too noisy for
// the points alone (5 poses, 6 mm per axis and 8 mm more along the line of sight), the mistakes that turn the
// poses are named more often, none less, and correct sets raise no alarm.
TEST(ReportDecisions, WithNormalsSetUpMistakesAreNamedWhereThePointsAloneMissThem) {
  constexpr int kRuns = 30;
  int gained = 0;
  constexpr double kNormal = 0.05 * M_PI / 180.0;
  for (const NamedMistake& m : Mistakes()) {
    int named[2] = {0, 0};
    for (int run = 0; run < kRuns; ++run) {
      SceneOptions o = RealCamera(5, static_cast<unsigned>(700 + run));
      o.pointNoise = 0.006;
      o.depthNoise = 0.008;
      o.normalNoise = kNormal;
      o.eyeToHand = m.eyeToHand;
      Scene scene = TarnSim::MakeScene(o);
      RobotRows rows = TarnSim::RobotRows(scene, RowFormat::Fanuc);
      AlgoParam param;
      m.make(scene, rows, param);
      for (const bool withNormals : {false, true}) {
        ReportOptions options;
        if (withNormals) options.shots = Planes(scene, kNormal);
        const CalibrationReport r = Report(scene, rows, m.kind, param, options);
        const bool right =
            !r.alternatives.empty() && r.alternatives.front().code == m.code && Count(r, "likely-setup") == 1;
        named[withNormals ? 1 : 0] += right ? 1 : 0;
        if (m.code.empty()) {
          EXPECT_EQ(Count(r, "likely-setup"), 0) << m.name << ": " << r.warnings.front().message;
        }
      }
    }
    std::printf("%s: named in %d of %d 5-pose sets at 6 mm by the points, %d with the normals\n", m.name.c_str(),
                named[0], kRuns, named[1]);
    EXPECT_GE(named[1], named[0]) << m.name;
    gained += named[1] - named[0];
  }
  EXPECT_GE(gained, 20);
}

}  // namespace
