// SPDX-License-Identifier: Apache-2.0
#include "solver/HandEyeKel.h"

#include "api/LibraryLogger.h"

#include <Kel/PointPoseSolver.h>
#include <LieGroup/SO3Tangent.h>

#include <Eigen/Cholesky>
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

HandEyeKel::RelaxedFit HandEyeKel::FitRelaxed(int handEyeType, const std::vector<Kel::SE3d>& robotPoses,
                                              const std::vector<Kel::SE3d>& markerPoses) {
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
  RelaxedFit fit;
  if (!m.allFinite() || !rhs.allFinite()) return fit;
  const Eigen::ColPivHouseholderQR<System> qr(m);
  if (qr.rank() < 15) return fit;
  fit.residual = m * qr.solve(rhs) - rhs;
  fit.cost = fit.residual.squaredNorm();
  fit.basis = qr.householderQ() * Eigen::MatrixXd::Identity(m.rows(), 15);
  return fit;
}

namespace {

// The cost of a least-squares fit less rows K: S − r_Kᵀ(I − Q_K Q_Kᵀ)⁻¹r_K; NaN when I − Q_K Q_Kᵀ is
// singular (the rows left fix no solution). Never below 0 (rounding).
template <int Rows>
double CostWithout(double cost, const Eigen::Matrix<double, Rows, 15>& q, const Eigen::Matrix<double, Rows, 1>& r) {
  using Square = Eigen::Matrix<double, Rows, Rows>;
  const Square rest = Square::Identity() - q * q.transpose();
  const Eigen::LLT<Square> llt(rest);
  if (llt.info() != Eigen::Success || !(llt.matrixLLT().diagonal().minCoeff() > 1e-6)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return std::max(0.0, cost - r.dot(llt.solve(r)));
}

}  // namespace

std::vector<double> HandEyeKel::RelaxedFit::LeavingOut() const {
  const auto n = static_cast<std::size_t>(residual.size() / 3);
  std::vector<double> costs(n, std::numeric_limits<double>::quiet_NaN());
  if (!std::isfinite(cost)) return costs;
  for (std::size_t j = 0; j < n; ++j) {
    const Eigen::Index row = 3 * static_cast<Eigen::Index>(j);
    costs[j] = CostWithout<3>(cost, basis.block<3, 15>(row, 0), residual.segment<3>(row));
  }
  return costs;
}

double HandEyeKel::RelaxedFit::LeastLeavingTwoOut() const {
  const auto n = static_cast<Eigen::Index>(residual.size() / 3);
  if (!std::isfinite(cost) || n < 2) return std::numeric_limits<double>::quiet_NaN();
  double least = std::numeric_limits<double>::infinity();
  Eigen::Matrix<double, 6, 15> q;
  Eigen::Matrix<double, 6, 1> r;
  for (Eigen::Index i = 0; i < n; ++i) {
    q.topRows<3>() = basis.block<3, 15>(3 * i, 0);
    r.head<3>() = residual.segment<3>(3 * i);
    for (Eigen::Index j = i + 1; j < n; ++j) {
      q.bottomRows<3>() = basis.block<3, 15>(3 * j, 0);
      r.tail<3>() = residual.segment<3>(3 * j);
      const double without = CostWithout<6>(cost, q, r);
      if (std::isnan(without)) return without;
      least = std::min(least, without);
    }
  }
  return least;
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
