// SPDX-License-Identifier: Apache-2.0
#include "solver/EntryPath.h"

#include "api/LibraryLogger.h"
#include "robot/ABBQuat.h"
#include "robot/Fanuc.h"
#include "robot/Kuka.h"
#include "robot/R123.h"
#include "robot/R1234.h"
#include "robot/R1R2R3.h"
#include "robot/R1R2R3R4.h"
#include "robot/Ur.h"

#include <cmath>
#include <exception>

namespace TamoHandEye {
namespace {

// The first value that is not finite, as "row 3" or "marker 2" (1-based), or empty.
std::string FirstNotFinite(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows) {
  for (std::size_t i = 0; i < markers.size(); ++i) {
    const MarkerBoardResult& m = markers[i];
    if (!std::isfinite(m.x) || !std::isfinite(m.y) || !std::isfinite(m.z))
      return "marker point " + std::to_string(i + 1);
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (const double v : rows[i]) {
      if (!std::isfinite(v)) return "robot row " + std::to_string(i + 1);
    }
  }
  return {};
}

}  // namespace

ErrorCode CheckEntryInput(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                          std::string& failure) {
  if (markers.empty() || rows.empty()) {
    failure = markers.empty() ? "no marker points were given" : "no robot rows were given";
    return Err_Solve_Data_Empty;
  }
  if (markers.size() != rows.size()) {
    failure = std::to_string(markers.size()) + " marker points but " + std::to_string(rows.size()) +
              " robot rows: every shot needs exactly one robot row";
    return Err_Solve_Count_Mismatch;
  }
  const std::size_t length = RowLength(kind);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].size() != length) {
      failure = "robot row " + std::to_string(i + 1) + " has " + std::to_string(rows[i].size()) +
                " values; this robot type needs " + std::to_string(length);
      return Err_Solve_RobotType_Mismatch;
    }
  }
  // A NaN or an infinity would only come back as a meaningless calibration.
  const std::string bad = FirstNotFinite(markers, rows);
  if (!bad.empty()) {
    failure = bad + " holds a value that is not a finite number";
    return Err_Solve_Fail;
  }
  return Success;
}

std::size_t RowLength(RobotKind kind) { return KindInfo(kind).rowLength; }

bool RowsInMetres(RobotKind kind, const AlgoParam& param) { return RowsInMetres(kind, param.IsMeter); }

std::unique_ptr<Robot> MakeRobot(RobotKind kind, const std::vector<MarkerBoardResult>& markers) {
  switch (kind) {
    case RobotKind::Fanuc: return std::make_unique<Fanuc>(markers);
    case RobotKind::Kuka: return std::make_unique<Kuka>(markers);
    case RobotKind::ABBQuat: return std::make_unique<ABBQuat>(markers);
    case RobotKind::Ur: return std::make_unique<Ur>(markers);
    case RobotKind::Common3: return std::make_unique<R123>(markers);
    case RobotKind::Common4: return std::make_unique<R1234>(markers);
  }
  return std::make_unique<Fanuc>(markers);
}

std::vector<std::string> ConventionsOf(RobotKind kind) {
  if (!IsGeneric(kind)) return {KindInfo(kind).convention};
  return KindInfo(kind).rowLength == 7 ? R1R2R3R4::Candidates() : R1R2R3::Candidates();
}

void SetConvention(IRobot& robot, const std::string& key) {
  if (auto* generic3 = dynamic_cast<R1R2R3*>(&robot)) generic3->axes = key;
  if (auto* generic4 = dynamic_cast<R1R2R3R4*>(&robot)) generic4->axes = key;
}

std::string ConventionUsed(RobotKind kind, const IRobot& robot) {
  if (const auto* generic3 = dynamic_cast<const R1R2R3*>(&robot)) return generic3->axes;
  if (const auto* generic4 = dynamic_cast<const R1R2R3R4*>(&robot)) return generic4->axes;
  return ConventionsOf(kind).front();
}

SolverParam ToSolverParam(const AlgoParam& param) {
  SolverParam solverParam;
  solverParam.type = param.HandEyeType != 0;
  solverParam.IsMeter = param.IsMeter;
  solverParam.IsRadian = param.IsRadian;
  solverParam.Exhaust = param.Exhaust;
  solverParam.RansacDist = param.RansacDist;
  return solverParam;
}

ErrorCode RunEntryPoint(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                        const AlgoParam& param, std::optional<std::uint32_t> seed, FinalResult& result, EntryRun* run) {
  std::string failure;
  const ErrorCode input = CheckEntryInput(kind, markers, rows, failure);
  if (input != Success) {
    if (run != nullptr) run->failure = failure;
    return input;
  }
  try {
    std::unique_ptr<Robot> robot = MakeRobot(kind, markers);
    robot->SetRobotData(rows);
    robot->robot->searchSeed = seed;
    robot->robot->screenConventions = run == nullptr || !run->everyConvention;
    FinalResult fresh;
    SolveRecord record;
    const int status = robot->Solve(ToSolverParam(param), fresh, record);
    if (run != nullptr) {
      run->status = status;
      run->robot = std::move(robot);
      run->record = std::move(record);
    }
    if (status != 0) return Err_Solve_Fail;
    result = std::move(fresh);
    return Success;
  } catch (const std::exception& e) {
    // No exception may reach the caller (the desktop program would end); the result stays untouched.
    if (run != nullptr) run->failure = std::string("internal error: ") + e.what();
    return Err_Solve_Fail;
  } catch (...) {
    if (run != nullptr) run->failure = "internal error";
    return Err_Solve_Fail;
  }
}

}  // namespace TamoHandEye
