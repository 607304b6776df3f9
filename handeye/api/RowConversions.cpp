// SPDX-License-Identifier: Apache-2.0
#include <tarn/RowConversions.h>

#include "solver/EntryPath.h"

#include <Eigen/Geometry>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>

namespace TamoHandEye {
namespace {

constexpr double kRotationTolerance = 1e-6;

// The convention object of the kind reading `convention`, or nullptr when the kind does not take it.
std::unique_ptr<Robot> ConventionObject(RobotKind kind, std::string convention, const AlgoParam& units) {
  std::transform(convention.begin(), convention.end(), convention.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::vector<std::string> keys = ConventionsOf(kind);
  const bool generic = IsGeneric(kind);
  if (convention.empty() && generic) return nullptr;
  if (convention.empty()) convention = keys.front();
  if (std::find(keys.begin(), keys.end(), convention) == keys.end()) return nullptr;
  std::unique_ptr<Robot> robot = MakeRobot(kind, {});
  robot->robot->param = ToSolverParam(units);
  SetConvention(*robot->robot, convention);
  return robot;
}

bool AllFinite(const std::vector<double>& values) {
  return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

}  // namespace

ErrorCode RobotRowToMatrix(RobotKind kind, const std::string& convention, const AlgoParam& units,
                           const std::vector<double>& row, std::vector<std::vector<double>>& matrix) {
  try {
    std::unique_ptr<Robot> robot = ConventionObject(kind, convention, units);
    if (!robot || row.size() != RowLength(kind)) return Err_Solve_RobotType_Mismatch;
    if (!AllFinite(row)) return Err_Solve_Fail;
    robot->robot->robotData = {row};
    std::vector<Kel::SE3d> poses;
    robot->robot->AddRobotPose(0, poses);
    if (poses.size() != 1) return Err_Solve_Fail;
    const double toUnit = RowsInMetres(kind, units) ? 1.0 : 1000.0;
    Eigen::Matrix4d m = poses.front().Matrix();
    m.topRightCorner<3, 1>() *= toUnit;
    std::vector<std::vector<double>> out(4, std::vector<double>(4));
    for (int r = 0; r < 4; ++r) {
      for (int c = 0; c < 4; ++c) out[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = m(r, c);
    }
    matrix = std::move(out);
    return Success;
  } catch (const std::exception&) {
    return Err_Solve_Fail;
  }
}

ErrorCode MatrixToRobotRow(RobotKind kind, const std::string& convention, const AlgoParam& units,
                           const std::vector<std::vector<double>>& matrix, std::vector<double>& row) {
  try {
    std::unique_ptr<Robot> robot = ConventionObject(kind, convention, units);
    if (!robot) return Err_Solve_RobotType_Mismatch;
    if (matrix.size() != 4) return Err_Solve_Fail;
    Eigen::Matrix4d m;
    for (int r = 0; r < 4; ++r) {
      const std::vector<double>& values = matrix[static_cast<std::size_t>(r)];
      if (values.size() != 4 || !AllFinite(values)) return Err_Solve_Fail;
      for (int c = 0; c < 4; ++c) m(r, c) = values[static_cast<std::size_t>(c)];
    }
    const Eigen::Matrix3d rotation = m.topLeftCorner<3, 3>();
    const bool isRotation =
        (rotation.transpose() * rotation - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff() <= kRotationTolerance &&
        std::abs(rotation.determinant() - 1.0) <= kRotationTolerance;
    if (!isRotation || m.row(3) != Eigen::RowVector4d(0, 0, 0, 1)) return Err_Solve_Fail;
    const double fromUnit = RowsInMetres(kind, units) ? 1.0 : 0.001;
    const Eigen::Quaterniond q(rotation);
    const Kel::SE3d pose(m.topRightCorner<3, 1>() * fromUnit, Kel::SO3d(q.normalized()));
    std::vector<double> out;
    robot->robot->ToRobotData(pose, out);
    row = std::move(out);
    return Success;
  } catch (const std::exception&) {
    return Err_Solve_Fail;
  }
}

}  // namespace TamoHandEye
