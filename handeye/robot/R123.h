// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/Robot.h"

namespace TamoHandEye {

/// The robot type of generic three-angle rows: a R1R2R3 convention object.
class R123 : public Robot {
 public:
  explicit R123(const std::vector<MarkerBoardResult>& markers);
};

}  // namespace TamoHandEye
