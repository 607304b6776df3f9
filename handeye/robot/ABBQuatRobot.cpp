// SPDX-License-Identifier: Apache-2.0
#include "robot/ABBQuatRobot.h"

#include "api/LibraryLogger.h"
#include "robot/RotationConversions.h"

namespace TamoHandEye {

void ABBQuatRobot::AddRobotPose(int index, std::vector<Kel::SE3d>& poses) {
  const std::vector<double>& r = Row(index);
  AppendPose(r, kMillimetre, Eigen::Vector4d(r[4], r[5], r[6], r[3]), poses);
}

void ABBQuatRobot::ToRobotData(const Kel::SE3d& pose, std::vector<double>& row) {
  const Eigen::Vector4d q = Quaternion(pose);
  WriteRow(pose, 1000.0, Eigen::Vector4d(q(3), q(0), q(1), q(2)), row);
}

}  // namespace TamoHandEye
