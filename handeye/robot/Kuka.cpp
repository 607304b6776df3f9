// SPDX-License-Identifier: Apache-2.0
#include "robot/Kuka.h"

#include "api/LibraryLogger.h"
#include "robot/KuKaRobot.h"

namespace TamoHandEye {

Kuka::Kuka(const std::vector<MarkerBoardResult>& markers) : Robot(std::make_unique<KuKaRobot>(markers)) {}

}  // namespace TamoHandEye
