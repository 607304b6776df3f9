// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/FourAxisReport.h"

#include "diagnostics/ReportAnalysis.h"
#include "solver/CalibrationPipeline.h"
#include "solver/FourAxisSolve.h"
#include "solver/HandEyeKel.h"
#include "solver/SolutionDiagnostics.h"

#include <Eigen/Cholesky>

#include <cmath>
#include <limits>
#include <memory>

namespace TamoHandEye {
namespace {

constexpr double kMillimetre = 0.001;

std::pair<FixedQuantity, double> Given(const ReportOptions& options) {
  if (std::isfinite(options.fixedHeightMm)) return {FixedQuantity::MarkerHeight, options.fixedHeightMm * kMillimetre};
  if (std::isfinite(options.cameraOffsetZMm)) {
    return {FixedQuantity::CameraOffsetZ, options.cameraOffsetZMm * kMillimetre};
  }
  return {FixedQuantity::None, 0.0};
}

FourAxisFit SolveConvention(RobotKind kind, const std::string& convention,
                            const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                            const AlgoParam& param, FixedQuantity quantity, double value) {
  FourAxisFit c;
  c.convention = convention;
  c.robot = MakeRobot(kind, markers);
  SetConvention(*c.robot->robot, convention);
  c.robot->SetRobotData(rows);
  c.robot->robot->param = ToSolverParam(param);
  c.robot->robot->BuildTransforms(c.robotPoses, c.markerPoses);
  for (const Kel::SE3d& m : c.markerPoses) c.points.push_back(m.Translation());
  if (!CommonTurnAxis(c.robotPoses, {})) {
    c.solution.failure = "the poses do not turn about one axis";
    return c;
  }
  c.solution = SolveFourAxis(param.HandEyeType != 0, c.robotPoses, c.points, {}, quantity, value);
  return c;
}

// The studentised residual `e` of pose `i` left out (as the calibration's own, over the 8 parameters free): the
// others' normal matrix (the full one, the fixed parameter held by a stiff prior, less the pose's term), their sum
// of squares over 3(n − 1) − 8.
double Studentise(const Eigen::Vector3d& e, const Eigen::Matrix<double, 3, 9>& j, const Matrix9d& normal, int fixed,
                  double othersSquares, std::size_t others) {
  const double freedom = 3.0 * static_cast<double>(others) - 8.0;
  if (freedom < 1.0 || !(othersSquares > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  Matrix9d rest = normal - j.transpose() * j;
  rest(fixed, fixed) += 1e12 * rest.trace();
  const Eigen::LDLT<Matrix9d> solve(rest);
  if (solve.info() != Eigen::Success || !solve.isPositive()) return std::numeric_limits<double>::quiet_NaN();
  const Eigen::Matrix3d spread = Eigen::Matrix3d::Identity() + j * solve.solve(j.transpose());
  const double t2 = e.dot(spread.ldlt().solve(e)) / (3.0 * othersSquares / freedom);
  return t2 >= 0.0 ? std::sqrt(t2) : std::numeric_limits<double>::quiet_NaN();
}

void LeaveOneOut(const FourAxisFit& c, bool eyeToHand, FixedQuantity quantity, double value,
                 CalibrationReport& report) {
  const std::size_t n = c.robotPoses.size();
  if (n > kMostLeaveOneOutPoses) return;
  const SolvedPoses poses{c.robotPoses, c.markerPoses, {}, eyeToHand};
  const Matrix9d normal = TranslationNormal(poses, c.solution.marker, c.solution.camera).normal;
  const Eigen::Matrix3d rz = c.solution.camera.Rotation().RotationMatrix();
  for (std::size_t i = 0; i < n; ++i) {
    std::vector<int> mask(n, 255);
    mask[i] = 0;
    const FourAxisSolution without =
        SolveFourAxis(eyeToHand, c.robotPoses, c.points, mask, quantity, value, &c.solution);
    double distance = std::numeric_limits<double>::quiet_NaN();
    double studentised = distance;
    if (without.solved) {
      const Kel::SE3d a = eyeToHand ? c.robotPoses[i] : c.robotPoses[i].Inverse();
      const Eigen::Vector3d e = (a * without.marker).Translation() - (without.camera * c.markerPoses[i]).Translation();
      distance = e.norm();
      studentised = Studentise(e, TranslationJacobian(a.Rotation().RotationMatrix(), c.points[i], rz), normal,
                               FixedParameter(quantity), without.squares, n - 1);
    }
    report.leaveOneOutMm.push_back(distance * 1000.0);
    report.leaveOneOutStudentised.push_back(studentised);
  }
}

void FillCovariance(const FourAxisFit& c, bool eyeToHand, CalibrationReport& report) {
  const FourAxisSolution& s = c.solution;
  report.uncertainty = UncertaintyOfCovariance(s.covariance);
  CalibrationCovariance& cov = report.covariance;
  const Matrix9d millimetres = s.covariance.cwiseProduct(MillimetreScale());
  for (int i = 0; i < 9; ++i) {
    for (int j = 0; j < 9; ++j) cov.matrix[static_cast<std::size_t>(9 * i + j)] = millimetres(i, j);
  }
  cov.freedom = s.freedom;
  cov.residualSigmaMm = s.freedom > 0 ? std::sqrt(s.squares / s.freedom) * 1000.0 : 0.0;
  // The residuals in the camera frame, along each line of sight and across it (as the calibration's own).
  const Eigen::Matrix3d rz = s.camera.Rotation().RotationMatrix();
  double along = 0.0;
  double across = 0.0;
  for (std::size_t i = 0; i < c.robotPoses.size(); ++i) {
    const Kel::SE3d a = eyeToHand ? c.robotPoses[i] : c.robotPoses[i].Inverse();
    const Eigen::Vector3d e =
        rz.transpose() * ((a * s.marker).Translation() - (s.camera * c.markerPoses[i]).Translation());
    const double part = e.dot(c.points[i].normalized());
    along += part * part;
    across += e.squaredNorm() - part * part;
  }
  if (s.freedom > 0) {
    const double correction = 3.0 / s.freedom;
    cov.alongSightSigmaMm = std::sqrt(along * correction) * 1000.0;
    cov.acrossSightSigmaMm = std::sqrt(across * correction / 2.0) * 1000.0;
  }
  cov.known = report.uncertainty.known && cov.freedom > 0;
}

}  // namespace

FourAxisFit FitFourAxis(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                        const AlgoParam& param, FixedQuantity quantity, double value) {
  FourAxisFit best;
  double bestSquares = std::numeric_limits<double>::infinity();
  for (const std::string& convention : ConventionsOf(kind)) {
    FourAxisFit c = SolveConvention(kind, convention, markers, rows, param, quantity, value);
    if (c.solution.solved && c.solution.squares < bestSquares) {
      bestSquares = c.solution.squares;
      best = std::move(c);
    } else if (!best.robot) {
      best = std::move(c);
    }
  }
  return best;
}

bool FourAxisQuantityGiven(const ReportOptions& options) { return Given(options).first != FixedQuantity::None; }

ErrorCode SolveFourAxisReport(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                              const AlgoParam& param, const ReportOptions& options, CalibrationReport& report) {
  const auto [quantity, value] = Given(options);
  const bool eyeToHand = param.HandEyeType != 0;
  const FourAxisFit best = FitFourAxis(kind, markers, rows, param, quantity, value);
  if (!best.solution.solved) {
    report.failure = best.solution.failure;
    report.failureZh = "四轴标定失败：给定的量无法确定相机位姿，请换用另一个量，或以不同角度旋转法兰并改变其高度";
    return Err_Solve_Fail;
  }
  auto solver = std::make_shared<HandEyeKel>(eyeToHand ? 1 : 0);
  solver->Adopt(best.robotPoses, best.markerPoses, {}, best.solution.marker, best.solution.camera);
  WriteFinalResult(
      *solver, best.robot->robot->param, {},
      [&best](const Kel::SE3d& pose, std::vector<double>& row) { best.robot->robot->ToRobotData(pose, row); },
      report.result);
  report.fixedQuantity = quantity == FixedQuantity::MarkerHeight ? "marker-height" : "camera-offset-z";
  report.fixedValueMm = value * 1000.0;
  report.convention = best.convention;
  FillCovariance(best, eyeToHand, report);
  LeaveOneOut(best, eyeToHand, quantity, value, report);
  const Uncertainty& u = report.uncertainty;
  report.meetsTolerance = u.known && u.translationNormMm <= report.toleranceMm && u.rotationDeg <= report.toleranceDeg;
  const SolvedPoses poses{best.robotPoses, best.markerPoses, {}, eyeToHand};
  report.suspectLimit = StudentisedLimit(poses.UsedCount(), kSuspectAlpha);
  report.poseSet = PoseSpread(poses);
  WarnAboutPoseSet(report);
  WarnAboutFit(report, report.result.rmsError > kPoorFitMm);
  return Success;
}

std::pair<std::string, std::string> FourAxisFailure(const std::vector<Kel::SE3d>& robotPoses, bool eyeToHand) {
  if (robotPoses.size() < kMinimumPoses || !CommonTurnAxis(robotPoses, {})) return {};
  if (eyeToHand) {
    return {
        "the poses turn about one axis only (a 4-axis robot): the marker's offset along the flange's z axis and "
        "the camera's height move together, and no shot can tell them apart. Give one of them: the marker's "
        "offset along the flange's z axis (fixed height) or the camera's height in the base frame (camera "
        "offset z); or tilt the flange about a second axis",
        "位姿只绕一个轴旋转（四轴机器人）：标记沿法兰 z 轴的偏移与相机高度一同变化，任何图像都无法区分。请给出其一："
        "标记沿法兰 z 轴的偏移（固定高度）或相机在基座坐标系中的高度（相机 z 偏移）；或让法兰绕第二个轴倾斜"};
  }
  return {
      "the poses turn about one axis only (a 4-axis robot): the marker's height and the camera's offset along the "
      "flange's z axis move together, and no shot can tell them apart. Give one of them: the marker's height in "
      "the base frame (fixed height) or the camera's offset along the flange's z axis (camera offset z); or tilt "
      "the flange about a second axis",
      "位姿只绕一个轴旋转（四轴机器人）：标记高度与相机沿法兰 z 轴的偏移一同变化，任何图像都无法区分。请给出其一："
      "标记在基座坐标系中的高度（固定高度）或相机沿法兰 z 轴的偏移（相机 z 偏移）；或让法兰绕第二个轴倾斜"};
}

}  // namespace TamoHandEye
