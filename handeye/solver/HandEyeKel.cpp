#include "solver/HandEyeKel.h"

#include "api/LibraryLogger.h"

#include <Kel/PointPoseSolver.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace TamoHandEye {
namespace {
// Convergence threshold of the refinement: the length of the last step, metres and radians.
constexpr double kTolerance = 1e-5;
}  // namespace

HandEyeKel::HandEyeKel(int handEyeType) : type(handEyeType) {
  // The library's diagnostics stay silent from the first solve on; the shared logger is process-wide.
  if (kLogger) kLogger->SetLevel(6);
}

int HandEyeKel::Solve(const std::vector<Kel::SE3d>& robotPoses, const std::vector<Kel::SE3d>& markerPoses,
                      const std::vector<int>& poseMask) {
  A.assign(robotPoses.size(), Kel::SE3d());
  for (std::size_t i = 0; i < robotPoses.size(); ++i) {
    A[i] = type == 1 ? robotPoses[i] : robotPoses[i].Inverse();  // flange_from_base for eye-in-hand
  }
  B = markerPoses;
  mask = poseMask;

  std::vector<Kel::SE3d> selectedA;
  std::vector<Kel::SE3d> selectedB;
  if (mask.empty()) {
    selectedA = A;
    selectedB = B;
  } else {
    for (std::size_t j = 0; j < mask.size() && j < A.size(); ++j) {
      if (mask[j] != 0) {
        selectedA.push_back(A[j]);
        selectedB.push_back(B[j]);
      }
    }
  }

  // Re-project the previous solution onto the group.
  X = Kel::SE3d::Exp(X.Log());
  Z = Kel::SE3d::Exp(Z.Log());

  const auto [X0, Z0, linearRms] = Kel::SolveAxpZbpKron(selectedA, selectedB);
  (void)linearRms;
  if (!Kel::SolveAXpZBpinNumerical(selectedA, selectedB, X0, Z0, X, Z, kTolerance)) return 129;

  ComputeResiduals();
  return 0;
}

void HandEyeKel::ComputeResiduals() {
  residuals.clear();
  residuals.reserve(A.size());
  double sumSq = 0.0;
  double maxSq = std::numeric_limits<double>::min();
  std::size_t selected = 0;
  for (std::size_t i = 0; i < A.size(); ++i) {
    const Eigen::Vector3d r = (A[i] * X).Translation() - (Z * B[i]).Translation();
    residuals.push_back(r);
    if (mask.empty() || (i < mask.size() && mask[i] != 0)) {
      sumSq += r.squaredNorm();
      maxSq = std::max(maxSq, r.squaredNorm());
      ++selected;
    }
  }
  maxError = std::sqrt(maxSq);
  // The mean over the poses that took part, not over all poses: dropped poses must not dilute it.
  rmsError = selected == 0 ? 0.0 : std::sqrt(sumSq / static_cast<double>(selected));
}

}  // namespace TamoHandEye
