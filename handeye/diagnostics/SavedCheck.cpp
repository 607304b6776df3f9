// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/SavedCheck.h"

#include "solver/EntryPath.h"
#include "solver/SolutionDiagnostics.h"
#include "solver/Statistics.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <Eigen/Geometry>
#include <Eigen/SVD>

#include <LieGroup/SO3Tangent.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>

namespace TamoHandEye {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLimitFactor = 2.5;
constexpr double kSpreadForDisplacementMm = 5.0;

// The saved transform and point in metres; empty `why` when they are a rigid transform and a point.
struct Saved {
  Eigen::Isometry3d camera = Eigen::Isometry3d::Identity();
  Eigen::Vector3d marker = Eigen::Vector3d::Zero();
};

std::string ReadSaved(const SavedCalibration& saved, bool meter, Saved& out) {
  if (saved.cameraMatrix.size() != 4 ||
      std::any_of(saved.cameraMatrix.begin(), saved.cameraMatrix.end(), [](const auto& r) { return r.size() != 4; })) {
    return "the saved camera matrix is not 4 x 4";
  }
  if (saved.markerPosition.size() != 3) return "the saved marker position does not hold 3 values";
  Eigen::Matrix4d m;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) m(r, c) = saved.cameraMatrix[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
  }
  const Eigen::Vector3d marker(saved.markerPosition[0], saved.markerPosition[1], saved.markerPosition[2]);
  if (!m.allFinite() || !marker.allFinite()) return "the saved calibration holds a value that is not a finite number";
  // A result file keeps six significant digits: a rotation read back is orthonormal to about 1e-6.
  const Eigen::Matrix3d rotation = m.topLeftCorner<3, 3>();
  if ((rotation.transpose() * rotation - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff() > 1e-4 ||
      !(rotation.determinant() > 0.0) || (m.row(3) - Eigen::RowVector4d(0, 0, 0, 1)).cwiseAbs().maxCoeff() > 1e-9) {
    return "the saved camera matrix is not a rigid transform (a rotation and a translation)";
  }
  const double unit = meter ? 1.0 : 0.001;
  // The nearest rotation, so that predictions do not carry the rounding's scale.
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(rotation, Eigen::ComputeFullU | Eigen::ComputeFullV);
  out.camera.linear() = svd.matrixU() * svd.matrixV().transpose();
  out.camera.translation() = m.topRightCorner<3, 1>() * unit;
  out.marker = marker * unit;
  return {};
}

// Where the saved calibration puts the marker in the camera frame for each flange pose (metres).
std::vector<Eigen::Vector3d> Predict(const Saved& saved, bool eyeToHand, const std::vector<Kel::SE3d>& flanges) {
  std::vector<Eigen::Vector3d> predicted;
  predicted.reserve(flanges.size());
  for (const Kel::SE3d& f : flanges) {
    Eigen::Isometry3d flange = Eigen::Isometry3d::Identity();
    flange.matrix() = f.Matrix();
    predicted.push_back(eyeToHand ? Eigen::Vector3d(saved.camera.inverse() * (flange * saved.marker))
                                  : Eigen::Vector3d((flange * saved.camera).inverse() * saved.marker));
  }
  return predicted;
}

double RmsMm(const std::vector<Eigen::Vector3d>& predicted, const std::vector<Kel::SE3d>& points) {
  double squares = 0.0;
  for (std::size_t i = 0; i < predicted.size(); ++i) {
    squares += (predicted[i] - Eigen::Vector3d(points[i].Translation())).squaredNorm();
  }
  return 1000.0 * std::sqrt(squares / static_cast<double>(predicted.size()));
}

// A candidate displacement of the camera (the new camera pose is the saved one times it): it brings the
// measured points onto the predicted ones, with `squares` left over (m²).
struct Motion {
  Eigen::Matrix3d rotation = Eigen::Matrix3d::Identity();
  Eigen::Vector3d translation = Eigen::Vector3d::Zero();
  double squares = 0.0;
};

double Squares(const Motion& m, const Eigen::Matrix3Xd& p, const Eigen::Matrix3Xd& q) {
  return ((m.rotation * p).colwise() + m.translation - q).squaredNorm();
}

// The rotation R minimising Σ |R aᵢ − bᵢ|² over the columns (orthogonal Procrustes).
Eigen::Matrix3d Procrustes(const Eigen::Matrix3Xd& a, const Eigen::Matrix3Xd& b) {
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(b * a.transpose(), Eigen::ComputeFullU | Eigen::ComputeFullV);
  Eigen::Matrix3d sign = Eigen::Matrix3d::Identity();
  sign(2, 2) = (svd.matrixU() * svd.matrixV().transpose()).determinant() < 0.0 ? -1.0 : 1.0;
  return svd.matrixU() * sign * svd.matrixV().transpose();
}

// The 99 % point of Fisher's F with 3 and `k` degrees of freedom.
double FLimit(Eigen::Index k) {
  static constexpr double kTable[] = {0,    5403, 99.17, 29.46, 16.69, 12.06, 9.78, 8.45, 7.59, 6.99, 6.55,
                                      6.22, 5.95, 5.74,  5.56,  5.42,  5.29,  5.18, 5.09, 5.01, 4.94};
  if (k < 21) return kTable[k];
  return k < 30 ? 4.72 : (k < 60 ? 4.51 : (k < 120 ? 4.13 : 3.95));
}

// The camera displacement that best explains the shots. Over a few shots, which sit near the camera's
// axis at much the same distance, a shift and a turn move the points alike: the simpler of a shift alone
// and a turn about the camera's centre alone is taken unless the full motion fits significantly better
// (F test at 95 %), and the full motion is only considered with points spread in two directions.
void EstimateDisplacement(const std::vector<Eigen::Vector3d>& predicted, const std::vector<Eigen::Vector3d>& measured,
                          CalibrationCheck& check) {
  const auto n = static_cast<Eigen::Index>(measured.size());
  if (n < 3) return;
  Eigen::Matrix3Xd p(3, n), q(3, n);
  for (Eigen::Index i = 0; i < n; ++i) {
    p.col(i) = measured[static_cast<std::size_t>(i)];
    q.col(i) = predicted[static_cast<std::size_t>(i)];
  }
  Motion shift, turn, full;
  shift.translation = (q - p).rowwise().mean();
  shift.squares = Squares(shift, p, q);
  turn.rotation = Procrustes(p, q);
  turn.squares = Squares(turn, p, q);
  Motion best = shift.squares <= turn.squares ? shift : turn;
  const Eigen::Vector3d pMean = p.rowwise().mean(), qMean = q.rowwise().mean();
  const Eigen::Matrix3Xd pc = p.colwise() - pMean, qc = q.colwise() - qMean;
  const Eigen::JacobiSVD<Eigen::Matrix3Xd> spread(pc);
  if (1000.0 * spread.singularValues()(1) / std::sqrt(static_cast<double>(n)) >= kSpreadForDisplacementMm) {
    full.rotation = Procrustes(pc, qc);
    full.translation = qMean - full.rotation * pMean;
    full.squares = Squares(full, p, q);
    const Eigen::Index freedom = 3 * n - 6;
    if (full.squares > 0.0 &&
        (best.squares - full.squares) / 3.0 > FLimit(freedom) * full.squares / static_cast<double>(freedom)) {
      best = full;
    }
  }
  if (!best.rotation.allFinite() || !best.translation.allFinite()) return;
  const Eigen::AngleAxisd angle(best.rotation);
  check.displacementKnown = true;
  for (int k = 0; k < 3; ++k) {
    check.displacementMm[static_cast<std::size_t>(k)] = 1000.0 * best.translation(k);
    check.displacementAxis[static_cast<std::size_t>(k)] = angle.axis()(k);
  }
  check.displacementNormMm = 1000.0 * best.translation.norm();
  check.displacementRotationDeg = angle.angle() * 180.0 / kPi;
}

// ---- The verdict that knows what the shots can see (see the header) ----

constexpr double kDriftAlpha = 0.01;  // the three tests together
constexpr double kDetectPower = 0.9;
constexpr int kMostShots = 100000;

// The shots' residuals e (camera frame, metres) under the saved calibration: first each point's q − p (3 rows a
// shot), then, where the saved calibration has its board plane, each normal's displacement across the measured one
// (2 rows a shot that carries a normal). Their covariance is diag(Sᵢ) + E Σθ Eᵀ: Sᵢ a shot's noise (for a point the
// saved σ along its line of sight and across it, σ on every axis without them; for a normal the saved shot normal σ),
// E the residuals' derivative over the saved parameters (9, and the normal's 2 across it). Everything is kept
// whitened (each shot's rows times Sᵢ^−½), so that the covariance is I + E N⁻¹ Eᵀ with N = Σθ⁻¹; products with its
// inverse by the Woodbury identity, a few 9 x 9 (11 x 11) matrices standing for the large one. The shots may be
// repeated `copies` times (what more shots like these would give).
struct ShotModel {
  Eigen::VectorXd e;                    // whitened
  Eigen::MatrixXd E;                    // rows x parameters, whitened
  Eigen::MatrixXd N;                    // Σθ⁻¹
  std::vector<Eigen::Matrix3d> whiten;  // per shot: its point's noise covariance to the power −½
  double normalWhiten = 0.0;            // a normal's: 1 / σ
  double freedom = 0.0;
  Eigen::Matrix3Xd q;  // the predicted points, camera frame
  // The normal rows: where they start, and per shot carrying one the predicted normal (camera frame) and the two
  // axes across the measured one.
  struct NormalRows {
    Eigen::Vector3d predicted;
    Eigen::Matrix<double, 2, 3> across;
  };
  std::vector<NormalRows> normals;

  Eigen::Index PointRows() const { return 3 * q.cols(); }
  Eigen::MatrixXd Whitened(const Eigen::MatrixXd& k) const {
    Eigen::MatrixXd out(k.rows(), k.cols());
    for (Eigen::Index i = 0; i + 3 <= PointRows(); i += 3) {
      out.middleRows<3>(i) = whiten[static_cast<std::size_t>(i / 3)] * k.middleRows<3>(i);
    }
    const Eigen::Index rest = k.rows() - PointRows();
    if (rest > 0) out.bottomRows(rest) = normalWhiten * k.bottomRows(rest);
    return out;
  }
  // KᵀV⁻¹K for `copies` copies of the shots, and KᵀV⁻¹e for the shots themselves.
  Eigen::MatrixXd Information(const Eigen::MatrixXd& columns, double copies = 1.0) const {
    const Eigen::MatrixXd K = Whitened(columns);
    const Eigen::MatrixXd ke = K.transpose() * E;
    const Eigen::MatrixXd inner = N + copies * (E.transpose() * E);
    return copies * (K.transpose() * K) - copies * copies * ke * inner.ldlt().solve(ke.transpose());
  }
  Eigen::VectorXd Score(const Eigen::MatrixXd& columns) const {
    const Eigen::MatrixXd inner = N + E.transpose() * E;
    const Eigen::VectorXd ve = e - E * inner.ldlt().solve(E.transpose() * e);
    return Whitened(columns).transpose() * ve;
  }
  double Total() const {
    const Eigen::MatrixXd inner = N + E.transpose() * E;
    return e.dot(e - E * inner.ldlt().solve(E.transpose() * e));
  }
};

// The pseudo-inverse of a symmetric matrix, its directions of no information left out.
Eigen::MatrixXd PseudoInverse(const Eigen::MatrixXd& m) {
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(m);
  const double top = eigen.eigenvalues().cwiseAbs().maxCoeff();
  Eigen::VectorXd inverse = eigen.eigenvalues();
  for (Eigen::Index i = 0; i < inverse.size(); ++i) inverse(i) = inverse(i) > 1e-10 * top ? 1.0 / inverse(i) : 0.0;
  return eigen.eigenvectors() * inverse.asDiagonal() * eigen.eigenvectors().transpose();
}

// The columns of a displacement: a shift (e = d; no normal moves), a turn about the camera's centre (e = ω × q, and
// ω × n for a normal n).
Eigen::MatrixXd ShiftColumns(const ShotModel& s) {
  Eigen::MatrixXd k = Eigen::MatrixXd::Zero(s.e.size(), 3);
  for (Eigen::Index i = 0; i < s.q.cols(); ++i) k.block<3, 3>(3 * i, 0).setIdentity();
  return k;
}
Eigen::MatrixXd TurnColumns(const ShotModel& s) {
  Eigen::MatrixXd k = Eigen::MatrixXd::Zero(s.e.size(), 3);
  for (Eigen::Index i = 0; i < s.q.cols(); ++i) k.block<3, 3>(3 * i, 0) = -Kel::SO3Tangentd::Hat(s.q.col(i));
  for (std::size_t i = 0; i < s.normals.size(); ++i) {
    const auto row = s.PointRows() + 2 * static_cast<Eigen::Index>(i);
    k.block<2, 3>(row, 0) = -s.normals[i].across * Kel::SO3Tangentd::Hat(s.normals[i].predicted);
  }
  return k;
}
// Two axes across the mean line of sight.
Eigen::Matrix<double, 3, 2> AcrossSight(const ShotModel& s) {
  const Eigen::Vector3d sight = s.q.rowwise().mean().normalized();
  const Eigen::Vector3d helper = std::abs(sight.x()) < 0.9 ? Eigen::Vector3d::UnitX() : Eigen::Vector3d::UnitY();
  Eigen::Matrix<double, 3, 2> axes;
  axes.col(0) = sight.cross(helper).normalized();
  axes.col(1) = sight.cross(axes.col(0));
  return axes;
}

// The p-value of a test with `k` degrees of freedom whose statistic is `q` (a χ² in σ units).
double PValue(double q, double k, double freedom) { return 1.0 - FisherCdf(q / k, k, freedom); }

// The smallest size of a move along the worst direction that information `m` detects 90 % of the time.
double SmallestDetectable(const Eigen::MatrixXd& m, double freedom) {
  const double lambda =
      DetectableNoncentrality(kDriftAlpha / 3.0, kDetectPower, static_cast<double>(m.rows()), freedom);
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(m, Eigen::EigenvaluesOnly);
  const double weakest = eigen.eigenvalues()(0);
  return weakest > 0.0 ? std::sqrt(lambda / weakest) : std::numeric_limits<double>::infinity();
}

// How many shots like these to add so that a shift of `target` metres is detectable; -1 when none would.
int MoreShotsFor(const ShotModel& s, const Eigen::MatrixXd& shift, double target) {
  const double m = static_cast<double>(s.q.cols());
  const auto detectable = [&](double total) { return SmallestDetectable(s.Information(shift, total / m), s.freedom); };
  if (detectable(m) <= target) return 0;
  if (detectable(kMostShots) > target) return -1;
  long low = static_cast<long>(m);
  long high = kMostShots;
  while (high - low > 1) {
    const long mid = (low + high) / 2;
    (detectable(static_cast<double>(mid)) <= target ? high : low) = mid;
  }
  return static_cast<int>(high - static_cast<long>(m));
}

// A shot's noise σ along the line of sight and across it (metres): the saved ones when they were estimated
// from enough poses and match the saved σ, σ for both otherwise.
std::pair<double, double> ShotNoise(const CalibrationCovariance& c, double sigma2) {
  constexpr int kLeastFreedom = 15;  // from at least as many residuals as 8 poses give
  const double along = c.alongSightSigmaMm / 1000.0;
  const double across = c.acrossSightSigmaMm / 1000.0;
  const bool usable = c.freedom >= kLeastFreedom && along > 0.0 && across > 0.0 && std::isfinite(along + across) &&
                      std::abs(along * along + 2.0 * across * across - 3.0 * sigma2) <= 0.01 * 3.0 * sigma2;
  return usable ? std::pair{along, across} : std::pair{std::sqrt(sigma2), std::sqrt(sigma2)};
}

// The variance given a parameter the saved calibration held (m² or rad²).
constexpr double kHeldVariance = 1e-14;

// The saved covariance in metres, as N = Σθ⁻¹, with σ²; false when it is not a covariance.
bool SavedInformation(const CalibrationCovariance& c, Matrix9d& n, double& sigma2) {
  Matrix9d sigma;
  for (int i = 0; i < 9; ++i) {
    for (int j = 0; j < 9; ++j) sigma(i, j) = c.matrix[static_cast<std::size_t>(9 * i + j)];
  }
  sigma = sigma.cwiseQuotient(MillimetreScale());
  // A parameter the calibration held (a 4-axis robot's unseen height: a zero row) is known: 0.1 µm (or µrad).
  for (int i = 0; i < 9; ++i) {
    if (sigma.row(i).isZero(0.0)) sigma(i, i) = kHeldVariance;
  }
  sigma2 = std::pow(c.residualSigmaMm / 1000.0, 2);
  if (!sigma.allFinite() || !(sigma2 > 0.0) || !std::isfinite(sigma2) || c.freedom < 1) return false;
  const Eigen::LDLT<Matrix9d> ldlt(0.5 * (sigma + sigma.transpose()));
  if (ldlt.info() != Eigen::Success || !ldlt.isPositive() || !(ldlt.vectorD().minCoeff() > 0.0)) return false;
  n = ldlt.solve(Matrix9d::Identity());
  return n.allFinite();
}

// Two unit axes across `n` (any, as long as they are used alike throughout).
Eigen::Matrix<double, 3, 2> AxesAcross(const Eigen::Vector3d& n) {
  Eigen::Vector3d a1 = n.cross(Eigen::Vector3d::UnitX());
  if (a1.norm() < 0.1) a1 = n.cross(Eigen::Vector3d::UnitY());
  a1.normalize();
  Eigen::Matrix<double, 3, 2> axes;
  axes << a1, n.cross(a1);
  return axes;
}

// The saved board plane in metres and radians, when it is usable for judging normals: the normal N (fixed frame),
// the axes B across it along which its error ν is counted, the covariance of (θ, ν) over the 11 parameters, one
// shot's normal σ (radians) and the normals' freedoms.
struct SavedBoard {
  Eigen::Vector3d normal = Eigen::Vector3d::Zero();
  Eigen::Matrix<double, 3, 2> axes = Eigen::Matrix<double, 3, 2>::Zero();
  Eigen::Matrix<double, 11, 11> covariance = Eigen::Matrix<double, 11, 11>::Zero();
  double sigma = 0.0;
  int freedom = 0;
};

bool ReadBoard(const SavedCalibration& saved, SavedBoard& out) {
  if (saved.model == "point" || saved.model.empty()) return false;
  const BoardPlane& b = saved.board;
  const Eigen::Vector3d n(b.normal[0], b.normal[1], b.normal[2]);
  out.sigma = b.shotNormalSigmaDeg * kPi / 180.0;
  out.freedom = b.normalFreedom;
  if (!n.allFinite() || std::abs(n.norm() - 1.0) > 1e-3 || !(out.sigma > 0.0) || !std::isfinite(out.sigma) ||
      out.freedom < 1) {
    return false;
  }
  out.normal = n.normalized();
  out.axes = AxesAcross(out.normal);
  const Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>> cov(b.normalCovariance.data());
  Eigen::Matrix<double, 3, 9> cross =
      Eigen::Map<const Eigen::Matrix<double, 3, 9, Eigen::RowMajor>>(b.normalCrossCovariance.data());
  for (int j = 0; j < 9; ++j) {
    if (j < 3 || j >= 6) cross.col(j) /= 1000.0;
  }
  out.covariance.block<2, 2>(9, 9) = out.axes.transpose() * cov * out.axes;
  out.covariance.block<2, 9>(9, 0) = out.axes.transpose() * cross;
  out.covariance.block<9, 2>(0, 9) = out.covariance.block<2, 9>(9, 0).transpose();
  return out.covariance.allFinite();
}

// The shot's board normal (camera frame, unit), if it carries one: its normal, or its target rotation's third axis.
bool ShotNormal(const std::vector<ShotPlane>& planes, std::size_t i, Eigen::Vector3d& n) {
  if (i >= planes.size()) return false;
  const ShotPlane& p = planes[i];
  if (p.hasRotation) {
    n = Eigen::Vector3d(p.rotation[2], p.rotation[5], p.rotation[8]);
  } else if (p.hasNormal) {
    n = Eigen::Vector3d(p.normal[0], p.normal[1], p.normal[2]);
  } else {
    return false;
  }
  if (!n.allFinite() || !(n.norm() > 0.5)) return false;
  n.normalize();
  return true;
}

// The predicted normal in the camera frame: R_Zᵀ·R_A·N.
Eigen::Vector3d PredictedNormal(const Saved& transform, bool eyeToHand, const Kel::SE3d& flange,
                                const Eigen::Vector3d& normal) {
  const Eigen::Matrix3d f = flange.Rotation().RotationMatrix();
  const Eigen::Matrix3d ra = eyeToHand ? f : Eigen::Matrix3d(f.transpose());
  return transform.camera.linear().transpose() * ra * normal;
}

// The displacement by generalised least squares: the simpler of a shift and a turn unless the full motion
// explains significantly more (at 99 %) with points spread in two directions.
void EstimateDisplacementWithCovariance(const ShotModel& s, CalibrationCheck& check) {
  const auto n = s.q.cols();
  if (n < 3) return;
  const Eigen::MatrixXd shift = ShiftColumns(s);
  const Eigen::MatrixXd turn = TurnColumns(s);
  Eigen::MatrixXd full(shift.rows(), 6);
  full << shift, turn;
  struct Fit {
    Eigen::VectorXd eta;
    Eigen::MatrixXd covariance;
    double explained = 0.0;
  };
  const auto fit = [&](const Eigen::MatrixXd& k) {
    Fit f;
    f.covariance = PseudoInverse(s.Information(k));
    const Eigen::VectorXd g = s.Score(k);
    f.eta = f.covariance * g;
    f.explained = g.dot(f.eta);
    return f;
  };
  const Fit shiftFit = fit(shift);
  const Fit turnFit = fit(turn);
  Fit best = shiftFit.explained >= turnFit.explained ? shiftFit : turnFit;
  bool shiftOnly = shiftFit.explained >= turnFit.explained;
  bool fullMotion = false;
  const Eigen::Matrix3Xd centred = s.q.colwise() - s.q.rowwise().mean();
  const Eigen::JacobiSVD<Eigen::Matrix3Xd> spread(centred);
  if (1000.0 * spread.singularValues()(1) / std::sqrt(static_cast<double>(n)) >= kSpreadForDisplacementMm) {
    const Fit fullFit = fit(full);
    if (PValue(fullFit.explained - best.explained, 3.0, s.freedom) < 0.01) {
      best = fullFit;
      fullMotion = true;
    }
  }
  Eigen::Vector3d d = Eigen::Vector3d::Zero();
  Eigen::Vector3d w = Eigen::Vector3d::Zero();
  Eigen::Matrix3d dCov = Eigen::Matrix3d::Zero();
  Eigen::Matrix3d wCov = Eigen::Matrix3d::Zero();
  if (fullMotion) {
    d = best.eta.head<3>();
    w = best.eta.tail<3>();
    dCov = best.covariance.topLeftCorner<3, 3>();
    wCov = best.covariance.bottomRightCorner<3, 3>();
  } else if (shiftOnly) {
    d = best.eta;
    dCov = best.covariance;
  } else {
    w = best.eta;
    wCov = best.covariance;
  }
  if (!d.allFinite() || !w.allFinite()) return;
  // The camera's move, as the residual-free motion: measured = D⁻¹·predicted, D = (exp(ω), d).
  check.displacementKnown = true;
  for (int k = 0; k < 3; ++k) {
    check.displacementMm[static_cast<std::size_t>(k)] = 1000.0 * d(k);
    check.displacementSigmaMm[static_cast<std::size_t>(k)] = 1000.0 * std::sqrt(std::max(0.0, dCov(k, k)));
    check.displacementAxis[static_cast<std::size_t>(k)] = w.norm() > 0.0 ? w(k) / w.norm() : 0.0;
  }
  check.displacementNormMm = 1000.0 * d.norm();
  check.displacementRotationDeg = w.norm() * 180.0 / kPi;
  check.displacementRotationSigmaDeg = std::sqrt(std::max(0.0, wCov.trace())) * 180.0 / kPi;
}

// The shots whose normals are judged: those that carry one, when the saved calibration has its board plane and the
// covariance with it is one; then `s` takes the 11 parameters' information, the normals' noise and freedoms.
std::vector<std::size_t> UsableNormals(const SavedCalibration& saved, const Matrix9d& information,
                                       const std::vector<ShotPlane>& planes, std::size_t count, SavedBoard& board,
                                       ShotModel& s) {
  std::vector<std::size_t> withNormal;
  if (!ReadBoard(saved, board)) return withNormal;
  board.covariance.topLeftCorner<9, 9>() = information.ldlt().solve(Matrix9d::Identity());
  const Eigen::LDLT<Eigen::Matrix<double, 11, 11>> ldlt(board.covariance);
  if (ldlt.info() != Eigen::Success || !ldlt.isPositive() || !(ldlt.vectorD().minCoeff() > 0.0)) return withNormal;
  Eigen::Vector3d n;
  for (std::size_t i = 0; i < count; ++i) {
    if (ShotNormal(planes, i, n)) withNormal.push_back(i);
  }
  if (withNormal.empty()) return withNormal;
  s.N = ldlt.solve(Eigen::Matrix<double, 11, 11>::Identity());
  s.normalWhiten = 1.0 / board.sigma;
  s.freedom = std::min(s.freedom, static_cast<double>(board.freedom));
  return withNormal;
}

// A normal's residual: the predicted normal's displacement across the measured one, U·n̂; it moves by U·[n̂]ₓ·δ with
// the camera's turn δ and by U·R_Zᵀ·R_A·B·ν with the saved normal's error ν. Rows after the points'.
void AddNormalRows(const Saved& transform, bool eyeToHand, const std::vector<Kel::SE3d>& flanges,
                   const std::vector<ShotPlane>& planes, const SavedBoard& board,
                   const std::vector<std::size_t>& withNormal, ShotModel& s) {
  const Eigen::Matrix3d rz = transform.camera.linear();
  for (std::size_t k = 0; k < withNormal.size(); ++k) {
    const std::size_t i = withNormal[k];
    Eigen::Vector3d n;
    ShotNormal(planes, i, n);
    const Eigen::Vector3d normal = PredictedNormal(transform, eyeToHand, flanges[i], board.normal);
    if (normal.dot(n) < 0.0) n = -n;
    const ShotModel::NormalRows rows{normal, AxesAcross(n).transpose()};
    const Eigen::Index row = s.PointRows() + 2 * static_cast<Eigen::Index>(k);
    s.e.segment<2>(row) = rows.across * normal;
    s.E.block<2, 3>(row, 3) = rows.across * Kel::SO3Tangentd::Hat(normal);
    const Eigen::Matrix3d f = flanges[i].Rotation().RotationMatrix();
    const Eigen::Matrix3d ra = eyeToHand ? f : Eigen::Matrix3d(f.transpose());
    s.E.block<2, 2>(row, 9) = rows.across * rz.transpose() * ra * board.axes;
    s.normals.push_back(rows);
  }
}

// Each normal's angle from the one the saved board plane predicts, and their RMS (whatever judges them).
void NormalResiduals(const SavedCalibration& saved, const Saved& transform, bool eyeToHand,
                     const std::vector<Kel::SE3d>& flanges, const std::vector<ShotPlane>& planes,
                     CalibrationCheck& check) {
  SavedBoard board;
  if (!ReadBoard(saved, board)) return;
  double squares = 0.0;
  int count = 0;
  Eigen::Vector3d n;
  for (std::size_t i = 0; i < check.shots.size(); ++i) {
    if (!ShotNormal(planes, i, n)) continue;
    const Eigen::Vector3d p = PredictedNormal(transform, eyeToHand, flanges[i], board.normal);
    const double angle = std::atan2(p.cross(n).norm(), std::abs(p.dot(n)));
    check.shots[i].normalResidualDeg = angle * 180.0 / kPi;
    squares += angle * angle;
    ++count;
  }
  if (count > 0) check.normalRmsDeg = std::sqrt(squares / count) * 180.0 / kPi;
}

// The verdict with the saved covariance; false when the covariance is not usable.
bool JudgeWithCovariance(const SavedCalibration& saved, const Saved& transform, bool eyeToHand,
                         const std::vector<Kel::SE3d>& flanges, const std::vector<Eigen::Vector3d>& predicted,
                         const std::vector<Eigen::Vector3d>& measured, const std::vector<ShotPlane>& planes,
                         const CheckOptions& options, CalibrationCheck& check) {
  ShotModel s;
  double sigma2 = 0.0;
  Matrix9d information;
  if (!saved.covariance.known || !SavedInformation(saved.covariance, information, sigma2)) return false;
  s.N = information;
  s.freedom = saved.covariance.freedom;
  const auto [along, across] = ShotNoise(saved.covariance, sigma2);
  const auto m = static_cast<Eigen::Index>(predicted.size());
  SavedBoard board;
  const std::vector<std::size_t> withNormal = UsableNormals(saved, information, planes, predicted.size(), board, s);
  const auto normalRows = 2 * static_cast<Eigen::Index>(withNormal.size());
  s.e.resize(3 * m + normalRows);
  s.E = Eigen::MatrixXd::Zero(3 * m + normalRows, s.N.rows());
  s.q.resize(3, m);
  const Eigen::Matrix3d rz = transform.camera.linear();
  for (Eigen::Index i = 0; i < m; ++i) {
    const auto at = static_cast<std::size_t>(i);
    Eigen::Isometry3d flange = Eigen::Isometry3d::Identity();
    flange.matrix() = flanges[at].Matrix();
    // A as the calibration read the flange: flange_from_base eye-in-hand, base_from_flange eye-to-hand.
    const Eigen::Matrix3d ra = eyeToHand ? flange.linear() : Eigen::Matrix3d(flange.linear().transpose());
    s.e.segment<3>(3 * i) = predicted[at] - measured[at];
    s.E.block<3, 9>(3 * i, 0) = rz.transpose() * TranslationJacobian(ra, predicted[at], rz);
    s.q.col(i) = predicted[at];
    const Eigen::Vector3d sight = predicted[at].normalized();
    const Eigen::Matrix3d onSight = sight * sight.transpose();
    s.whiten.push_back(onSight / along + (Eigen::Matrix3d::Identity() - onSight) / across);
  }
  AddNormalRows(transform, eyeToHand, flanges, planes, board, withNormal, s);
  check.shotsWithNormal = static_cast<int>(withNormal.size());
  s.e = s.Whitened(s.e);
  s.E = s.Whitened(s.E);
  const Eigen::MatrixXd shift = ShiftColumns(s);
  const Eigen::MatrixXd turn = TurnColumns(s) * AcrossSight(s);
  const Eigen::MatrixXd shiftInfo = s.Information(shift);
  const Eigen::MatrixXd turnInfo = s.Information(turn);
  const auto statistic = [&](const Eigen::MatrixXd& k, const Eigen::MatrixXd& info) {
    const Eigen::VectorXd g = s.Score(k);
    return g.dot(PseudoInverse(info) * g);
  };
  const double pShift = PValue(statistic(shift, shiftInfo), 3.0, s.freedom);
  const double pTurn = PValue(statistic(turn, turnInfo), 2.0, s.freedom);
  const double pAll = PValue(s.Total(), static_cast<double>(s.e.size()), s.freedom);
  check.pValue = std::min(1.0, 3.0 * std::min({pShift, pTurn, pAll}));
  check.powerKnown = true;
  check.toleranceMm = options.toleranceMm;
  check.toleranceDeg = options.toleranceDeg;
  check.detectableShiftMm = 1000.0 * SmallestDetectable(shiftInfo, s.freedom);
  check.detectableTurnDeg = SmallestDetectable(turnInfo, s.freedom) * 180.0 / kPi;
  check.moreShots = MoreShotsFor(s, shift, options.toleranceMm / 1000.0);
  if (check.pValue < kDriftAlpha) {
    check.verdict = CheckVerdict::Drift;
  } else if (check.detectableShiftMm <= options.toleranceMm && check.detectableTurnDeg <= options.toleranceDeg) {
    check.verdict = CheckVerdict::Ok;
  } else {
    check.verdict = CheckVerdict::Inconclusive;
  }
  check.drift = check.verdict == CheckVerdict::Drift;
  EstimateDisplacementWithCovariance(s, check);
  return true;
}

// The limit of the verdict (see the header).
void SetLimit(const SavedCalibration& saved, const CheckOptions& options, double distanceMm, CalibrationCheck& check) {
  if (options.limitMm > 0.0) {
    check.limitMm = options.limitMm;
    return;
  }
  double squares = 0.0;
  int counted = 0;
  for (const double loo : saved.leaveOneOutMm) {
    if (!std::isfinite(loo)) continue;
    squares += loo * loo;
    ++counted;
  }
  double expected = 0.0;
  if (counted > 0) {
    expected = std::sqrt(squares / counted);
  } else if (saved.rmsErrorMm > 0.0) {
    double variance = saved.rmsErrorMm * saved.rmsErrorMm;
    const Uncertainty& u = saved.uncertainty;
    if (u.known) {
      const double lever = distanceMm * u.rotationDeg * kPi / 180.0;
      variance += u.translationNormMm * u.translationNormMm + u.markerNormMm * u.markerNormMm + lever * lever;
    }
    expected = std::sqrt(variance);
  } else {
    check.limitMm = options.defaultLimitMm;
    return;
  }
  check.limitMm = std::max(options.minimumLimitMm, kLimitFactor * expected);
  check.limitFromCalibration = true;
}

}  // namespace

ErrorCode CheckAgainstSaved(const std::vector<MarkerBoardResult>& markers, const std::vector<ShotPlane>& planes,
                            const RobotRows& rows, const AlgoParam& param, RobotKind kind,
                            const SavedCalibration& saved, const CheckOptions& options, CalibrationCheck& check) {
  Saved transform;
  check.failure = ReadSaved(saved, param.IsMeter, transform);
  if (!check.failure.empty()) return Err_Solve_Fail;
  // A calibration whose own poses did not fit it would set a limit from that misfit, and pass anything.
  if (!(options.limitMm > 0.0) && saved.rmsErrorMm > kPoorFitMm) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "the saved calibration did not fit its own poses (RMS %.2f mm, above %.0f mm), so it cannot judge "
                  "new shots: calibrate again, or give the limit yourself",
                  saved.rmsErrorMm, kPoorFitMm);
    check.failure = text;
    return Err_Solve_Fail;
  }
  std::vector<std::string> readings = ConventionsOf(kind);
  if (!saved.convention.empty() && readings.size() > 1) {
    if (std::find(readings.begin(), readings.end(), saved.convention) == readings.end()) {
      check.failure = "\"" + saved.convention + "\" is not a rotation convention of this robot type";
      return Err_Solve_Fail;
    }
    readings = {saved.convention};
  }
  // The rows under each reading the robot type allows; the one the shots fit best is kept.
  std::unique_ptr<Robot> robot = MakeRobot(kind, markers);
  robot->SetRobotData(rows);
  robot->robot->param = ToSolverParam(param);
  const bool eyeToHand = param.HandEyeType != 0;
  std::vector<Kel::SE3d> flanges, points, bestPoints, bestFlanges;
  std::vector<Eigen::Vector3d> best;
  double bestRms = 0.0;
  for (const std::string& reading : readings) {
    SetConvention(*robot->robot, reading);
    robot->robot->BuildTransforms(flanges, points);
    std::vector<Eigen::Vector3d> predicted = Predict(transform, eyeToHand, flanges);
    const double rms = RmsMm(predicted, points);
    if (best.empty() || rms < bestRms) {
      best = std::move(predicted);
      bestPoints = points;
      bestFlanges = flanges;
      bestRms = rms;
      check.convention = reading;
    }
  }
  std::vector<Eigen::Vector3d> measured;
  for (std::size_t i = 0; i < best.size(); ++i) {
    measured.emplace_back(bestPoints[i].Translation());
    ShotCheck shot;
    for (int k = 0; k < 3; ++k) {
      shot.predictedMm[static_cast<std::size_t>(k)] = 1000.0 * best[i](k);
      shot.measuredMm[static_cast<std::size_t>(k)] = 1000.0 * measured.back()(k);
    }
    shot.residualMm = 1000.0 * (best[i] - measured.back()).norm();
    check.maxMm = std::max(check.maxMm, shot.residualMm);
    check.shots.push_back(shot);
  }
  check.rmsMm = bestRms;
  NormalResiduals(saved, transform, eyeToHand, bestFlanges, planes, check);
  double distance = 0.0;
  for (const Eigen::Vector3d& p : measured) distance += 1000.0 * p.norm() / static_cast<double>(measured.size());
  SetLimit(saved, options, distance, check);
  if (options.limitMm > 0.0 ||
      !JudgeWithCovariance(saved, transform, eyeToHand, bestFlanges, best, measured, planes, options, check)) {
    check.drift = check.rmsMm > check.limitMm;
    check.verdict = check.drift ? CheckVerdict::Drift : CheckVerdict::Ok;
    EstimateDisplacement(best, measured, check);
  }
  return Success;
}

}  // namespace TamoHandEye
