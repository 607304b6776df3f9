// SPDX-License-Identifier: Apache-2.0
#include <tarn/CalibrationCheck.h>

#include "diagnostics/SavedCheck.h"
#include "solver/EntryPath.h"

#include <exception>
#include <string>

namespace TamoHandEye {

ErrorCode CheckCalibration(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                           const AlgoParam& param, RobotKind robot, const SavedCalibration& saved,
                           const CheckOptions& options, CalibrationCheck& check) {
  return CheckCalibration(markers, {}, robotRows, param, robot, saved, options, check);
}

ErrorCode CheckCalibration(const std::vector<MarkerBoardResult>& markers, const std::vector<ShotPlane>& shots,
                           const RobotRows& robotRows, const AlgoParam& param, RobotKind robot,
                           const SavedCalibration& saved, const CheckOptions& options, CalibrationCheck& check) {
  CalibrationCheck fresh;
  ErrorCode code = CheckEntryInput(robot, markers, robotRows, fresh.failure);
  if (code == Success && !shots.empty() && shots.size() != markers.size()) {
    code = Err_Solve_Count_Mismatch;
    fresh.failure = "the board planes number " + std::to_string(shots.size()) + ", the markers " +
                    std::to_string(markers.size()) + ": give one plane per marker, or none";
  }
  try {
    if (code == Success) code = CheckAgainstSaved(markers, shots, robotRows, param, robot, saved, options, fresh);
  } catch (const std::exception& e) {
    code = Err_Solve_Fail;
    fresh.failure = std::string("internal error: ") + e.what();
  } catch (...) {
    code = Err_Solve_Fail;
    fresh.failure = "internal error";
  }
  if (code != Success) {
    const std::string why = fresh.failure;
    fresh = CalibrationCheck();
    fresh.failure = why;
  }
  check = std::move(fresh);
  return code;
}

}  // namespace TamoHandEye
