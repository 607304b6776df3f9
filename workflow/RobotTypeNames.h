#pragma once

// The robot types' short names, in the order of the desktop program's robot list: the one list the
// robot types are built from, readable by a program that does not load the library.

#include <iterator>
#include <string>

namespace TarnWorkflow {

inline constexpr const char* kRobotTypeNames[] = {"generic3", "generic4", "fanuc",    "abb-euler",
                                                  "kuka",     "yaskawa",  "abb-quat", "ur"};
inline constexpr std::size_t kRobotTypeCount = std::size(kRobotTypeNames);

/// "generic3, generic4, fanuc, …" for help texts and messages.
inline std::string RobotTypeNames() {
  std::string names;
  for (const char* name : kRobotTypeNames) names += (names.empty() ? "" : ", ") + std::string(name);
  return names;
}

}  // namespace TarnWorkflow
