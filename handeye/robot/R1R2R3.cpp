// SPDX-License-Identifier: Apache-2.0
#include "robot/R1R2R3.h"

#include "api/LibraryLogger.h"
#include "robot/RotationConversions.h"

#include <algorithm>
#include <cctype>

namespace TamoHandEye {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

const std::vector<std::string>& R1R2R3::Candidates() {
  static const std::vector<std::string> candidates = [] {
    std::vector<std::string> keys(AxesKeys().begin(), AxesKeys().end());
    keys.emplace_back("axis");
    return keys;
  }();
  return candidates;
}

int R1R2R3::Solve(const SolverParam& solverParam, FinalResult& result, SolveRecord& record) {
  return SolveOverConventions(Candidates(), axes, solverParam, result, record);
}

bool R1R2R3::IsRotationVector() const { return Lower(axes) == "axis"; }

void R1R2R3::AddRobotPose(int index, std::vector<Kel::SE3d>& poses) {
  const std::vector<double>& r = Row(index);
  if (IsRotationVector()) {
    AppendPose(r, TranslationToMetre(), QuaternionFromRotationVector(r[3], r[4], r[5], AngleToRadian()), poses);
  } else {
    AppendEulerPose(r, TranslationToMetre(), AngleToRadian(), axes, poses);
  }
}

void R1R2R3::ToRobotData(const Kel::SE3d& pose, std::vector<double>& row) {
  if (IsRotationVector()) {
    WriteRow(pose, MetreToTranslation(), RotationVectorFromQuaternion(Quaternion(pose)) * RadianToAngle(), row);
  } else {
    WriteEulerRow(pose, MetreToTranslation(), RadianToAngle(), axes, row);
  }
}

}  // namespace TamoHandEye
