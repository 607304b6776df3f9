// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/IRobot.h"

#include <memory>
#include <vector>

namespace TamoHandEye {

/// A robot type as the solve entry points use it: owns one convention object, hands it the rows and
/// starts its solve. Construct, SetRobotData, Solve once, destroy.
class Robot {
 public:
  virtual ~Robot();
  Robot(const Robot&) = delete;
  Robot& operator=(const Robot&) = delete;

  /// Replaces the convention object's rows.
  void SetRobotData(std::vector<std::vector<double>> rows);
  /// Runs the convention object's solve with a copy of `solverParam` and a fresh result record, copies
  /// that record into `result` whatever the outcome, and returns the convention object's code; `record`
  /// receives what the solve leaves beside it.
  virtual int Solve(const SolverParam& solverParam, FinalResult& result, SolveRecord& record);

  std::unique_ptr<IRobot> robot;  ///< the convention object

 protected:
  explicit Robot(std::unique_ptr<IRobot> conventionObject);
};

}  // namespace TamoHandEye
