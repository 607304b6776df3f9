// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/IRobot.h"

namespace TamoHandEye {

/// UR: X, Y, Z and the rotation vector RX, RY, RZ; millimetres unless IsMeter, degrees unless IsRadian.
class UrRobot : public IRobot {
 public:
  using IRobot::IRobot;

  void AddRobotPose(int index, std::vector<Kel::SE3d>& poses) override;
  void ToRobotData(const Kel::SE3d& pose, std::vector<double>& row) override;
};

}  // namespace TamoHandEye
