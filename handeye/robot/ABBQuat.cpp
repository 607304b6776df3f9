// SPDX-License-Identifier: Apache-2.0
#include "robot/ABBQuat.h"

#include "api/LibraryLogger.h"
#include "robot/ABBQuatRobot.h"

namespace TamoHandEye {

ABBQuat::ABBQuat(const std::vector<MarkerBoardResult>& markers) : Robot(std::make_unique<ABBQuatRobot>(markers)) {}

}  // namespace TamoHandEye
