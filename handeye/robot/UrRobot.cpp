// SPDX-License-Identifier: Apache-2.0
#include "robot/UrRobot.h"

#include "api/LibraryLogger.h"
#include "robot/RotationConversions.h"

namespace TamoHandEye {

void UrRobot::AddRobotPose(int index, std::vector<Kel::SE3d>& poses) {
  const std::vector<double>& r = Row(index);
  AppendPose(r, TranslationToMetre(), QuaternionFromRotationVector(r[3], r[4], r[5], AngleToRadian()), poses);
}

void UrRobot::ToRobotData(const Kel::SE3d& pose, std::vector<double>& row) {
  WriteRow(pose, MetreToTranslation(), RotationVectorFromQuaternion(Quaternion(pose)) * RadianToAngle(), row);
}

}  // namespace TamoHandEye
