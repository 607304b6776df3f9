// SPDX-License-Identifier: Apache-2.0
#include "RobotTypes.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iterator>
#include <sstream>

namespace TarnWorkflow {

using namespace TamoHandEye;
using TarnSim::RowFormat;

namespace {

// How the synthetic data writes rows of a kind (a generic three-angle row as KUKA's Z Y X angles, a
// generic quaternion as x y z w).
RowFormat SyntheticFormat(RobotKind kind) {
  switch (kind) {
    case RobotKind::Fanuc: return RowFormat::Fanuc;
    case RobotKind::Kuka: return RowFormat::Kuka;
    case RobotKind::ABBQuat: return RowFormat::AbbQuat;
    case RobotKind::Ur: return RowFormat::Ur;
    case RobotKind::Common3: return RowFormat::Kuka;
    case RobotKind::Common4: return RowFormat::Xyzw;
  }
  return RowFormat::Fanuc;
}

}  // namespace

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

std::optional<UnusableRow> FindUnusableRow(const RobotType& type, const RobotRows& rows) {
  const bool quaternion = KindInfo(type.kind).quaternion;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    double squares = 0.0;
    for (std::size_t k = 0; k < rows[i].size(); ++k) {
      const double v = rows[i][k];
      if (std::abs(v) > kMostRowValue) return UnusableRow{i, k, false, v};
      if (k >= 3) squares += v * v;
    }
    if (quaternion && rows[i].size() == type.rowLength && !(squares > 1e-24)) return UnusableRow{i, 3, true, 0.0};
  }
  return std::nullopt;
}

std::string UnusableRow::Message() const {
  const std::string at = "robot row " + std::to_string(row + 1) + ": ";
  if (zeroQuaternion) {
    return at + "its quaternion has no length (all four values 0), so it holds no rotation; check that row";
  }
  std::ostringstream text;
  text << at << "value " << column + 1 << " (" << value << ") is beyond +/-" << static_cast<long>(kMostRowValue)
       << ", no position or angle; check that row";
  return text.str();
}

std::string UnusableRow::MessageZh() const {
  const std::string at = "第" + std::to_string(row + 1) + "行机器人数据";
  if (zeroQuaternion) return at + "的四元数长度为0, 请检查该行";
  std::ostringstream text;
  text << at << "第" << column + 1 << "列的数值(" << value << ")超出±" << static_cast<long>(kMostRowValue)
       << ", 请检查该行";
  return text.str();
}

std::vector<RobotType> RobotTypesOf(const std::vector<RobotTypeInfo>& table) {
  std::vector<RobotType> types;
  for (const RobotTypeInfo& info : table) {
    const RobotKindInfo& kind = KindInfo(info.kind);
    RobotType type{info.name,
                   info.text,
                   static_cast<int>(types.size()),
                   kind.rowLength,
                   info.kind,
                   kind.offersMeter,
                   kind.offersRadian,
                   kind.radian,
                   SyntheticFormat(info.kind),
                   {}};
    for (const char* name : info.rotation) {
      if (name != nullptr) type.rotationNames.emplace_back(name);
    }
    types.push_back(std::move(type));
  }
  return types;
}

const std::vector<RobotType>& RobotTypes() {
  static const std::vector<RobotType> types =
      RobotTypesOf(std::vector<RobotTypeInfo>(std::begin(kRobotTypes), std::end(kRobotTypes)));
  return types;
}

const RobotType* FindRobotType(const std::string& name, const std::vector<RobotType>& types) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const RobotType& type : types) {
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
