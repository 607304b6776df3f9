// SPDX-License-Identifier: Apache-2.0
#include "robot/Fanuc.h"

#include "api/LibraryLogger.h"
#include "robot/FanucRobot.h"

namespace TamoHandEye {

Fanuc::Fanuc(const std::vector<MarkerBoardResult>& markers) : Robot(std::make_unique<FanucRobot>(markers)) {}

}  // namespace TamoHandEye
