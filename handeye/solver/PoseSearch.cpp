// SPDX-License-Identifier: Apache-2.0
#include "solver/PoseSearch.h"

#include <algorithm>
#include <random>

namespace TamoHandEye {
namespace {

constexpr int kSelected = 255;

std::size_t CountSelected(const std::vector<int>& mask) {
  return static_cast<std::size_t>(std::count_if(mask.begin(), mask.end(), [](int m) { return m != 0; }));
}

// The poses whose residual under the solver's solution is below the distance.
std::vector<int> Agreeing(const IHandEye& solver, double distance) {
  const std::vector<Eigen::Vector3d> residuals = solver.GetResiduals();
  std::vector<int> inliers(residuals.size(), 0);
  for (std::size_t i = 0; i < residuals.size(); ++i) {
    if (distance > residuals[i].norm()) inliers[i] = kSelected;
  }
  return inliers;
}

// Solves again over the poses that agree with the current solution until the mask stops changing (at most
// kRefineRounds rounds), so that a pose is used exactly when it agrees with the solution returned. A round
// that would leave fewer than a sample's poses, or whose solve fails, ends it with the last solution.
void RefineMask(IHandEye& solver, const std::vector<Kel::SE3d>& robotPoses, const std::vector<Kel::SE3d>& markerPoses,
                const PoseSearchOptions& options, std::vector<int>& mask, PoseSearchReport& report) {
  constexpr int kRefineRounds = 8;
  for (int round = 0; round < kRefineRounds; ++round) {
    std::vector<int> inliers = Agreeing(solver, options.inlierDistance);
    if (inliers == mask || CountSelected(inliers) < options.sampleSize) return;
    if (solver.Solve(robotPoses, markerPoses, inliers) != 0) {
      solver.Solve(robotPoses, markerPoses, mask);  // back to the last solution
      return;
    }
    mask = std::move(inliers);
    ++report.refinements;
  }
}

}  // namespace

int SearchPoseConsensus(IHandEye& solver, const std::vector<Kel::SE3d>& robotPoses,
                        const std::vector<Kel::SE3d>& markerPoses, const PoseSearchOptions& options,
                        std::vector<int>& mask, PoseSearchReport& report) {
  report = PoseSearchReport{};
  mask.clear();
  const std::size_t n = robotPoses.size();
  std::mt19937 engine(options.seed ? *options.seed : std::random_device{}());
  const auto minInliers = static_cast<std::size_t>(static_cast<double>(n) * options.consensusShare);
  long best = -1;
  std::vector<int> bestInliers;
  std::vector<int> bestSample;

  for (int iteration = 0; iteration < options.iterations; ++iteration) {
    std::vector<int> sample(n, 0);
    std::fill_n(sample.begin(), std::min(options.sampleSize, n), kSelected);
    std::shuffle(sample.begin(), sample.end(), engine);
    ++report.samplesTried;
    if (solver.Solve(robotPoses, markerPoses, sample) != 0) continue;
    ++report.samplesSolved;

    const std::vector<Eigen::Vector3d> residuals = solver.GetResiduals();
    std::vector<int> inliers(n, 0);
    std::vector<double> lengths(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      lengths[i] = residuals[i].norm();
      if (options.inlierDistance > lengths[i]) inliers[i] = kSelected;
    }
    const std::size_t count = CountSelected(inliers);
    if (static_cast<long>(count) > best) {
      best = static_cast<long>(count);
      bestInliers = std::move(inliers);
      bestSample = std::move(sample);
      report.sampleResiduals = std::move(lengths);
    }
    if (count > minInliers) break;
  }
  if (best < static_cast<long>(options.sampleSize)) return -1;

  // The solver ends holding the solution of the mask reported.
  if (solver.Solve(robotPoses, markerPoses, bestInliers) == 0) {
    mask = std::move(bestInliers);
  } else {
    solver.Solve(robotPoses, markerPoses, bestSample);
    mask = std::move(bestSample);
    report.fellBack = true;
  }
  RefineMask(solver, robotPoses, markerPoses, options, mask, report);
  report.consensus = CountSelected(mask);
  return 0;
}

}  // namespace TamoHandEye
