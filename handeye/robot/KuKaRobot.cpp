// SPDX-License-Identifier: Apache-2.0
#include "robot/KuKaRobot.h"

#include "api/LibraryLogger.h"
#include "robot/RotationConversions.h"

namespace TamoHandEye {

void KuKaRobot::AddRobotPose(int index, std::vector<Kel::SE3d>& poses) {
  AppendEulerPose(Row(index), kMillimetre, kDegree, "rzyx", poses);
}

void KuKaRobot::ToRobotData(const Kel::SE3d& pose, std::vector<double>& row) {
  WriteEulerRow(pose, 1000.0, kRadianToDegree, "rzyx", row);
}

}  // namespace TamoHandEye
