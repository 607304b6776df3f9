// SPDX-License-Identifier: Apache-2.0
#include <tarn/PosePlan.h>

#include "diagnostics/Plan.h"

#include <exception>
#include <string>

namespace TamoHandEye {

ErrorCode PlanCalibrationPoses(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                               const AlgoParam& param, RobotKind robot, const PlanOptions& options, PosePlan& plan) {
  PosePlan fresh;
  ErrorCode code = Err_Solve_Fail;
  try {
    code = PlanFromTaught(markers, robotRows, param, robot, options, fresh);
  } catch (const std::exception& e) {
    fresh.failure = std::string("internal error: ") + e.what();
    code = Err_Solve_Fail;
  }
  if (code != Success) {
    const std::string why = fresh.failure;
    fresh = PosePlan{};
    fresh.failure = why;
  }
  plan = std::move(fresh);
  return code;
}

}  // namespace TamoHandEye
