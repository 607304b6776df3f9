#include "solver/HandEyeKel.h"

#include "api/LibraryLogger.h"

#include <Kel/PointPoseSolver.h>
#include <LieGroup/SO3Tangent.h>

#include <Eigen/Eigenvalues>
#include <Eigen/QR>

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

void HandEyeKel::Adopt(const std::vector<Kel::SE3d>& robotPoses, const std::vector<Kel::SE3d>& markerPoses,
                       const std::vector<int>& poseMask, const Kel::SE3d& marker, const Kel::SE3d& camera) {
  A.assign(robotPoses.size(), Kel::SE3d());
  for (std::size_t i = 0; i < robotPoses.size(); ++i) A[i] = type == 1 ? robotPoses[i] : robotPoses[i].Inverse();
  B = markerPoses;
  mask = poseMask;
  SetSolution(marker, camera);
}

bool HandEyeKel::IsDegenerate(const std::vector<Kel::SE3d>& robotPoses, const std::vector<Kel::SE3d>& markerPoses,
                              double* linearRms) const {
  constexpr std::size_t kMinPoses = 5;
  constexpr double kConditionLimit = 1e-10;
  if (robotPoses.size() < kMinPoses || robotPoses.size() != markerPoses.size()) return false;
  std::vector<Kel::SE3d> a(robotPoses.size());
  for (std::size_t i = 0; i < robotPoses.size(); ++i) a[i] = type == 1 ? robotPoses[i] : robotPoses[i].Inverse();
  const auto [x0, z0, rms] = Kel::SolveAxpZbpKron(a, markerPoses);
  (void)x0;
  if (linearRms != nullptr) *linearRms = rms;
  // J_i = [R_Ai, R_Z·hat(p_i), -I₃] over (x, δ, t_Z), as the refinement linearises.
  const Eigen::Matrix3d rz = z0.Rotation().RotationMatrix();
  Eigen::Matrix<double, 9, 9> h = Eigen::Matrix<double, 9, 9>::Zero();
  for (std::size_t i = 0; i < a.size(); ++i) {
    Eigen::Matrix<double, 3, 9> j;
    j.block<3, 3>(0, 0) = a[i].Rotation().RotationMatrix();
    j.block<3, 3>(0, 3) = rz * Kel::SO3Tangentd::Hat(markerPoses[i].Translation());
    j.block<3, 3>(0, 6) = -Eigen::Matrix3d::Identity();
    h.noalias() += j.transpose() * j;
  }
  if (!h.allFinite()) return false;
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, 9, 9>> eigen(h, Eigen::EigenvaluesOnly);
  return !(eigen.eigenvalues()(0) > kConditionLimit * eigen.eigenvalues()(8));
}

std::vector<double> HandEyeKel::RelaxedCosts(int handEyeType, const std::vector<Kel::SE3d>& robotPoses,
                                             const std::vector<Kel::SE3d>& markerPoses, bool leaveOneOut) {
  using System = Eigen::Matrix<double, Eigen::Dynamic, 15>;
  const std::size_t n = std::min(robotPoses.size(), markerPoses.size());
  // r_i = R_Ai·x + t_Ai − R_Z·p_i − t_Z over (vec R_Z, x, t_Z): [−(p_iᵀ ⊗ I₃), R_Ai, −I₃]·u − (−t_Ai).
  System m(3 * static_cast<Eigen::Index>(n), 15);
  Eigen::VectorXd rhs(3 * static_cast<Eigen::Index>(n));
  for (std::size_t i = 0; i < n; ++i) {
    const Kel::SE3d a = handEyeType == 1 ? robotPoses[i] : robotPoses[i].Inverse();
    const Eigen::Vector3d p = markerPoses[i].Translation();
    const Eigen::Index row = 3 * static_cast<Eigen::Index>(i);
    for (int k = 0; k < 3; ++k) m.block<3, 3>(row, 3 * k) = -p(k) * Eigen::Matrix3d::Identity();
    m.block<3, 3>(row, 9) = a.Rotation().RotationMatrix();
    m.block<3, 3>(row, 12) = -Eigen::Matrix3d::Identity();
    rhs.segment<3>(row) = -a.Translation();
  }
  const auto leastSquares = [](const System& system, const Eigen::VectorXd& b) {
    if (!system.allFinite() || !b.allFinite()) return std::numeric_limits<double>::quiet_NaN();
    const Eigen::ColPivHouseholderQR<System> qr(system);
    if (qr.rank() < 15) return std::numeric_limits<double>::quiet_NaN();
    return (system * qr.solve(b) - b).squaredNorm();
  };
  std::vector<double> costs{leastSquares(m, rhs)};
  if (!leaveOneOut || n < 2) return costs;
  System without(3 * static_cast<Eigen::Index>(n - 1), 15);
  Eigen::VectorXd rhsWithout(3 * static_cast<Eigen::Index>(n - 1));
  for (std::size_t j = 0; j < n; ++j) {
    const auto before = 3 * static_cast<Eigen::Index>(j);
    const auto after = 3 * static_cast<Eigen::Index>(n - 1 - j);
    without.topRows(before) = m.topRows(before);
    without.bottomRows(after) = m.bottomRows(after);
    rhsWithout.head(before) = rhs.head(before);
    rhsWithout.tail(after) = rhs.tail(after);
    costs.push_back(leastSquares(without, rhsWithout));
  }
  return costs;
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
