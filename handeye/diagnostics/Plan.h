// SPDX-License-Identifier: Apache-2.0
#pragma once

// A pose plan around one taught pose: a short first stage without a camera guess, or the full plan from a guess
// or from the first stage's shots, each pose a row of the robot kind's convention.

#include <tarn/PosePlan.h>

#include <vector>

namespace TamoHandEye {

/// The plan for input the entry point has not yet checked; may throw (the entry point catches).
ErrorCode PlanFromTaught(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, const AlgoParam& param,
                         RobotKind kind, const PlanOptions& options, PosePlan& plan);

}  // namespace TamoHandEye
