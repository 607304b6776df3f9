// SPDX-License-Identifier: Apache-2.0
#include "robot/Robot.h"

#include "api/LibraryLogger.h"

namespace TamoHandEye {

Robot::Robot(std::unique_ptr<IRobot> conventionObject) : robot(std::move(conventionObject)) {}

Robot::~Robot() = default;

void Robot::SetRobotData(std::vector<std::vector<double>> rows) { robot->robotData = std::move(rows); }

int Robot::Solve(const SolverParam& solverParam, FinalResult& result, SolveRecord& record) {
  const SolverParam copy = solverParam;
  FinalResult fresh;
  const int status = robot->Solve(copy, fresh, record);
  result = std::move(fresh);
  return status;
}

}  // namespace TamoHandEye
