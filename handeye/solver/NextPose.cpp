#include "solver/NextPose.h"

#include <Eigen/Cholesky>
#include <Eigen/Geometry>
#include <Eigen/SVD>

#include <algorithm>
#include <cmath>
#include <limits>

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
    const Eigen::Vector3d fromMarker = Camera(flange).translation() - Marker(flange);
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
        camera(options.camera),
        maxTurnDeg(options.maxTurnDeg) {
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

  // Calls visit(key, pose, flange, the marker in the camera frame) for every candidate kept, in a fixed
  // order; `key` numbers the candidates.
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    std::size_t key = 0;
    for (const From& f : from) {
      for (const Eigen::Vector3d& direction : directions) {
        const Eigen::Vector3d inCamera = f.distance * direction;
        for (const Eigen::Vector3d& axis : axes) {
          for (const double part : {1.0 / 3.0, 2.0 / 3.0, 1.0}) {
            const double turn = part * maxTurnDeg;
            const Eigen::Matrix3d rotation = Eigen::AngleAxisd(turn * kDegree, axis) * f.flange.linear();
            const Eigen::Isometry3d placed = geometry.Place(rotation, inCamera);
            if (AngleDeg(geometry.LineOfSight(placed), meanSight) <= maxTurnDeg) {
              visit(key, Candidate(placed, static_cast<int>(f.index), axis, turn, direction, camera, f.distance),
                    placed, inCamera);
            }
            ++key;
          }
        }
      }
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
  CameraPinhole camera;
  double maxTurnDeg;
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
        camera(settings.camera),
        maxTurnDeg(settings.maxTurnDeg),
        tolerance(settings.distanceTolerance),
        boardNormal(settings.boardNormal),
        leastFlatness(std::cos(settings.maxTiltDeg * kDegree)),
        distance((g.Camera(taughtPose).inverse() * g.Marker(taughtPose)).norm()),
        sight(g.LineOfSight(taughtPose)) {}

  template <typename Visit>
  void ForEach(Visit&& visit) const {
    if (!(distance > 0.0)) return;
    std::size_t key = 0;
    for (const double scale : {1.0, 1.0 - tolerance, 1.0 + tolerance}) {
      for (const Eigen::Vector3d& direction : directions) {
        const Eigen::Vector3d inCamera = scale * distance * direction;
        for (const Eigen::Vector3d& axis : axes) {
          for (const double part : {1.0 / 3.0, 2.0 / 3.0, 1.0}) {
            const double turn = part * maxTurnDeg;
            const Eigen::Matrix3d rotation = Eigen::AngleAxisd(turn * kDegree, axis) * taught.linear();
            const Eigen::Isometry3d placed = geometry.Place(rotation, inCamera);
            const double flatness = RingFlatness(inCamera, geometry.InCamera(placed, boardNormal), camera);
            if (AngleDeg(geometry.LineOfSight(placed), sight) <= maxTurnDeg && flatness >= leastFlatness) {
              visit(key, Candidate(placed, 0, axis, turn, direction, camera, inCamera.norm()), placed, inCamera);
            }
            ++key;
          }
        }
      }
    }
  }

 private:
  const Geometry& geometry;
  Eigen::Isometry3d taught;
  std::vector<Eigen::Vector3d> axes;
  std::vector<Eigen::Vector3d> directions;
  CameraPinhole camera;
  double maxTurnDeg;
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

// The greedy choice: the candidate that lowers the camera translation's variance most, then the next with it
// added, and so on. `information` over the parameters (x, δ, t_Z, …) at the residuals' variance `variance`;
// `rowsOf(flange, inCamera)` the rows a candidate adds.
template <typename Information, typename Candidates, typename RowsOf>
void PickBest(Information information, double variance, const Candidates& candidates, int count, RowsOf rowsOf,
              NextPoses& out) {
  std::vector<std::size_t> taken;
  for (int k = 0; k < count; ++k) {
    const Eigen::LDLT<Information> ldlt(information);
    if (ldlt.info() != Eigen::Success || !ldlt.isPositive()) break;
    const Information c = ldlt.solve(Information::Identity());
    const double traceNow = c.template block<3, 3>(6, 6).trace();
    double best = std::numeric_limits<double>::infinity();
    std::size_t bestKey = 0;
    NextPose bestPose;
    decltype(rowsOf(Eigen::Isometry3d::Identity(), Eigen::Vector3d::UnitZ())) bestRows;
    candidates.ForEach(
        [&](std::size_t key, const NextPose& pose, const Eigen::Isometry3d& flange, const Eigen::Vector3d& inCamera) {
          const auto j = rowsOf(flange, inCamera);
          const double trace = TranslationTraceAfter(c, traceNow, j);
          if (!(trace < best) || std::find(taken.begin(), taken.end(), key) != taken.end()) return;
          best = trace;
          bestKey = key;
          bestPose = pose;
          bestRows = j;
        });
    if (!std::isfinite(best) || !(best > 0.0)) break;
    AddInformation(information, bestRows);
    taken.push_back(bestKey);
    bestPose.sigmaMm = 1000.0 * std::sqrt(best * variance);
    out.poses.push_back(bestPose);
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
