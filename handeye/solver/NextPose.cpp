// SPDX-License-Identifier: Apache-2.0
#include "solver/NextPose.h"

#include "solver/ReductionBound.h"

#include <Eigen/Cholesky>
#include <Eigen/Geometry>
#include <Eigen/SVD>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <memory>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace TamoHandEye {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr int kAxes = 26;

// `count` directions spread evenly over the sphere (a Fibonacci lattice).
std::vector<Eigen::Vector3d> SpreadAxes(int count) {
  const double golden = 3.14159265358979323846 * (3.0 - std::sqrt(5.0));
  std::vector<Eigen::Vector3d> axes;
  for (int k = 0; k < count; ++k) {
    const double z = 1.0 - (2.0 * k + 1.0) / count;
    const double r = std::sqrt(1.0 - z * z);
    axes.emplace_back(r * std::cos(golden * k), r * std::sin(golden * k), z);
  }
  return axes;
}

// Where the marker may be put in the new pose's camera frame: on the optical axis, and 8 directions each on
// two rings, at half the view cone and on its edge.
std::vector<Eigen::Vector3d> ViewDirections(double coneDeg) {
  std::vector<Eigen::Vector3d> out{Eigen::Vector3d::UnitZ()};
  for (const double part : {0.5, 1.0}) {
    const double tilt = part * coneDeg * kDegree;
    for (int k = 0; k < 8; ++k) {
      const double azimuth = k * 45.0 * kDegree;
      out.emplace_back(std::sin(tilt) * std::cos(azimuth), std::sin(tilt) * std::sin(azimuth), std::cos(tilt));
    }
  }
  return out;
}

// With the pinhole known: the principal point, and 8 places each half-way to and on the border of the image
// shrunk by `margin` of its size and by `marginDeg` of direction error on every side; directions of the
// camera frame. Empty when that leaves no image.
std::vector<Eigen::Vector3d> ImageDirections(const CameraPinhole& p, double margin, double marginDeg) {
  const double slackU = margin * p.width + p.fx * std::tan(marginDeg * kDegree);
  const double slackV = margin * p.height + p.fy * std::tan(marginDeg * kDegree);
  const double left = slackU - 0.5, right = p.width - 0.5 - slackU;
  const double top = slackV - 0.5, bottom = p.height - 0.5 - slackV;
  if (!(left < right && top < bottom)) return {};
  const double u0 = std::clamp(p.cx, left, right);
  const double v0 = std::clamp(p.cy, top, bottom);
  std::vector<Eigen::Vector2d> pixels{{u0, v0}};
  for (const double part : {0.5, 1.0}) {
    for (int k = 0; k < 8; ++k) {
      const int du = k == 0 || k == 1 || k == 7 ? 1 : (k == 3 || k == 4 || k == 5 ? -1 : 0);
      const int dv = k >= 1 && k <= 3 ? 1 : (k >= 5 ? -1 : 0);
      const double u = u0 + part * (du > 0 ? right - u0 : (du < 0 ? left - u0 : 0.0));
      const double v = v0 + part * (dv > 0 ? bottom - v0 : (dv < 0 ? top - v0 : 0.0));
      pixels.emplace_back(u, v);
    }
  }
  std::vector<Eigen::Vector3d> out;
  for (const Eigen::Vector2d& px : pixels) {
    out.push_back(Eigen::Vector3d((px.x() - p.cx) / p.fx, (px.y() - p.cy) / p.fy, 1.0).normalized());
  }
  return out;
}

double AngleDeg(const Eigen::Vector3d& a, const Eigen::Vector3d& b) {
  return std::atan2(a.cross(b).norm(), a.dot(b)) / kDegree;
}

// Whether AngleDeg(a, b) <= limitDeg for unit vectors a and b, `cosLimit` the limit's cosine: told by the cosine
// (a·b) where it is more than rounding's reach from the limit, by the angle itself near it.
bool WithinDeg(const Eigen::Vector3d& a, const Eigen::Vector3d& b, double limitDeg, double cosLimit) {
  constexpr double kReach = 1e-9;
  const double c = a.dot(b);
  if (c > cosLimit + kReach) return true;
  if (c < cosLimit - kReach) return false;
  return AngleDeg(a, b) <= limitDeg;
}

// A candidate's key split into its loops' indices, outermost first: key = ((outer · directions + direction) ·
// axes + axis) · 3 + part.
struct KeyParts {
  std::size_t outer, direction, axis, part;
};
KeyParts SplitKey(std::size_t key, std::size_t directions, std::size_t axes) {
  return {key / 3 / axes / directions, key / 3 / axes % directions, key / 3 % axes, key % 3};
}

// The share of the largest turn of each candidate turn: a third, two thirds and all of it.
double TurnPart(std::size_t part) { return part == 0 ? 1.0 / 3.0 : (part == 1 ? 2.0 / 3.0 : 1.0); }

// The turns of the candidates, by axis then part: `maxTurnDeg` × TurnPart(part) about each axis.
std::vector<Eigen::Matrix3d> Turns(const std::vector<Eigen::Vector3d>& axes, double maxTurnDeg) {
  std::vector<Eigen::Matrix3d> turns;
  for (const Eigen::Vector3d& axis : axes) {
    for (std::size_t part = 0; part < 3; ++part) {
      turns.push_back(Eigen::AngleAxisd(TurnPart(part) * maxTurnDeg * kDegree, axis).toRotationMatrix());
    }
  }
  return turns;
}

// The camera translation's 1σ (mm) of the normal matrix, at the variance `variance`; +inf when singular.
double TranslationSigmaMm(const Matrix9d& normal, double variance) {
  const Eigen::LDLT<Matrix9d> ldlt(normal);
  if (ldlt.info() != Eigen::Success || !ldlt.isPositive()) return std::numeric_limits<double>::infinity();
  Eigen::Matrix<double, 9, 3> unit = Eigen::Matrix<double, 9, 3>::Zero();
  unit.bottomRows<3>().setIdentity();
  const Eigen::Matrix<double, 9, 3> columns = ldlt.solve(unit);
  const double trace = columns.bottomRows<3>().trace() * variance;
  return trace > 0.0 && std::isfinite(trace) ? 1000.0 * std::sqrt(trace) : std::numeric_limits<double>::infinity();
}

// A candidate as the suggestions and plans report it: from pose `from`, turned by `turnDeg` about `axis`, the marker
// seen along `direction` at `distance` metres.
NextPose Candidate(const Eigen::Isometry3d& placed, int from, const Eigen::Vector3d& axis, double turnDeg,
                   const Eigen::Vector3d& direction, const CameraPinhole& camera, double distance) {
  NextPose pose;
  pose.flange = placed.matrix();
  pose.from = from;
  pose.axis = axis;
  pose.turnDeg = turnDeg;
  pose.viewDeg = AngleDeg(direction, Eigen::Vector3d::UnitZ());
  if (camera.width > 0) {
    pose.pixel = Eigen::Vector2d(camera.fx * direction.x() / direction.z() + camera.cx,
                                 camera.fy * direction.y() / direction.z() + camera.cy);
  }
  pose.distanceMm = 1000.0 * distance;
  return pose;
}

// One set-up's geometry, in metres. Eye-in-hand: the marker fixed in the base, the camera on the flange
// (Z = flange_from_camera). Eye-to-hand: the camera fixed in the base (Z = base_from_camera), the marker
// on the flange. The marker's own frame is the base (eye-in-hand) or the flange (eye-to-hand).
class Geometry {
 public:
  Geometry(const SolvedPoses& poses, const Kel::SE3d& marker, const Kel::SE3d& camera)
      : Geometry(poses.eyeToHand, marker, camera) {}
  Geometry(bool fixedCamera, const Kel::SE3d& marker, const Kel::SE3d& camera)
      : eyeToHand(fixedCamera), markerPoint(marker.Translation()) {
    z.matrix() = camera.Matrix();
  }

  Eigen::Isometry3d Flange(const Kel::SE3d& pose) const {
    Eigen::Isometry3d f;
    f.matrix() = pose.Matrix();
    return f;
  }
  // The camera in the base for a flange pose.
  Eigen::Isometry3d Camera(const Eigen::Isometry3d& flange) const { return eyeToHand ? z : flange * z; }
  // A direction of the marker's own frame in the camera frame, for a flange pose.
  Eigen::Vector3d InCamera(const Eigen::Isometry3d& flange, const Eigen::Vector3d& direction) const {
    const Eigen::Vector3d inBase = eyeToHand ? Eigen::Vector3d(flange.linear() * direction) : direction;
    return Camera(flange).linear().transpose() * inBase;
  }
  // The marker in the base for a flange pose.
  Eigen::Vector3d Marker(const Eigen::Isometry3d& flange) const {
    return eyeToHand ? Eigen::Vector3d(flange * markerPoint) : markerPoint;
  }
  // The camera's line of sight to the marker (from the marker), in the marker's own frame.
  Eigen::Vector3d LineOfSight(const Eigen::Isometry3d& flange) const {
    const Eigen::Vector3d centre = eyeToHand ? z.translation() : Eigen::Vector3d(flange * z.translation());
    const Eigen::Vector3d fromMarker = centre - Marker(flange);
    return (eyeToHand ? Eigen::Vector3d(flange.linear().transpose() * fromMarker) : fromMarker).normalized();
  }
  // The flange whose orientation is `rotation` and which puts the marker at `inCamera` in the camera frame.
  Eigen::Isometry3d Place(const Eigen::Matrix3d& rotation, const Eigen::Vector3d& inCamera) const {
    Eigen::Isometry3d flange = Eigen::Isometry3d::Identity();
    flange.linear() = rotation;
    if (eyeToHand) {
      flange.translation() = z * inCamera - rotation * markerPoint;
    } else {
      // The camera's orientation is rotation·R_Z; its centre puts the marker at `inCamera`.
      const Eigen::Matrix3d cameraRotation = rotation * z.linear();
      const Eigen::Vector3d centre = markerPoint - cameraRotation * inCamera;
      flange.translation() = centre - rotation * z.translation();
    }
    return flange;
  }
  // The pose's rows of the translation residuals' derivative (as the solver reads the flange pose).
  Eigen::Matrix<double, 3, 9> Jacobian(const Eigen::Isometry3d& flange, const Eigen::Vector3d& inCamera) const {
    const Eigen::Matrix3d a = eyeToHand ? flange.linear() : Eigen::Matrix3d(flange.linear().transpose());
    return TranslationJacobian(a, inCamera, z.linear());
  }

 private:
  bool eyeToHand;
  Eigen::Vector3d markerPoint;
  Eigen::Isometry3d z = Eigen::Isometry3d::Identity();
};

// The candidates of a solved pose set: each pose used, turned, placed and kept or not (see the header).
class CandidateSet {
 public:
  // `marginDeg`: how far inside the view cone the marker is kept, for the calibration's own error.
  CandidateSet(const SolvedPoses& poses, const Geometry& g, const NextPoseOptions& options, double marginDeg)
      : geometry(g),
        axes(options.fourAxis ? std::vector<Eigen::Vector3d>{Eigen::Vector3d::UnitZ(), -Eigen::Vector3d::UnitZ()}
                              : SpreadAxes(kAxes)),
        directions(options.camera.width > 0 ? ImageDirections(options.camera, options.imageMargin, marginDeg)
                                            : ViewDirections(std::max(0.0, options.viewConeDeg - marginDeg))),
        turns(Turns(axes, options.maxTurnDeg)),
        camera(options.camera),
        maxTurnDeg(options.maxTurnDeg),
        cosTurn(std::cos(maxTurnDeg * kDegree)) {
    for (std::size_t i = 0; i < poses.robotPoses.size(); ++i) {
      if (!poses.Used(i)) continue;
      const Eigen::Isometry3d flange = g.Flange(poses.robotPoses[i]);
      const double distance = (g.Camera(flange).inverse() * g.Marker(flange)).norm();
      if (!(distance > 0.0)) continue;
      from.push_back({i, flange, distance});
      meanSight += g.LineOfSight(flange);
    }
    if (meanSight.norm() < 1e-9) from.clear();
    meanSight.normalize();
  }

  // How many candidates are tried, kept or not; their keys run from 0 to this.
  std::size_t Size() const { return from.size() * directions.size() * axes.size() * 3; }

  // Calls visit(pose, flange, the marker in the camera frame) for the candidate `key` when it is kept; pose() makes
  // the candidate as reported.
  template <typename Visitor>
  void Visit(std::size_t key, Visitor&& visit) const {
    const KeyParts k = SplitKey(key, directions.size(), axes.size());
    const std::size_t direction = k.direction, axis = k.axis, part = k.part;
    const From& f = from[k.outer];
    const Eigen::Vector3d inCamera = f.distance * directions[direction];
    const double turn = TurnPart(part) * maxTurnDeg;
    const Eigen::Matrix3d rotation = turns[key % (3 * axes.size())] * f.flange.linear();
    const Eigen::Isometry3d placed = geometry.Place(rotation, inCamera);
    if (WithinDeg(geometry.LineOfSight(placed), meanSight, maxTurnDeg, cosTurn)) {
      visit(
          [&] {
            return Candidate(placed, static_cast<int>(f.index), axes[axis], turn, directions[direction], camera,
                             f.distance);
          },
          placed, inCamera);
    }
  }

 private:
  struct From {
    std::size_t index;
    Eigen::Isometry3d flange;
    double distance;
  };
  const Geometry& geometry;
  std::vector<Eigen::Vector3d> axes;
  std::vector<Eigen::Vector3d> directions;
  std::vector<Eigen::Matrix3d> turns;
  CameraPinhole camera;
  double maxTurnDeg;
  double cosTurn;
  std::vector<From> from;
  Eigen::Vector3d meanSight = Eigen::Vector3d::Zero();
};

// How flat a small circle on the board looks in the image: the smallest over the largest axis of its image ellipse
// (first order), the board's tilt from the line of sight and the pinhole's stretch off its axis both counted. The
// circle at `inCamera` on the plane of normal `normal` (camera frame); the pinhole's focal lengths when known.
double RingFlatness(const Eigen::Vector3d& inCamera, const Eigen::Vector3d& normal, const CameraPinhole& camera) {
  const double z = inCamera.z();
  if (!(z > 0.0)) return 0.0;
  Eigen::Matrix<double, 2, 3> projection;
  projection << 1.0 / z, 0.0, -inCamera.x() / (z * z), 0.0, 1.0 / z, -inCamera.y() / (z * z);
  if (camera.width > 0) {
    projection.row(0) *= camera.fx;
    projection.row(1) *= camera.fy;
  }
  const Eigen::Vector3d a = normal.unitOrthogonal();
  Eigen::Matrix<double, 3, 2> plane;
  plane << a, normal.normalized().cross(a);
  const Eigen::JacobiSVD<Eigen::Matrix2d> svd(Eigen::Matrix2d(projection * plane));
  const Eigen::Vector2d s = svd.singularValues();
  return s(0) > 0.0 ? s(1) / s(0) : 0.0;
}

// The candidates of a plan: the taught pose turned by up to the largest turn about 26 axes (a third, two thirds and
// all of it), the marker placed where the image (or cone) allows at the taught distance and 15 % nearer and
// farther, kept when the camera sees the marker's face as the taught pose does (its line of sight within the
// largest turn of the taught one).
class PlanCandidates {
 public:
  PlanCandidates(const Geometry& g, const Eigen::Isometry3d& taughtPose, const PlanSettings& settings)
      : geometry(g),
        taught(taughtPose),
        axes(settings.fourAxis ? std::vector<Eigen::Vector3d>{Eigen::Vector3d::UnitZ(), -Eigen::Vector3d::UnitZ()}
                               : SpreadAxes(kAxes)),
        directions(settings.camera.width > 0
                       ? ImageDirections(settings.camera, settings.imageMargin, settings.marginDeg)
                       : ViewDirections(std::max(0.0, settings.viewConeDeg - settings.marginDeg))),
        turns(Turns(axes, settings.maxTurnDeg)),
        camera(settings.camera),
        maxTurnDeg(settings.maxTurnDeg),
        cosTurn(std::cos(maxTurnDeg * kDegree)),
        tolerance(settings.distanceTolerance),
        boardNormal(settings.boardNormal),
        leastFlatness(std::cos(settings.maxTiltDeg * kDegree)),
        distance((g.Camera(taughtPose).inverse() * g.Marker(taughtPose)).norm()),
        sight(g.LineOfSight(taughtPose)) {}

  std::size_t Size() const { return distance > 0.0 ? 3 * directions.size() * axes.size() * 3 : 0; }

  template <typename Visitor>
  void Visit(std::size_t key, Visitor&& visit) const {
    const KeyParts k = SplitKey(key, directions.size(), axes.size());
    const std::size_t step = k.outer, direction = k.direction, axis = k.axis, part = k.part;
    const double scale = step == 0 ? 1.0 : (step == 1 ? 1.0 - tolerance : 1.0 + tolerance);
    const Eigen::Vector3d inCamera = scale * distance * directions[direction];
    const double turn = TurnPart(part) * maxTurnDeg;
    const Eigen::Matrix3d rotation = turns[key % (3 * axes.size())] * taught.linear();
    const Eigen::Isometry3d placed = geometry.Place(rotation, inCamera);
    if (!WithinDeg(geometry.LineOfSight(placed), sight, maxTurnDeg, cosTurn)) return;
    if (RingFlatness(inCamera, geometry.InCamera(placed, boardNormal), camera) >= leastFlatness) {
      visit([&] { return Candidate(placed, 0, axes[axis], turn, directions[direction], camera, inCamera.norm()); },
            placed, inCamera);
    }
  }

 private:
  const Geometry& geometry;
  Eigen::Isometry3d taught;
  std::vector<Eigen::Vector3d> axes;
  std::vector<Eigen::Vector3d> directions;
  std::vector<Eigen::Matrix3d> turns;
  CameraPinhole camera;
  double maxTurnDeg;
  double cosTurn;
  double tolerance;
  Eigen::Vector3d boardNormal;
  double leastFlatness;
  double distance;
  Eigen::Vector3d sight;
};

// The trace of the camera translation's block of (N + JᵀJ)⁻¹, from C = N⁻¹ and that block's trace now, by
// the rank-3 update: (N + JᵀJ)⁻¹ = C − C·Jᵀ·(I + J·C·Jᵀ)⁻¹·J·C.
double TranslationTraceAfter(const Matrix9d& c, double traceNow, const Eigen::Matrix<double, 3, 9>& j) {
  const Eigen::Matrix<double, 3, 9> jc = j * c;
  const Eigen::Matrix3d s = Eigen::Matrix3d::Identity() + jc * j.transpose();
  const Eigen::Matrix3d k = jc.rightCols<3>();
  return traceNow - (k.transpose() * s.inverse() * k).trace();
}

// The same for a shot's rows under the joint model, Σ their covariance: (N + JᵀΣ⁻¹J)⁻¹ = C − C·Jᵀ·(Σ + J·C·Jᵀ)⁻¹·J·C.
double TranslationTraceAfter(const Matrix12d& c, double traceNow, const JointRows& rows) {
  const Eigen::Matrix<double, 6, 12> jc = rows.j.lazyProduct(c);
  const Eigen::Matrix<double, 6, 6> s = rows.c + jc.lazyProduct(rows.j.transpose());
  const Eigen::Matrix<double, 6, 3> k = jc.middleCols<3>(6);
  const Eigen::LLT<Eigen::Matrix<double, 6, 6>> llt(s);
  if (llt.info() != Eigen::Success) return std::numeric_limits<double>::infinity();
  const Eigen::Matrix<double, 6, 3> w = llt.matrixL().solve(k);
  return traceNow - w.squaredNorm();
}

// What a pose's rows add to the information.
void AddInformation(Matrix9d& information, const Eigen::Matrix<double, 3, 9>& j) {
  information.noalias() += j.transpose() * j;
}
void AddInformation(Matrix12d& information, const JointRows& rows) {
  const Eigen::LLT<Eigen::Matrix<double, 6, 6>> llt(rows.c);
  const Eigen::Matrix<double, 6, 12> whitened = llt.matrixL().solve(rows.j);
  information.noalias() += whitened.transpose() * whitened;
}

// The camera's nearest distance to the marker over the poses used (mm).
double NearestDistanceMm(const SolvedPoses& poses, const Geometry& g) {
  double nearest = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < poses.robotPoses.size(); ++i) {
    if (!poses.Used(i)) continue;
    const Eigen::Isometry3d flange = g.Flange(poses.robotPoses[i]);
    nearest = std::min(nearest, 1000.0 * (g.Camera(flange).inverse() * g.Marker(flange)).norm());
  }
  return nearest;
}

// Runs work(part) for parts 0 … parts − 1, part 0 on the calling thread and each other on a thread of its own;
// an exception of any part is thrown here once all are done.
template <typename Work>
void InParallel(std::size_t parts, const Work& work) {
  std::vector<std::exception_ptr> failures(parts);
  const auto run = [&](std::size_t part) {
    try {
      work(part);
    } catch (...) {
      failures[part] = std::current_exception();
    }
  };
  // The threads are kept off the calling thread's core: a new thread is often queued behind the thread that
  // made it, on its core, and moved to an idle one only at the next balancing, milliseconds later.
  std::vector<std::thread> threads;
  const int cpu = sched_getcpu();
  const std::size_t home = cpu >= 0 ? static_cast<std::size_t>(cpu) : std::size_t{CPU_SETSIZE};
  cpu_set_t others;
  CPU_ZERO(&others);
  const bool away = home < CPU_SETSIZE && sched_getaffinity(0, sizeof others, &others) == 0 &&
                    CPU_ISSET(home, &others) && CPU_COUNT(&others) > 1;
  if (away) CPU_CLR(home, &others);
  for (std::size_t part = 1; part < parts; ++part) {
    threads.emplace_back(run, part);
    if (away) pthread_setaffinity_np(threads.back().native_handle(), sizeof others, &others);
  }
  run(0);
  for (std::thread& t : threads) t.join();
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

// Candidates are made and bounded in parts of about `kCandidatesPerPart`, taken in turn by up to `kMostThreads`
// threads: a thread the system starts late, or on a core already busy, leaves its parts to the others.
constexpr std::size_t kMostThreads = 4;
constexpr std::size_t kCandidatesPerPart = 1000;

// Runs work(part) for parts 0 … parts − 1 on up to `kMostThreads` threads (the calling one among them), each
// taking the next part not yet taken.
template <typename Work>
void PartsInParallel(std::size_t parts, const Work& work) {
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  std::atomic<std::size_t> next{0};
  InParallel(std::min({parts, cores, kMostThreads}), [&](std::size_t) {
    for (std::size_t part = next++; part < parts; part = next++) work(part);
  });
}

// What a pick scores against: C = N⁻¹, its translation's trace, columns and block.
template <typename Information>
struct Now {
  static constexpr int kParameters = Information::RowsAtCompileTime;
  Information c;
  double trace = 0.0;
  Eigen::Matrix<double, kParameters, 3> translation;
  double translationNorm = 0.0;
  Eigen::Matrix3d covariance;

  // False when N is not positive definite.
  bool Of(const Information& n) {
    const Eigen::LDLT<Information> ldlt(n);
    if (ldlt.info() != Eigen::Success || !ldlt.isPositive()) return false;
    c = ldlt.solve(Information::Identity());
    trace = c.template block<3, 3>(6, 6).trace();
    translation = c.template middleCols<3>(6);
    translationNorm = translation.norm();
    covariance = c.template block<3, 3>(6, 6);
    return true;
  }
  // A candidate's bound against it; +inf when there is none.
  template <typename Rows>
  double Bound(const Rows& kept) const {
    const double bound = ReductionBound(kept, translation, translationNorm, covariance);
    return std::isnan(bound) ? std::numeric_limits<double>::infinity() : bound;
  }
};

// The candidates of a greedy choice with their kept rows, made in parts on several threads; `rowsOf(flange,
// inCamera)` the rows a candidate adds.
template <typename Information, typename Candidates, typename RowsOf>
class Picks {
  using Whitening =
      std::decay_t<decltype(Whitened(std::declval<RowsOf>()(Eigen::Isometry3d::Identity(), Eigen::Vector3d::UnitZ())))>;
  struct Kept {
    std::size_t key;
    KeptRows<Whitening::RowsAtCompileTime, Information::RowsAtCompileTime> whitened;
    double bound;
    bool taken;
  };

 public:
  // Makes the candidates, each bounded against `now`.
  Picks(const Candidates& candidates, const RowsOf& rowsOf, const Now<Information>& now)
      : candidates_(candidates), rowsOf_(rowsOf) {
    const std::size_t size = candidates.Size();
    const std::size_t parts = std::max<std::size_t>(1, (size + kCandidatesPerPart / 2) / kCandidatesPerPart);
    // Each part's room laid out here, before the threads start: a mapping made by one thread stalls the other's
    // page faults; parts of this size come from the heap, reused from one call to the next.
    kept_.resize(parts);
    for (std::size_t part = 0; part < parts; ++part) {
      kept_[part].room.reset(new Kept[size * (part + 1) / parts - size * part / parts]);
    }
    largest_.resize(parts);
    PartsInParallel(parts, [&](std::size_t part) {
      const std::size_t begin = size * part / parts, end = size * (part + 1) / parts;
      Part& kept = kept_[part];
      kept.first = kept.room.get();
      for (std::size_t key = begin; key < end; ++key) {
        candidates.Visit(key, [&](const auto&, const Eigen::Isometry3d& flange, const Eigen::Vector3d& inCamera) {
          Kept& k = kept.first[kept.count++];
          k = {key, KeptRows(Whitened(rowsOf(flange, inCamera))), 0.0, false};
          k.bound = now.Bound(k.whitened);
        });
      }
      FindLargest(part);
    });
  }

  // Bounds the candidates not taken against `now`.
  void Bound(const Now<Information>& now) {
    PartsInParallel(kept_.size(), [&](std::size_t part) {
      for (Kept& candidate : kept_[part]) {
        if (!candidate.taken) candidate.bound = now.Bound(candidate.whitened);
      }
      FindLargest(part);
    });
  }

  // The candidate that lowers the translation's trace most under `now` (of equal ones the first), taken, and what
  // it leaves (+inf when none is left): the one of the largest bound in each part scored first, then only those
  // whose bound can beat the best so far.
  template <typename Chosen>
  double Take(const Now<Information>& now, Chosen&& take) {
    double best = std::numeric_limits<double>::infinity();
    Kept* chosen = nullptr;
    const auto score = [&](Kept& candidate) {
      double trace = std::numeric_limits<double>::quiet_NaN();
      candidates_.Visit(candidate.key,
                        [&](const auto&, const Eigen::Isometry3d& flange, const Eigen::Vector3d& inCamera) {
                          trace = TranslationTraceAfter(now.c, now.trace, rowsOf_(flange, inCamera));
                        });
      if (trace < best || (std::isfinite(trace) && trace == best && candidate.key < chosen->key)) {
        best = trace;
        chosen = &candidate;
      }
    };
    for (std::size_t part = 0; part < kept_.size(); ++part) {
      if (largest_[part] < kept_[part].size()) score(kept_[part][largest_[part]]);
    }
    // Rounding's allowance on the bound: a candidate within it of the best is scored in full.
    const double allowance = 1e-6 * std::abs(now.trace);
    for (std::size_t part = 0; part < kept_.size(); ++part) {
      for (std::size_t i = 0; i < kept_[part].size(); ++i) {
        Kept& candidate = kept_[part][i];
        const bool ruledOut = std::isfinite(best) && now.trace - candidate.bound > best + allowance;
        if (!candidate.taken && i != largest_[part] && !ruledOut) score(candidate);
      }
    }
    if (chosen == nullptr || !std::isfinite(best)) return std::numeric_limits<double>::infinity();
    chosen->taken = true;
    candidates_.Visit(chosen->key, take);
    return best;
  }

 private:
  // The part's candidate not taken of the largest bound (the part's size when none).
  void FindLargest(std::size_t part) {
    const Part& kept = kept_[part];
    largest_[part] = kept.size();
    for (std::size_t i = 0; i < kept.size(); ++i) {
      if (!kept[i].taken && (largest_[part] == kept.size() || kept[i].bound > kept[largest_[part]].bound)) {
        largest_[part] = i;
      }
    }
  }

  const Candidates& candidates_;
  const RowsOf& rowsOf_;
  // A part's candidates kept, `count` of them from `first` on.
  struct Part {
    std::unique_ptr<Kept[]> room;
    Kept* first = nullptr;
    std::size_t count = 0;
    std::size_t size() const { return count; }
    Kept* begin() const { return first; }
    Kept* end() const { return first + count; }
    Kept& operator[](std::size_t i) const { return first[i]; }
  };
  std::vector<Part> kept_;
  std::vector<std::size_t> largest_;
};

// The greedy choice: the candidate that lowers the camera translation's variance most, then the next with it
// added, and so on; of equal scores the first candidate. `information` over the parameters (x, δ, t_Z, …) at the
// residuals' variance `variance`; `rowsOf(flange, inCamera)` the rows a candidate adds. The candidates are made
// once; each pick scores in full only those whose bound (above) can beat the best: the picks are those of
// scoring every candidate in turn.
template <typename Information, typename Candidates, typename RowsOf>
void PickBest(Information information, double variance, const Candidates& candidates, int count, RowsOf rowsOf,
              NextPoses& out) {
  Now<Information> now;
  if (count < 1 || !now.Of(information)) return;
  Picks<Information, Candidates, RowsOf> picks(candidates, rowsOf, now);
  for (int k = 0; k < count; ++k) {
    if (k > 0) {
      if (!now.Of(information)) break;
      picks.Bound(now);
    }
    NextPose picked;
    Eigen::Isometry3d flange;
    Eigen::Vector3d inCamera;
    const double best = picks.Take(now, [&](const auto& pose, const Eigen::Isometry3d& f, const Eigen::Vector3d& m) {
      picked = pose();
      flange = f;
      inCamera = m;
    });
    if (!std::isfinite(best) || !(best > 0.0)) break;
    AddInformation(information, rowsOf(flange, inCamera));
    picked.sigmaMm = 1000.0 * std::sqrt(best * variance);
    out.poses.push_back(picked);
  }
}

// The margin that keeps the marker inside the cone or the image: three of the camera's direction error (its
// rotation σ plus its translation σ over the nearest distance), at least 1°.
double MarginDeg(const Uncertainty& u, double nearestMm) {
  return std::max(1.0, 3.0 * (u.rotationDeg + u.translationNormMm / nearestMm / kDegree));
}

}  // namespace

NextPoses SuggestPoses(const SolvedPoses& poses, const Kel::SE3d& marker, const Kel::SE3d& camera,
                       const NextPoseOptions& options) {
  NextPoses out;
  out.sigmaMm = std::numeric_limits<double>::quiet_NaN();
  if (poses.UsedCount() < 4) return out;
  NormalMatrix normal = TranslationNormal(poses, marker, camera);
  const double parameters = options.held >= 0 ? 8.0 : 9.0;
  const double variance = normal.squares / (3.0 * static_cast<double>(normal.poses) - parameters);
  if (options.held >= 0) normal.normal(options.held, options.held) += kHeldInformation;
  const double now = TranslationSigmaMm(normal.normal, variance);
  if (!std::isfinite(now)) return out;
  out.sigmaMm = now;
  const Geometry g(poses, marker, camera);
  const double marginDeg = MarginDeg(UncertaintyOf(normal.normal, variance), NearestDistanceMm(poses, g));
  const CandidateSet candidates(poses, g, options, marginDeg);
  PickBest(
      Matrix9d(normal.normal), variance, candidates, options.count,
      [&g](const Eigen::Isometry3d& flange, const Eigen::Vector3d& inCamera) { return g.Jacobian(flange, inCamera); },
      out);
  return out;
}

NextPoses SuggestPoses(const SolvedPoses& poses, const JointPredictor& joint, const JointSolution& solution,
                       const NextPoseOptions& options) {
  NextPoses out;
  out.sigmaMm = std::numeric_limits<double>::quiet_NaN();
  const Matrix12d& covariance = solution.covariance;
  const double trace = covariance.block<3, 3>(6, 6).trace();
  if (poses.UsedCount() < 4 || !(trace > 0.0) || !std::isfinite(trace)) return out;
  out.sigmaMm = 1000.0 * std::sqrt(trace);
  const Geometry g(poses, solution.marker, solution.camera);
  const Matrix9d marginal = covariance.topLeftCorner<9, 9>();
  const double marginDeg = MarginDeg(UncertaintyOfCovariance(marginal), NearestDistanceMm(poses, g));
  const CandidateSet candidates(poses, g, options, marginDeg);
  PickBest(
      joint.Information(), 1.0, candidates, options.count,
      [&joint](const Eigen::Isometry3d& flange, const Eigen::Vector3d&) {
        return joint.Rows(Kel::SE3d(flange.translation(), Kel::SO3d(Eigen::Quaterniond(flange.linear()))));
      },
      out);
  return out;
}

Eigen::Matrix<double, 3, 9> PoseJacobian(bool eyeToHand, const Kel::SE3d& camera, const Eigen::Isometry3d& flange,
                                         const Eigen::Vector3d& inCamera) {
  return Geometry(eyeToHand, Kel::SE3d(), camera).Jacobian(flange, inCamera);
}

NextPoses PlanPoses(bool eyeToHand, const Kel::SE3d& marker, const Kel::SE3d& camera, const Eigen::Isometry3d& taught,
                    const Matrix9d& information, double variance, const PlanSettings& settings) {
  NextPoses out;
  // A weak prior (a thousand times the shot noise, in metres and radians per metre of lever) so that the first
  // poses are scored before the shots fix every parameter.
  const Matrix9d prior = 1e-6 * Matrix9d::Identity();
  out.sigmaMm = TranslationSigmaMm(information + prior, variance);
  const Geometry g(eyeToHand, marker, camera);
  const PlanCandidates candidates(g, taught, settings);
  PickBest(
      Matrix9d(information + prior), variance, candidates, settings.count,
      [&g](const Eigen::Isometry3d& flange, const Eigen::Vector3d& inCamera) { return g.Jacobian(flange, inCamera); },
      out);
  return out;
}

}  // namespace TamoHandEye
