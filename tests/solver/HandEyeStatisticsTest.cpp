// SPDX-License-Identifier: Apache-2.0
// The solver reaches the accuracy the data allows: over many noise draws on the same poses, the spread of
// the camera translation error matches the first-order prediction σ²·(JᵀJ)⁻¹ at the truth.

#include <tarn/SolveFinalResult.h>

#include "solver/SolutionDiagnostics.h"

#include "HandEyeScene.h"

#include <Kel/PointPoseSolver.h>
#include <LieGroup/SO3Tangent.h>

#include <gtest/gtest.h>

namespace {

using namespace TamoHandEye;
using Eigen::Matrix3d;
using Eigen::Vector3d;

TEST(HandEyeStatistics, CameraTranslationSpreadMatchesTheFirstOrderPrediction) {
  constexpr int kTrials = 300;
  constexpr double kSigma = 0.0005;  // metres, per point coordinate

  for (const bool eyeToHand : {false, true}) {
    TarnSim::SceneOptions options;
    options.poses = 20;
    options.eyeToHand = eyeToHand;
    const TarnSim::Scene truth = TarnSim::MakeScene(options);

    // J_i = [R_Ai, R_Z·hat(p_i), -I₃] over (marker point, camera rotation, camera translation); the noise
    // of a point enters its residual as -R_Z·δp, isotropic with σ².
    Eigen::Matrix<double, 9, 9> normal = Eigen::Matrix<double, 9, 9>::Zero();
    for (std::size_t i = 0; i < truth.points.size(); ++i) {
      const Eigen::Isometry3d a = eyeToHand ? truth.flange[i] : truth.flange[i].inverse();
      Eigen::Matrix<double, 3, 9> j;
      j << a.linear(), truth.camera.linear() * Kel::SO3Tangentd::Hat(truth.points[i]), -Matrix3d::Identity();
      normal += j.transpose() * j;
    }
    const Matrix3d predicted = kSigma * kSigma * normal.inverse().bottomRightCorner<3, 3>();

    Matrix3d observed = Matrix3d::Zero();
    for (int trial = 0; trial < kTrials; ++trial) {
      TarnSim::SceneOptions noisy = options;
      noisy.pointNoise = kSigma;
      noisy.noiseSeed = 1000u + static_cast<unsigned>(trial);
      const TarnSim::Scene scene = TarnSim::MakeScene(noisy);
      AlgoParam param;
      param.HandEyeType = eyeToHand ? 1 : 0;
      param.IsMeter = true;
      FinalResult result;
      ASSERT_EQ(
          FanucSolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, TarnSim::RowFormat::Fanuc), param, result),
          Success);
      const Vector3d t(result.cameraMatrix[0][3], result.cameraMatrix[1][3], result.cameraMatrix[2][3]);
      const Vector3d error = t - truth.camera.translation();
      observed += error * error.transpose() / kTrials;
    }
    const double ratio = observed.trace() / predicted.trace();
    EXPECT_NEAR(ratio, 1.0, 0.15) << (eyeToHand ? "eye-to-hand" : "eye-in-hand") << ": observed RMS "
                                  << std::sqrt(observed.trace()) * 1000 << " mm, predicted "
                                  << std::sqrt(predicted.trace()) * 1000 << " mm";
  }
}

}  // namespace

// Each pose's residual under the solution without it, taken in one step from the full solution's normal
// equations, against solving again without the pose (to convergence) on a real camera's noise, with a 5 mm
// outlier among the poses.
TEST(HandEyeStatistics, LeaveOneOutFromTheNormalEquationsMatchesSolvingAgain) {
  for (const bool eyeToHand : {false, true}) {
    TarnSim::SceneOptions options;
    options.poses = 12;
    options.eyeToHand = eyeToHand;
    options.pointNoise = 0.0005;
    options.depthNoise = 0.0015;
    options.robotTranslationNoise = 0.00005;
    options.robotRotationNoise = 0.0001;
    options.outliers = {3};
    options.outlierOffset = 0.005;
    const TarnSim::Scene scene = TarnSim::MakeScene(options);
    std::vector<Kel::SE3d> robot;
    std::vector<Kel::SE3d> markers;
    std::vector<Kel::SE3d> a;
    for (std::size_t i = 0; i < scene.flange.size(); ++i) {
      robot.emplace_back(
          Kel::SE3d(scene.flange[i].translation(), Kel::SO3d(Eigen::Quaterniond(scene.flange[i].linear()))));
      markers.emplace_back(scene.points[i], Kel::SO3d());
      a.push_back(eyeToHand ? robot.back() : robot.back().Inverse());
    }
    const auto solve = [](const std::vector<Kel::SE3d>& as, const std::vector<Kel::SE3d>& bs, Kel::SE3d& x,
                          Kel::SE3d& z) {
      const Kel::SE3d x0 = x;
      const Kel::SE3d z0 = z;
      return Kel::SolveAXpZBpinNumerical(as, bs, x0, z0, x, z, 1e-12);
    };
    auto [marker, camera, rms] = Kel::SolveAxpZbpKron(a, markers);
    ASSERT_TRUE(solve(a, markers, marker, camera));
    const std::vector<int> all;
    const std::vector<LeftOut> left = LeaveOneOutResiduals(SolvedPoses{robot, markers, all, eyeToHand}, marker, camera);
    for (std::size_t i = 0; i < a.size(); ++i) {
      std::vector<Kel::SE3d> otherA = a;
      std::vector<Kel::SE3d> otherB = markers;
      otherA.erase(otherA.begin() + static_cast<long>(i));
      otherB.erase(otherB.begin() + static_cast<long>(i));
      Kel::SE3d x = marker;
      Kel::SE3d z = camera;
      ASSERT_TRUE(solve(otherA, otherB, x, z));
      const double distance = ((a[i] * x).Translation() - (z * markers[i]).Translation()).norm();
      EXPECT_NEAR(left[i].distance, distance, 0.002 * distance + 1e-7) << "pose " << i;
      EXPECT_TRUE(std::isfinite(left[i].studentised));
    }
    // The outlier stands out; the others do not.
    EXPECT_GT(left[3].studentised, StudentisedLimit(a.size(), 0.05));
    EXPECT_LT(left[0].studentised, StudentisedLimit(a.size(), 0.05));
  }
}
