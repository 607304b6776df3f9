// SPDX-License-Identifier: Apache-2.0
#include "robot/R123.h"

#include "api/LibraryLogger.h"
#include "robot/R1R2R3.h"

namespace TamoHandEye {

R123::R123(const std::vector<MarkerBoardResult>& markers) : Robot(std::make_unique<R1R2R3>(markers)) {}

}  // namespace TamoHandEye
