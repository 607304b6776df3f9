// SPDX-License-Identifier: Apache-2.0
#include "robot/R1R2R3R4.h"
#include <tarn/Output.h>

#include "api/LibraryLogger.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace TamoHandEye {

const std::vector<std::string>& R1R2R3R4::Candidates() {
  static const std::vector<std::string> candidates = {"wxyz", "xyzw"};
  return candidates;
}

int R1R2R3R4::Solve(const SolverParam& solverParam, FinalResult& result, SolveRecord& record) {
  return SolveOverConventions(Candidates(), axes, solverParam, result, record);
}

R1R2R3R4::Order R1R2R3R4::CurrentOrder() const {
  std::string lower = axes;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "wxyz") return Order::ScalarFirst;
  if (lower == "xyzw") return Order::ScalarLast;
  if (StandardOutputTexts()) {
    std::printf("Unsupported axes: %s", axes.c_str());
    std::fflush(stdout);
  }
  return Order::Unsupported;
}

void R1R2R3R4::AddRobotPose(int index, std::vector<Kel::SE3d>& poses) {
  const std::vector<double>& r = Row(index);
  switch (CurrentOrder()) {
    case Order::ScalarFirst:
      AppendPose(r, TranslationToMetre(), Eigen::Vector4d(r[4], r[5], r[6], r[3]), poses);
      return;
    case Order::ScalarLast: AppendPose(r, TranslationToMetre(), Eigen::Vector4d(r[3], r[4], r[5], r[6]), poses); return;
    case Order::Unsupported:
      // No rotation can be read: the zero quaternion normalises to the identity, at the origin.
      AppendPose(r, 0.0, Eigen::Vector4d::Zero(), poses);
      return;
  }
}

void R1R2R3R4::ToRobotData(const Kel::SE3d& pose, std::vector<double>& row) {
  const Eigen::Vector4d q = Quaternion(pose);
  switch (CurrentOrder()) {
    case Order::ScalarFirst: WriteRow(pose, MetreToTranslation(), Eigen::Vector4d(q(3), q(0), q(1), q(2)), row); return;
    case Order::ScalarLast: WriteRow(pose, MetreToTranslation(), q, row); return;
    case Order::Unsupported: row.assign(7, 0.0); return;
  }
}

}  // namespace TamoHandEye
