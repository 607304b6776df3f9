// SPDX-License-Identifier: Apache-2.0
#pragma once

// The robot kinds the library solves and the robot types the programs list: the one place their facts are
// kept. A kind is a rotation convention with its row length and units (what an entry point reads); a type
// is an entry of the robot list (its short name, display text and rotation columns) over one kind. A new
// type with an existing convention is one row of `kRobotTypes`.
//
// The tables are plain data in this header, so a program can list the types without loading the library.

#include <array>
#include <cstddef>
#include <string_view>

namespace TamoHandEye {

/// Which entry point solves the rows.
enum class RobotKind { Fanuc, Kuka, ABBQuat, Ur, Common3, Common4 };

struct RobotKindInfo {
  RobotKind kind;
  const char* name;        ///< for messages, e.g. "KUKA (or ABB Euler)"
  const char* nameZh;      ///< the same in Chinese
  std::size_t rowLength;   ///< X, Y, Z and the rotation values: 6 or 7
  bool readsMeter;         ///< the entry point honours AlgoParam::IsMeter (else millimetres)
  bool readsRadian;        ///< the entry point honours AlgoParam::IsRadian
  bool offersMeter;        ///< the programs let the operator choose metres (else the rows are millimetres)
  bool offersRadian;       ///< the programs let the operator choose radians or degrees
  bool radian;             ///< where no angle unit is offered: the rows' angles are radians (else degrees)
  bool quaternion;         ///< the rotation is a unit-free quaternion (no angle unit at all)
  const char* convention;  ///< the one reading of a vendor kind; empty for a generic kind (it has candidates)
};

// clang-format off
inline constexpr RobotKindInfo kRobotKinds[] = {
    // kind               name                       nameZh                   len  reads m/rad  offers m/rad  rad    quat
    {RobotKind::Fanuc,   "FANUC (or YASKAWA)",      "FANUC（或 YASKAWA）",     6, false, false, false, false, false, false, "sxyz"},
    {RobotKind::Kuka,    "KUKA (or ABB Euler)",     "KUKA（或 ABB 欧拉角）",    6, false, false, false, false, false, false, "rzyx"},
    {RobotKind::ABBQuat, "ABB quaternion",          "ABB 四元数",              7, false, false, false, false, false, true,  "wxyz"},
    {RobotKind::Ur,      "UR",                      "UR",                     6, true,  true,  false, false, true,  false, "axis"},
    {RobotKind::Common3, "generic X Y Z R1 R2 R3",  "通用 XYZR1R2R3",          6, true,  true,  true,  true,  false, false, ""},
    {RobotKind::Common4, "generic quaternion",      "通用 XYZR1R2R3R4",        7, true,  false, true,  false, false, true,  ""},
};
// clang-format on

struct RobotTypeInfo {
  const char* name;                     ///< the short name the command line and Python take, e.g. "fanuc"
  const char* text;                     ///< the robot list's display text
  RobotKind kind;                       ///< the convention its rows are in
  std::array<const char*, 4> rotation;  ///< the rotation columns' names (the kind's row length − 3 of them)
};

/// In the order of the desktop program's robot list.
// clang-format off
inline constexpr RobotTypeInfo kRobotTypes[] = {
    {"generic3",  "XYZR1R2R3",                       RobotKind::Common3, {"R1", "R2", "R3", nullptr}},
    {"generic4",  "XYZR1R2R3R4",                     RobotKind::Common4, {"R1", "R2", "R3", "R4"}},
    {"fanuc",     "FANUC [X,Y,Z]mm|[W P R]deg",      RobotKind::Fanuc,   {"W", "P", "R", nullptr}},
    {"abb-euler", "ABB [X,Y,Z]mm|[EZ EY EX]deg",     RobotKind::Kuka,    {"EZ", "EY", "EX", nullptr}},
    {"kuka",      "KUKA [X,Y,Z]mm|[A B C]deg",       RobotKind::Kuka,    {"A", "B", "C", nullptr}},
    {"yaskawa",   "YASKAWA [X,Y,Z]mm|[RX RY RZ]deg", RobotKind::Fanuc,   {"RX", "RY", "RZ", nullptr}},
    {"abb-quat",  "ABB [X,Y,Z]mm|[Q1 Q2 Q3 Q4]deg",  RobotKind::ABBQuat, {"Q1", "Q2", "Q3", "Q4"}},
    {"ur",        "UR [X,Y,Z]mm|[RX RY RZ]rad",      RobotKind::Ur,      {"RX", "RY", "RZ", nullptr}},
};
// clang-format on

/// The facts of a kind.
constexpr const RobotKindInfo& KindInfo(RobotKind kind) {
  for (const RobotKindInfo& info : kRobotKinds) {
    if (info.kind == kind) return info;
  }
  return kRobotKinds[0];
}

/// The kind is generic: its rows may be in any of several conventions, found from the data.
constexpr bool IsGeneric(RobotKind kind) { return std::string_view(KindInfo(kind).convention).empty(); }

/// The rows' translations are metres under `isMeter` (the kinds that read the flag); millimetres otherwise.
constexpr bool RowsInMetres(RobotKind kind, bool isMeter) { return isMeter && KindInfo(kind).readsMeter; }

namespace RobotTableChecks {
constexpr bool Consistent() {
  for (const RobotTypeInfo& type : kRobotTypes) {
    const RobotKindInfo& kind = KindInfo(type.kind);
    if (kind.kind != type.kind) return false;
    for (std::size_t k = 0; k < type.rotation.size(); ++k) {
      if ((type.rotation[k] != nullptr) != (k + 3 < kind.rowLength)) return false;
    }
  }
  for (const RobotKindInfo& kind : kRobotKinds) {
    if ((kind.offersMeter && !kind.readsMeter) || (kind.offersRadian && !kind.readsRadian)) return false;
  }
  return true;
}
static_assert(Consistent(),
              "every robot type's kind is in kRobotKinds, with one rotation name per rotation value, "
              "and no unit is offered that the kind does not read");
}  // namespace RobotTableChecks

}  // namespace TamoHandEye
