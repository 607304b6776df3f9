// SPDX-License-Identifier: Apache-2.0
// The point-pose equation R_Ai·x + t_Ai = R_Z·p_i + t_Z: a linear estimate, then a Levenberg-Marquardt
// refinement on (x, R_Z, t_Z). Everything here works on fixed-size matrices; the refinement allocates
// nothing while it iterates.

#include <Kel/PointPoseSolver.h>

#include <Eigen/Eigenvalues>
#include <Eigen/QR>
#include <Eigen/SVD>

#include <cmath>
#include <limits>

namespace Kel {
namespace {

using Eigen::Matrix3d;
using Eigen::Vector3d;
using Matrix9d = Eigen::Matrix<double, 9, 9>;
using Vector9d = Eigen::Matrix<double, 9, 1>;
using Matrix39d = Eigen::Matrix<double, 3, 9>;

constexpr std::size_t kMinPoses = 5;  // 3 equations per pose, 15 linear unknowns
constexpr int kMaxSteps = 200;        // tried steps, accepted or not
// Smallest over largest eigenvalue of the normal matrix below which the problem is taken as degenerate:
// exact degeneracies (pure translations, one rotation axis) land near machine precision.
constexpr double kConditionLimit = 1e-10;
// Relative decrease of the cost below which the refinement has converged.
constexpr double kRelativeCostChange = 1e-12;

bool Finite(const SE3d& t) { return t.Coeffs().allFinite(); }

bool AllFinite(const std::vector<SE3d>& A, const std::vector<SE3d>& B) {
  for (const SE3d& a : A) {
    if (!Finite(a)) return false;
  }
  for (const SE3d& b : B) {
    if (!Finite(b)) return false;
  }
  return true;
}

// The rotation nearest to m in the Frobenius norm (det +1).
Matrix3d NearestRotation(const Matrix3d& m) {
  const Eigen::JacobiSVD<Matrix3d> svd(m, Eigen::ComputeFullU | Eigen::ComputeFullV);
  Matrix3d d = Matrix3d::Identity();
  d(2, 2) = (svd.matrixU() * svd.matrixV().transpose()).determinant() < 0.0 ? -1.0 : 1.0;
  return svd.matrixU() * d * svd.matrixV().transpose();
}

SE3d Transform(const Vector3d& t, const Matrix3d& r) { return SE3d(t, SO3d(Eigen::Quaterniond(r).normalized())); }

Matrix3d Hat(const Vector3d& v) { return SO3Tangentd::Hat(v); }

// One pose of the equation with A_i's rotation as a matrix, converted once per solve.
struct Pose {
  Matrix3d ra;  // R_Ai
  Vector3d ta;  // t_Ai
  Vector3d p;   // p_i
};

// Fills `poses` (its storage kept from call to call).
void Poses(const std::vector<SE3d>& A, const std::vector<SE3d>& B, std::vector<Pose>& poses) {
  poses.resize(A.size());
  for (std::size_t i = 0; i < A.size(); ++i) {
    poses[i] = Pose{A[i].Rotation().RotationMatrix(), A[i].Translation(), B[i].Translation()};
  }
}

// Storage a thread keeps between solves: a solve of thousands of poses would otherwise map fresh pages for
// its matrices every time (the allocator returns large blocks to the system) and fault on each of them.
// Matrices and decompositions keep their storage while their size stays; the arithmetic is that of fresh
// ones, to the last bit.
struct Workspace {
  Eigen::MatrixXd m;                                // the stacked linear system, 3n x 15
  Eigen::MatrixXd rhs;                              // its right-hand side, 3n x 1
  Eigen::MatrixXd m2;                               // the translation system, 3n x 6
  Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr;   // of m
  Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr2;  // of m2
  std::vector<Pose> poses;                          // the refinement's poses
  std::vector<Pose> linear;                         // the linear estimate's poses

  static Workspace& OfThisThread() {
    thread_local Workspace workspace;
    return workspace;
  }
};

// r_i = R_Ai·x + t_Ai - R_Z·p_i - t_Z
Vector3d Residual(const Pose& pose, const Vector3d& x, const Matrix3d& rz, const Vector3d& tz) {
  return pose.ra * x + pose.ta - rz * pose.p - tz;
}

double Cost(const std::vector<Pose>& poses, const Vector3d& x, const Matrix3d& rz, const Vector3d& tz) {
  double cost = 0.0;
  for (const Pose& pose : poses) cost += Residual(pose, x, rz, tz).squaredNorm();
  return cost;
}

// R·Exp(δ) as a matrix (δ finite).
Matrix3d RotateRight(const Matrix3d& r, const Vector3d& delta) { return r * SO3Tangentd(delta).Exp().RotationMatrix(); }

}  // namespace

namespace {

// The stacked linear system of GenerateBlockAxpZbp into `m` and `rhs` (their storage kept while the size stays).
void FillBlockAxpZbp(const std::vector<SE3d>& A, const std::vector<SE3d>& B, Eigen::MatrixXd& m, Eigen::MatrixXd& rhs) {
  const Eigen::Index n = static_cast<Eigen::Index>(std::min(A.size(), B.size()));
  m.setZero(3 * n, 15);
  rhs.resize(3 * n, 1);
  for (Eigen::Index i = 0; i < n; ++i) {
    const SE3d& a = A[static_cast<std::size_t>(i)];
    const Vector3d p = B[static_cast<std::size_t>(i)].Translation();
    for (Eigen::Index c = 0; c < 3; ++c) m.block<3, 3>(3 * i, 3 * c) = p(c) * Matrix3d::Identity();  // pᵀ ⊗ I₃
    m.block<3, 3>(3 * i, 9) = Matrix3d::Identity();
    m.block<3, 3>(3 * i, 12) = -a.Rotation().RotationMatrix();
    rhs.block<3, 1>(3 * i, 0) = a.Translation();
  }
}

}  // namespace

std::pair<Eigen::MatrixXd, Eigen::MatrixXd> GenerateBlockAxpZbp(const std::vector<SE3d>& A,
                                                                const std::vector<SE3d>& B) {
  Eigen::MatrixXd m;
  Eigen::MatrixXd rhs;
  FillBlockAxpZbp(A, B, m, rhs);
  return {m, rhs};
}

std::tuple<SE3d, SE3d, double> SolveAxpZbpKron(const std::vector<SE3d>& A, const std::vector<SE3d>& B) {
  const std::size_t n = std::min(A.size(), B.size());
  if (n == 0 || !AllFinite(A, B)) return {SE3d(), SE3d(), std::numeric_limits<double>::quiet_NaN()};

  // The system of GenerateBlockAxpZbp, in this thread's storage.
  Workspace& work = Workspace::OfThisThread();
  const auto rows = 3 * static_cast<Eigen::Index>(n);
  FillBlockAxpZbp(A, B, work.m, work.rhs);
  const Eigen::VectorXd theta = work.qr.compute(work.m).solve(work.rhs);
  const Matrix3d rz = NearestRotation(Eigen::Map<const Matrix3d>(theta.data()));

  // With R_Z fixed: [I₃, -R_Ai]·[t_Z; x] = t_Ai - R_Z·p_i.
  Eigen::MatrixXd& m2 = work.m2;
  m2.resize(rows, 6);
  Eigen::VectorXd rhs2(rows);
  for (std::size_t i = 0; i < n; ++i) {
    const Eigen::Index row = 3 * static_cast<Eigen::Index>(i);
    m2.block<3, 3>(row, 0) = Matrix3d::Identity();
    m2.block<3, 3>(row, 3) = -A[i].Rotation().RotationMatrix();
    rhs2.segment<3>(row) = A[i].Translation() - rz * B[i].Translation();
  }
  const Eigen::Matrix<double, 6, 1> tx = work.qr2.compute(m2).solve(rhs2);
  const Vector3d tz = tx.head<3>();
  const Vector3d x = tx.tail<3>();

  Poses(A, B, work.linear);
  const double rms = std::sqrt(Cost(work.linear, x, rz, tz) / static_cast<double>(n));
  return {SE3d(x, SO3d()), Transform(tz, rz), rms};
}

namespace {

// Normal equations of the parameters (x, δ, t_Z), with J_i = [R_Ai, R_Z·hat(p_i), -I₃]; false when not finite.
bool Linearise(const std::vector<Pose>& poses, const Vector3d& x, const Matrix3d& rz, const Vector3d& tz, Matrix9d& h,
               Vector9d& g) {
  h.setZero();
  g.setZero();
  for (const Pose& pose : poses) {
    Matrix39d j;
    j.block<3, 3>(0, 0) = pose.ra;
    j.block<3, 3>(0, 3) = rz * Hat(pose.p);
    j.block<3, 3>(0, 6) = -Matrix3d::Identity();
    h.noalias() += j.transpose().lazyProduct(j);
    g.noalias() += j.transpose() * Residual(pose, x, rz, tz);
  }
  return h.allFinite() && g.allFinite();
}

bool WellConditioned(const Matrix9d& h) {
  const Eigen::SelfAdjointEigenSolver<Matrix9d> eigen(h, Eigen::EigenvaluesOnly);
  const auto& values = eigen.eigenvalues();  // ascending
  return values(0) > kConditionLimit * values(8);
}

}  // namespace

bool SolveAXpZBpinNumerical(const std::vector<SE3d>& A, const std::vector<SE3d>& B, const SE3d& X0, const SE3d& Z0,
                            SE3d& X, SE3d& Z, double tolerance) {
  const std::size_t n = A.size();
  if (n != B.size() || n < kMinPoses) return false;
  if (!AllFinite(A, B) || !Finite(X0) || !Finite(Z0) || !std::isfinite(tolerance)) return false;
  if (Z0.Rotation().Coeffs().squaredNorm() < 1e-16) return false;

  std::vector<Pose>& poses = Workspace::OfThisThread().poses;  // the refinement's one array, kept by the thread
  Poses(A, B, poses);
  Vector3d x = X0.Translation();
  Matrix3d rz = NearestRotation(Z0.Rotation().RotationMatrix());
  Vector3d tz = Z0.Translation();
  double cost = Cost(poses, x, rz, tz);  // Σ|r_i|²

  Matrix9d h;
  Vector9d g;
  if (!Linearise(poses, x, rz, tz, h, g) || !WellConditioned(h)) return false;

  // Levenberg-Marquardt with Nielsen's damping update: H. B. Nielsen, "Damping parameter in Marquardt's
  // method", IMM-REP-1999-05, Eq. (2.7).
  double mu = 1e-6 * h.diagonal().maxCoeff();
  double nu = 2.0;
  for (int step = 0; step < kMaxSteps; ++step) {
    Matrix9d damped = h;
    damped.diagonal().array() += mu;
    const Vector9d delta = damped.ldlt().solve(-g);
    if (!delta.allFinite()) return false;

    const Vector3d xNew = x + delta.segment<3>(0);
    const Matrix3d rzNew = RotateRight(rz, delta.segment<3>(3));
    const Vector3d tzNew = tz + delta.segment<3>(6);
    const double costNew = Cost(poses, xNew, rzNew, tzNew);
    // Gain ratio: actual over predicted decrease of Σ|r|², the prediction being δᵀ(μ·δ - g).
    const double predicted = delta.dot(mu * delta - g);
    const double actual = cost - costNew;
    const bool converged =
        delta.norm() < tolerance || !(predicted > 1e-300) || std::abs(actual) <= kRelativeCostChange * cost;
    if (actual >= 0.0 || converged) {
      if (actual >= 0.0) {
        x = xNew;
        rz = rzNew;
        tz = tzNew;
        cost = costNew;
      }
      if (converged) {
        X = SE3d(x, SO3d());
        Z = Transform(tz, NearestRotation(rz));
        return true;
      }
      const double rho = actual / predicted;
      mu *= std::max(1.0 / 3.0, 1.0 - std::pow(2.0 * rho - 1.0, 3));
      nu = 2.0;
      if (!Linearise(poses, x, rz, tz, h, g)) return false;
    } else {
      mu *= nu;
      nu *= 2.0;
    }
  }
  return false;
}

}  // namespace Kel
