// SPDX-License-Identifier: Apache-2.0
#include <tarn/SolveFinalResult.h>

#include "solver/EntryPath.h"

namespace TamoHandEye {

ErrorCode ABBQuatSolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                  const AlgoParam& param, FinalResult& result) {
  return RunEntryPoint(RobotKind::ABBQuat, markers, robotRows, param, std::nullopt, result);
}

ErrorCode Common3SolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                  const AlgoParam& param, FinalResult& result) {
  return RunEntryPoint(RobotKind::Common3, markers, robotRows, param, std::nullopt, result);
}

ErrorCode Common4SolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                  const AlgoParam& param, FinalResult& result) {
  return RunEntryPoint(RobotKind::Common4, markers, robotRows, param, std::nullopt, result);
}

ErrorCode FanucSolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                const AlgoParam& param, FinalResult& result) {
  return RunEntryPoint(RobotKind::Fanuc, markers, robotRows, param, std::nullopt, result);
}

ErrorCode KukaSolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                               const AlgoParam& param, FinalResult& result) {
  return RunEntryPoint(RobotKind::Kuka, markers, robotRows, param, std::nullopt, result);
}

ErrorCode UrSolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                             const AlgoParam& param, FinalResult& result) {
  return RunEntryPoint(RobotKind::Ur, markers, robotRows, param, std::nullopt, result);
}

}  // namespace TamoHandEye
