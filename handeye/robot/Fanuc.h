// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/Robot.h"

namespace TamoHandEye {

/// The robot type of FANUC rows (YASKAWA rows too): a FanucRobot convention object.
class Fanuc : public Robot {
 public:
  explicit Fanuc(const std::vector<MarkerBoardResult>& markers);
};

}  // namespace TamoHandEye
