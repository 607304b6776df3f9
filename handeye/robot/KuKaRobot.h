// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/IRobot.h"

namespace TamoHandEye {

/// KUKA: X, Y, Z in millimetres and A, B, C in degrees about the moving axes Z, Y', X'': Rz(A)·Ry(B)·Rx(C).
/// Millimetres and degrees whatever IsMeter and IsRadian say; ABB rows written as Euler angles read the same way.
class KuKaRobot : public IRobot {
 public:
  using IRobot::IRobot;

  void AddRobotPose(int index, std::vector<Kel::SE3d>& poses) override;
  void ToRobotData(const Kel::SE3d& pose, std::vector<double>& row) override;
};

}  // namespace TamoHandEye
