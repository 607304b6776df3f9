// SPDX-License-Identifier: Apache-2.0
#include "robot/FanucRobot.h"

#include "api/LibraryLogger.h"
#include "robot/RotationConversions.h"

namespace TamoHandEye {

void FanucRobot::AddRobotPose(int index, std::vector<Kel::SE3d>& poses) {
  AppendEulerPose(Row(index), kMillimetre, kDegree, "sxyz", poses);
}

void FanucRobot::ToRobotData(const Kel::SE3d& pose, std::vector<double>& row) {
  WriteEulerRow(pose, 1000.0, kRadianToDegree, "sxyz", row);
}

}  // namespace TamoHandEye
