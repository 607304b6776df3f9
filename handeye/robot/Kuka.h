// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/Robot.h"

namespace TamoHandEye {

/// The robot type of KUKA rows (ABB Euler rows too): a KuKaRobot convention object.
class Kuka : public Robot {
 public:
  explicit Kuka(const std::vector<MarkerBoardResult>& markers);
};

}  // namespace TamoHandEye
