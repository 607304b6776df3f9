// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/IRobot.h"

namespace TamoHandEye {

/// ABB: X, Y, Z in millimetres and the quaternion Q1..Q4 with the scalar first (w, x, y, z).
/// Millimetres whatever IsMeter says; the quaternion may have any length (normalised on reading).
class ABBQuatRobot : public IRobot {
 public:
  using IRobot::IRobot;

  void AddRobotPose(int index, std::vector<Kel::SE3d>& poses) override;
  void ToRobotData(const Kel::SE3d& pose, std::vector<double>& row) override;
};

}  // namespace TamoHandEye
