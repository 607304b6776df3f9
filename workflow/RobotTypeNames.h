// SPDX-License-Identifier: Apache-2.0
#pragma once

// The robot types' short names for help texts and messages, read from the library's robot table (plain
// data in a header: a program that does not load the library can list them).

#include <tarn/RobotTypes.h>

#include <string>

namespace TarnWorkflow {

/// "generic3, generic4, fanuc, …" of `types`, the robot list by default.
template <class Types>
std::string RobotTypeNames(const Types& types) {
  std::string names;
  for (const TamoHandEye::RobotTypeInfo& type : types) names += (names.empty() ? "" : ", ") + std::string(type.name);
  return names;
}
inline std::string RobotTypeNames() { return RobotTypeNames(TamoHandEye::kRobotTypes); }

}  // namespace TarnWorkflow
