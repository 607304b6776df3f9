#pragma once

// The eight robot types of the desktop program's robot list, as data: the names the command line and the
// Python module use, the list's display texts, the parameter table's columns, the units a type's rows
// are in, and the library function that solves it.

#include <tarn/CalibrationReport.h>
#include <tarn/SolveFinalResult.h>

#include "HandEyeScene.h"
#include "RobotTypeNames.h"

#include <string>
#include <vector>

namespace TarnWorkflow {

using EntryPoint = TamoHandEye::ErrorCode (*)(const std::vector<TamoHandEye::MarkerBoardResult>&,
                                              const TamoHandEye::RobotRows&, const TamoHandEye::AlgoParam&,
                                              TamoHandEye::FinalResult&);

struct RobotType {
  std::string name;                        ///< short name, e.g. "fanuc"
  std::string text;                        ///< the robot list's display text, e.g. "FANUC [X,Y,Z]mm|[W P R]deg"
  int index;                               ///< position in the robot list
  std::size_t rowLength;                   ///< 6 or 7 values per robot row
  EntryPoint entry;                        ///< the library function that solves it
  TamoHandEye::RobotKind kind;             ///< the same entry point, as the calibration report names it
  bool meterChoice;                        ///< the rows may be in metres (IsMeter is honoured; else millimetres)
  bool radianChoice;                       ///< the rows may be in radians or degrees (IsRadian is honoured)
  bool radian;                             ///< the type's own angle unit is radians (UR)
  TarnSim::RowFormat format;               ///< how synthetic rows of this type are written
  std::vector<std::string> rotationNames;  ///< the rotation columns, e.g. W P R

  /// X, Y, Z and the rotation columns: the robot part of the parameter table's header.
  std::vector<std::string> ColumnNames() const;
  /// The settings of a calculation with this type: the unit flags the type does not honour are set as
  /// its rows are (millimetres; degrees, or radians for UR); `ransacMetres` below 0 means no pose search.
  TamoHandEye::AlgoParam Settings(bool eyeToHand, bool meter, bool radianRows, double ransacMetres) const;
};

/// In the order of the robot list.
const std::vector<RobotType>& RobotTypes();
/// The type of that short name (any letter case), or nullptr.
const RobotType* FindRobotType(const std::string& name);
/// The type whose display text is `text` exactly, or nullptr.
const RobotType* RobotTypeOfText(const std::string& text);
/// The type at that list position, or nullptr.
const RobotType* RobotTypeAt(int index);

}  // namespace TarnWorkflow
