// SPDX-License-Identifier: Apache-2.0
#include "solver/SolutionDiagnostics.h"

#include "solver/Statistics.h"

#include <Kel/PointPoseSolver.h>

#include <LieGroup/SO3Tangent.h>

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>
#include <limits>

namespace TamoHandEye {
namespace {

constexpr double kRadianToDegree = 57.29577951308232;

// A_i as the solver reads it: flange_from_base for eye-in-hand, base_from_flange for eye-to-hand.
Kel::SE3d PoseA(const SolvedPoses& poses, std::size_t i) {
  return poses.eyeToHand ? poses.robotPoses[i] : poses.robotPoses[i].Inverse();
}

}  // namespace

std::size_t SolvedPoses::UsedCount() const {
  std::size_t count = 0;
  for (std::size_t i = 0; i < robotPoses.size(); ++i) {
    if (Used(i)) ++count;
  }
  return count;
}

Eigen::Matrix<double, 3, 9> TranslationJacobian(const Eigen::Matrix3d& rotationA, const Eigen::Vector3d& p,
                                                const Eigen::Matrix3d& rotationZ) {
  Eigen::Matrix<double, 3, 9> j;
  j.block<3, 3>(0, 0) = rotationA;
  j.block<3, 3>(0, 3) = rotationZ * Kel::SO3Tangentd::Hat(p);
  j.block<3, 3>(0, 6) = -Eigen::Matrix3d::Identity();
  return j;
}

NormalMatrix TranslationNormal(const SolvedPoses& poses, const Kel::SE3d& marker, const Kel::SE3d& camera) {
  // r_i = translation(A_i·X) - translation(Z·B_i) = R_Ai·x + t_Ai - R_Z·p_i - t_Z.
  const Eigen::Matrix3d rz = camera.Rotation().RotationMatrix();
  NormalMatrix m;
  for (std::size_t i = 0; i < poses.robotPoses.size(); ++i) {
    if (!poses.Used(i)) continue;
    const Kel::SE3d a = PoseA(poses, i);
    const Eigen::Matrix<double, 3, 9> j =
        TranslationJacobian(a.Rotation().RotationMatrix(), poses.markerPoses[i].Translation(), rz);
    m.normal.noalias() += j.transpose() * j;
    m.squares += ((a * marker).Translation() - (camera * poses.markerPoses[i]).Translation()).squaredNorm();
    ++m.poses;
  }
  return m;
}

Uncertainty UncertaintyOf(const Matrix9d& normal, double variance) {
  Uncertainty u;
  const Eigen::SelfAdjointEigenSolver<Matrix9d> eigen(normal);
  if (eigen.info() != Eigen::Success || !(eigen.eigenvalues()(0) > 1e-12 * eigen.eigenvalues()(8))) return u;
  const Eigen::VectorXd inverseValues = eigen.eigenvalues().cwiseInverse();
  return UncertaintyOfCovariance(eigen.eigenvectors() * inverseValues.asDiagonal() * eigen.eigenvectors().transpose() *
                                 variance);
}

Uncertainty UncertaintyOfCovariance(const Matrix9d& covariance) {
  Uncertainty u;
  for (int k = 0; k < 3; ++k) {
    u.markerMm[static_cast<std::size_t>(k)] = std::sqrt(covariance(k, k)) * 1000.0;
    u.translationMm[static_cast<std::size_t>(k)] = std::sqrt(covariance(6 + k, 6 + k)) * 1000.0;
  }
  u.markerNormMm = std::sqrt(covariance.block<3, 3>(0, 0).trace()) * 1000.0;
  u.rotationDeg = std::sqrt(covariance.block<3, 3>(3, 3).trace()) * kRadianToDegree;
  u.translationNormMm = std::sqrt(covariance.block<3, 3>(6, 6).trace()) * 1000.0;
  u.known = std::isfinite(u.translationNormMm) && std::isfinite(u.rotationDeg) && std::isfinite(u.markerNormMm);
  return u;
}

Uncertainty SolutionUncertainty(const SolvedPoses& poses, const Kel::SE3d& marker, const Kel::SE3d& camera) {
  if (poses.UsedCount() < 4) return {};
  // Over (x, δ, t_Z), the variance from the 3n - 9 degrees of freedom.
  const NormalMatrix m = TranslationNormal(poses, marker, camera);
  return UncertaintyOf(m.normal, m.squares / static_cast<double>(3 * m.poses - 9));
}

namespace {

// The studentised residual of pose `i` left out (see LeftOut): `e` its residual under the solution (x, z)
// of the others, whose sum of squares is `othersSquares` over `others` poses; the normal matrix of the
// others taken as the full one less the pose's own term.
double Studentise(const Eigen::Vector3d& e, const Eigen::Matrix<double, 3, 9>& jacobian, const Matrix9d& normal,
                  double othersSquares, std::size_t others) {
  const double freedom = 3.0 * static_cast<double>(others) - 9.0;
  if (freedom < 1.0 || !(othersSquares > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  const Matrix9d rest = normal - jacobian.transpose() * jacobian;
  const Eigen::LDLT<Matrix9d> solve(rest);
  if (solve.info() != Eigen::Success || !solve.isPositive()) return std::numeric_limits<double>::quiet_NaN();
  const Eigen::Matrix3d spread = Eigen::Matrix3d::Identity() + jacobian * solve.solve(jacobian.transpose());
  const double variance = othersSquares / freedom;
  const double t2 = e.dot(spread.ldlt().solve(e)) / (3.0 * variance);
  return t2 >= 0.0 ? std::sqrt(t2) : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace

Matrix9d MillimetreScale() {
  Eigen::Matrix<double, 9, 1> unit = Eigen::Matrix<double, 9, 1>::Constant(1000.0);
  unit.segment<3>(3).setOnes();  // the rotation's radians
  return unit * unit.transpose();
}

CalibrationCovariance SolutionCovariance(const SolvedPoses& poses, const Kel::SE3d& marker, const Kel::SE3d& camera) {
  CalibrationCovariance c;
  if (poses.UsedCount() < 4) return c;
  const NormalMatrix m = TranslationNormal(poses, marker, camera);
  const double variance = m.squares / static_cast<double>(3 * m.poses - 9);
  const Eigen::SelfAdjointEigenSolver<Matrix9d> eigen(m.normal);
  if (eigen.info() != Eigen::Success || !(eigen.eigenvalues()(0) > 1e-12 * eigen.eigenvalues()(8))) return c;
  Matrix9d covariance = eigen.eigenvectors() * eigen.eigenvalues().cwiseInverse().asDiagonal() *
                        eigen.eigenvectors().transpose() * variance;
  covariance = covariance.cwiseProduct(MillimetreScale());
  if (!covariance.allFinite()) return c;
  for (int i = 0; i < 9; ++i) {
    for (int j = 0; j < 9; ++j) c.matrix[static_cast<std::size_t>(9 * i + j)] = covariance(i, j);
  }
  c.residualSigmaMm = std::sqrt(variance) * 1000.0;
  c.freedom = static_cast<int>(3 * m.poses - 9);
  // The residuals in the camera frame (r = R_Z (q − p) for both set-ups), along the line of sight to the
  // marker and across it.
  const Eigen::Matrix3d rz = camera.Rotation().RotationMatrix();
  double along = 0.0;
  double across = 0.0;
  for (std::size_t i = 0; i < poses.robotPoses.size(); ++i) {
    if (!poses.Used(i)) continue;
    const Kel::SE3d a = PoseA(poses, i);
    const Eigen::Vector3d r = (a * marker).Translation() - (camera * poses.markerPoses[i]).Translation();
    const Eigen::Vector3d e = rz.transpose() * r;
    const Eigen::Vector3d sight = poses.markerPoses[i].Translation().normalized();
    const double part = e.dot(sight);
    along += part * part;
    across += e.squaredNorm() - part * part;
  }
  const double correction = 3.0 / static_cast<double>(c.freedom);  // n poses: 3n / (3n − 9) per pose
  c.alongSightSigmaMm = std::sqrt(along * correction) * 1000.0;
  c.acrossSightSigmaMm = std::sqrt(across * correction / 2.0) * 1000.0;
  c.known = true;
  return c;
}

namespace {

// The turn of the camera (radians) up to which one linear step finds the solution without a pose: its
// error grows with the square of the turn (about 2 µm at 2 mrad on a lever of half a metre).
constexpr double kLinearTurn = 2e-3;
// Convergence threshold of a refinement without a pose, as the calibration's own: metres and radians.
constexpr double kTolerance = 1e-4;

// Pose i left out by refining the solution over the other poses used (`a`: the poses as the solver reads
// them; `normal` the full normal matrix, `j` pose i's Jacobian).
LeftOut ResolvedWithout(const SolvedPoses& poses, const std::vector<Kel::SE3d>& a, std::size_t i,
                        const Kel::SE3d& marker, const Kel::SE3d& camera, const Matrix9d& normal,
                        const Eigen::Matrix<double, 3, 9>& j) {
  std::vector<Kel::SE3d> otherA;
  std::vector<Kel::SE3d> otherB;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (k == i || !poses.Used(k)) continue;
    otherA.push_back(a[k]);
    otherB.push_back(poses.markerPoses[k]);
  }
  LeftOut out;
  Kel::SE3d x = marker;
  Kel::SE3d z = camera;
  if (!Kel::SolveAXpZBpinNumerical(otherA, otherB, marker, camera, x, z, kTolerance)) return out;
  const Eigen::Vector3d e = (a[i] * x).Translation() - (z * poses.markerPoses[i]).Translation();
  out.distance = e.norm();
  double squares = 0.0;
  for (std::size_t k = 0; k < otherA.size(); ++k) {
    squares += ((otherA[k] * x).Translation() - (z * otherB[k]).Translation()).squaredNorm();
  }
  out.studentised = Studentise(e, j, normal, squares, otherA.size());
  return out;
}

}  // namespace

std::vector<LeftOut> LeaveOneOutResiduals(const SolvedPoses& poses, const Kel::SE3d& marker, const Kel::SE3d& camera) {
  // One Gauss-Newton step from the solution with pose i's term taken out of the normal equations: the
  // others' normal matrix N − JᵢᵀJᵢ and gradient g − Jᵢᵀrᵢ give the step to their own solution (linear in
  // the pose count, where solving again without each pose grows with its square). The step starts where
  // the solution is closest to the others' (the full set's gradient g is taken into account, as the solve
  // stops short of it); pose i's residual is then evaluated at the stepped solution itself. A step that
  // turns the camera by more than kLinearTurn is not trusted: that pose is solved again without it.
  const std::size_t n = poses.robotPoses.size();
  std::vector<LeftOut> out(n);
  std::vector<Kel::SE3d> a(n);
  for (std::size_t i = 0; i < n; ++i) a[i] = PoseA(poses, i);
  const auto residual = [&](std::size_t i, const Kel::SE3d& x, const Kel::SE3d& z) -> Eigen::Vector3d {
    return (a[i] * x).Translation() - (z * poses.markerPoses[i]).Translation();
  };
  const Eigen::Matrix3d rz = camera.Rotation().RotationMatrix();
  const auto jacobian = [&](std::size_t i) {
    return TranslationJacobian(a[i].Rotation().RotationMatrix(), poses.markerPoses[i].Translation(), rz);
  };
  Matrix9d normal = Matrix9d::Zero();
  Eigen::Matrix<double, 9, 1> gradient = Eigen::Matrix<double, 9, 1>::Zero();
  double squares = 0.0;
  std::size_t used = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!poses.Used(i)) continue;
    const Eigen::Matrix<double, 3, 9> j = jacobian(i);
    const Eigen::Vector3d r = residual(i, marker, camera);
    normal.noalias() += j.transpose() * j;
    gradient.noalias() += j.transpose() * r;
    squares += r.squaredNorm();
    ++used;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const Eigen::Vector3d r = residual(i, marker, camera);
    if (!poses.Used(i)) {
      out[i].distance = r.norm();
      continue;
    }
    const Eigen::Matrix<double, 3, 9> j = jacobian(i);
    const Eigen::LDLT<Matrix9d> others(normal - j.transpose() * j);
    if (others.info() != Eigen::Success || !others.isPositive()) continue;
    // The others' step δ solves (N − JᵢᵀJᵢ) δ = −(g − Jᵢᵀrᵢ); their sum of squares falls by −δᵀ(g − Jᵢᵀrᵢ)
    // to first order.
    const Eigen::Matrix<double, 9, 1> b = j.transpose() * r - gradient;
    const Eigen::Matrix<double, 9, 1> step = others.solve(b);
    if (!step.allFinite()) continue;
    if (step.segment<3>(3).norm() > kLinearTurn) {
      // Far from the solution (a poor fit, a pose that pulls it hard): solved again without the pose.
      out[i] = ResolvedWithout(poses, a, i, marker, camera, normal, j);
      continue;
    }
    const Kel::SE3d x(marker.Translation() + step.segment<3>(0), marker.Rotation());
    const Kel::SE3d z(camera.Translation() + step.segment<3>(6),
                      camera.Rotation() * Kel::SO3Tangentd(Eigen::Vector3d(step.segment<3>(3))).Exp());
    const Eigen::Vector3d e = residual(i, x, z);
    out[i].distance = e.norm();
    const double othersSquares = squares - r.squaredNorm() - step.dot(b);
    out[i].studentised = Studentise(e, j, normal, othersSquares, used - 1);
  }
  return out;
}

double StudentisedLimit(std::size_t used, double alpha) {
  if (used < 5) return std::numeric_limits<double>::infinity();
  const double n = static_cast<double>(used);
  return std::sqrt(FisherQuantile(1.0 - alpha / n, 3.0, 3.0 * (n - 1.0) - 9.0));
}

PoseSetCheck PoseSpread(const SolvedPoses& poses) {
  PoseSetCheck check;
  std::vector<std::size_t> used;
  for (std::size_t i = 0; i < poses.robotPoses.size(); ++i) {
    if (poses.Used(i)) used.push_back(i);
  }
  check.poses = static_cast<int>(used.size());
  if (used.empty()) return check;
  // Every pair among at most kMostPairedPoses of them, spread evenly (the pairs grow with the square).
  std::vector<std::size_t> paired = used;
  if (paired.size() > kMostPairedPoses) {
    paired.resize(kMostPairedPoses);
    for (std::size_t k = 0; k < paired.size(); ++k) paired[k] = used[k * used.size() / kMostPairedPoses];
  }

  // Every pair's relative rotation vector; their scatter, normalised, says how the axes spread (a vector and
  // its opposite count alike).
  Eigen::Matrix3d scatter = Eigen::Matrix3d::Zero();
  double largest = 0.0;
  for (std::size_t a = 0; a < paired.size(); ++a) {
    const Kel::SO3d ra = poses.robotPoses[paired[a]].Rotation();
    for (std::size_t b = a + 1; b < paired.size(); ++b) {
      const Eigen::Vector3d v = (ra.Inverse() * poses.robotPoses[paired[b]].Rotation()).Log().Coeffs();
      largest = std::max(largest, v.norm());
      scatter.noalias() += v * v.transpose();
    }
  }
  check.largestRotationDeg = largest * kRadianToDegree;
  if (scatter.trace() > 0.0) {
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(scatter / scatter.trace(), Eigen::EigenvaluesOnly);
    check.axisSpread = std::max(0.0, eigen.eigenvalues()(0));
    check.secondAxisSpread = std::max(0.0, eigen.eigenvalues()(1));
  }

  Eigen::Vector3d mean = Eigen::Vector3d::Zero();
  for (const std::size_t i : used) mean += poses.robotPoses[i].Translation();
  mean /= static_cast<double>(used.size());
  double sumSq = 0.0;
  for (const std::size_t i : used) sumSq += (poses.robotPoses[i].Translation() - mean).squaredNorm();
  check.translationSpreadMm = std::sqrt(sumSq / static_cast<double>(used.size())) * 1000.0;
  return check;
}

}  // namespace TamoHandEye
