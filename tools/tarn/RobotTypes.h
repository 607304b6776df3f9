#pragma once

// The desktop program's eight robot types, by a short name for the command line.

#include <tarn/SolveFinalResult.h>

#include "HandEyeScene.h"

#include <string>
#include <vector>

namespace TarnCli {

using EntryPoint = TamoHandEye::ErrorCode (*)(const std::vector<TamoHandEye::MarkerBoardResult>&,
                                              const TamoHandEye::RobotRows&, const TamoHandEye::AlgoParam&,
                                              TamoHandEye::FinalResult&);

struct RobotType {
  std::string name;         ///< command-line name, e.g. "fanuc"
  std::string catalogue;    ///< the desktop program's text, e.g. "FANUC [X,Y,Z]mm|[W P R]deg"
  int index;                ///< position in the desktop program's list
  std::size_t rowLength;    ///< 6 or 7 values per robot row
  EntryPoint entry;         ///< the library function that solves it
  bool meterChoice;         ///< --meter is honoured (else millimetres)
  bool radianChoice;        ///< --radian is honoured (else the type's own angle unit)
  bool radian;              ///< the type's own angle unit is radians (UR)
  TarnTest::RowFormat format;  ///< how synthetic rows of this type are written
  std::vector<std::string> rotationNames;  ///< the rotation columns, e.g. W P R
};

const std::vector<RobotType>& RobotTypes();
/// The type of that name (case-insensitive), or nullptr.
const RobotType* FindRobotType(const std::string& name);
/// "generic3, generic4, fanuc, …" for help texts and messages.
std::string RobotTypeNames();

}  // namespace TarnCli
