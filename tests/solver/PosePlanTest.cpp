// SPDX-License-Identifier: Apache-2.0
// Pose plans from one taught pose, checked on synthetic cells with a known camera and marker: every planned pose
// keeps the marker inside the image at the taught distance within the turn allowed, calibrating from the plan
// beats as many poses drawn at random inside the same limits, and the route without a camera guess (a first
// stage, then the plan from its shots) gets as far.

#include <tarn/CalibrationReport.h>
#include <tarn/PosePlan.h>

#include "HandEyeScene.h"

#include <gtest/gtest.h>

#include <Eigen/SVD>

#include <cmath>
#include <random>

namespace {

using namespace TamoHandEye;
using Eigen::Isometry3d;
using Eigen::Vector3d;
using TarnSim::RowFormat;

constexpr double kDegree = 3.14159265358979323846 / 180.0;

struct Cell {
  TarnSim::Scene truth;  // the camera and marker; flange[0] is the taught pose
  CameraPinhole pinhole;
};

Cell MakeCell(bool eyeToHand, double fx, unsigned seed) {
  TarnSim::SceneOptions o;
  o.poses = 1;
  o.eyeToHand = eyeToHand;
  o.seed = seed;
  Cell c{TarnSim::MakeScene(o), {fx, fx, 960.0, 600.0, 1920, 1200}};
  return c;
}

// Where the truth puts the marker in the camera frame for a flange pose.
Vector3d Seen(const TarnSim::Scene& truth, const Isometry3d& flange) {
  return truth.eyeToHand ? Vector3d(truth.camera.inverse() * (flange * truth.marker))
                         : Vector3d((flange * truth.camera).inverse() * truth.marker);
}

std::vector<double> FanucRow(const Isometry3d& pose) {
  TarnSim::Scene one;
  one.flange = {pose};
  return TarnSim::RobotRows(one, RowFormat::Fanuc)[0];
}

Isometry3d PoseOf(const PlannedPose& p) {
  Isometry3d pose = Isometry3d::Identity();
  for (int k = 0; k < 12; ++k) pose.matrix()(k / 4, k % 4) = p.matrix[static_cast<std::size_t>(k)];
  pose.translation() /= 1000.0;
  return pose;
}

// The calibration's translation σ (mm) from shots at these flange poses with 0.5 mm of noise per axis, and with
// `depthMm` more along each line of sight (a real camera's: then the report's σ as it stands).
double CalibratedSigma(const TarnSim::Scene& truth, const std::vector<Isometry3d>& flanges, unsigned seed,
                       double depthMm = 0.0) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 0.0005);
  std::normal_distribution<double> depth(0.0, depthMm / 1000.0);
  TarnSim::Scene shots = truth;
  shots.flange = flanges;
  shots.points.clear();
  for (const Isometry3d& f : flanges) {
    const Vector3d q = Seen(truth, f);
    shots.points.push_back(q + Vector3d(noise(rng), noise(rng), noise(rng)) + depth(rng) * q.normalized());
  }
  AlgoParam param;
  param.HandEyeType = truth.eyeToHand ? 1 : 0;
  ReportOptions options;
  options.setupCheck = false;
  CalibrationReport report;
  EXPECT_EQ(SolveCalibrationReport(shots.Markers(), TarnSim::RobotRows(shots, RowFormat::Fanuc), param,
                                   RobotKind::Fanuc, options, report),
            Success)
      << report.failure;
  // At exactly that noise: the reported σ over the residuals' σ the report estimated, so that draws do not decide.
  if (depthMm > 0.0) return report.uncertainty.translationNormMm;
  return report.uncertainty.translationNormMm * 0.5 / report.covariance.residualSigmaMm;
}

// Poses drawn at random inside the plan's limits: the taught orientation turned by up to 30° about a random axis,
// the marker anywhere inside the image's inner 80 %, the camera at the taught distance ±15 %.
std::vector<Isometry3d> RandomPoses(const Cell& c, int count, std::mt19937& rng) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const Isometry3d taught = c.truth.flange[0];
  const double distance = Seen(c.truth, taught).norm();
  std::vector<Isometry3d> out{taught};
  while (static_cast<int>(out.size()) < count) {
    const Vector3d axis = Vector3d(unit(rng), unit(rng), unit(rng)).normalized();
    Isometry3d f = Isometry3d::Identity();
    f.linear() = Eigen::AngleAxisd(15.0 * (1.0 + unit(rng)) * kDegree, axis) * taught.linear();
    const double u = 960.0 + 0.8 * 960.0 * unit(rng), v = 600.0 + 0.8 * 600.0 * unit(rng);
    const Vector3d ray =
        Vector3d((u - c.pinhole.cx) / c.pinhole.fx, (v - c.pinhole.cy) / c.pinhole.fy, 1.0).normalized();
    const Vector3d inCamera = distance * (1.0 + 0.15 * unit(rng)) * ray;
    if (c.truth.eyeToHand) {
      f.translation() = c.truth.camera * inCamera - f.linear() * c.truth.marker;
    } else {
      const Isometry3d camera(f.linear() * c.truth.camera.linear());
      f.translation() = c.truth.marker - camera.linear() * inCamera - f.linear() * c.truth.camera.translation();
    }
    out.push_back(f);
  }
  return out;
}

// The board's normal as the taught shot sees it (camera frame).
Vector3d TaughtNormal(const TarnSim::Scene& truth) {
  const Isometry3d taught = truth.flange[0];
  const Eigen::Matrix3d toCamera = truth.eyeToHand
                                       ? Eigen::Matrix3d(truth.camera.linear().transpose() * taught.linear())
                                       : Eigen::Matrix3d((taught * truth.camera).linear().transpose());
  return toCamera * truth.boardNormal;
}

// How flat a small ring at the marker looks in the image: the axis ratio of its image ellipse, from the projection's
// derivative along the board (by differences).
double Flatness(const TarnSim::Scene& truth, const Isometry3d& flange, const CameraPinhole& p) {
  const Isometry3d toCamera = truth.eyeToHand ? truth.camera.inverse() * flange : (flange * truth.camera).inverse();
  const Vector3d a = truth.boardNormal.unitOrthogonal(), b = truth.boardNormal.cross(a);
  const auto pixel = [&](const Vector3d& x) {
    const Vector3d q = toCamera * x;
    return Eigen::Vector2d(p.fx * q.x() / q.z(), p.fy * q.y() / q.z());
  };
  constexpr double h = 1e-5;
  Eigen::Matrix2d j;
  j << pixel(truth.marker + h * a) - pixel(truth.marker - h * a),
      pixel(truth.marker + h * b) - pixel(truth.marker - h * b);
  const Eigen::Vector2d s = Eigen::JacobiSVD<Eigen::Matrix2d>(j).singularValues();
  return s(1) / s(0);
}

PosePlan Plan(const Cell& c, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, bool guess) {
  PlanOptions options;
  options.camera = c.pinhole;
  const Vector3d n = TaughtNormal(c.truth);
  options.boardNormal = {n.x(), n.y(), n.z()};
  if (guess) options.cameraGuess = FanucRow(c.truth.camera);
  AlgoParam param;
  param.HandEyeType = c.truth.eyeToHand ? 1 : 0;
  PosePlan plan;
  EXPECT_EQ(PlanCalibrationPoses(markers, rows, param, RobotKind::Fanuc, options, plan), Success) << plan.failure;
  return plan;
}

TEST(PosePlan, FromAGuessKeepsTheMarkerInTheImageAndBeatsRandomPoses) {
  double planSigma = 0.0, randomSigma = 0.0, planDepth = 0.0, randomDepth = 0.0;
  int cells = 0;
  for (const bool eyeToHand : {false, true}) {
    for (const double fx : {600.0, 1500.0, 2500.0}) {
      for (unsigned seed = 1; seed <= 3; ++seed) {
        const Cell c = MakeCell(eyeToHand, fx, seed);
        const Isometry3d taught = c.truth.flange[0];
        const Vector3d seen = Seen(c.truth, taught);
        TarnSim::Scene shot = c.truth;
        shot.points = {seen};
        const PosePlan plan = Plan(c, shot.Markers(), {FanucRow(taught)}, true);
        ASSERT_EQ(plan.poses.size(), 15u) << plan.failure;
        EXPECT_FALSE(plan.firstStage);
        EXPECT_GT(plan.sigmaMm, 0.0);
        std::vector<Isometry3d> flanges;
        for (const PlannedPose& p : plan.poses) {
          const Isometry3d f = PoseOf(p);
          flanges.push_back(f);
          const Vector3d q = Seen(c.truth, f);
          const double u = fx * q.x() / q.z() + 960.0, v = fx * q.y() / q.z() + 600.0;
          if (flanges.size() > 1) {  // the taught pose is where it was taught
            EXPECT_TRUE(u >= 192.0 - 1e-6 && u <= 1728.0 + 1e-6 && v >= 120.0 - 1e-6 && v <= 1080.0 + 1e-6)
                << u << " " << v << " fx " << fx;
          }
          EXPECT_NEAR(q.norm() / seen.norm(), 1.0, 0.15 + 1e-9);
          EXPECT_LE(Eigen::AngleAxisd(f.linear() * taught.linear().transpose()).angle(), 30.0 * kDegree + 1e-9);
          EXPECT_NEAR(u, p.u, 1e-3);
          if (flanges.size() > 1) {
            EXPECT_GT(Flatness(c.truth, f, c.pinhole), std::cos(48.0 * kDegree) - 1e-6);
          }
        }
        EXPECT_LT((flanges[0].matrix() - taught.matrix()).cwiseAbs().maxCoeff(), 1e-9);
        std::mt19937 rng(seed);
        const std::vector<Isometry3d> drawn = RandomPoses(c, 15, rng);
        planSigma += CalibratedSigma(c.truth, flanges, seed);
        randomSigma += CalibratedSigma(c.truth, drawn, seed);
        planDepth += CalibratedSigma(c.truth, flanges, seed, 2.0);
        randomDepth += CalibratedSigma(c.truth, drawn, seed, 2.0);
        ++cells;
      }
    }
  }
  std::printf("15 poses over %d cells: planned sigma %.3f mm, random %.3f mm (%.2fx)\n", cells, planSigma / cells,
              randomSigma / cells, randomSigma / planSigma);
  EXPECT_GT(randomSigma, 1.5 * planSigma);
  // Under a real camera's noise, 2 mm more along each line of sight, the plan keeps its lead.
  std::printf("with 2 mm depth noise: planned sigma %.3f mm, random %.3f mm (%.2fx)\n", planDepth / cells,
              randomDepth / cells, randomDepth / planDepth);
  EXPECT_GT(randomDepth, 1.5 * planDepth);
}

// Without a guess: the first stage (the taught pose, three 30 mm shifts along the flange's axes, two small turns),
// its shots, then the plan from them; calibrated from all of it, as good as the plan from the true camera.
TEST(PosePlan, WithoutAGuessTwoStagesGetAsFar) {
  double twoStage = 0.0, guessed = 0.0;
  for (const bool eyeToHand : {false, true}) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
      const Cell c = MakeCell(eyeToHand, 1200.0, seed);
      const Isometry3d taught = c.truth.flange[0];
      TarnSim::Scene shot = c.truth;
      shot.points = {Seen(c.truth, taught)};
      const PosePlan first = Plan(c, shot.Markers(), {FanucRow(taught)}, false);
      ASSERT_TRUE(first.firstStage);
      ASSERT_EQ(first.poses.size(), 6u);
      std::vector<Isometry3d> flanges;
      for (const PlannedPose& p : first.poses) flanges.push_back(PoseOf(p));
      for (int axis = 0; axis < 3; ++axis) {
        const Vector3d shift = taught.inverse() * flanges[static_cast<std::size_t>(axis + 1)].translation();
        EXPECT_LT((shift - 0.03 * Vector3d::Unit(axis)).norm(), 1e-6);
      }
      EXPECT_NEAR(first.poses[4].turnDeg, 5.0, 1e-6);
      // The first stage's shots, with 0.5 mm of noise, then the plan from them.
      std::mt19937 rng(seed);
      std::normal_distribution<double> noise(0.0, 0.0005);
      TarnSim::Scene shots = c.truth;
      shots.flange = flanges;
      shots.points.clear();
      for (const Isometry3d& f : flanges) {
        shots.points.push_back(Seen(c.truth, f) + Vector3d(noise(rng), noise(rng), noise(rng)));
      }
      const PosePlan plan = Plan(c, shots.Markers(), TarnSim::RobotRows(shots, RowFormat::Fanuc), false);
      ASSERT_EQ(plan.poses.size(), 15u) << plan.failure;
      EXPECT_LT((PoseOf(plan.poses[0]).matrix() - taught.matrix()).cwiseAbs().maxCoeff(), 1e-6);
      for (std::size_t i = 1; i < plan.poses.size(); ++i) flanges.push_back(PoseOf(plan.poses[i]));
      twoStage += CalibratedSigma(c.truth, flanges, seed + 10);
      std::vector<Isometry3d> fromGuess;
      for (const PlannedPose& p : Plan(c, shot.Markers(), {FanucRow(taught)}, true).poses) {
        fromGuess.push_back(PoseOf(p));
      }
      guessed += CalibratedSigma(c.truth, fromGuess, seed + 10);
    }
  }
  std::printf("two stages (6 + 14 shots): sigma %.3f mm; from the true camera (15 shots): %.3f mm\n", twoStage / 6,
              guessed / 6);
  EXPECT_LT(twoStage, 1.1 * guessed);
}

}  // namespace

namespace {

// A palletiser's cell: the camera on a flange whose z axis points down, turning about the base's z axis only.
Cell PalletiserCell(unsigned seed) {
  TarnSim::SceneOptions o;
  o.poses = 1;
  o.motion = TarnSim::Motion::FourAxis;
  o.fourAxisTiltDeg = 180.0;
  o.seed = seed;
  Cell c{TarnSim::MakeScene(o), {1200.0, 1200.0, 960.0, 600.0, 1920, 1200}};
  // Taught where the camera sees the marker near the image's centre, 0.5 m away.
  Isometry3d& taught = c.truth.flange[0];
  const Isometry3d camera = taught * c.truth.camera;
  const Vector3d cameraAt = c.truth.marker - camera.linear() * Vector3d(0.02, -0.01, 0.5);
  taught.translation() = cameraAt - taught.linear() * c.truth.camera.translation();
  return c;
}

}  // namespace

TEST(PosePlan, AFourAxisPlanOnlyTurnsAboutTheVerticalAndCalibratesWithTheHeightGiven) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    const Cell c = PalletiserCell(seed);
    const Isometry3d taught = c.truth.flange[0];
    TarnSim::Scene shot = c.truth;
    shot.points = {Seen(c.truth, taught)};
    ASSERT_GT(shot.points[0].z(), 0.0);
    PlanOptions options;
    options.camera = c.pinhole;
    options.fourAxis = true;
    // The first stage: shifts along the base's axes and turns about its z axis.
    AlgoParam param;
    PosePlan first;
    ASSERT_EQ(PlanCalibrationPoses(shot.Markers(), {FanucRow(taught)}, param, RobotKind::Fanuc, options, first),
              Success)
        << first.failure;
    std::vector<Isometry3d> flanges;
    for (const PlannedPose& p : first.poses) flanges.push_back(PoseOf(p));
    EXPECT_LT((flanges[3].translation() - taught.translation() - Vector3d(0, 0, 0.03)).norm(), 1e-6);
    // The plan from its shots, the marker's height given.
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.0005);
    TarnSim::Scene shots = c.truth;
    shots.flange = flanges;
    shots.points.clear();
    for (const Isometry3d& f : flanges)
      shots.points.push_back(Seen(c.truth, f) + Vector3d(noise(rng), noise(rng), noise(rng)));
    options.fixedHeightMm = c.truth.marker.z() * 1000.0;
    PosePlan plan;
    ASSERT_EQ(PlanCalibrationPoses(shots.Markers(), TarnSim::RobotRows(shots, RowFormat::Fanuc), param,
                                   RobotKind::Fanuc, options, plan),
              Success)
        << plan.failure;
    EXPECT_EQ(plan.poses.size(), 15u) << plan.failure;
    EXPECT_GT(plan.sigmaMm, 0.0);
    // Every pose only turned about the vertical: its z axis still points down, the marker inside the image.
    std::vector<Isometry3d> planned;
    for (const PlannedPose& p : plan.poses) {
      const Isometry3d f = PoseOf(p);
      planned.push_back(f);
      EXPECT_LT((f.linear().col(2) - taught.linear().col(2)).norm(), 1e-9);
      EXPECT_NEAR(std::abs(p.row[3]), 180.0, 1e-6);
      EXPECT_NEAR(p.row[4], 0.0, 1e-6);
      const Vector3d seen = Seen(c.truth, f);
      const double u = c.pinhole.fx * seen.x() / seen.z() + c.pinhole.cx;
      const double v = c.pinhole.fy * seen.y() / seen.z() + c.pinhole.cy;
      EXPECT_TRUE(u > 0.0 && u < 1920.0 && v > 0.0 && v < 1200.0) << u << " " << v << " pose " << planned.size();
    }
    // Calibrated from the plan's shots with the height held: within the plan's own prediction.
    TarnSim::Scene taken = c.truth;
    taken.flange = planned;
    taken.points.clear();
    for (const Isometry3d& f : planned)
      taken.points.push_back(Seen(c.truth, f) + Vector3d(noise(rng), noise(rng), noise(rng)));
    ReportOptions report;
    report.fixedHeightMm = options.fixedHeightMm;
    CalibrationReport r;
    ASSERT_EQ(SolveCalibrationReport(taken.Markers(), TarnSim::RobotRows(taken, RowFormat::Fanuc), param,
                                     RobotKind::Fanuc, report, r),
              Success)
        << r.failure;
    const double sigma = r.uncertainty.translationNormMm * 0.5 / r.covariance.residualSigmaMm;
    const double predicted = plan.sigmaMm * 0.5 / plan.noiseMm;  // at the same 0.5 mm of noise
    std::printf("4-axis plan: predicted %.3f mm, calibrated %.3f mm\n", predicted, sigma);
    EXPECT_LT(sigma, 1.5 * predicted);
  }
}
