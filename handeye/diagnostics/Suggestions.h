// SPDX-License-Identifier: Apache-2.0
#pragma once

// The next poses to take: the poses taken solved through the entry path, then candidates turned about a
// spread of axes around them, the marker kept in view, picked one after another by how much each lowers
// the camera translation's σ; each returned as a row of the robot kind's convention.

#include <tarn/PoseSuggestion.h>

#include "solver/EntryPath.h"

#include <Eigen/Core>

#include <string>
#include <vector>

namespace TamoHandEye {

/// The suggestions for input the entry point has not yet checked; may throw (the entry point catches).
ErrorCode SuggestFromTaken(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, const AlgoParam& param,
                           RobotKind kind, const SuggestOptions& options, PoseSuggestions& out);

/// The marker and camera transform a solved entry run gives (X and Z, as the solver holds them for the set-up).
struct RunSolution {
  Kel::SE3d marker;
  Kel::SE3d camera;
};
RunSolution SolutionOf(const EntryRun& run, bool eyeToHand);

/// The flange pose (base_from_flange, metres) as a row of the kind in `convention` and the units of `param`.
ErrorCode RowOfFlange(RobotKind kind, const std::string& convention, const AlgoParam& param,
                      const Eigen::Matrix4d& flange, std::vector<double>& row);

}  // namespace TamoHandEye
