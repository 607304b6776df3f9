// SPDX-License-Identifier: Apache-2.0
// The joint solve over the marker point and the board's normal, against synthetic scenes with a known camera,
// marker and board: it recovers them exactly without noise, beats the point model by the margin the normal's
// information allows, and its covariance is the size of its errors.

#include <tarn/CalibrationReport.h>

#include "solver/HandEyeKel.h"
#include "solver/JointSolve.h"

#include "HandEyeScene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using namespace TamoHandEye;
using Eigen::Vector3d;

constexpr double kDegree = 3.14159265358979323846 / 180.0;

Kel::SE3d ToSE3(const Eigen::Isometry3d& pose) {
  return Kel::SE3d(pose.translation(), Kel::SO3d(Eigen::Quaterniond(pose.linear()).normalized()));
}

struct Noise {
  double point = 0.0;     // metres per axis
  double depth = 0.0;     // metres, added along the line of sight (a depth camera's)
  double normal = 0.0;    // radians per axis across the normal
  double robotM = 0.0;    // metres
  double robotRad = 0.0;  // radians
};

struct Solved {
  JointSolution joint;
  Kel::SE3d pointCamera;
  bool pointSolved = false;
};

TarnSim::Scene MakeNoisyScene(bool eyeToHand, int poses, const Noise& noise, unsigned noiseSeed) {
  TarnSim::SceneOptions o;
  o.poses = poses;
  o.eyeToHand = eyeToHand;
  o.pointNoise = noise.point;
  o.depthNoise = noise.depth;
  o.normalNoise = noise.normal;
  o.robotTranslationNoise = noise.robotM;
  o.robotRotationNoise = noise.robotRad;
  o.noiseSeed = noiseSeed;
  return TarnSim::MakeScene(o);
}

// The shots as the detector states them: the point's and the normal's covariance from the noise drawn.
std::vector<JointShot> ShotsOf(const TarnSim::Scene& scene, const Noise& noise) {
  std::vector<JointShot> shots;
  for (std::size_t i = 0; i < scene.points.size(); ++i) {
    JointShot s;
    s.point = scene.points[i];
    const Vector3d sight = s.point.normalized();
    s.pointCovariance = std::max(noise.point * noise.point, 1e-14) * Eigen::Matrix3d::Identity() +
                        noise.depth * noise.depth * sight * sight.transpose();
    s.hasNormal = true;
    s.normal = scene.normals[i];
    Vector3d a1 = s.normal.cross(Vector3d::UnitY()).normalized();
    s.normalAxes << a1, s.normal.cross(a1);
    s.normalCovariance = std::max(noise.normal * noise.normal, 1e-14) * Eigen::Matrix2d::Identity();
    shots.push_back(s);
  }
  return shots;
}

Solved SolveBoth(const TarnSim::Scene& scene, const std::vector<JointShot>& shots, const JointOptions& options) {
  std::vector<Kel::SE3d> robot, markers;
  for (std::size_t i = 0; i < scene.flange.size(); ++i) {
    robot.push_back(ToSE3(scene.flange[i]));
    markers.emplace_back(scene.points[i], Kel::SO3d());
  }
  Solved out;
  HandEyeKel point(scene.eyeToHand ? 1 : 0);
  out.pointSolved = point.Solve(robot, markers, {}) == 0;
  if (!out.pointSolved) return out;
  out.pointCamera = point.GetCameraToFlange();
  const std::vector<int> mask;
  const JointProblem problem{scene.eyeToHand, robot, shots, mask, options};
  out.joint = SolveJoint(problem, point.GetMarkerToBase(), point.GetCameraToFlange());
  return out;
}

// The camera's error as (turn δ, shift) against the truth: R_true·exp(δ) = R, t − t_true.
Eigen::Matrix<double, 6, 1> CameraError(const Kel::SE3d& camera, const Eigen::Isometry3d& truth) {
  const Eigen::Matrix3d turn = truth.linear().transpose() * camera.Rotation().RotationMatrix();
  const Eigen::AngleAxisd aa(turn);
  Eigen::Matrix<double, 6, 1> e;
  e << aa.axis() * aa.angle(), camera.Translation() - truth.translation();
  return e;
}

TEST(JointSolve, RecoversANoiselessSceneFromAnOffStart) {
  for (const bool eyeToHand : {false, true}) {
    const TarnSim::Scene scene = MakeNoisyScene(eyeToHand, 8, Noise{}, 7);
    std::vector<JointShot> shots = ShotsOf(scene, Noise{});
    shots[0].normal = -shots[0].normal;  // a normal given away from the camera is the same plane
    std::vector<Kel::SE3d> robot;
    for (const auto& f : scene.flange) robot.push_back(ToSE3(f));
    // Start 10 mm and 2° away from the truth.
    Eigen::Isometry3d start = scene.camera;
    start.linear() = start.linear() * Eigen::AngleAxisd(2.0 * kDegree, Vector3d(1, 1, 0).normalized());
    start.translation() += Vector3d(0.006, -0.008, 0.0);
    const std::vector<int> mask;
    const JointProblem problem{eyeToHand, robot, shots, mask, JointOptions{}};
    const JointSolution joint =
        SolveJoint(problem, Kel::SE3d(scene.marker + Vector3d(0.01, 0, 0), Kel::SO3d()), ToSE3(start));
    ASSERT_TRUE(joint.solved);
    const auto e = CameraError(joint.camera, scene.camera);
    EXPECT_LT(e.head<3>().norm(), 1e-9) << eyeToHand;
    EXPECT_LT(e.tail<3>().norm(), 1e-9) << eyeToHand;
    EXPECT_LT((joint.marker.Translation() - scene.marker).norm(), 1e-9);
    EXPECT_LT((joint.normal - scene.boardNormal).norm(), 1e-9);
    EXPECT_LT(joint.normalRmsRad, 1e-9);
    EXPECT_EQ(joint.normals, 8);
  }
}

// Target poses measured whole (camera_from_target, turned by noise in the target's frame): the rotation is used
// instead of the normal, recovers the truth without noise, and its covariance is the size of its errors.
TEST(JointSolve, TargetRotationsAreUsedWhole) {
  const Noise noise{0.00005, 0.0003, 0.01 * kDegree, 0.0, 0.0};
  const Eigen::Matrix3d board =
      Eigen::Quaterniond::FromTwoVectors(Vector3d::UnitZ(), Vector3d(0.05, -0.03, 1.0).normalized()) *
      Eigen::AngleAxisd(0.7, Vector3d::UnitZ()).toRotationMatrix();
  double chi = 0.0;  // of the camera's error under the reported covariance, over the 19 noisy draws
  for (int k = 0; k < 20; ++k) {
    const bool noisy = k > 0;
    const TarnSim::Scene scene = MakeNoisyScene(false, 10, noisy ? noise : Noise{}, 300u + static_cast<unsigned>(k));
    std::vector<JointShot> shots = ShotsOf(scene, noisy ? noise : Noise{});
    std::mt19937 rng(static_cast<unsigned>(k));
    std::normal_distribution<double> turn(0.0, noise.normal);
    for (std::size_t i = 0; i < shots.size(); ++i) {
      const Eigen::Matrix3d truth =
          (scene.flange[i].linear() * scene.camera.linear()).transpose() * board;  // camera_from_target
      const Vector3d e(turn(rng), turn(rng), turn(rng));
      shots[i].hasRotation = true;
      shots[i].rotation = noisy ? Eigen::Matrix3d(truth * Eigen::AngleAxisd(e.norm(), e.normalized())) : truth;
      shots[i].rotationCovariance = std::pow(noise.normal, 2) * Eigen::Matrix3d::Identity();
    }
    const Solved withRotations = SolveBoth(scene, shots, JointOptions{});
    ASSERT_TRUE(withRotations.joint.solved && withRotations.joint.rotations);
    const auto e = CameraError(withRotations.joint.camera, scene.camera);
    if (!noisy) {
      EXPECT_LT(e.norm(), 1e-9);
      EXPECT_LT((withRotations.joint.boardRotation - board).norm(), 1e-9);
      continue;
    }
    const Eigen::Matrix<double, 6, 6> c = withRotations.joint.covariance.block<6, 6>(3, 3);
    chi += e.dot(c.ldlt().solve(e)) / (6.0 * 19);
  }
  EXPECT_NEAR(chi, 1.0, 0.35);
}

// The leave-one-out residuals (one step from the solution) against solves without the pose.
TEST(JointSolve, LeaveOneOutMatchesSolvesWithoutThePose) {
  const Noise noise{0.00005, 0.0003, 0.01 * kDegree, 0.00003, 0.005 * kDegree};
  const TarnSim::Scene scene = MakeNoisyScene(true, 10, noise, 5);
  const std::vector<JointShot> shots = ShotsOf(scene, noise);
  std::vector<Kel::SE3d> robot;
  for (const auto& f : scene.flange) robot.push_back(ToSE3(f));
  JointOptions options;
  options.robotNoiseM = noise.robotM;
  options.robotNoiseRad = noise.robotRad;
  const std::vector<int> all;
  const JointProblem problem{true, robot, shots, all, options};
  const JointSolution full = SolveJoint(problem, Kel::SE3d(scene.marker, Kel::SO3d()), ToSE3(scene.camera));
  ASSERT_TRUE(full.solved);
  const std::vector<JointLeftOut> left = JointLeaveOneOut(problem, full);
  for (std::size_t i = 0; i < shots.size(); ++i) {
    std::vector<int> mask(shots.size(), 255);
    mask[i] = 0;
    const JointProblem without{true, robot, shots, mask, options};
    const JointSolution w = SolveJoint(without, full.marker, full.camera);
    ASSERT_TRUE(w.solved);
    const Vector3d q =
        ToSE3(scene.flange[i]).Rotation().RotationMatrix() * w.marker.Translation() + scene.flange[i].translation();
    const double distance =
        (q - (w.camera.Rotation().RotationMatrix() * shots[i].point + w.camera.Translation())).norm();
    EXPECT_NEAR(left[i].distance, distance, 0.1 * distance + 2e-6) << i;
  }
}

// 15 poses tilted ±30°, point noise 0.05 mm across the line of sight and 0.3 mm along it, normal 0.01°, robot
// noise 0.03 mm / 0.005° stated to the solve. (Without the depth noise the normal gains less: 1.1-1.4x in
// translation, the camera's turn about its line of sight is what the normals see least.)
TEST(JointSolve, TheNormalCutsTheCameraErrorAndTheCovarianceIsItsSize) {
  const Noise noise{0.00005, 0.0003, 0.01 * kDegree, 0.00003, 0.005 * kDegree};
  JointOptions options;
  options.robotNoiseM = noise.robotM;
  options.robotNoiseRad = noise.robotRad;
  constexpr int kDraws = 40;
  for (const bool eyeToHand : {false, true}) {
    double pointT = 0.0, pointR = 0.0, jointT = 0.0, jointR = 0.0, chi = 0.0;
    for (int k = 0; k < kDraws; ++k) {
      const TarnSim::Scene scene = MakeNoisyScene(eyeToHand, 15, noise, 100u + static_cast<unsigned>(k));
      const Solved s = SolveBoth(scene, ShotsOf(scene, noise), options);
      ASSERT_TRUE(s.pointSolved && s.joint.solved);
      const auto ep = CameraError(s.pointCamera, scene.camera);
      const auto ej = CameraError(s.joint.camera, scene.camera);
      pointT += ep.tail<3>().norm() / kDraws;
      pointR += ep.head<3>().norm() / kDraws;
      jointT += ej.tail<3>().norm() / kDraws;
      jointR += ej.head<3>().norm() / kDraws;
      const Eigen::Matrix<double, 6, 6> c = s.joint.covariance.block<6, 6>(3, 3);
      chi += ej.dot(c.ldlt().solve(ej)) / (6.0 * kDraws);
    }
    EXPECT_GT(pointT / jointT, 2.5) << eyeToHand;
    EXPECT_GT(pointR / jointR, 3.0) << eyeToHand;
    EXPECT_NEAR(chi, 1.0, 0.3) << eyeToHand;
  }
}

}  // namespace

namespace {

std::vector<ShotPlane> PlanesOf(const std::vector<JointShot>& shots, double turnSigma) {
  std::vector<ShotPlane> planes;
  for (const JointShot& s : shots) {
    ShotPlane p;
    p.hasNormal = true;
    for (int k = 0; k < 3; ++k) {
      p.normal[std::size_t(k)] = s.normal(k);
      p.normalAxes[std::size_t(k)] = s.normalAxes(k, 0);
      p.normalAxes[std::size_t(3 + k)] = s.normalAxes(k, 1);
      for (int c = 0; c < 3; ++c) p.centreCovariance[std::size_t(3 * k + c)] = s.pointCovariance(k, c);
    }
    p.normalCovariance = {turnSigma * turnSigma, 0.0, 0.0, turnSigma * turnSigma};
    planes.push_back(p);
  }
  return planes;
}

double TranslationError(const FinalResult& r, const Eigen::Isometry3d& truth) {
  const Vector3d t(r.cameraMatrix[0][3], r.cameraMatrix[1][3], r.cameraMatrix[2][3]);
  return (t / 1000.0 - truth.translation()).norm() * 1000.0;
}

// Through the report: the point model stays the entry point's bit for bit; the normals change the model, shrink the
// error within the σ they report; shots without a normal (rows typed by hand) count as points.
TEST(JointModelReport, TheModelFollowsTheNormalsTheShotsCarry) {
  const Noise noise{0.00005, 0.0003, 0.01 * kDegree, 0.00003, 0.005 * kDegree};
  const TarnSim::Scene scene = MakeNoisyScene(false, 12, noise, 31);
  const auto rows = TarnSim::RobotRows(scene, TarnSim::RowFormat::Fanuc);
  FinalResult entry;
  ASSERT_EQ(FanucSolveFinalResult(scene.Markers(), rows, AlgoParam{}, entry), Success);

  ReportOptions options;
  options.shots = PlanesOf(ShotsOf(scene, noise), noise.normal);
  options.robotNoiseMm = 0.03;
  options.robotNoiseDeg = 0.005;
  options.model = SolveModel::Point;
  CalibrationReport point;
  ASSERT_EQ(SolveCalibrationReport(scene.Markers(), rows, AlgoParam{}, RobotKind::Fanuc, options, point), Success);
  EXPECT_EQ(point.model, "point");
  EXPECT_EQ(point.result.cameraMatrix, entry.cameraMatrix);
  EXPECT_EQ(point.result.markerPosition, entry.markerPosition);

  options.model = SolveModel::Auto;
  CalibrationReport joint;
  ASSERT_EQ(SolveCalibrationReport(scene.Markers(), rows, AlgoParam{}, RobotKind::Fanuc, options, joint), Success);
  EXPECT_EQ(joint.model, "point+normal");
  EXPECT_EQ(joint.shotsWithNormal, 12);
  const double pointError = TranslationError(point.result, scene.camera);
  const double jointError = TranslationError(joint.result, scene.camera);
  EXPECT_LT(jointError, pointError);
  EXPECT_LT(jointError, 3.0 * joint.uncertainty.translationNormMm);
  EXPECT_LT(joint.uncertainty.translationNormMm, point.uncertainty.translationNormMm);
  ASSERT_EQ(joint.leaveOneOutMm.size(), 12u);
  for (std::size_t i = 0; i < 12; ++i) {
    EXPECT_TRUE(std::isfinite(joint.leaveOneOutMm[i]));
    EXPECT_LT(joint.leaveOneOutStudentised[i], joint.suspectLimit);
  }
  EXPECT_NEAR(Vector3d(joint.board.normal[0], joint.board.normal[1], joint.board.normal[2]).dot(scene.boardNormal), 1.0,
              1e-6);

  options.shots[3].hasNormal = false;
  options.shots[7] = ShotPlane{};
  CalibrationReport edited;
  ASSERT_EQ(SolveCalibrationReport(scene.Markers(), rows, AlgoParam{}, RobotKind::Fanuc, options, edited), Success);
  EXPECT_EQ(edited.shotsWithNormal, 10);
  for (std::size_t i = 2; i < 12; ++i) options.shots[i].hasNormal = false;
  ASSERT_EQ(SolveCalibrationReport(scene.Markers(), rows, AlgoParam{}, RobotKind::Fanuc, options, edited), Success);
  EXPECT_EQ(edited.model, "point");
  EXPECT_EQ(edited.result.cameraMatrix, entry.cameraMatrix);
}

}  // namespace
