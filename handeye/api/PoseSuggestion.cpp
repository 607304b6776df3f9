// SPDX-License-Identifier: Apache-2.0
#include <tarn/PoseSuggestion.h>

#include "diagnostics/Suggestions.h"

#include <exception>
#include <string>

namespace TamoHandEye {

ErrorCode SuggestNextPoses(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                           const AlgoParam& param, RobotKind robot, const SuggestOptions& options,
                           PoseSuggestions& suggestions) {
  suggestions = PoseSuggestions{};
  try {
    return SuggestFromTaken(markers, robotRows, param, robot, options, suggestions);
  } catch (const std::exception& e) {
    suggestions = PoseSuggestions{};
    suggestions.failure = std::string("internal error: ") + e.what();
    return Err_Solve_Fail;
  }
}

}  // namespace TamoHandEye
