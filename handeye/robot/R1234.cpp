// SPDX-License-Identifier: Apache-2.0
#include "robot/R1234.h"

#include "api/LibraryLogger.h"
#include "robot/R1R2R3R4.h"

namespace TamoHandEye {

R1234::R1234(const std::vector<MarkerBoardResult>& markers) : Robot(std::make_unique<R1R2R3R4>(markers)) {}

}  // namespace TamoHandEye
