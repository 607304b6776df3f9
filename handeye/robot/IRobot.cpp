// SPDX-License-Identifier: Apache-2.0
#include "robot/IRobot.h"

#include "robot/RotationConversions.h"

namespace TamoHandEye {

IRobot::IRobot(const std::vector<MarkerBoardResult>& markerRecords) : markers(markerRecords) {}

IRobot::~IRobot() = default;

void IRobot::AddRobotPose(int /*index*/, std::vector<Kel::SE3d>& poses) { poses.clear(); }

void IRobot::ToRobotData(const Kel::SE3d& /*pose*/, std::vector<double>& row) { row.clear(); }

void IRobot::AppendPose(const std::vector<double>& row, double toMetre, const Eigen::Vector4d& xyzw,
                        std::vector<Kel::SE3d>& poses) {
  Kel::SO3d rotation(xyzw);
  rotation.Normalize();
  poses.emplace_back(Eigen::Vector3d(row[0], row[1], row[2]) * toMetre, rotation);
}

void IRobot::WriteRow(const Kel::SE3d& pose, double fromMetre, const Eigen::VectorXd& rotation,
                      std::vector<double>& row) {
  row.clear();
  row.reserve(3 + static_cast<std::size_t>(rotation.size()));
  for (int i = 0; i < 3; ++i) row.push_back(pose[i] * fromMetre);
  for (Eigen::Index i = 0; i < rotation.size(); ++i) row.push_back(rotation(i));
}

void IRobot::AppendEulerPose(const std::vector<double>& row, double toMetre, double toRadian, const std::string& axes,
                             std::vector<Kel::SE3d>& poses) {
  AppendPose(row, toMetre, QuaternionFromEuler(row[3] * toRadian, row[4] * toRadian, row[5] * toRadian, axes), poses);
}

void IRobot::WriteEulerRow(const Kel::SE3d& pose, double fromMetre, double fromRadian, const std::string& axes,
                           std::vector<double>& row) {
  WriteRow(pose, fromMetre, EulerFromQuaternion(Quaternion(pose), axes) * fromRadian, row);
}

Eigen::Vector4d IRobot::QuaternionFromRotationVector(double r1, double r2, double r3, double toRadian) {
  const Eigen::Vector3d r = Eigen::Vector3d(r1, r2, r3) * toRadian;
  return QuaternionAboutAxis(r.norm(), r);
}

}  // namespace TamoHandEye
