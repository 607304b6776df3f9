// SPDX-License-Identifier: Apache-2.0
#include "robot/Ur.h"

#include "api/LibraryLogger.h"
#include "robot/UrRobot.h"

namespace TamoHandEye {

Ur::Ur(const std::vector<MarkerBoardResult>& markers) : Robot(std::make_unique<UrRobot>(markers)) {}

}  // namespace TamoHandEye
