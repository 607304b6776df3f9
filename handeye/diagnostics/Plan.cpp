// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/Plan.h"

#include "diagnostics/FourAxisReport.h"
#include "diagnostics/Suggestions.h"

#include <tarn/RowConversions.h>

#include "solver/EntryPath.h"
#include "solver/NextPose.h"

#include <Eigen/Eigenvalues>
#include <Eigen/Geometry>

#include <algorithm>
#include <cmath>
#include <string>

namespace TamoHandEye {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr int kMostPoses = 50;
constexpr int kFirstStagePoses = 6;

std::string CheckOptions(const PlanOptions& o) {
  if (o.count < 2 || o.count > kMostPoses) return "the plan's pose count must be 2 to 50";
  if (!(o.maxTurnDeg > 0.0 && o.maxTurnDeg <= 90.0)) return "the largest turn must be above 0 and at most 90 degrees";
  if (!(o.distanceTolerance >= 0.0 && o.distanceTolerance < 0.5)) return "the distance tolerance must be 0 to 0.5";
  if (!(o.viewConeDeg > 0.0 && o.viewConeDeg < 90.0)) return "the view cone must be above 0 and below 90 degrees";
  if (!(o.imageMargin >= 0.0 && o.imageMargin < 0.5)) return "the image margin must be 0 or more and below 0.5";
  if (!(o.guessErrorDeg >= 0.0 && o.guessErrorDeg < 30.0)) return "the guess's direction error must be 0 to 30 degrees";
  if (!(o.pointNoiseMm > 0.0 && std::isfinite(o.pointNoiseMm))) return "the shot noise must be above 0 mm";
  if (!(o.maxTiltDeg > 0.0 && o.maxTiltDeg <= 90.0)) return "the board's largest tilt must be above 0 and at most 90°";
  if (!(o.probeShiftMm > 0.0 && o.probeShiftMm <= 200.0))
    return "the first stage's shift must be above 0 and at most 200 mm";
  if (!(o.probeTurnDeg > 0.0 && o.probeTurnDeg <= 30.0))
    return "the first stage's turn must be above 0 and at most 30°";
  const CameraPinhole& c = o.camera;
  if (c.width != 0 && !(c.width > 0 && c.height > 0 && std::isfinite(c.fx) && c.fx > 0.0 && std::isfinite(c.fy) &&
                        c.fy > 0.0 && std::isfinite(c.cx) && std::isfinite(c.cy))) {
    return "the camera's pinhole needs focal lengths above 0, a finite principal point and an image size";
  }
  return {};
}

// A row of the kind as a pose in metres; false when it is not one.
bool PoseOfRow(RobotKind kind, const std::string& convention, const AlgoParam& param, const std::vector<double>& row,
               Eigen::Isometry3d& pose) {
  std::vector<std::vector<double>> matrix;
  if (RobotRowToMatrix(kind, convention, param, row, matrix) != Success) return false;
  const double unit = RowsInMetres(kind, param) ? 1.0 : 0.001;
  pose = Eigen::Isometry3d::Identity();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      pose.matrix()(r, c) = matrix[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] * (c == 3 ? unit : 1.0);
    }
  }
  return true;
}

Kel::SE3d SE3Of(const Eigen::Isometry3d& pose) {
  return Kel::SE3d(pose.translation(), Kel::SO3d(Eigen::Quaterniond(pose.linear()).normalized()));
}

Eigen::Isometry3d IsometryOf(const Kel::SE3d& pose) {
  Eigen::Isometry3d out;
  out.matrix() = pose.Matrix();
  return out;
}

// Adds a planned pose; false when its row could not be written.
bool AddPose(RobotKind kind, const AlgoParam& param, const Eigen::Isometry3d& flange, PosePlan& plan,
             PlannedPose pose) {
  if (RowOfFlange(kind, plan.convention, param, flange.matrix(), pose.row) != Success) return false;
  std::vector<std::vector<double>> matrix;
  if (RobotRowToMatrix(kind, plan.convention, param, pose.row, matrix) != Success) return false;
  for (std::size_t k = 0; k < 16; ++k) pose.matrix[k] = matrix[k / 4][k % 4];
  plan.poses.push_back(std::move(pose));
  return true;
}

// The short first program: the taught pose, a shift along each flange axis, a turn about its x and y axes.
ErrorCode FirstStage(RobotKind kind, const AlgoParam& param, const Eigen::Isometry3d& taught, const PlanOptions& o,
                     PosePlan& plan) {
  plan.firstStage = true;
  std::vector<Eigen::Isometry3d> flanges{taught};
  for (int axis = 0; axis < 3; ++axis) {
    Eigen::Isometry3d shifted = taught;
    // A 4-axis robot moves along the base's axes; the others along the flange's.
    if (o.fourAxis) {
      shifted.pretranslate(Eigen::Vector3d::Unit(axis) * o.probeShiftMm / 1000.0);
    } else {
      shifted.translate(Eigen::Vector3d::Unit(axis) * o.probeShiftMm / 1000.0);
    }
    flanges.push_back(shifted);
  }
  for (int axis = 0; axis < 2; ++axis) {
    Eigen::Isometry3d turned = taught;
    if (o.fourAxis) {
      // About the base's z axis through the flange, both ways.
      turned.linear() =
          Eigen::AngleAxisd((axis == 0 ? 1.0 : -1.0) * o.probeTurnDeg * kDegree, Eigen::Vector3d::UnitZ()) *
          taught.linear();
    } else {
      turned.rotate(Eigen::AngleAxisd(o.probeTurnDeg * kDegree, Eigen::Vector3d::Unit(axis)));
    }
    flanges.push_back(turned);
  }
  for (std::size_t i = 0; i < flanges.size(); ++i) {
    PlannedPose pose;
    const Eigen::AngleAxisd turn(Eigen::Matrix3d(flanges[i].linear() * taught.linear().transpose()));
    pose.turnDeg = turn.angle() / kDegree;
    for (int k = 0; k < 3; ++k) pose.axis[static_cast<std::size_t>(k)] = pose.turnDeg > 0.0 ? turn.axis()(k) : 0.0;
    if (!AddPose(kind, param, flanges[i], plan, pose)) {
      plan.failure = "a pose of the first stage cannot be written as a row of this robot type";
      return Err_Solve_Fail;
    }
  }
  return Success;
}

// The board's normal in the marker's frame: the taught shot's, or (not given) facing the taught camera.
Eigen::Vector3d BoardNormal(bool eyeToHand, const Eigen::Isometry3d& taught, const Kel::SE3d& camera,
                            const Kel::SE3d& marker, const PlanOptions& o) {
  const Eigen::Isometry3d z = IsometryOf(camera);
  const Eigen::Isometry3d cameraPose = eyeToHand ? z : taught * z;  // in the base
  Eigen::Vector3d n(o.boardNormal[0], o.boardNormal[1], o.boardNormal[2]);
  if (!(n.allFinite() && n.norm() > 0.5)) {
    const Eigen::Vector3d markerInBase =
        eyeToHand ? Eigen::Vector3d(taught * marker.Translation()) : Eigen::Vector3d(marker.Translation());
    n = cameraPose.linear().transpose() * (cameraPose.translation() - markerInBase);
  }
  const Eigen::Vector3d inBase = cameraPose.linear() * n.normalized();
  return eyeToHand ? Eigen::Vector3d(taught.linear().transpose() * inBase) : inBase;
}

// The shots of this information fix every parameter (not only the weak prior the plan's scores start from).
bool Determined(const Matrix9d& information) {
  const Eigen::SelfAdjointEigenSolver<Matrix9d> eigen(information, Eigen::EigenvaluesOnly);
  return eigen.eigenvalues()(0) > 1e-9 * std::max(1.0, eigen.eigenvalues()(8));
}

// Where the solution (or guess) predicts the marker in the camera frame for a flange pose.
Eigen::Vector3d InCamera(bool eyeToHand, const Eigen::Isometry3d& marker, const Eigen::Isometry3d& camera,
                         const Eigen::Isometry3d& flange) {
  return eyeToHand ? Eigen::Vector3d(camera.inverse() * (flange * marker.translation()))
                   : Eigen::Vector3d((flange * camera).inverse() * marker.translation());
}

// The full plan from the taught pose: `information` (ΣJᵀJ) of the shots taken, the taught one among them.
ErrorCode FullPlan(RobotKind kind, const AlgoParam& param, const Eigen::Isometry3d& taught, const Kel::SE3d& marker,
                   const Kel::SE3d& camera, const Matrix9d& shotsInformation, double variance, double marginDeg,
                   const PlanOptions& o, PosePlan& plan) {
  const bool eyeToHand = param.HandEyeType != 0;
  // A 4-axis robot's shots never see the marker's height: scored as held.
  Matrix9d information = shotsInformation;
  if (o.fourAxis) information(2, 2) += kHeldInformation;
  PlanSettings settings;
  settings.count = o.count - 1;
  settings.maxTurnDeg = o.maxTurnDeg;
  settings.distanceTolerance = o.distanceTolerance;
  settings.viewConeDeg = o.viewConeDeg;
  settings.camera = o.camera;
  settings.imageMargin = o.imageMargin;
  settings.marginDeg = marginDeg;
  settings.maxTiltDeg = o.maxTiltDeg;
  settings.boardNormal = BoardNormal(eyeToHand, taught, camera, marker, o);
  settings.fourAxis = o.fourAxis;
  const NextPoses next = PlanPoses(eyeToHand, marker, camera, taught, information, variance, settings);
  const Eigen::Isometry3d x = IsometryOf(marker), z = IsometryOf(camera);
  plan.inImage = o.camera.width > 0;
  plan.noiseMm = 1000.0 * std::sqrt(variance);
  PlannedPose first;
  const Eigen::Vector3d seen = InCamera(eyeToHand, x, z, taught);
  first.distanceMm = 1000.0 * seen.norm();
  if (plan.inImage) {
    first.u = o.camera.fx * seen.x() / seen.z() + o.camera.cx;
    first.v = o.camera.fy * seen.y() / seen.z() + o.camera.cy;
  }
  first.sigmaMmAfter = Determined(information) ? next.sigmaMm : 0.0;
  if (!AddPose(kind, param, taught, plan, first)) {
    plan.failure = "the taught pose cannot be written back as a row of this robot type";
    return Err_Solve_Fail;
  }
  Matrix9d total = information;
  for (const NextPose& p : next.poses) {
    PlannedPose pose;
    pose.sigmaMmAfter = p.sigmaMm;
    for (int k = 0; k < 3; ++k) pose.axis[static_cast<std::size_t>(k)] = p.axis(k);
    pose.turnDeg = p.turnDeg;
    pose.distanceMm = p.distanceMm;
    pose.u = p.pixel.x();
    pose.v = p.pixel.y();
    Eigen::Isometry3d flange;
    flange.matrix() = p.flange;
    if (!AddPose(kind, param, flange, plan, pose)) continue;
    const Eigen::Matrix<double, 3, 9> j = PoseJacobian(eyeToHand, camera, flange, InCamera(eyeToHand, x, z, flange));
    total.noalias() += j.transpose() * j;
    if (!Determined(total)) plan.poses.back().sigmaMmAfter = 0.0;  // the poses so far do not fix the camera yet
  }
  const Uncertainty u = UncertaintyOf(total, variance);
  plan.sigmaMm = u.known ? u.translationNormMm : 0.0;
  plan.sigmaDeg = u.known ? u.rotationDeg : 0.0;
  if (static_cast<int>(plan.poses.size()) < o.count) {
    plan.failure = "only " + std::to_string(plan.poses.size()) + " of " + std::to_string(o.count) +
                   " poses keep the marker in view within the turn allowed: allow a larger turn, or teach a pose "
                   "with the marker nearer the image's centre";
  }
  return Success;
}

// The plan from the taught shot and a guess of the camera transform.
ErrorCode PlanFromGuess(const MarkerBoardResult& shot, const Eigen::Isometry3d& taught, RobotKind kind,
                        const AlgoParam& param, const PlanOptions& o, PosePlan& plan) {
  Eigen::Isometry3d z;
  if (!PoseOfRow(kind, plan.convention, param, o.cameraGuess, z)) {
    plan.failure = "the camera guess is not a row of this robot type (its length, a value, or its rotation)";
    return Err_Solve_Fail;
  }
  const bool eyeToHand = param.HandEyeType != 0;
  const Eigen::Vector3d p(shot.x, shot.y, shot.z);
  if (!p.allFinite() || !(p.z() > 0.0)) {
    plan.failure = "the taught shot's marker must lie in front of the camera (z above 0)";
    return Err_Solve_Fail;
  }
  // The marker in its own frame (the base eye-in-hand, the flange eye-to-hand).
  Eigen::Isometry3d x = Eigen::Isometry3d::Identity();
  x.translation() = eyeToHand ? Eigen::Vector3d(taught.inverse() * (z * p)) : Eigen::Vector3d(taught * (z * p));
  const Kel::SE3d marker = SE3Of(x), camera = SE3Of(z);
  const Eigen::Matrix<double, 3, 9> j = PoseJacobian(eyeToHand, camera, taught, p);
  const Matrix9d information = j.transpose() * j;
  const double variance = std::pow(o.pointNoiseMm / 1000.0, 2);
  return FullPlan(kind, param, taught, marker, camera, information, variance, o.guessErrorDeg, o, plan);
}

// The full plan's margin for the first stage's own error (degrees): three of its direction error, at least 1° and
// at most 10°.
double MarginDeg(const Uncertainty& u, const Eigen::Vector3d& firstPoint, double guessErrorDeg) {
  const double distanceMm = 1000.0 * firstPoint.norm();
  const double margin =
      u.known ? std::max(1.0, 3.0 * (u.rotationDeg + u.translationNormMm / distanceMm / kDegree)) : guessErrorDeg;
  return std::min(margin, 10.0);
}

// A 4-axis robot's first stage: the camera solved with the quantity given held.
ErrorCode PlanFromFourAxisShots(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, RobotKind kind,
                                const AlgoParam& param, const PlanOptions& o, PosePlan& plan) {
  const bool height = std::isfinite(o.fixedHeightMm);
  if (!height && !std::isfinite(o.cameraOffsetZMm)) {
    plan.failure =
        "a 4-axis robot's first stage is solved with the marker's height (fixed height) or the camera's offset "
        "along z (camera offset z) given: no shot sees it";
    return Err_Solve_Fail;
  }
  const FourAxisFit fit =
      FitFourAxis(kind, markers, rows, param, height ? FixedQuantity::MarkerHeight : FixedQuantity::CameraOffsetZ,
                  (height ? o.fixedHeightMm : o.cameraOffsetZMm) / 1000.0);
  if (!fit.solution.solved) {
    plan.failure = "the first stage's shots could not be calibrated: " + fit.solution.failure;
    return Err_Solve_Fail;
  }
  const bool eyeToHand = param.HandEyeType != 0;
  plan.convention = fit.convention;
  const SolvedPoses poses{fit.robotPoses, fit.markerPoses, {}, eyeToHand};
  const NormalMatrix normal = TranslationNormal(poses, fit.solution.marker, fit.solution.camera);
  const double fitted = fit.solution.freedom > 0 ? fit.solution.squares / fit.solution.freedom : 0.0;
  const double variance = std::max(fitted, std::pow(o.pointNoiseMm / 4000.0, 2));
  const double marginDeg =
      MarginDeg(UncertaintyOfCovariance(fit.solution.covariance * (variance / std::max(fitted, 1e-300))), fit.points[0],
                o.guessErrorDeg);
  return FullPlan(kind, param, IsometryOf(fit.robotPoses[0]), fit.solution.marker, fit.solution.camera, normal.normal,
                  variance, marginDeg, o, plan);
}

// The plan from a first stage's shots (the taught one first): the camera solved from them.
ErrorCode PlanFromShots(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, RobotKind kind,
                        const AlgoParam& param, const PlanOptions& o, PosePlan& plan) {
  EntryRun run;
  FinalResult result;
  AlgoParam all = param;
  all.Exhaust = false;  // every shot of a short first stage is needed
  const ErrorCode code = RunEntryPoint(kind, markers, rows, all, std::nullopt, result, &run);
  if (code != Success) {
    plan.failure = "the first stage's shots could not be calibrated (" + std::string(parseCode(code)) +
                   "): check that each shot's row is the pose it was taken at";
    return code;
  }
  const bool eyeToHand = param.HandEyeType != 0;
  const SolvedPoses poses{run.record.robotPoses, run.record.markerPoses, result.mask, eyeToHand};
  const auto [marker, camera] = SolutionOf(run, eyeToHand);
  plan.convention = ConventionUsed(kind, *run.robot->robot);
  const NormalMatrix normal = TranslationNormal(poses, marker, camera);
  const double fitted = normal.poses > 3 ? normal.squares / static_cast<double>(3 * normal.poses - 9) : 0.0;
  const double variance = std::max(fitted, std::pow(o.pointNoiseMm / 4000.0, 2));
  // Keep the marker in view despite the first stage's own error: three of its direction error, at least 1°.
  const double marginDeg =
      MarginDeg(UncertaintyOf(normal.normal, variance), run.record.markerPoses[0].Translation(), o.guessErrorDeg);
  return FullPlan(kind, param, IsometryOf(run.record.robotPoses[0]), marker, camera, normal.normal, variance, marginDeg,
                  o, plan);
}

}  // namespace

ErrorCode PlanFromTaught(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, const AlgoParam& param,
                         RobotKind kind, const PlanOptions& options, PosePlan& plan) {
  ErrorCode code = CheckEntryInput(kind, markers, rows, plan.failure);
  if (code != Success) return code;
  plan.failure = CheckOptions(options);
  if (!plan.failure.empty()) return Err_Solve_Fail;
  const std::vector<std::string> conventions = ConventionsOf(kind);
  plan.convention = conventions.size() == 1 ? conventions.front() : options.convention;
  if (!options.convention.empty() &&
      std::find(conventions.begin(), conventions.end(), options.convention) == conventions.end()) {
    plan.failure = "\"" + options.convention + "\" is not a rotation convention of this robot type";
    return Err_Solve_Fail;
  }
  if (markers.size() >= kMinimumPoses && options.cameraGuess.empty() && options.fourAxis) {
    return PlanFromFourAxisShots(markers, rows, kind, param, options, plan);
  }
  if (markers.size() >= kMinimumPoses && options.cameraGuess.empty()) {
    return PlanFromShots(markers, rows, kind, param, options, plan);
  }
  if (markers.size() != 1) {
    plan.failure =
        "give the taught pose with its shot alone (a first stage, or with a camera guess the whole plan), "
        "or the first stage's " +
        std::to_string(kFirstStagePoses) + " shots, the taught one first";
    return Err_Solve_Fail;
  }
  if (plan.convention.empty()) {
    plan.failure = "a generic robot type needs its rotation convention for a single row";
    return Err_Solve_Fail;
  }
  Eigen::Isometry3d taught;
  if (!PoseOfRow(kind, plan.convention, param, rows[0], taught)) {
    plan.failure = "the taught row is not a pose of this robot type";
    return Err_Solve_Fail;
  }
  code = options.cameraGuess.empty() ? FirstStage(kind, param, taught, options, plan)
                                     : PlanFromGuess(markers[0], taught, kind, param, options, plan);
  return code;
}

}  // namespace TamoHandEye
