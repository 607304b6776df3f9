// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/Robot.h"

namespace TamoHandEye {

/// The robot type of UR rows: a UrRobot convention object.
class Ur : public Robot {
 public:
  explicit Ur(const std::vector<MarkerBoardResult>& markers);
};

}  // namespace TamoHandEye
