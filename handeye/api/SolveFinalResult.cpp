#include <tarn/SolveFinalResult.h>

#include "api/LibraryLogger.h"
#include "robot/ABBQuat.h"
#include "robot/Fanuc.h"
#include "robot/Kuka.h"
#include "robot/R123.h"
#include "robot/R1234.h"
#include "robot/Ur.h"

#include <cmath>
#include <exception>

namespace TamoHandEye {
namespace {

bool AllFinite(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows) {
  for (const MarkerBoardResult& m : markers) {
    if (!std::isfinite(m.x) || !std::isfinite(m.y) || !std::isfinite(m.z)) return false;
  }
  for (const auto& row : rows) {
    for (const double v : row) {
      if (!std::isfinite(v)) return false;
    }
  }
  return true;
}

// Checks the input, runs one robot type's calibration and writes `result` only on success.
template <typename RobotType>
ErrorCode Calibrate(std::size_t rowLength, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                    const AlgoParam& param, FinalResult& result) {
  if (markers.empty() || rows.empty()) return Err_Solve_Data_Empty;
  if (markers.size() != rows.size()) return Err_Solve_Count_Mismatch;
  for (const auto& row : rows) {
    if (row.size() != rowLength) return Err_Solve_RobotType_Mismatch;
  }
  // A NaN or an infinity would only come back as a meaningless calibration.
  if (!AllFinite(markers, rows)) return Err_Solve_Fail;

  try {
    RobotType robot(markers);
    robot.SetRobotData(rows);
    SolverParam solverParam;
    solverParam.type = param.HandEyeType != 0;
    solverParam.IsMeter = param.IsMeter;
    solverParam.IsRadian = param.IsRadian;
    solverParam.Exhaust = param.Exhaust;
    solverParam.RansacDist = param.RansacDist;
    FinalResult fresh;
    if (robot.Solve(solverParam, fresh) != 0) return Err_Solve_Fail;
    result = std::move(fresh);
    return Success;
  } catch (const std::exception&) {
    // No exception may reach the caller (the desktop program would end); the result stays untouched.
    return Err_Solve_Fail;
  } catch (...) {
    return Err_Solve_Fail;
  }
}

}  // namespace

ErrorCode ABBQuatSolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                  const AlgoParam& param, FinalResult& result) {
  return Calibrate<ABBQuat>(7, markers, robotRows, param, result);
}

ErrorCode Common3SolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                  const AlgoParam& param, FinalResult& result) {
  return Calibrate<R123>(6, markers, robotRows, param, result);
}

ErrorCode Common4SolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                  const AlgoParam& param, FinalResult& result) {
  return Calibrate<R1234>(7, markers, robotRows, param, result);
}

ErrorCode FanucSolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                const AlgoParam& param, FinalResult& result) {
  return Calibrate<Fanuc>(6, markers, robotRows, param, result);
}

ErrorCode KukaSolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                               const AlgoParam& param, FinalResult& result) {
  return Calibrate<Kuka>(6, markers, robotRows, param, result);
}

ErrorCode UrSolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                             const AlgoParam& param, FinalResult& result) {
  return Calibrate<Ur>(6, markers, robotRows, param, result);
}

}  // namespace TamoHandEye
