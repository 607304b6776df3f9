// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/IRobot.h"

#include <string>

namespace TamoHandEye {

/// Generic rows X, Y, Z, R1, R2, R3 whose rotation convention is not stated: one of the 24 Euler axes keys
/// or "axis" (a rotation vector). Millimetres unless IsMeter, degrees unless IsRadian. Solve tries every
/// candidate and keeps the one that fits best; `axes` then names it.
class R1R2R3 : public IRobot {
 public:
  using IRobot::IRobot;

  int Solve(const SolverParam& solverParam, FinalResult& result, SolveRecord& record) override;
  void AddRobotPose(int index, std::vector<Kel::SE3d>& poses) override;
  void ToRobotData(const Kel::SE3d& pose, std::vector<double>& row) override;

  /// The candidates in the order Solve tries them: the 24 axes keys in table order, then "axis".
  static const std::vector<std::string>& Candidates();

  std::string axes;  ///< the convention the conversions apply; set by Solve

 private:
  bool IsRotationVector() const;
};

}  // namespace TamoHandEye
