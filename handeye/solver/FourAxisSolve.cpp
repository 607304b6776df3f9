// SPDX-License-Identifier: Apache-2.0
#include "solver/FourAxisSolve.h"

#include "solver/SolutionDiagnostics.h"

#include <LieGroup/SO3Tangent.h>

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <Eigen/Geometry>
#include <Eigen/QR>
#include <Eigen/SVD>

#include <cmath>

namespace TamoHandEye {
namespace {

constexpr double kDegree = 0.017453292519943295;
constexpr int kMostIterations = 50;
constexpr double kStepTolerance = 1e-12;  // metres and radians
constexpr double kConditionLimit = 1e-12;

bool Used(const std::vector<int>& mask, std::size_t i) { return mask.empty() || (i < mask.size() && mask[i] != 0); }

// The poses as the solver reads them (A = F⁻¹ eye-in-hand, F eye-to-hand) and their points, the used ones only.
struct UsedPoses {
  std::vector<Eigen::Matrix3d> ra;
  std::vector<Eigen::Vector3d> ta;
  std::vector<Eigen::Vector3d> p;
};

UsedPoses Select(bool eyeToHand, const std::vector<Kel::SE3d>& robotPoses, const std::vector<Eigen::Vector3d>& points,
                 const std::vector<int>& mask) {
  UsedPoses u;
  for (std::size_t i = 0; i < robotPoses.size() && i < points.size(); ++i) {
    if (!Used(mask, i)) continue;
    const Kel::SE3d a = eyeToHand ? robotPoses[i] : robotPoses[i].Inverse();
    u.ra.push_back(a.Rotation().RotationMatrix());
    u.ta.push_back(a.Translation());
    u.p.push_back(points[i]);
  }
  return u;
}

// The parameters (x, R_Z, t_Z) while solving.
struct Estimate {
  Eigen::Vector3d x = Eigen::Vector3d::Zero();
  Eigen::Matrix3d rz = Eigen::Matrix3d::Identity();
  Eigen::Vector3d tz = Eigen::Vector3d::Zero();
};

// The nearest rotation to a 3 x 3 matrix.
Eigen::Matrix3d NearestRotation(const Eigen::Matrix3d& m) {
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(m, Eigen::ComputeFullU | Eigen::ComputeFullV);
  Eigen::Matrix3d d = Eigen::Matrix3d::Identity();
  d(2, 2) = (svd.matrixU() * svd.matrixV().transpose()).determinant() < 0.0 ? -1.0 : 1.0;
  return svd.matrixU() * d * svd.matrixV().transpose();
}

// Least squares of [m without column `fixed`]·u = rhs − m.col(fixed)·value; the full vector with `value` put
// back, or nothing when the rest is not fixed by the system.
std::optional<Eigen::VectorXd> SolveHolding(const Eigen::MatrixXd& m, const Eigen::VectorXd& rhs, int fixed,
                                            double value) {
  const Eigen::Index n = m.cols();
  Eigen::MatrixXd reduced(m.rows(), n - 1);
  reduced << m.leftCols(fixed), m.rightCols(n - 1 - fixed);
  const Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(reduced);
  if (qr.rank() < n - 1) return std::nullopt;
  const Eigen::VectorXd u = qr.solve(rhs - m.col(fixed) * value);
  Eigen::VectorXd full(n);
  full << u.head(fixed), value, u.tail(n - 1 - fixed);
  return full;
}

// The linear estimate: R_Z free as any 3 x 3 matrix (r_i = R_Ai·x + t_Ai − M·p_i − t_Z over vec M, x, t_Z), the
// fixed coordinate held; M taken to the nearest rotation and x, t_Z solved again under it.
std::optional<Estimate> LinearEstimate(const UsedPoses& u, int fixed, double value) {
  const auto n = static_cast<Eigen::Index>(u.p.size());
  Eigen::MatrixXd m = Eigen::MatrixXd::Zero(3 * n, 15);
  Eigen::VectorXd rhs(3 * n);
  for (Eigen::Index i = 0; i < n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    for (int c = 0; c < 3; ++c) m.block<3, 3>(3 * i, 3 * c) = -u.p[k](c) * Eigen::Matrix3d::Identity();
    m.block<3, 3>(3 * i, 9) = u.ra[k];
    m.block<3, 3>(3 * i, 12) = -Eigen::Matrix3d::Identity();
    rhs.segment<3>(3 * i) = -u.ta[k];
  }
  // Parameter 2 (x's third) is column 11, parameter 8 (t_Z's third) column 14.
  const std::optional<Eigen::VectorXd> first = SolveHolding(m, rhs, fixed == 2 ? 11 : 14, value);
  if (!first) return std::nullopt;
  Estimate e;
  e.rz = NearestRotation(Eigen::Map<const Eigen::Matrix3d>(first->data()));
  Eigen::MatrixXd rest(3 * n, 6);
  Eigen::VectorXd restRhs(3 * n);
  for (Eigen::Index i = 0; i < n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    rest.block<3, 3>(3 * i, 0) = u.ra[k];
    rest.block<3, 3>(3 * i, 3) = -Eigen::Matrix3d::Identity();
    restRhs.segment<3>(3 * i) = e.rz * u.p[k] - u.ta[k];
  }
  const std::optional<Eigen::VectorXd> second = SolveHolding(rest, restRhs, fixed == 2 ? 2 : 5, value);
  if (!second) return std::nullopt;
  e.x = second->head<3>();
  e.tz = second->tail<3>();
  return e;
}

// Σ JᵀJ and Jᵀr over the 9 parameters, and the sum of squares, at `e`.
struct Normal {
  Matrix9d jtj = Matrix9d::Zero();
  Eigen::Matrix<double, 9, 1> jtr = Eigen::Matrix<double, 9, 1>::Zero();
  double squares = 0.0;
};

Normal NormalAt(const UsedPoses& u, const Estimate& e) {
  Normal n;
  for (std::size_t i = 0; i < u.p.size(); ++i) {
    const Eigen::Vector3d r = u.ra[i] * e.x + u.ta[i] - e.rz * u.p[i] - e.tz;
    const Eigen::Matrix<double, 3, 9> j = TranslationJacobian(u.ra[i], u.p[i], e.rz);
    n.jtj.noalias() += j.transpose() * j;
    n.jtr.noalias() += j.transpose() * r;
    n.squares += r.squaredNorm();
  }
  return n;
}

// The 8 x 8 system without the fixed parameter.
Eigen::Matrix<double, 8, 8> Reduced(const Matrix9d& m, int fixed) {
  Eigen::Matrix<double, 8, 8> out;
  for (int i = 0, a = 0; i < 9; ++i) {
    if (i == fixed) continue;
    for (int j = 0, b = 0; j < 9; ++j) {
      if (j == fixed) continue;
      out(a, b++) = m(i, j);
    }
    ++a;
  }
  return out;
}

}  // namespace

int FixedParameter(FixedQuantity quantity) {
  return quantity == FixedQuantity::MarkerHeight ? 2 : quantity == FixedQuantity::CameraOffsetZ ? 8 : -1;
}

std::optional<Eigen::Vector3d> CommonTurnAxis(const std::vector<Kel::SE3d>& robotPoses, const std::vector<int>& mask,
                                              double toleranceDeg, double leastTurnDeg) {
  // Every turn from the first pose used, as a rotation vector in the base frame: R_i·R_0ᵀ.
  const Kel::SE3d* first = nullptr;
  std::vector<Eigen::Vector3d> turns;
  for (std::size_t i = 0; i < robotPoses.size(); ++i) {
    if (!Used(mask, i)) continue;
    if (first == nullptr) {
      first = &robotPoses[i];
      continue;
    }
    const Kel::SO3d turn = robotPoses[i].Rotation() * first->Rotation().Inverse();
    turns.push_back(turn.Log().Coeffs());
  }
  Eigen::Vector3d axis = Eigen::Vector3d::Zero();
  double largest = 0.0;
  for (const Eigen::Vector3d& v : turns) {
    if (v.norm() > largest) {
      largest = v.norm();
      axis = v / largest;
    }
  }
  if (!(largest > leastTurnDeg * kDegree)) return std::nullopt;
  // A turn about another axis shows as a rotation vector off the axis (its component across it).
  for (const Eigen::Vector3d& v : turns) {
    if ((v - v.dot(axis) * axis).norm() > toleranceDeg * kDegree) return std::nullopt;
  }
  return axis.z() < 0.0 ? Eigen::Vector3d(-axis) : axis;
}

FourAxisSolution SolveFourAxis(bool eyeToHand, const std::vector<Kel::SE3d>& robotPoses,
                               const std::vector<Eigen::Vector3d>& points, const std::vector<int>& mask,
                               FixedQuantity quantity, double value, const FourAxisSolution* start) {
  FourAxisSolution out;
  const int fixed = FixedParameter(quantity);
  const UsedPoses u = Select(eyeToHand, robotPoses, points, mask);
  if (fixed < 0 || u.p.size() < 4) {
    out.failure = "needs a quantity to hold and at least 4 poses";
    return out;
  }
  Estimate e;
  if (start != nullptr && start->solved) {
    e.x = start->marker.Translation();
    e.rz = start->camera.Rotation().RotationMatrix();
    e.tz = start->camera.Translation();
    (fixed == 2 ? e.x.z() : e.tz.z()) = value;
  } else {
    const std::optional<Estimate> linear = LinearEstimate(u, fixed, value);
    if (!linear) {
      out.failure =
          "the poses do not fix the camera even with the quantity given: turn the flange by different angles and "
          "vary its height";
      return out;
    }
    e = *linear;
  }
  // Gauss-Newton over the 8 free parameters (x, δ, t_Z less the fixed one); the model is linear but for δ.
  Normal n;
  for (int iteration = 0; iteration < kMostIterations; ++iteration) {
    n = NormalAt(u, e);
    const Eigen::Matrix<double, 8, 8> jtj = Reduced(n.jtj, fixed);
    Eigen::Matrix<double, 8, 1> jtr;
    for (int i = 0, a = 0; i < 9; ++i) {
      if (i != fixed) jtr(a++) = n.jtr(i);
    }
    const Eigen::LDLT<Eigen::Matrix<double, 8, 8>> solve(jtj);
    if (solve.info() != Eigen::Success) break;
    const Eigen::Matrix<double, 8, 1> step8 = -solve.solve(jtr);
    Eigen::Matrix<double, 9, 1> step = Eigen::Matrix<double, 9, 1>::Zero();
    for (int i = 0, a = 0; i < 9; ++i) {
      if (i != fixed) step(i) = step8(a++);
    }
    e.x += step.head<3>();
    const Eigen::Vector3d turn = step.segment<3>(3);
    if (turn.norm() > 0.0) e.rz = e.rz * Eigen::AngleAxisd(turn.norm(), turn / turn.norm()).toRotationMatrix();
    e.tz += step.tail<3>();
    if (!step.allFinite()) break;
    if (step.norm() < kStepTolerance) break;
  }
  n = NormalAt(u, e);
  const Eigen::Matrix<double, 8, 8> jtj = Reduced(n.jtj, fixed);
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, 8, 8>> eigen(jtj);
  if (eigen.info() != Eigen::Success || !(eigen.eigenvalues()(0) > kConditionLimit * eigen.eigenvalues()(7)) ||
      !e.x.allFinite() || !e.tz.allFinite()) {
    out.failure =
        "the quantity given does not fix the camera with these poses: give the other one, or turn the flange by "
        "different angles and vary its height";
    return out;
  }
  out.freedom = static_cast<int>(3 * u.p.size()) - 8;
  out.squares = n.squares;
  const double variance = out.freedom > 0 ? n.squares / out.freedom : 0.0;
  const Eigen::Matrix<double, 8, 8> covariance8 = eigen.eigenvectors() *
                                                  eigen.eigenvalues().cwiseInverse().asDiagonal() *
                                                  eigen.eigenvectors().transpose() * variance;
  for (int i = 0, a = 0; i < 9; ++i) {
    if (i == fixed) continue;
    for (int j = 0, b = 0; j < 9; ++j) {
      if (j != fixed) out.covariance(i, j) = covariance8(a, b++);
    }
    ++a;
  }
  out.marker = Kel::SE3d(e.x, Kel::SO3d());
  out.camera = Kel::SE3d(e.tz, Kel::SO3d(Eigen::Quaterniond(e.rz).normalized()));
  out.solved = true;
  return out;
}

}  // namespace TamoHandEye
