// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/Robot.h"

namespace TamoHandEye {

/// The robot type of generic quaternion rows: a R1R2R3R4 convention object.
class R1234 : public Robot {
 public:
  explicit R1234(const std::vector<MarkerBoardResult>& markers);
};

}  // namespace TamoHandEye
