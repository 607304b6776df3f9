#include "RobotTypes.h"

#include <algorithm>
#include <cctype>

namespace TarnWorkflow {

using namespace TamoHandEye;
using TarnSim::RowFormat;

std::vector<std::string> RobotType::ColumnNames() const {
  std::vector<std::string> names{"X", "Y", "Z"};
  names.insert(names.end(), rotationNames.begin(), rotationNames.end());
  return names;
}

AlgoParam RobotType::Settings(bool eyeToHand, bool meter, bool radianRows, double ransacMetres) const {
  AlgoParam param;
  param.HandEyeType = eyeToHand ? 1 : 0;
  param.IsMeter = meterChoice && meter;
  param.IsRadian = radianChoice ? radianRows : radian;
  param.Exhaust = ransacMetres >= 0.0;
  param.RansacDist = std::max(ransacMetres, 0.0);
  return param;
}

const std::vector<RobotType>& RobotTypes() {
  // One robot type a row.
  // clang-format off
  static const std::vector<RobotType> types = {
      {kRobotTypeNames[0], "XYZR1R2R3", 0, 6, Common3SolveFinalResult, RobotKind::Common3, true, true, false,
       RowFormat::Kuka, {"R1", "R2", "R3"}},
      {kRobotTypeNames[1], "XYZR1R2R3R4", 1, 7, Common4SolveFinalResult, RobotKind::Common4, true, false, false,
       RowFormat::Xyzw, {"R1", "R2", "R3", "R4"}},
      {kRobotTypeNames[2], "FANUC [X,Y,Z]mm|[W P R]deg", 2, 6, FanucSolveFinalResult, RobotKind::Fanuc, false, false, false,
       RowFormat::Fanuc, {"W", "P", "R"}},
      {kRobotTypeNames[3], "ABB [X,Y,Z]mm|[EZ EY EX]deg", 3, 6, KukaSolveFinalResult, RobotKind::Kuka, false, false, false,
       RowFormat::Kuka, {"EZ", "EY", "EX"}},
      {kRobotTypeNames[4], "KUKA [X,Y,Z]mm|[A B C]deg", 4, 6, KukaSolveFinalResult, RobotKind::Kuka, false, false, false,
       RowFormat::Kuka, {"A", "B", "C"}},
      {kRobotTypeNames[5], "YASKAWA [X,Y,Z]mm|[RX RY RZ]deg", 5, 6, FanucSolveFinalResult, RobotKind::Fanuc, false, false,
       false, RowFormat::Fanuc, {"RX", "RY", "RZ"}},
      {kRobotTypeNames[6], "ABB [X,Y,Z]mm|[Q1 Q2 Q3 Q4]deg", 6, 7, ABBQuatSolveFinalResult, RobotKind::ABBQuat, false, false,
       false, RowFormat::AbbQuat, {"Q1", "Q2", "Q3", "Q4"}},
      {kRobotTypeNames[7], "UR [X,Y,Z]mm|[RX RY RZ]rad", 7, 6, UrSolveFinalResult, RobotKind::Ur, false, false, true,
       RowFormat::Ur, {"RX", "RY", "RZ"}},
  };
  // clang-format on
  static_assert(kRobotTypeCount == 8);
  return types;
}

const RobotType* FindRobotType(const std::string& name) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const RobotType& type : RobotTypes()) {
    if (type.name == lower) return &type;
  }
  return nullptr;
}

const RobotType* RobotTypeOfText(const std::string& text) {
  for (const RobotType& type : RobotTypes()) {
    if (type.text == text) return &type;
  }
  return nullptr;
}

const RobotType* RobotTypeAt(int index) {
  const auto& types = RobotTypes();
  return index >= 0 && index < static_cast<int>(types.size()) ? &types[static_cast<std::size_t>(index)] : nullptr;
}

}  // namespace TarnWorkflow
