// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "solver/IHandEye.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace TamoHandEye {

/// The settings of the random-sample consensus over the poses.
struct PoseSearchOptions {
  std::size_t sampleSize = 5;         ///< poses per random sample (also the smallest consensus)
  int iterations = 100;               ///< samples drawn at the most
  std::optional<std::uint32_t> seed;  ///< the random engine's seed; none: drawn from the system's random device
  double inlierDistance = 0.0;        ///< a pose agrees when its residual is below this, metres
  double consensusShare = 0.8;        ///< a sample agreed with by more than this share of the poses ends the search
};

/// What a search did.
struct PoseSearchReport {
  int samplesTried = 0;       ///< samples drawn
  int samplesSolved = 0;      ///< of those, samples whose solve succeeded
  std::size_t consensus = 0;  ///< poses in the returned mask
  bool fellBack = false;      ///< the consensus did not solve; the solution started from its sample alone
  int refinements = 0;        ///< solves again over the poses agreeing with the solution, until the mask held
  /// Each pose's residual (metres) under the solution of the sample that won, the reason a pose was
  /// dropped (it was not below the inlier distance); empty when no sample solved.
  std::vector<double> sampleResiduals;
};

/// Draws samples of `sampleSize` poses, solves each, and counts the poses whose residual is below the
/// inlier distance; the first sample agreed with by more than `consensusShare` of the poses, or else the
/// best (the earliest of the most agreed), wins; then solves over its agreeing poses, or, when that
/// fails, over the sample itself; then again over the poses agreeing with that solution until the mask
/// stops changing (a few rounds at most; a round that would leave fewer than `sampleSize` poses or fail
/// keeps the last solution). `solver` ends holding the solution of the mask in `mask` (255 used, 0
/// dropped). 0 solved, -1 no sample was agreed with by `sampleSize` poses (nothing returned).
int SearchPoseConsensus(IHandEye& solver, const std::vector<Kel::SE3d>& robotPoses,
                        const std::vector<Kel::SE3d>& markerPoses, const PoseSearchOptions& options,
                        std::vector<int>& mask, PoseSearchReport& report);

}  // namespace TamoHandEye
