// SPDX-License-Identifier: Apache-2.0
#include "solver/JointSolve.h"

#include <LieGroup/SO3Tangent.h>

#include <Eigen/Cholesky>
#include <Eigen/Geometry>
#include <Eigen/SVD>

#include <algorithm>
#include <cmath>

namespace TamoHandEye {
namespace {

using Kel::SO3Tangentd;
using Vector12d = Eigen::Matrix<double, 12, 1>;
using Rows = Eigen::Matrix<double, Eigen::Dynamic, 12, 0, 6, 12>;
using Column = Eigen::Matrix<double, Eigen::Dynamic, 1, 0, 6, 1>;
using Square = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0, 6, 6>;

// The noise assumed where a shot does not state it, before its scale is taken from the residuals: 1 mm per
// axis for a point, 0.1° for a normal or a target's rotation.
constexpr double kDefaultPointVariance = 1e-6;
constexpr double kDefaultNormalVariance = 0.0017453292519943296 * 0.0017453292519943296;
// The noise factors settle when the residuals of both kinds agree with them within this share.
constexpr double kFactorSettled = 0.02;
constexpr int kMostFactorRounds = 8;
// The solution diverged: a camera or marker further than this from the point solution (metres).
constexpr double kMostShiftM = 0.5;

struct State {
  Eigen::Matrix3d rz = Eigen::Matrix3d::Identity();
  Eigen::Vector3d tz = Eigen::Vector3d::Zero();
  Eigen::Vector3d x = Eigen::Vector3d::Zero();
  Eigen::Vector3d n = Eigen::Vector3d::UnitZ();
  bool rotations = false;  // the shots' target rotations are measured (parameters 9–11: rb), not normals (9–10: n)
  Eigen::Matrix3d rb = Eigen::Matrix3d::Identity();
};

// Two unit axes across `n`: normalise(n × x̂) (n × ŷ when n is near x̂), and n × that.
Eigen::Matrix<double, 3, 2> Across(const Eigen::Vector3d& n) {
  Eigen::Vector3d a1 = n.cross(Eigen::Vector3d::UnitX());
  if (a1.norm() < 0.1) a1 = n.cross(Eigen::Vector3d::UnitY());
  a1.normalize();
  Eigen::Matrix<double, 3, 2> axes;
  axes.col(0) = a1;
  axes.col(1) = n.cross(a1);
  return axes;
}

Eigen::Matrix3d Turn(const Eigen::Vector3d& w) {
  const double angle = w.norm();
  if (angle < 1e-300) return Eigen::Matrix3d::Identity();
  return Eigen::AngleAxisd(angle, w / angle).toRotationMatrix();
}

// The stated noise of every shot, with the unstated ones filled: by the mean of the stated ones of their kind,
// or the defaults when none is stated.
struct Noise {
  std::vector<Eigen::Matrix3d> point;
  std::vector<Eigen::Matrix2d> normal;
  std::vector<Eigen::Matrix3d> rotation;
  bool pointStated = false;
  bool normalStated = false;
  bool rotationStated = false;
};

Noise StatedNoise(const JointProblem& problem) {
  Noise noise;
  const std::size_t n = problem.shots.size();
  double pointMean = 0.0, normalMean = 0.0, rotationMean = 0.0;
  int points = 0, normals = 0, rotations = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const JointShot& s = problem.shots[i];
    if (s.pointCovariance.trace() > 0.0 && s.pointCovariance.allFinite()) {
      pointMean += s.pointCovariance.trace() / 3.0;
      ++points;
    }
    if (s.hasNormal && s.normalCovariance.trace() > 0.0 && s.normalCovariance.allFinite()) {
      normalMean += s.normalCovariance.trace() / 2.0;
      ++normals;
    }
    if (s.hasRotation && s.rotationCovariance.trace() > 0.0 && s.rotationCovariance.allFinite()) {
      rotationMean += s.rotationCovariance.trace() / 3.0;
      ++rotations;
    }
  }
  noise.rotationStated = rotations > 0;
  rotationMean = rotations > 0 ? rotationMean / rotations : kDefaultNormalVariance;
  noise.pointStated = points > 0;
  noise.normalStated = normals > 0;
  pointMean = points > 0 ? pointMean / points : kDefaultPointVariance;
  normalMean = normals > 0 ? normalMean / normals : kDefaultNormalVariance;
  for (std::size_t i = 0; i < n; ++i) {
    const JointShot& s = problem.shots[i];
    const bool pointGiven = s.pointCovariance.trace() > 0.0 && s.pointCovariance.allFinite();
    noise.point.push_back(pointGiven ? s.pointCovariance : Eigen::Matrix3d(pointMean * Eigen::Matrix3d::Identity()));
    const bool normalGiven = s.hasNormal && s.normalCovariance.trace() > 0.0 && s.normalCovariance.allFinite();
    noise.normal.push_back(normalGiven ? s.normalCovariance
                                       : Eigen::Matrix2d(normalMean * Eigen::Matrix2d::Identity()));
    const bool rotationGiven = s.hasRotation && s.rotationCovariance.trace() > 0.0 && s.rotationCovariance.allFinite();
    noise.rotation.push_back(rotationGiven ? s.rotationCovariance
                                           : Eigen::Matrix3d(rotationMean * Eigen::Matrix3d::Identity()));
  }
  return noise;
}

Eigen::Matrix3d RotationA(const JointProblem& problem, std::size_t i, Eigen::Vector3d* translation) {
  const Kel::SE3d a = problem.eyeToHand ? problem.robotPoses[i] : problem.robotPoses[i].Inverse();
  if (translation != nullptr) *translation = a.Translation();
  return a.Rotation().RotationMatrix();
}

// How the stated noise is scaled: the points' covariance by `point`, plus `sight` (m²) along each point's line of
// sight (the depth errors of a real camera no single shot shows), the normals' (or rotations') by `normal`.
struct NoiseScale {
  double point = 1.0;
  double sight = 0.0;
  double normal = 1.0;
};

// One shot's residual, its derivative over the 12 parameters and its covariance (3 rows for the point, then 2 for a
// normal or 3 for a target's rotation).
struct ShotRows {
  Column r;
  Rows j;
  Square c;
};

// A shot's stated noise: its point's, its normal's and its rotation's covariance.
struct ShotNoise {
  const Eigen::Matrix3d& point;
  const Eigen::Matrix2d& normal;
  const Eigen::Matrix3d& rotation;
};

ShotRows BuildShotRows(bool eyeToHand, const Eigen::Matrix3d& ra, const Eigen::Vector3d& ta, const JointShot& shot,
                       const ShotNoise& noise, const JointOptions& options, const State& s,
                       const Eigen::Matrix<double, 3, 2>& tangent, const NoiseScale& scale) {
  const int m = 3 + (s.rotations ? (shot.hasRotation ? 3 : 0) : (shot.hasNormal ? 2 : 0));
  ShotRows rows{Column(m), Rows::Zero(m, 12), Square::Zero(m, m)};
  const Eigen::Vector3d q = ra * s.x + ta;
  rows.r.head<3>() = q - s.rz * shot.point - s.tz;
  rows.j.block<3, 3>(0, 0) = ra;
  rows.j.block<3, 3>(0, 3) = s.rz * SO3Tangentd::Hat(shot.point);
  rows.j.block<3, 3>(0, 6) = -Eigen::Matrix3d::Identity();
  const Eigen::Vector3d sight = shot.point.normalized();
  const Eigen::Matrix3d inCamera = scale.point * noise.point + scale.sight * sight * sight.transpose();
  rows.c.topLeftCorner<3, 3>() = s.rz * inCamera * s.rz.transpose();
  // The robot's noise as a turn ω and shift v of the flange in its own frame: F·exp(v, ω).
  Eigen::Matrix<double, 6, 6> g = Eigen::Matrix<double, 6, 6>::Zero();
  if (eyeToHand) {
    g.block<3, 3>(0, 0) = ra;
    g.block<3, 3>(0, 3) = -ra * SO3Tangentd::Hat(s.x);
  } else {
    g.block<3, 3>(0, 0) = -Eigen::Matrix3d::Identity();
    g.block<3, 3>(0, 3) = SO3Tangentd::Hat(q);
  }
  if (m == 6) {
    // M = R_Tᵀ·R_Zᵀ·R_A·R_B ≈ I: the measured target rotation against the predicted one, r = log(M).
    const Eigen::Matrix3d predicted = s.rz.transpose() * ra * s.rb;
    const Eigen::AngleAxisd turn(Eigen::Matrix3d(shot.rotation.transpose() * predicted));
    rows.r.tail<3>() = turn.axis() * turn.angle();
    rows.j.block<3, 3>(3, 3) = -shot.rotation.transpose();
    rows.j.block<3, 3>(3, 9) = Eigen::Matrix3d::Identity();
    rows.c.bottomRightCorner<3, 3>() = scale.normal * noise.rotation;
    g.block<3, 3>(3, 3) =
        eyeToHand ? Eigen::Matrix3d(s.rb.transpose()) : Eigen::Matrix3d(-shot.rotation.transpose() * s.rz.transpose());
  } else if (m == 5) {
    const Eigen::Matrix<double, 3, 2> u = shot.normalAxes;
    const Eigen::Vector3d m3 = s.rz.transpose() * ra * s.n;
    rows.r.tail<2>() = u.transpose() * m3;
    rows.j.block<2, 3>(3, 3) = u.transpose() * SO3Tangentd::Hat(m3);
    rows.j.block<2, 2>(3, 9) = u.transpose() * s.rz.transpose() * ra * tangent;
    rows.c.bottomRightCorner<2, 2>() = scale.normal * noise.normal;
    if (eyeToHand) {
      g.block<2, 3>(3, 3) = -u.transpose() * s.rz.transpose() * ra * SO3Tangentd::Hat(s.n);
    } else {
      g.block<2, 3>(3, 3) = u.transpose() * s.rz.transpose() * SO3Tangentd::Hat(ra * s.n);
    }
  }
  const double sv = options.robotNoiseM * options.robotNoiseM;
  const double sw = options.robotNoiseRad * options.robotNoiseRad;
  if (sv > 0.0 || sw > 0.0) {
    Eigen::Matrix<double, 6, 1> spread;
    spread << sv, sv, sv, sw, sw, sw;
    const Eigen::Matrix<double, 6, 6> robot = g * spread.asDiagonal() * g.transpose();
    rows.c += robot.topLeftCorner(m, m);
  }
  return rows;
}

ShotRows BuildRows(const JointProblem& problem, const Noise& noise, std::size_t i, const State& s,
                   const Eigen::Matrix<double, 3, 2>& tangent, const NoiseScale& scale) {
  Eigen::Vector3d ta;
  const Eigen::Matrix3d ra = RotationA(problem, i, &ta);
  return BuildShotRows(problem.eyeToHand, ra, ta, problem.shots[i],
                       {noise.point[i], noise.normal[i], noise.rotation[i]}, problem.options, s, tangent, scale);
}

// The weights of one round: every used shot's covariance, frozen over the round's iterations.
struct Round {
  std::vector<Square> covariance;
};

Round Weights(const JointProblem& problem, const Noise& noise, const State& s, const NoiseScale& scale) {
  Round round;
  const Eigen::Matrix<double, 3, 2> tangent = Across(s.n);
  for (std::size_t i = 0; i < problem.shots.size(); ++i) {
    round.covariance.push_back(problem.Used(i) ? BuildRows(problem, noise, i, s, tangent, scale).c : Square());
  }
  return round;
}

// Σ J̃ᵀJ̃ and Σ J̃ᵀr̃ of the whitened rows, and the cost Σ r̃ᵀr̃; false when a covariance is not positive.
struct Normal {
  Matrix12d h = Matrix12d::Zero();
  Vector12d g = Vector12d::Zero();
  double cost = 0.0;
};

// With normals the last parameter is not used: pinned (at the scale of the others, which it does not touch), so
// that the system stays regular.
void PinUnused(const State& s, Matrix12d& h) {
  if (!s.rotations) h(11, 11) = std::max(h.diagonal().head<11>().maxCoeff(), 1.0);
}

bool Accumulate(const JointProblem& problem, const Noise& noise, const Round& round, const State& s, Normal& out) {
  out = Normal{};
  const Eigen::Matrix<double, 3, 2> tangent = Across(s.n);
  for (std::size_t i = 0; i < problem.shots.size(); ++i) {
    if (!problem.Used(i)) continue;
    const ShotRows rows = BuildRows(problem, noise, i, s, tangent, NoiseScale{});
    const Eigen::LLT<Square> llt(round.covariance[i]);
    if (llt.info() != Eigen::Success) return false;
    const Rows j = llt.matrixL().solve(rows.j);
    const Column r = llt.matrixL().solve(rows.r);
    out.h.noalias() += j.transpose() * j;
    out.g.noalias() += j.transpose() * r;
    out.cost += r.squaredNorm();
  }
  PinUnused(s, out.h);
  return out.h.allFinite() && std::isfinite(out.cost);
}

State Step(const State& s, const Vector12d& d) {
  State next = s;
  next.x += d.segment<3>(0);
  next.rz = s.rz * Turn(d.segment<3>(3));
  next.tz += d.segment<3>(6);
  if (s.rotations) {
    next.rb = s.rb * Turn(d.segment<3>(9));
  } else {
    next.n = (s.n + Across(s.n) * d.segment<2>(9)).normalized();
  }
  return next;
}

// Levenberg-Marquardt under one round's weights; false when the system is singular.
bool Minimise(const JointProblem& problem, const Noise& noise, const Round& round, State& s, int& iterations) {
  Normal current;
  if (!Accumulate(problem, noise, round, s, current)) return false;
  double lambda = 1e-6;
  for (int k = 0; k < problem.options.maxIterations; ++k) {
    ++iterations;
    Matrix12d damped = current.h;
    damped.diagonal() *= 1.0 + lambda;
    const Eigen::LDLT<Matrix12d> ldlt(damped);
    if (ldlt.info() != Eigen::Success) return false;
    const Vector12d d = -ldlt.solve(current.g);
    if (!d.allFinite()) return false;
    const State trial = Step(s, d);
    Normal next;
    if (Accumulate(problem, noise, round, trial, next) && next.cost <= current.cost) {
      const bool settled = current.cost - next.cost <= 1e-12 * (1.0 + current.cost) || d.norm() < 1e-12;
      s = trial;
      current = next;
      lambda = std::max(lambda / 3.0, 1e-12);
      if (settled) return true;
    } else {
      lambda *= 4.0;
      if (lambda > 1e8) return true;  // no step lowers the cost: at the minimum within rounding
    }
  }
  return true;
}

// The share of the redundancy and the sum of squares of each kind of residual: a point's along its line of sight
// and across it (in the camera frame), and the normals', each whitened by its own block of the covariance.
struct Shares {
  double squares[3] = {0.0, 0.0, 0.0};  // along, across, normal (or rotation)
  double freedom[3] = {0.0, 0.0, 0.0};
  double alongVariance = 0.0;  // the mean variance along the line of sight (m²)
};

// The point's rows along its line of sight (row 0) and across it (rows 1-2), each part whitened by its own block.
void WhitenPoint(const ShotRows& rows, const Eigen::Matrix3d& rz, const Eigen::Vector3d& sight, Rows& j, Column& r) {
  const Eigen::Matrix3d c = rows.c.topLeftCorner<3, 3>();
  const Eigen::Matrix<double, 3, 12> jp = rows.j.topRows<3>();
  const Eigen::Vector3d rp = rows.r.head<3>();
  const Eigen::Vector3d along = rz * sight;
  const double spread = std::sqrt(along.dot(c * along));
  j.row(0) = along.transpose() * jp / spread;
  r(0) = along.dot(rp) / spread;
  const Eigen::Matrix<double, 2, 3> across = (rz * Across(sight)).transpose();
  const Eigen::LLT<Eigen::Matrix2d> llt(across * c * across.transpose());
  j.middleRows<2>(1) = llt.matrixL().solve(across * jp);
  r.segment<2>(1) = llt.matrixL().solve(across * rp);
}

Shares SharesOf(const JointProblem& problem, const Noise& noise, const Round& round, const State& s) {
  const Eigen::Matrix<double, 3, 2> tangent = Across(s.n);
  std::vector<Rows> js;
  std::vector<Column> rs;
  Matrix12d h = Matrix12d::Zero();
  Shares shares;
  int used = 0;
  for (std::size_t i = 0; i < problem.shots.size(); ++i) {
    if (!problem.Used(i)) continue;
    ShotRows rows = BuildRows(problem, noise, i, s, tangent, NoiseScale{});
    rows.c = round.covariance[i];
    const Eigen::Vector3d sight = problem.shots[i].point.normalized();
    Rows j(rows.j.rows(), 12);
    Column r(rows.r.rows());
    WhitenPoint(rows, s.rz, sight, j, r);
    const Eigen::Index extra = rows.r.rows() - 3;
    if (extra > 0) {
      const Square c = rows.c.bottomRightCorner(extra, extra);
      const Eigen::LLT<Square> ln(c);
      j.bottomRows(extra) = ln.matrixL().solve(rows.j.bottomRows(extra));
      r.tail(extra) = ln.matrixL().solve(rows.r.tail(extra));
    }
    const Eigen::Vector3d along = s.rz * sight;
    shares.alongVariance += along.dot(rows.c.topLeftCorner<3, 3>() * along);
    ++used;
    h.noalias() += j.transpose() * j;
    js.push_back(j);
    rs.push_back(r);
  }
  shares.alongVariance /= std::max(used, 1);
  PinUnused(s, h);
  const Eigen::LDLT<Matrix12d> ldlt(h);
  for (std::size_t k = 0; k < js.size(); ++k) {
    for (Eigen::Index row = 0; row < js[k].rows(); ++row) {
      const Vector12d jr = js[k].row(row).transpose();
      const int kind = row == 0 ? 0 : row < 3 ? 1 : 2;
      shares.squares[kind] += rs[k](row) * rs[k](row);
      shares.freedom[kind] += 1.0 - jr.dot(ldlt.solve(jr));
    }
  }
  return shares;
}

// A new factor from the residuals of its kind: f·χ²/r; not below 1 where the shots stated their noise.
double NextFactor(double factor, double squares, double freedom, bool stated) {
  if (!(freedom >= 1.0) || !(squares > 0.0)) return factor;
  const double next = factor * squares / freedom;
  return stated ? std::max(next, 1.0) : std::max(next, 1e-12);
}

// The next scale from one round's residuals, and whether it settled.
bool NextScale(const Shares& shares, const Noise& noise, NoiseScale& scale) {
  NoiseScale next = scale;
  next.point = NextFactor(scale.point, shares.squares[1], shares.freedom[1], noise.pointStated);
  next.normal = NextFactor(scale.normal, shares.squares[2], shares.freedom[2], noise.normalStated);
  double alongRatio = 1.0;
  if (shares.freedom[0] >= 1.0) {
    alongRatio = shares.squares[0] / shares.freedom[0];
    next.sight = std::max(0.0, scale.sight + (alongRatio - 1.0) * shares.alongVariance);
  }
  const bool settled = std::abs(next.point / scale.point - 1.0) < kFactorSettled &&
                       std::abs(next.normal / scale.normal - 1.0) < kFactorSettled &&
                       (std::abs(alongRatio - 1.0) < kFactorSettled || (next.sight == 0.0 && alongRatio < 1.0));
  scale = next;
  return settled;
}

}  // namespace

namespace {

// The starting orientation of the board (or target) in the fixed frame, from every shot that measured it; false
// when none did. With any target rotation, the rotations are used (normals then are not).
bool StartOrientation(const JointProblem& problem, State& s, int& count) {
  count = 0;
  Eigen::Vector3d sum = Eigen::Vector3d::Zero();
  Eigen::Matrix3d rotations = Eigen::Matrix3d::Zero();
  for (std::size_t i = 0; i < problem.shots.size(); ++i) {
    if (!problem.Used(i)) continue;
    const JointShot& shot = problem.shots[i];
    const Eigen::Matrix3d toFixed = RotationA(problem, i, nullptr).transpose() * s.rz;
    if (shot.hasRotation) rotations += toFixed * shot.rotation;
    if (shot.hasNormal) {
      // A normal's residual does not see its sign; the start must not let opposite ones cancel.
      const Eigen::Vector3d n = toFixed * shot.normal;
      sum += sum.dot(n) < 0.0 ? Eigen::Vector3d(-n) : n;
    }
  }
  s.rotations = rotations.norm() > 0.0;
  for (std::size_t i = 0; i < problem.shots.size(); ++i) {
    if (problem.Used(i) && (s.rotations ? problem.shots[i].hasRotation : problem.shots[i].hasNormal)) ++count;
  }
  if (s.rotations) {
    const Eigen::JacobiSVD<Eigen::Matrix3d> svd(rotations, Eigen::ComputeFullU | Eigen::ComputeFullV);
    Eigen::Matrix3d d = Eigen::Matrix3d::Identity();
    d(2, 2) = (svd.matrixU() * svd.matrixV().transpose()).determinant() < 0.0 ? -1.0 : 1.0;
    s.rb = svd.matrixU() * d * svd.matrixV().transpose();
    return true;
  }
  if (!(sum.norm() > 0.0)) return false;
  s.n = sum.normalized();
  return true;
}

// RMS angle between each shot's measured normal (or target rotation) and the solution's.
double OrientationRms(const JointProblem& problem, const State& s) {
  double squares = 0.0;
  int count = 0;
  for (std::size_t i = 0; i < problem.shots.size(); ++i) {
    const JointShot& shot = problem.shots[i];
    if (!problem.Used(i) || !(s.rotations ? shot.hasRotation : shot.hasNormal)) continue;
    const Eigen::Matrix3d toCamera = s.rz.transpose() * RotationA(problem, i, nullptr);
    double angle = 0.0;
    if (s.rotations) {
      angle = Eigen::AngleAxisd(Eigen::Matrix3d(shot.rotation.transpose() * toCamera * s.rb)).angle();
    } else {
      const Eigen::Vector3d predicted = toCamera * s.n;
      angle = std::atan2(predicted.cross(shot.normal).norm(), std::abs(predicted.dot(shot.normal)));
    }
    squares += angle * angle;
    ++count;
  }
  return count > 0 ? std::sqrt(squares / count) : 0.0;
}

// One shot's normal noise per axis across it (rad²) from the normals' residuals (a rotation's third axis standing for
// the normal), over 2m − 5 freedoms: the normal's 2 parameters and the camera's turn, which the normals share with
// the points, fitted to them. Zero with fewer than 3 normals.
double ShotNormalVariance(const JointProblem& problem, const State& s, int& freedom) {
  double squares = 0.0;
  int count = 0;
  const Eigen::Vector3d n = s.rotations ? Eigen::Vector3d(s.rb.col(2)) : s.n;
  for (std::size_t i = 0; i < problem.shots.size(); ++i) {
    const JointShot& shot = problem.shots[i];
    if (!problem.Used(i) || !(s.rotations ? shot.hasRotation : shot.hasNormal)) continue;
    const Eigen::Vector3d measured = s.rotations ? Eigen::Vector3d(shot.rotation.col(2)) : shot.normal;
    const Eigen::Vector3d predicted = s.rz.transpose() * RotationA(problem, i, nullptr) * n;
    const double angle = std::atan2(predicted.cross(measured).norm(), std::abs(predicted.dot(measured)));
    squares += angle * angle;
    ++count;
  }
  freedom = 2 * count - 5;
  if (freedom < 1) {
    freedom = 0;
    return 0.0;
  }
  return squares / freedom;
}

// The normal's sign, which no residual sees: as most shots give it (towards the camera, as the detector does).
void OrientNormal(const JointProblem& problem, State& s) {
  if (s.rotations) return;
  int agree = 0;
  for (std::size_t i = 0; i < problem.shots.size(); ++i) {
    if (!problem.Used(i) || !problem.shots[i].hasNormal) continue;
    agree += (s.rz.transpose() * RotationA(problem, i, nullptr) * s.n).dot(problem.shots[i].normal) < 0.0 ? -1 : 1;
  }
  if (agree < 0) s.n = -s.n;
}

}  // namespace

JointSolution SolveJoint(const JointProblem& problem, const Kel::SE3d& marker, const Kel::SE3d& camera) {
  JointSolution out;
  State s;
  s.rz = camera.Rotation().RotationMatrix();
  s.tz = camera.Translation();
  s.x = marker.Translation();
  std::size_t used = 0;
  for (std::size_t i = 0; i < problem.shots.size(); ++i) used += problem.Used(i) ? 1u : 0u;
  if (used < 5 || problem.shots.size() != problem.robotPoses.size() || !StartOrientation(problem, s, out.normals) ||
      out.normals == 0) {
    return out;
  }
  const Noise noise = StatedNoise(problem);
  NoiseScale scale;
  for (int round = 0; round < kMostFactorRounds; ++round) {
    const Round weights = Weights(problem, noise, s, scale);
    if (!Minimise(problem, noise, weights, s, out.iterations)) return out;
    if (NextScale(SharesOf(problem, noise, weights, s), noise, scale)) break;
  }
  const Round weights = Weights(problem, noise, s, scale);
  if (!Minimise(problem, noise, weights, s, out.iterations)) return out;
  OrientNormal(problem, s);
  Normal normal;
  if (!Accumulate(problem, noise, weights, s, normal)) return out;
  const Eigen::LDLT<Matrix12d> ldlt(normal.h);
  if (ldlt.info() != Eigen::Success || !(ldlt.vectorD().minCoeff() > 1e-12 * ldlt.vectorD().maxCoeff())) return out;
  out.covariance = ldlt.solve(Matrix12d::Identity());
  if (!out.covariance.allFinite() || (s.x - marker.Translation()).norm() > kMostShiftM ||
      (s.tz - camera.Translation()).norm() > kMostShiftM) {
    return out;
  }
  out.normalRmsRad = OrientationRms(problem, s);
  out.marker = Kel::SE3d(s.x, Kel::SO3d());
  out.camera = Kel::SE3d(s.tz, Kel::SO3d(Eigen::Quaterniond(s.rz).normalized()));
  out.rotations = s.rotations;
  out.boardRotation = s.rb;
  out.normal = s.rotations ? Eigen::Vector3d(s.rb.col(2)) : s.n;
  // How N moves with its parameters: along the two axes across it, or with the target's turn φ in its own frame
  // (R_B·exp(φ)·ẑ = N + R_B·(φ × ẑ)).
  const int turns = s.rotations ? 3 : 2;
  Eigen::Matrix3d moves = Eigen::Matrix3d::Zero();
  if (s.rotations) {
    moves = -s.rb * Kel::SO3Tangentd::Hat(Eigen::Vector3d::UnitZ());
  } else {
    moves.leftCols<2>() = Across(s.n);
  }
  const Eigen::MatrixXd m = moves.leftCols(turns);
  out.normalCovariance = m * out.covariance.block(9, 9, turns, turns) * m.transpose();
  out.normalCross = m * out.covariance.block(9, 0, turns, 9);
  out.shotNormalVariance = ShotNormalVariance(problem, s, out.normalFreedom);
  out.pointFactor = scale.point;
  out.sightVariance = scale.sight;
  out.normalFactor = scale.normal;
  out.solved = true;
  return out;
}

namespace {

State StateOf(const JointSolution& solution) {
  State s;
  s.rz = solution.camera.Rotation().RotationMatrix();
  s.tz = solution.camera.Translation();
  s.x = solution.marker.Translation();
  s.n = solution.normal;
  s.rotations = solution.rotations;
  s.rb = solution.boardRotation;
  return s;
}

}  // namespace

std::vector<JointLeftOut> JointLeaveOneOut(const JointProblem& problem, const JointSolution& solution) {
  std::vector<JointLeftOut> out(problem.shots.size());
  if (!solution.solved) return out;
  const State s = StateOf(solution);
  const Noise noise = StatedNoise(problem);
  const NoiseScale scale{solution.pointFactor, solution.sightVariance, solution.normalFactor};
  const Round weights = Weights(problem, noise, s, scale);
  const Eigen::Matrix<double, 3, 2> tangent = Across(s.n);
  Normal all;
  if (!Accumulate(problem, noise, weights, s, all)) return out;
  for (std::size_t i = 0; i < problem.shots.size(); ++i) {
    const ShotRows rows = BuildRows(problem, noise, i, s, tangent, scale);
    if (!problem.Used(i)) {
      out[i].distance = rows.r.head<3>().norm();
      continue;
    }
    const Eigen::LLT<Square> llt(weights.covariance[i]);
    const Rows j = llt.matrixL().solve(rows.j);
    const Column r = llt.matrixL().solve(rows.r);
    const Matrix12d without = all.h - j.transpose() * j;
    const Eigen::LDLT<Matrix12d> ldlt(without);
    if (ldlt.info() != Eigen::Success || !(ldlt.vectorD().minCoeff() > 1e-12 * ldlt.vectorD().maxCoeff())) continue;
    const Vector12d step = ldlt.solve(j.transpose() * r);
    const Eigen::Vector3d e = rows.r.head<3>() + rows.j.topRows<3>() * step;
    const Eigen::Matrix<double, 3, 12> jp = rows.j.topRows<3>();
    const Eigen::Matrix3d spread = rows.c.topLeftCorner<3, 3>() + jp * ldlt.solve(jp.transpose());
    out[i].distance = e.norm();
    out[i].studentised = std::sqrt(e.dot(spread.ldlt().solve(e)) / 3.0);
  }
  return out;
}

}  // namespace TamoHandEye

namespace TamoHandEye {

JointPredictor::JointPredictor(const JointProblem& problem, const JointSolution& solution)
    : problem_(problem), solution_(solution) {
  information_ = solution.covariance.inverse();
  const Noise noise = StatedNoise(problem);
  int used = 0;
  for (std::size_t i = 0; i < problem.shots.size(); ++i) {
    if (!problem.Used(i)) continue;
    const Eigen::Vector3d sight = problem.shots[i].point.normalized();
    const double along = sight.dot(noise.point[i] * sight);
    alongVariance_ += along;
    acrossVariance_ += (noise.point[i].trace() - along) / 2.0;
    normalVariance_ += noise.normal[i].trace() / 2.0;
    rotationVariance_ += noise.rotation[i].trace() / 3.0;
    ++used;
  }
  const double share = 1.0 / std::max(used, 1);
  alongVariance_ *= share;
  acrossVariance_ *= share;
  normalVariance_ *= share;
  rotationVariance_ *= share;
}

JointRows JointPredictor::Rows(const Kel::SE3d& flange) const {
  const JointSolution& s = solution_;
  const State state = StateOf(s);
  const Kel::SE3d a = problem_.eyeToHand ? flange : flange.Inverse();
  const Eigen::Matrix3d ra = a.Rotation().RotationMatrix();
  const Eigen::Matrix3d toCamera = state.rz.transpose() * ra;
  JointShot shot;
  shot.point = toCamera * state.x + state.rz.transpose() * (a.Translation() - state.tz);
  shot.hasRotation = state.rotations;
  shot.rotation = toCamera * state.rb;
  shot.hasNormal = !state.rotations;
  shot.normal = toCamera * state.n;
  shot.normalAxes = Across(shot.normal);
  const Eigen::Vector3d sight = shot.point.normalized();
  const Eigen::Matrix3d point =
      acrossVariance_ * Eigen::Matrix3d::Identity() + (alongVariance_ - acrossVariance_) * sight * sight.transpose();
  const Eigen::Matrix2d normal = normalVariance_ * Eigen::Matrix2d::Identity();
  const Eigen::Matrix3d rotation = rotationVariance_ * Eigen::Matrix3d::Identity();
  const NoiseScale scale{s.pointFactor, s.sightVariance, s.normalFactor};
  const ShotRows rows = BuildShotRows(problem_.eyeToHand, ra, a.Translation(), shot, {point, normal, rotation},
                                      problem_.options, state, Across(state.n), scale);
  // Padded to 6 rows so that the products stay of fixed size.
  const Eigen::Index m = rows.j.rows();
  JointRows out;
  out.c.topLeftCorner(m, m) = rows.c;
  out.j.topRows(m) = rows.j;
  return out;
}

}  // namespace TamoHandEye
