// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/Robot.h"

namespace TamoHandEye {

/// The robot type of ABB quaternion rows: a ABBQuatRobot convention object.
class ABBQuat : public Robot {
 public:
  explicit ABBQuat(const std::vector<MarkerBoardResult>& markers);
};

}  // namespace TamoHandEye
