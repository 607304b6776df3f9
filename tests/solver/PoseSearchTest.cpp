// SPDX-License-Identifier: Apache-2.0
// The pose search against a scripted solver (which masks it is asked to solve, what it answers), and the
// residuals' unit against the same noisy scene given in metres and in millimetres.

#include <tarn/SolveFinalResult.h>

#include "robot/IRobot.h"
#include "solver/PoseSearch.h"

#include "HandEyeScene.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace TamoHandEye;

// Solves any mask of at most five poses with zero residuals, and fails on larger ones; records each mask.
class SmallSamplesOnly : public IHandEye {
 public:
  int Solve(const std::vector<Kel::SE3d>& robotPoses, const std::vector<Kel::SE3d>&,
            const std::vector<int>& mask) override {
    asked.push_back(mask);
    residuals.assign(robotPoses.size(), Eigen::Vector3d::Zero());
    return std::count(mask.begin(), mask.end(), 255) <= 5 ? 0 : 129;
  }
  Kel::SE3d GetCameraToFlange() const override { return {}; }
  Kel::SE3d GetMarkerToBase() const override { return {}; }
  Kel::SE3d GetMarkerToFlange() const override { return {}; }
  Kel::SE3d GetCameraToBase() const override { return {}; }
  void SetSolution(const Kel::SE3d& /*marker*/, const Kel::SE3d& /*camera*/) override {}
  std::vector<Eigen::Vector3d> GetResiduals() const override { return residuals; }
  void GetErrors(double& maxError, double& rmsError) const override { maxError = rmsError = 0.0; }

  std::vector<std::vector<int>> asked;
  std::vector<Eigen::Vector3d> residuals;
};

TEST(PoseConsensus, ConsensusThatDoesNotSolveFallsBackToItsSampleAndTheSolverHoldsThatSolution) {
  const std::vector<Kel::SE3d> poses(12);
  PoseSearchOptions options;
  options.seed = 11;
  options.inlierDistance = 0.001;
  SmallSamplesOnly solver;
  std::vector<int> mask;
  PoseSearchReport report;
  ASSERT_EQ(SearchPoseConsensus(solver, poses, poses, options, mask, report), 0);

  // Every pose agrees with the first sample, whose consensus (all 12) fails to solve: the sample is kept,
  // and so is it when the refinement, asked for all 12 again, fails too.
  ASSERT_EQ(solver.asked.size(), 5u);
  EXPECT_EQ(std::count(solver.asked[0].begin(), solver.asked[0].end(), 255), 5);
  EXPECT_EQ(solver.asked[1], std::vector<int>(12, 255));
  EXPECT_EQ(solver.asked[3], std::vector<int>(12, 255));
  EXPECT_EQ(mask, solver.asked[0]);
  EXPECT_EQ(solver.asked.back(), mask);
  EXPECT_TRUE(report.fellBack);
  EXPECT_EQ(report.refinements, 0);
  EXPECT_EQ(report.consensus, 5u);
  EXPECT_EQ(report.samplesTried, 1);
  EXPECT_EQ(report.sampleResiduals, std::vector<double>(12, 0.0));

  // The same seed draws the same sample.
  SmallSamplesOnly again;
  std::vector<int> second;
  ASSERT_EQ(SearchPoseConsensus(again, poses, poses, options, second, report), 0);
  EXPECT_EQ(second, mask);
}

TEST(PoseConsensus, ResidualsAreMillimetresWhateverTheRowsUnit) {
  TarnSim::SceneOptions options;
  options.pointNoise = 0.0005;
  const TarnSim::Scene scene = TarnSim::MakeScene(options);
  std::vector<FinalResult> results(2);
  for (const bool meter : {false, true}) {
    AlgoParam param;
    param.IsMeter = meter;
    ASSERT_EQ(Common3SolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, TarnSim::RowFormat::Kuka, meter),
                                      param, results[meter ? 1 : 0]),
              Success);
  }
  const FinalResult& mm = results[0];
  const FinalResult& m = results[1];
  // Half a millimetre of noise per coordinate leaves residuals of about a millimetre, in either unit.
  EXPECT_GT(mm.rmsError, 0.2);
  EXPECT_LT(mm.rmsError, 2.0);
  EXPECT_NEAR(m.rmsError, mm.rmsError, 1e-6);
  EXPECT_NEAR(m.maxError, mm.maxError, 1e-6);
  ASSERT_EQ(m.residuals.size(), mm.residuals.size());
  for (std::size_t i = 0; i < m.residuals.size(); ++i) EXPECT_NEAR(m.residuals[i].dx, mm.residuals[i].dx, 1e-6);
  // The transform itself follows the unit: its translation is a thousand times smaller in metres.
  EXPECT_NEAR(m.cameraMatrix[0][3] * 1000.0, mm.cameraMatrix[0][3], 1e-6);
}

// A pose is used exactly when its residual under the returned solution is below the search's distance, on
// noisy sets with bad poses, whatever sample the search happened to start from.
TEST(PoseConsensus, TheMaskAgreesWithTheSolutionItReturns) {
  int disagreements = 0;
  for (unsigned seed = 1; seed <= 12; ++seed) {
    TarnSim::SceneOptions options;
    options.poses = 16;
    options.seed = seed;
    options.pointNoise = 0.0004;
    options.outliers = {3, 11};
    options.outlierOffset = 0.004;
    const TarnSim::Scene scene = TarnSim::MakeScene(options);
    AlgoParam param;
    param.Exhaust = true;
    param.RansacDist = 0.001;
    IRobot::SetPoseSearchSeed(seed);
    FinalResult result;
    const ErrorCode code =
        FanucSolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, TarnSim::RowFormat::Fanuc), param, result);
    IRobot::SetPoseSearchSeed(std::nullopt);
    ASSERT_EQ(code, Success) << seed;
    for (std::size_t i = 0; i < result.mask.size(); ++i) {
      const bool agrees = result.residuals[i].distance < param.RansacDist * 1000.0;
      if ((result.mask[i] != 0) != agrees) {
        ++disagreements;
        ADD_FAILURE() << "seed " << seed << ", pose " << i << ": used " << (result.mask[i] != 0) << " at "
                      << result.residuals[i].distance << " mm";
      }
    }
  }
  EXPECT_EQ(disagreements, 0);
}

}  // namespace
