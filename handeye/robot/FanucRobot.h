// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/IRobot.h"

namespace TamoHandEye {

/// FANUC: X, Y, Z in millimetres and W, P, R in degrees about the fixed axes: Rz(R)·Ry(P)·Rx(W).
/// Millimetres and degrees whatever IsMeter and IsRadian say; YASKAWA rows read the same way.
class FanucRobot : public IRobot {
 public:
  using IRobot::IRobot;

  void AddRobotPose(int index, std::vector<Kel::SE3d>& poses) override;
  void ToRobotData(const Kel::SE3d& pose, std::vector<double>& row) override;
};

}  // namespace TamoHandEye
