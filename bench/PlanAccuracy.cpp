// SPDX-License-Identifier: Apache-2.0
// Pose plans on rendered cells: where the planned poses put the marker, and what calibrating from them gives.
//   make build && build/bench/plan_accuracy [--quick | --four-axis]
//
// Each cell: a camera with a known transform (the synthetic scene's, eye-in-hand or eye-to-hand), a lens of fx 600,
// 1500 or 2500 px at 1920 x 1200, the robot's rows as FANUC or UR write them. The taught pose is the scene's first;
// its shot is rendered (depth noise 0.5 mm), the marker fitted and the camera's pinhole measured from the cloud.
//   plan      15 poses planned with a camera guess 5 mm and 1° off the truth; each shot rendered and fitted.
//   random    15 poses drawn inside the same limits (turns up to 30° about random axes, the marker anywhere in the
//             image's inner 80 %, the distance ±15 %), rendered and fitted; poses whose marker is not found are lost.
//   2-stage   the first stage without a guess (6 poses), its shots, then the plan from them (14 more).
// Per route: the shots whose marker was found, the smallest margin of the found centres from the image's border
// (share of the image), and the camera translation's σ the report gives (mean over the cells). That σ is the shots'
// own residual σ times what their geometry makes of it; the ratios "at equal noise" compare the geometry alone (the
// report's σ over its residual σ), which is what the choice of poses decides.
//
// --four-axis: palletiser cells (the flange's z axis down, turning about the base's vertical only), the plan made
// for a 4-axis robot and 15 random 4-axis poses (turns up to 30° about the vertical, the marker anywhere in the
// image's inner 80 %, the distance ±15 %), each calibrated with the marker's height given from the truth: the
// camera's error against the report's σ (per axis, the held one aside) and the σ of both routes.

#include <tarn/CalibrationReport.h>
#include <tarn/FittedMarkerDetect.h>
#include <tarn/PosePlan.h>
#include <tarn/PoseSuggestion.h>

#include "HandEyeScene.h"
#include "MarkerRenderer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace TamoHandEye;
constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr int kWidth = 1920, kHeight = 1200;

struct Cell {
  TarnSim::Scene truth;
  double fx = 1500.0;
  TarnSim::RowFormat format = TarnSim::RowFormat::Fanuc;
  RobotKind kind = RobotKind::Fanuc;
  unsigned seed = 1;
  bool radian = false;  // UR rows: rotation vectors in radians

  AlgoParam Param() const {
    AlgoParam param;
    param.HandEyeType = truth.eyeToHand ? 1 : 0;
    param.IsRadian = radian;
    return param;
  }
};

// The shots taken at these flange poses: rendered from the truth and fitted.
struct Shots {
  std::vector<MarkerBoardResult> markers;
  RobotRows rows;
  CameraPinhole pinhole;
  double margin = 1.0;  // the smallest distance of a found centre from the image's border, share of its size
  int asked = 0;
  std::array<double, 3> normal{};  // the first shot's board normal, camera frame
};

Shots Take(const Cell& c, const std::vector<Eigen::Isometry3d>& flanges, unsigned seed) {
  Shots s;
  s.asked = static_cast<int>(flanges.size());
  TarnSim::Scene posed = c.truth;
  posed.flange = flanges;
  const RobotRows rows = TarnSim::RobotRows(posed, c.format, false, c.radian);
  Eigen::Isometry3d board = Eigen::Isometry3d::Identity();
  board.translation() = c.truth.marker;
  for (std::size_t i = 0; i < flanges.size(); ++i) {
    const Eigen::Isometry3d toCamera =
        c.truth.eyeToHand ? c.truth.camera.inverse() * flanges[i] : (flanges[i] * c.truth.camera).inverse();
    TarnSim::ShotOptions shot;
    shot.cameraFromBoard = toCamera * board;
    shot.width = kWidth;
    shot.height = kHeight;
    shot.focal = c.fx;
    shot.supersample = 2;
    shot.blurSigma = 0.8;
    shot.greyNoise = 2.0;
    shot.depthNoise = 0.0005;
    shot.boardHalfWidth = shot.boardHalfHeight = 1.0;
    shot.seed = seed * 1000 + static_cast<unsigned>(i);
    const TarnSim::Shot rendered = TarnSim::RenderShot(shot);
    MarkerPlaneResult plane;
    MarkerFitQuality quality;
    if (SolveFittedMarkerPlane(rendered.image, rendered.cloud, plane, quality) != Success) continue;
    if (s.pinhole.width == 0) EstimateCameraPinhole(rendered.cloud, s.pinhole);
    if (s.markers.empty()) s.normal = {plane.nx, plane.ny, plane.nz};
    s.markers.push_back({plane.x, plane.y, plane.z, plane.u, plane.v});
    s.rows.push_back(rows[i]);
    s.margin =
        std::min({s.margin, plane.u / kWidth, 1.0 - plane.u / kWidth, plane.v / kHeight, 1.0 - plane.v / kHeight});
  }
  return s;
}

// The report's camera translation σ (mm), and that σ over the residuals' σ (what the geometry makes of the noise).
std::pair<double, double> SigmaMm(const Cell& c, const Shots& s) {
  const AlgoParam param = c.Param();
  ReportOptions options;
  options.setupCheck = false;
  options.model = SolveModel::Point;
  CalibrationReport report;
  if (s.markers.size() < kMinimumPoses ||
      SolveCalibrationReport(s.markers, s.rows, param, c.kind, options, report) != Success) {
    return {std::nan(""), std::nan("")};
  }
  return {report.uncertainty.translationNormMm,
          report.uncertainty.translationNormMm / report.covariance.residualSigmaMm};
}

std::vector<Eigen::Isometry3d> Flanges(const PosePlan& plan) {
  std::vector<Eigen::Isometry3d> out;
  for (const PlannedPose& p : plan.poses) {
    Eigen::Isometry3d f = Eigen::Isometry3d::Identity();
    for (int k = 0; k < 12; ++k) f.matrix()(k / 4, k % 4) = p.matrix[static_cast<std::size_t>(k)];
    f.translation() /= 1000.0;  // FANUC and UR rows are millimetres
    out.push_back(f);
  }
  return out;
}

PosePlan Plan(const Cell& c, const Shots& taken, const std::vector<double>& guess) {
  const AlgoParam param = c.Param();
  PlanOptions options;
  options.camera = taken.pinhole;
  options.cameraGuess = guess;
  options.boardNormal = taken.normal;
  PosePlan plan;
  PlanCalibrationPoses(taken.markers, taken.rows, param, c.kind, options, plan);
  return plan;
}

// The truth 5 mm and 1° off, as a row of the cell's type.
std::vector<double> Guess(const Cell& c) {
  Eigen::Isometry3d g = c.truth.camera;
  g.translation() += Eigen::Vector3d(0.003, -0.003, 0.0025);
  g.linear() = g.linear() * Eigen::AngleAxisd(1.0 * kDegree, Eigen::Vector3d(1, 1, 1).normalized()).matrix();
  TarnSim::Scene one;
  one.flange = {g};
  return TarnSim::RobotRows(one, c.format, false, c.radian)[0];
}

// 15 poses drawn inside the plan's limits: the taught orientation turned by up to 30° (about a random axis, or
// about the vertical for a 4-axis robot), the marker anywhere in the image's inner 80 %, the distance ±15 %.
std::vector<Eigen::Isometry3d> RandomPoses(const Cell& c, const CameraPinhole& p, std::mt19937& rng,
                                           bool fourAxis = false) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const Eigen::Isometry3d taught = c.truth.flange[0];
  const Eigen::Vector3d seen = c.truth.eyeToHand
                                   ? Eigen::Vector3d(c.truth.camera.inverse() * (taught * c.truth.marker))
                                   : Eigen::Vector3d((taught * c.truth.camera).inverse() * c.truth.marker);
  std::vector<Eigen::Isometry3d> out{taught};
  while (out.size() < 15) {
    Eigen::Isometry3d f = Eigen::Isometry3d::Identity();
    if (fourAxis) {
      f.linear() = Eigen::AngleAxisd(30.0 * unit(rng) * kDegree, Eigen::Vector3d::UnitZ()) * taught.linear();
    } else {
      const Eigen::Vector3d axis = Eigen::Vector3d(unit(rng), unit(rng), unit(rng)).normalized();
      f.linear() = Eigen::AngleAxisd(15.0 * (1.0 + unit(rng)) * kDegree, axis) * taught.linear();
    }
    const double u = p.cx + 0.8 * 0.5 * kWidth * unit(rng), v = p.cy + 0.8 * 0.5 * kHeight * unit(rng);
    const Eigen::Vector3d ray = Eigen::Vector3d((u - p.cx) / p.fx, (v - p.cy) / p.fy, 1.0).normalized();
    const Eigen::Vector3d inCamera = seen.norm() * (1.0 + 0.15 * unit(rng)) * ray;
    if (c.truth.eyeToHand) {
      f.translation() = c.truth.camera * inCamera - f.linear() * c.truth.marker;
    } else {
      f.translation() =
          c.truth.marker - f.linear() * c.truth.camera.linear() * inCamera - f.linear() * c.truth.camera.translation();
    }
    out.push_back(f);
  }
  return out;
}

struct Route {
  double sigma = 0.0, geometry = 0.0, margin = 1.0;
  int found = 0, asked = 0, cells = 0;
  void Add(std::pair<double, double> s, const Shots& shots) {
    if (!std::isfinite(s.first)) return;
    sigma += s.first;
    geometry += s.second;
    ++cells;
    found += static_cast<int>(shots.markers.size());
    asked += shots.asked;
    margin = std::min(margin, shots.margin);
  }
  double Mean() const { return cells > 0 ? sigma / cells : std::nan(""); }
  double Geometry() const { return cells > 0 ? geometry / cells : std::nan(""); }
};

void Cells(bool quick) {
  std::fprintf(stderr,
               "| set-up, rows | cells | plan: found, least margin, sigma mm | random: found, sigma mm | "
               "2-stage: found, sigma mm | random / plan | 2-stage / plan | at equal noise: random / plan, "
               "2-stage / plan |\n|---|---:|---|---|---|---:|---:|---|\n");
  for (const bool eyeToHand : {false, true}) {
    for (const auto& [format, kind, name] : {std::tuple{TarnSim::RowFormat::Fanuc, RobotKind::Fanuc, "FANUC"},
                                             std::tuple{TarnSim::RowFormat::Ur, RobotKind::Ur, "UR"}}) {
      Route plan, random, twoStage;
      for (const double fx : {600.0, 1500.0, 2500.0}) {
        for (unsigned seed = 1; seed <= (quick ? 1u : 2u); ++seed) {
          TarnSim::SceneOptions o;
          o.poses = 1;
          o.eyeToHand = eyeToHand;
          o.seed = seed;
          Cell c{TarnSim::MakeScene(o), fx, format, kind, seed, kind == RobotKind::Ur};
          const Shots taught = Take(c, {c.truth.flange[0]}, seed);
          if (taught.markers.empty() || taught.pinhole.width == 0) continue;
          const Shots planned = Take(c, Flanges(Plan(c, taught, Guess(c))), seed + 10);
          plan.Add(SigmaMm(c, planned), planned);
          std::mt19937 rng(seed);
          const Shots drawn = Take(c, RandomPoses(c, taught.pinhole, rng), seed + 20);
          random.Add(SigmaMm(c, drawn), drawn);
          Shots first = Take(c, Flanges(Plan(c, taught, {})), seed + 30);
          const PosePlan second = Plan(c, first, {});
          std::vector<Eigen::Isometry3d> more = Flanges(second);
          if (!more.empty()) more.erase(more.begin());  // the taught pose is already among the first stage's
          const Shots rest = Take(c, more, seed + 40);
          Shots all = first;
          all.markers.insert(all.markers.end(), rest.markers.begin(), rest.markers.end());
          all.rows.insert(all.rows.end(), rest.rows.begin(), rest.rows.end());
          all.asked += rest.asked;
          all.margin = std::min(all.margin, rest.margin);
          twoStage.Add(SigmaMm(c, all), all);
        }
      }
      std::fprintf(stderr,
                   "| %s, %s | %d | %d of %d, %.3f, %.3f | %d of %d, %.3f | %d of %d, %.3f | %.2fx | %.2fx | %.2fx, "
                   "%.2fx |\n",
                   eyeToHand ? "eye-to-hand" : "eye-in-hand", name, plan.cells, plan.found, plan.asked, plan.margin,
                   plan.Mean(), random.found, random.asked, random.Mean(), twoStage.found, twoStage.asked,
                   twoStage.Mean(), random.Mean() / plan.Mean(), twoStage.Mean() / plan.Mean(),
                   random.Geometry() / plan.Geometry(), twoStage.Geometry() / plan.Geometry());
    }
  }
}

// A palletiser's cell: eye-in-hand taught where the camera sees the marker near the image's centre at 0.5 m.
Cell PalletiserCell(bool eyeToHand, double fx, unsigned seed) {
  TarnSim::SceneOptions o;
  o.poses = 1;
  o.eyeToHand = eyeToHand;
  o.motion = TarnSim::Motion::FourAxis;
  o.fourAxisTiltDeg = 180.0;
  o.seed = seed;
  Cell c{TarnSim::MakeScene(o), fx, TarnSim::RowFormat::Fanuc, RobotKind::Fanuc, seed, false};
  if (!eyeToHand) {
    Eigen::Isometry3d& taught = c.truth.flange[0];
    const Eigen::Matrix3d camera = taught.linear() * c.truth.camera.linear();
    taught.translation() =
        c.truth.marker - camera * Eigen::Vector3d(0.02, -0.01, 0.5) - taught.linear() * c.truth.camera.translation();
  }
  return c;
}

// The calibration with the marker's height given: its σ, and the camera's largest error over its σ per axis.
std::pair<double, double> HeldCalibration(const Cell& c, const Shots& s) {
  ReportOptions options;
  options.model = SolveModel::Point;
  options.fixedHeightMm = c.truth.marker.z() * 1000.0;
  CalibrationReport r;
  if (s.markers.size() < kMinimumPoses ||
      SolveCalibrationReport(s.markers, s.rows, c.Param(), c.kind, options, r) != Success) {
    return {std::nan(""), std::nan("")};
  }
  double worst = 0.0;
  for (int k = 0; k < 3; ++k) {
    const double error =
        r.result.cameraMatrix[static_cast<std::size_t>(k)][3] - 1000.0 * c.truth.camera.translation()(k);
    const double sigma = r.uncertainty.translationMm[static_cast<std::size_t>(k)];
    if (sigma > 0.0) worst = std::max(worst, std::abs(error) / sigma);
  }
  return {r.uncertainty.translationNormMm, worst};
}

void FourAxisCells() {
  std::fprintf(stderr,
               "| set-up | cells | plan: found, least margin, sigma mm, worst error / sigma | random: found, sigma mm, "
               "worst error / sigma | random / plan |\n|---|---:|---|---|---:|\n");
  for (const bool eyeToHand : {false, true}) {
    Route plan, random;
    double planWorst = 0.0, randomWorst = 0.0;
    for (const double fx : {600.0, 1500.0, 2500.0}) {
      for (unsigned seed = 1; seed <= 2; ++seed) {
        const Cell c = PalletiserCell(eyeToHand, fx, seed);
        const Shots taught = Take(c, {c.truth.flange[0]}, seed);
        if (taught.markers.empty() || taught.pinhole.width == 0) continue;
        PlanOptions options;
        options.camera = taught.pinhole;
        options.cameraGuess = Guess(c);
        options.boardNormal = taught.normal;
        options.fourAxis = true;
        PosePlan planned;
        PlanCalibrationPoses(taught.markers, taught.rows, c.Param(), c.kind, options, planned);
        const Shots shots = Take(c, Flanges(planned), seed + 10);
        const auto [planSigma, planError] = HeldCalibration(c, shots);
        plan.Add({planSigma, planSigma}, shots);
        if (std::isfinite(planError)) planWorst = std::max(planWorst, planError);
        std::mt19937 rng(seed);
        const Shots drawn = Take(c, RandomPoses(c, taught.pinhole, rng, true), seed + 20);
        const auto [randomSigma, randomError] = HeldCalibration(c, drawn);
        random.Add({randomSigma, randomSigma}, drawn);
        if (std::isfinite(randomError)) randomWorst = std::max(randomWorst, randomError);
      }
    }
    std::fprintf(stderr, "| %s | %d | %d of %d, %.3f, %.3f, %.2f | %d of %d, %.3f, %.2f | %.2fx |\n",
                 eyeToHand ? "eye-to-hand" : "eye-in-hand", plan.cells, plan.found, plan.asked, plan.margin,
                 plan.Mean(), planWorst, random.found, random.asked, random.Mean(), randomWorst,
                 random.Mean() / plan.Mean());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const bool fourAxis = argc > 1 && std::strcmp(argv[1], "--four-axis") == 0;
  std::fflush(stdout);
  ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);  // the library's progress lines
  if (fourAxis) {
    FourAxisCells();
  } else {
    Cells(quick);
  }
  return 0;
}
