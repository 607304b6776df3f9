// SPDX-License-Identifier: Apache-2.0
#pragma once

// The robot list's types as the programs use them, built from the library's robot table
// (`TamoHandEye::kRobotTypes`, `kRobotKinds`): the names the command line and the Python module take, the
// list's display texts, the parameter table's columns, the units a type's rows may be in.

#include <tarn/CalibrationReport.h>
#include <tarn/RobotTypes.h>

#include "HandEyeScene.h"
#include "RobotTypeNames.h"

#include <optional>
#include <string>
#include <vector>

namespace TarnWorkflow {

struct RobotType {
  std::string name;                        ///< short name, e.g. "fanuc"
  std::string text;                        ///< the robot list's display text, e.g. "FANUC [X,Y,Z]mm|[W P R]deg"
  int index;                               ///< position in the robot list
  std::size_t rowLength;                   ///< 6 or 7 values per robot row
  TamoHandEye::RobotKind kind;             ///< the convention its rows are in (the entry point that solves it)
  bool meterChoice;                        ///< the rows may be in metres (IsMeter is honoured; else millimetres)
  bool radianChoice;                       ///< the rows may be in radians or degrees (IsRadian is honoured)
  bool radian;                             ///< the type's own angle unit is radians (UR)
  TarnSim::RowFormat format;               ///< how synthetic rows of this type are written
  std::vector<std::string> rotationNames;  ///< the rotation columns, e.g. W P R

  /// X, Y, Z and the rotation columns: the robot part of the parameter table's header.
  std::vector<std::string> ColumnNames() const;
  /// The settings of a calculation with this type: the unit flags the type does not offer are set as
  /// its rows are (millimetres; degrees, or radians for UR); `ransacMetres` below 0 means no pose search.
  TamoHandEye::AlgoParam Settings(bool eyeToHand, bool meter, bool radianRows, double ransacMetres) const;
};

/// A robot row of finite numbers that still is no pose, which the programs refuse (the entry points would
/// read it as no rotation, or fail inside): for a type whose rotation is a quaternion, a quaternion of no
/// length; for any type, a value beyond ±kMostRowValue (no position or angle is that large).
struct UnusableRow {
  std::size_t row = 0;          ///< from 0
  std::size_t column = 0;       ///< from 0: the value out of range; the first quaternion column for a zero one
  bool zeroQuaternion = false;  ///< the quaternion has no length (otherwise the value is out of range)
  double value = 0.0;
  std::string Message() const;    ///< "robot row 3: …"
  std::string MessageZh() const;  ///< "第3行机器人数据…"
};
constexpr double kMostRowValue = 1e6;
/// The first such row, or nothing.
std::optional<UnusableRow> FindUnusableRow(const RobotType& type, const TamoHandEye::RobotRows& rows);

/// The types of a robot table, in its order.
std::vector<RobotType> RobotTypesOf(const std::vector<TamoHandEye::RobotTypeInfo>& table);
/// The robot list's types (the library's table), in its order.
const std::vector<RobotType>& RobotTypes();
/// The type of that short name (any letter case) in `types`, or nullptr.
const RobotType* FindRobotType(const std::string& name, const std::vector<RobotType>& types = RobotTypes());
/// The type whose display text is `text` exactly, or nullptr.
const RobotType* RobotTypeOfText(const std::string& text);
/// The type at that list position, or nullptr.
const RobotType* RobotTypeAt(int index);

}  // namespace TarnWorkflow
