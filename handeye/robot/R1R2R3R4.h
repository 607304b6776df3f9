// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/IRobot.h"

#include <string>

namespace TamoHandEye {

/// Generic rows X, Y, Z, R1, R2, R3, R4: a quaternion with the scalar first ("wxyz") or last ("xyzw").
/// Millimetres unless IsMeter. Solve tries both orders and keeps the one that fits best; `axes` then
/// names it.
class R1R2R3R4 : public IRobot {
 public:
  using IRobot::IRobot;

  int Solve(const SolverParam& solverParam, FinalResult& result, SolveRecord& record) override;
  void AddRobotPose(int index, std::vector<Kel::SE3d>& poses) override;
  void ToRobotData(const Kel::SE3d& pose, std::vector<double>& row) override;

  /// The candidates in the order Solve tries them: "wxyz", then "xyzw".
  static const std::vector<std::string>& Candidates();

  std::string axes;  ///< the quaternion order the conversions apply; set by Solve

 private:
  enum class Order { ScalarFirst, ScalarLast, Unsupported };
  /// The order `axes` names; an unsupported key is reported on standard output.
  Order CurrentOrder() const;
};

}  // namespace TamoHandEye
