// SPDX-License-Identifier: Apache-2.0
// Suggested next poses on synthetic scenes: six suggested poses added one by one to six random ones leave
// the camera translation's σ at most 0.7 × of what six more random ones leave (mean over ten scenes per
// set-up), and every suggested row, read back through its convention independently of the library, keeps
// the marker within 25° of the optical axis.

#include <tarn/CalibrationReport.h>
#include <tarn/PoseSuggestion.h>

#include "ElementaryRotations.h"
#include "HandEyeScene.h"
#include "MarkerRenderer.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

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

// ---- The image instead of the view cone ----

namespace image {

// Every suggested row, read back and seen by the scene's true camera through the true pinhole: the share
// that keeps the marker inside the image, over scenes of real-camera noise (1 mm, a robot off by 0.3 mm and
// 0.02°) and lenses from 600 to 2,500 px.
TEST(PoseSuggestion, WithThePinholeKnownTheMarkerStaysInsideTheImage) {
  int inside = 0;
  int suggested = 0;
  for (const double focal : {600.0, 1200.0, 2500.0}) {
    // A 1920 x 1200 image whose view holds the scenes' marker (aimed up to 0.17 m off-axis at 0.45 m) at
    // the longest lens too.
    const CameraPinhole pinhole{focal, focal, 959.5 + 30.0, 599.5 - 20.0, 1920, 1200};
    for (unsigned seed = 1; seed <= 6; ++seed) {
      TarnSim::SceneOptions o;
      o.poses = 8;
      o.eyeToHand = seed % 2 == 0;
      o.pointNoise = 0.001;
      o.robotTranslationNoise = 0.0003;
      o.robotRotationNoise = 0.02 * 3.14159265358979323846 / 180.0;
      o.seed = seed;
      const Scene scene = TarnSim::MakeScene(o);
      SuggestOptions options;
      options.count = 6;
      options.camera = pinhole;
      PoseSuggestions next;
      ASSERT_EQ(SuggestNextPoses(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Fanuc), Param(o.eyeToHand),
                                 RobotKind::Fanuc, options, next),
                Success)
          << next.failure;
      EXPECT_TRUE(next.inImage);
      for (const PoseSuggestion& s : next.suggestions) {
        const Vector3d seen = Seen(scene, ReadFanucRow(s.row));
        const double u = pinhole.fx * seen.x() / seen.z() + pinhole.cx;
        const double v = pinhole.fy * seen.y() / seen.z() + pinhole.cy;
        inside += seen.z() > 0.0 && u >= 0.0 && u <= 1919.0 && v >= 0.0 && v <= 1199.0;
        ++suggested;
      }
    }
  }
  std::printf("suggested markers inside a 1920 x 1200 image, lenses 600-2500 px: %d of %d\n", inside, suggested);
  EXPECT_GE(inside, suggested * 95 / 100);
  EXPECT_GE(suggested, 3 * 6 * 5);
}

// The pinhole of a rendered cloud, from the matrix and from its files, against the renderer's camera.
TEST(PoseSuggestion, ThePinholeOfARenderedCloudIsTheRenderersCamera) {
  for (const double focal : {600.0, 2400.0}) {
    TarnSim::ShotOptions o;
    o.width = 800;
    o.height = 600;
    o.focal = focal;
    o.depthNoise = 0.002;
    o.boardHalfWidth = 0.6;
    o.boardHalfHeight = 0.5;
    o.cameraFromBoard = TarnSim::View(0.6, 0.3, -0.2);
    const TarnSim::Shot shot = TarnSim::RenderShot(o);
    CameraPinhole p;
    ASSERT_TRUE(EstimateCameraPinhole(shot.cloud, p)) << focal;
    EXPECT_NEAR(p.fx, focal, 1e-3 * focal);
    EXPECT_NEAR(p.fy, focal, 1e-3 * focal);
    EXPECT_NEAR(p.cx, 399.5, 0.2);
    EXPECT_NEAR(p.cy, 299.5, 0.2);
    EXPECT_EQ(p.width, 800);
    EXPECT_EQ(p.height, 600);
    const std::string dir = testing::TempDir();
    cv::imwrite(dir + "/pinhole.png", shot.image);
    TarnSim::WritePly(dir + "/pinhole.ply", shot.cloud);
    CameraPinhole fromFiles;
    ASSERT_TRUE(EstimateCameraPinhole(dir + "/pinhole.png", dir + "/pinhole.ply", fromFiles));
    EXPECT_NEAR(fromFiles.fx, p.fx, 1e-3 * focal);  // the file keeps floats
    EXPECT_NEAR(fromFiles.cx, p.cx, 0.05);
  }
  // A cloud that is not organised as its image says nothing.
  cv::Mat noise(60, 80, CV_64FC3);
  cv::randu(noise, cv::Scalar(-1, -1, 0.5), cv::Scalar(1, 1, 2));
  CameraPinhole untouched;
  EXPECT_FALSE(EstimateCameraPinhole(noise, untouched));
  EXPECT_EQ(untouched.width, 0);
}

}  // namespace image

// ---- Scored with the board's normal ----

namespace normals {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

// The board's normal as the scene's camera sees it from flange pose `f`, turned by noise across it.
Vector3d SeenNormal(const Scene& scene, const Isometry3d& f, double sigma, std::mt19937& rng) {
  const Eigen::Matrix3d toCamera = scene.eyeToHand ? Eigen::Matrix3d(scene.camera.linear().transpose() * f.linear())
                                                   : Eigen::Matrix3d((f * scene.camera).linear().transpose());
  const Vector3d n = toCamera * scene.boardNormal;
  const Vector3d a = n.unitOrthogonal(), b = n.cross(a);
  std::normal_distribution<double> noise(0.0, sigma);
  return (n + noise(rng) * a + noise(rng) * b).normalized();
}

ShotPlane Plane(const Vector3d& n, double pointSigma, double normalSigma) {
  ShotPlane p;
  p.hasNormal = true;
  p.normal = {n.x(), n.y(), n.z()};
  const double v = normalSigma * normalSigma, c = pointSigma * pointSigma;
  p.normalCovariance = {v, 0.0, 0.0, v};
  p.centreCovariance = {c, 0.0, 0.0, 0.0, c, 0.0, 0.0, 0.0, c};
  return p;
}

// Six poses taken with their normals, four more suggested under each model, each shot then taken at the true
// pose (the robot off by its noise) and the whole solved with the normals: the poses scored with the normal leave
// the smaller σ, and the σ they predicted is the one the solve then reports.
TEST(PoseSuggestion, WithNormalsTheSuggestionsScoreWhatTheNormalAdds) {
  constexpr double kPoint = 0.0003, kNormal = 0.02 * kDegree, kRobotMm = 0.05, kRobotDeg = 0.01;
  double withNormals = 0.0, byPoints = 0.0;
  int scenes = 0;
  for (unsigned seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TarnSim::SceneOptions o;
    o.poses = 6;
    o.eyeToHand = seed % 2 == 0;
    o.seed = seed;
    const Scene scene = TarnSim::MakeScene(o);
    std::mt19937 rng(seed);
    std::normal_distribution<double> unit(0.0, 1.0);
    auto take = [&](const Isometry3d& asked, std::vector<MarkerBoardResult>& markers, std::vector<ShotPlane>& planes) {
      Isometry3d actual = asked;  // where the robot really went
      actual.translation() += 0.001 * kRobotMm * Vector3d(unit(rng), unit(rng), unit(rng));
      actual.linear() = actual.linear() * Eigen::AngleAxisd(kRobotDeg * kDegree * unit(rng), Vector3d::UnitX()) *
                        Eigen::AngleAxisd(kRobotDeg * kDegree * unit(rng), Vector3d::UnitY()) *
                        Eigen::AngleAxisd(kRobotDeg * kDegree * unit(rng), Vector3d::UnitZ());
      const Vector3d p = Seen(scene, actual) + kPoint * Vector3d(unit(rng), unit(rng), unit(rng));
      markers.push_back({p.x(), p.y(), p.z(), 0.0, 0.0});
      planes.push_back(Plane(SeenNormal(scene, actual, kNormal, rng), kPoint, kNormal));
    };
    std::vector<MarkerBoardResult> markers;
    std::vector<ShotPlane> planes;
    for (const Isometry3d& f : scene.flange) take(f, markers, planes);
    const RobotRows rows = TarnSim::RobotRows(scene, RowFormat::Fanuc);
    double after[2] = {0.0, 0.0};
    for (const SolveModel model : {SolveModel::Auto, SolveModel::Point}) {
      SuggestOptions options;
      options.count = 4;
      options.model = model;
      options.shots = planes;
      options.robotNoiseMm = kRobotMm;
      options.robotNoiseDeg = kRobotDeg;
      PoseSuggestions next;
      ASSERT_EQ(SuggestNextPoses(markers, rows, Param(o.eyeToHand), RobotKind::Fanuc, options, next), Success)
          << next.failure;
      ASSERT_EQ(next.suggestions.size(), 4u);
      EXPECT_EQ(next.model, model == SolveModel::Auto ? "point+normal" : "point");
      std::vector<MarkerBoardResult> m = markers;
      std::vector<ShotPlane> p = planes;
      RobotRows r = rows;
      for (const PoseSuggestion& s : next.suggestions) {
        take(ReadFanucRow(s.row), m, p);
        r.push_back(s.row);
      }
      ReportOptions report;
      report.setupCheck = false;
      report.shots = p;
      report.robotNoiseMm = kRobotMm;
      report.robotNoiseDeg = kRobotDeg;
      CalibrationReport solved;
      ASSERT_EQ(SolveCalibrationReport(m, r, Param(o.eyeToHand), RobotKind::Fanuc, report, solved), Success);
      ASSERT_EQ(solved.model, "point+normal");
      after[model == SolveModel::Auto ? 0 : 1] = solved.uncertainty.translationNormMm;
      if (model == SolveModel::Auto) {
        // Predicted from six shots' residuals, reported from ten: within the scatter of such estimates.
        const double predicted = next.suggestions.back().sigmaMmAfter;
        EXPECT_GT(predicted, 0.6 * solved.uncertainty.translationNormMm);
        EXPECT_LT(predicted, 1.6 * solved.uncertainty.translationNormMm);
        std::printf("seed %u: predicted %.4f mm, reported %.4f mm\n", seed, predicted,
                    solved.uncertainty.translationNormMm);
      }
    }
    withNormals += after[0];
    byPoints += after[1];
    ++scenes;
  }
  std::printf("sigma after four suggested poses, mean over %d scenes: scored with normals %.4f mm, by points %.4f mm\n",
              scenes, withNormals / scenes, byPoints / scenes);
  EXPECT_LT(withNormals, 0.95 * byPoints);
}

}  // namespace normals
