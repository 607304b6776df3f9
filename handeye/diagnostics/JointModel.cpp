// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/JointModel.h"

#include <Eigen/Cholesky>

#include <algorithm>
#include <cmath>

namespace TamoHandEye {
namespace {

constexpr double kRadianToDegree = 57.29577951308232;

template <std::size_t N>
bool Finite(const std::array<double, N>& values) {
  for (const double v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

template <int N>
bool PositiveDefinite(const Eigen::Matrix<double, N, N>& m) {
  if (!m.allFinite() || !(m - m.transpose()).isZero(1e-9 * m.cwiseAbs().maxCoeff())) return false;
  const Eigen::LLT<Eigen::Matrix<double, N, N>> llt(m);
  return llt.info() == Eigen::Success && m.trace() > 0.0;
}

JointShot ShotOf(const ShotPlane& plane, const Kel::SE3d& markerPose) {
  JointShot shot;
  shot.point = markerPose.Translation();
  const Eigen::Matrix3d centre =
      Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(plane.centreCovariance.data());
  if (PositiveDefinite<3>(centre)) shot.pointCovariance = centre;
  const Eigen::Matrix3d rotation =
      Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(plane.rotation.data());
  if (plane.hasRotation && rotation.allFinite() &&
      (rotation.transpose() * rotation - Eigen::Matrix3d::Identity()).norm() < 1e-6 && rotation.determinant() > 0.0) {
    shot.hasRotation = true;
    shot.rotation = rotation;
    const Eigen::Matrix3d turns =
        Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(plane.rotationCovariance.data());
    if (PositiveDefinite<3>(turns)) shot.rotationCovariance = turns;
  }
  const Eigen::Vector3d n(plane.normal[0], plane.normal[1], plane.normal[2]);
  if (!plane.hasNormal || !n.allFinite() || std::abs(n.norm() - 1.0) > 1e-3) return shot;
  shot.hasNormal = true;
  shot.normal = n.normalized();
  Eigen::Vector3d a1(plane.normalAxes[0], plane.normalAxes[1], plane.normalAxes[2]);
  Eigen::Vector3d a2(plane.normalAxes[3], plane.normalAxes[4], plane.normalAxes[5]);
  const Eigen::Matrix2d turns =
      Eigen::Map<const Eigen::Matrix<double, 2, 2, Eigen::RowMajor>>(plane.normalCovariance.data());
  const bool axesGood = Finite(plane.normalAxes) && std::abs(a1.norm() - 1.0) < 1e-3 &&
                        std::abs(a2.norm() - 1.0) < 1e-3 && std::abs(a1.dot(a2)) < 1e-3 &&
                        std::abs(a1.dot(shot.normal)) < 1e-3 && std::abs(a2.dot(shot.normal)) < 1e-3;
  if (!axesGood) {
    a1 = shot.normal.cross(std::abs(shot.normal.x()) < 0.9 ? Eigen::Vector3d::UnitX() : Eigen::Vector3d::UnitY())
             .normalized();
    a2 = shot.normal.cross(a1);
  }
  shot.normalAxes << a1, a2;
  if (axesGood && PositiveDefinite<2>(turns)) {
    // A turn θ about axis a moves the normal by θ·(a × n): the displacement along (a1, a2) is M·θ.
    Eigen::Matrix<double, 3, 2> moves;
    moves << a1.cross(shot.normal), a2.cross(shot.normal);
    const Eigen::Matrix2d m = shot.normalAxes.transpose() * moves;
    shot.normalCovariance = m * turns * m.transpose();
  }
  return shot;
}

}  // namespace

std::vector<JointShot> JointShots(const std::vector<ShotPlane>& planes, const std::vector<Kel::SE3d>& markerPoses) {
  std::vector<JointShot> shots;
  for (std::size_t i = 0; i < markerPoses.size(); ++i) {
    shots.push_back(i < planes.size() ? ShotOf(planes[i], markerPoses[i]) : ShotOf(ShotPlane{}, markerPoses[i]));
  }
  return shots;
}

JointRun SolveJointModel(SolveModel model, const std::vector<ShotPlane>& planes, double robotNoiseMm,
                         double robotNoiseDeg, const EntryRun& run, const SolvedPoses& poses) {
  JointRun out;
  if (model != SolveModel::Auto || planes.size() != poses.markerPoses.size()) return out;
  out.shots = JointShots(planes, poses.markerPoses);
  int normals = 0, rotations = 0;
  for (std::size_t i = 0; i < out.shots.size(); ++i) {
    if (poses.Used(i) && out.shots[i].hasNormal) ++normals;
    if (poses.Used(i) && out.shots[i].hasRotation) ++rotations;
  }
  if (std::max(normals, rotations) < kLeastNormalShots) return out;
  const double shift = robotNoiseMm / 1000.0;
  const double turn = robotNoiseDeg / kRadianToDegree;
  out.options.robotNoiseM = std::isfinite(shift) && shift > 0.0 ? shift : 0.0;
  out.options.robotNoiseRad = std::isfinite(turn) && turn > 0.0 ? turn : 0.0;
  const IHandEye& solver = *run.record.handEye;
  const Kel::SE3d marker = poses.eyeToHand ? solver.GetMarkerToFlange() : solver.GetMarkerToBase();
  const Kel::SE3d camera = poses.eyeToHand ? solver.GetCameraToBase() : solver.GetCameraToFlange();
  out.solution = SolveJoint(out.Problem(poses), marker, camera);
  return out;
}

bool ApplyJointModel(const ReportOptions& options, const EntryRun& run, const SolvedPoses& poses,
                     CalibrationReport& report) {
  const JointRun jointRun =
      SolveJointModel(options.model, options.shots, options.robotNoiseMm, options.robotNoiseDeg, run, poses);
  const JointSolution& joint = jointRun.solution;
  if (!joint.solved) return false;
  const JointProblem problem = jointRun.Problem(poses);
  IHandEye& solver = *run.record.handEye;
  solver.SetSolution(joint.marker, joint.camera);
  IRobot& robot = *run.robot->robot;
  const std::vector<int> mask = report.result.mask;
  WriteFinalResult(
      solver, robot.param, mask,
      [&robot](const Kel::SE3d& pose, std::vector<double>& row) { robot.ToRobotData(pose, row); }, report.result);
  report.model = joint.rotations ? "point+rotation" : "point+normal";
  report.shotsWithNormal = joint.normals;
  BoardPlane& board = report.board;
  for (int k = 0; k < 3; ++k) board.normal[static_cast<std::size_t>(k)] = joint.normal(k);
  const int turns = joint.rotations ? 3 : 2;
  board.normalSigmaDeg = std::sqrt(joint.covariance.block(9, 9, turns, turns).trace()) * kRadianToDegree;
  board.residualRmsDeg = joint.normalRmsRad * kRadianToDegree;
  board.pointNoiseFactor = joint.pointFactor;
  board.normalNoiseFactor = joint.normalFactor;
  board.sightNoiseMm = std::sqrt(joint.sightVariance) * 1000.0;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j)
      board.normalCovariance[static_cast<std::size_t>(3 * i + j)] = joint.normalCovariance(i, j);
    for (int j = 0; j < 9; ++j) {
      const double unit = j < 3 || j >= 6 ? 1000.0 : 1.0;  // the marker's and camera's translations in mm
      board.normalCrossCovariance[static_cast<std::size_t>(9 * i + j)] = joint.normalCross(i, j) * unit;
    }
  }
  board.shotNormalSigmaDeg = std::sqrt(joint.shotNormalVariance) * kRadianToDegree;
  board.normalFreedom = joint.normalFreedom;

  const Matrix9d covariance = joint.covariance.topLeftCorner<9, 9>();
  report.uncertainty = UncertaintyOfCovariance(covariance);
  report.covariance = SolutionCovariance(poses, joint.marker, joint.camera);
  if (report.covariance.known) {
    const Matrix9d millimetres = covariance.cwiseProduct(MillimetreScale());
    for (int i = 0; i < 9; ++i) {
      for (int j = 0; j < 9; ++j) report.covariance.matrix[static_cast<std::size_t>(9 * i + j)] = millimetres(i, j);
    }
  }
  report.leaveOneOutMm.clear();
  report.leaveOneOutStudentised.clear();
  if (poses.UsedCount() <= kMostLeaveOneOutPoses) {
    for (const JointLeftOut& left : JointLeaveOneOut(problem, joint)) {
      report.leaveOneOutMm.push_back(left.distance * 1000.0);
      report.leaveOneOutStudentised.push_back(left.studentised);
    }
  }
  return true;
}

}  // namespace TamoHandEye
