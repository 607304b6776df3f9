// The solver reaches the accuracy the data allows: over many noise draws on the same poses, the spread of
// the camera translation error matches the first-order prediction σ²·(JᵀJ)⁻¹ at the truth.

#include <tarn/SolveFinalResult.h>

#include "HandEyeScene.h"

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
