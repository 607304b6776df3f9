// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/SetupCheck.h"

#include "solver/EntryPath.h"
#include "solver/HandEyeKel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <limits>

namespace TamoHandEye {
namespace {

constexpr double kRadianToDegree = 57.29577951308232;

// One way of reading the input.
struct Reading {
  std::string code;
  RobotKind kind;
  AlgoParam param;
  RobotRows rows;
  double markerScale = 1.0;
  bool invert = false;
  bool reverse = false;
};

bool HonoursMeter(RobotKind kind) { return KindInfo(kind).readsMeter; }
bool HonoursRadian(RobotKind kind) { return KindInfo(kind).readsRadian; }
bool HasAngles(RobotKind kind) { return !KindInfo(kind).quaternion; }

RobotRows ScaleColumns(RobotRows rows, std::size_t first, std::size_t last, double factor) {
  for (auto& row : rows) {
    for (std::size_t k = first; k < last && k < row.size(); ++k) row[k] *= factor;
  }
  return rows;
}

// How a reading fits.
struct Fit {
  double rmsMm = std::numeric_limits<double>::infinity();
  std::string convention;
  /// How far the transform riding on the flange (the camera for eye-in-hand, the marker for eye-to-hand)
  /// sits from the flange, metres.
  double flangeOffset = 0.0;
  double normalRmsDeg = std::numeric_limits<double>::quiet_NaN();
};

// The RMS angle (degrees) of the shots' normals, brought into the fixed frame under the camera rotation `rz`,
// from their mean; the sign of a normal is not seen. NaN with fewer than 3.
double NormalRmsDeg(const std::vector<Kel::SE3d>& poses, const Eigen::Matrix3d& rz, bool eyeToHand,
                    const std::vector<Eigen::Vector3d>& normals) {
  std::vector<Eigen::Vector3d> fixed;
  Eigen::Vector3d sum = Eigen::Vector3d::Zero();
  for (std::size_t i = 0; i < normals.size() && i < poses.size(); ++i) {
    if (!(normals[i].squaredNorm() > 0.0)) continue;
    const Eigen::Matrix3d rp = poses[i].Rotation().RotationMatrix();
    const Eigen::Vector3d n = (eyeToHand ? Eigen::Matrix3d(rp.transpose()) : rp) * rz * normals[i];
    sum += sum.dot(n) < 0.0 ? Eigen::Vector3d(-n) : n;
    fixed.push_back(n);
  }
  if (fixed.size() < 3 || !(sum.norm() > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  const Eigen::Vector3d mean = sum.normalized();
  double squares = 0.0;
  for (const Eigen::Vector3d& n : fixed) {
    const double angle = std::atan2(n.cross(mean).norm(), std::abs(n.dot(mean)));
    squares += angle * angle;
  }
  return std::sqrt(squares / static_cast<double>(fixed.size())) * kRadianToDegree;
}

// A lower bound of the sum of squared residuals (m²) any solution over these poses reaches: the least-squares
// fit of r_i = R_Ai·x + t_Ai − M·p_i − t_Z with M any 3 × 3 matrix (every rotation is one). Its normal
// equations over (vec M, x, t_Z) are built from sums over the poses (a few dozen products each); 0 when they
// are singular (no bound). Over some of the poses, it bounds the sum over all of them too.
double RelaxedSquares(const std::vector<Kel::SE3d>& poses, const std::vector<Kel::SE3d>& markerPoses, bool eyeToHand) {
  using Matrix15d = Eigen::Matrix<double, 15, 15>;
  using Vector15d = Eigen::Matrix<double, 15, 1>;
  const std::size_t n = std::min(poses.size(), markerPoses.size());
  Eigen::Matrix3d spp = Eigen::Matrix3d::Zero();  // Σ p pᵀ
  Eigen::Vector3d sp = Eigen::Vector3d::Zero();   // Σ p
  std::array<Eigen::Matrix3d, 3> pr{Eigen::Matrix3d::Zero(), Eigen::Matrix3d::Zero(), Eigen::Matrix3d::Zero()};
  Eigen::Matrix3d sr = Eigen::Matrix3d::Zero();   // Σ R_A
  Eigen::Matrix3d stp = Eigen::Matrix3d::Zero();  // Σ t pᵀ
  Eigen::Vector3d srt = Eigen::Vector3d::Zero();  // Σ R_Aᵀ t
  Eigen::Vector3d st = Eigen::Vector3d::Zero();   // Σ t
  double tt = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const Kel::SE3d a = eyeToHand ? poses[i] : poses[i].Inverse();
    const Eigen::Matrix3d r = a.Rotation().RotationMatrix();
    const Eigen::Vector3d t = a.Translation();
    const Eigen::Vector3d p = markerPoses[i].Translation();
    spp.noalias() += p * p.transpose();
    sp += p;
    for (int k = 0; k < 3; ++k) pr[static_cast<std::size_t>(k)] += p(k) * r;
    sr += r;
    stp.noalias() += t * p.transpose();
    srt.noalias() += r.transpose() * t;
    st += t;
    tt += t.squaredNorm();
  }
  // Row block i of the system is [−(p_iᵀ ⊗ I₃), R_Ai, −I₃], its right-hand side −t_Ai.
  const double count = static_cast<double>(n);
  Matrix15d h = Matrix15d::Zero();
  Vector15d g = Vector15d::Zero();
  for (int k = 0; k < 3; ++k) {
    for (int l = 0; l < 3; ++l) h.block<3, 3>(3 * k, 3 * l) = spp(k, l) * Eigen::Matrix3d::Identity();
    h.block<3, 3>(3 * k, 9) = -pr[static_cast<std::size_t>(k)];
    h.block<3, 3>(3 * k, 12) = sp(k) * Eigen::Matrix3d::Identity();
    g.segment<3>(3 * k) = stp.col(k);
  }
  h.block<3, 3>(9, 9) = count * Eigen::Matrix3d::Identity();
  h.block<3, 3>(9, 12) = -sr.transpose();
  h.block<3, 3>(12, 12) = count * Eigen::Matrix3d::Identity();
  h.triangularView<Eigen::StrictlyLower>() = h.transpose();
  g.segment<3>(9) = -srt;
  g.segment<3>(12) = st;
  const Eigen::LDLT<Matrix15d> solve(h);
  if (n == 0 || solve.info() != Eigen::Success || !solve.isPositive()) return 0.0;
  const double squares = tt - g.dot(solve.solve(g));
  return squares > 0.0 && std::isfinite(squares) ? squares : 0.0;
}

// The poses bounded for each convention before any is solved: at most this many, spread evenly.
constexpr std::size_t kBoundSample = 200;

// The best fit over the kind's conventions of the reading solved over all poses; an infinite RMS when no
// convention solves or the poses are degenerate under the best one. A convention whose bound (above) is
// beyond `pruneAboveMm` or the best fit found is not solved (a margin of 10 % and 1 µm against rounding).
Fit FitReading(const Reading& reading, const std::vector<MarkerBoardResult>& markers,
               const std::vector<Eigen::Vector3d>& normals,
               double pruneAboveMm = std::numeric_limits<double>::infinity()) {
  std::vector<Kel::SE3d> markerPoses;
  for (const MarkerBoardResult& m : markers) {
    markerPoses.emplace_back(Eigen::Vector3d(m.x, m.y, m.z) * reading.markerScale, Kel::SO3d());
  }
  std::unique_ptr<Robot> robot = MakeRobot(reading.kind, markers);
  IRobot& conventionObject = *robot->robot;
  conventionObject.robotData = reading.rows;
  conventionObject.param = ToSolverParam(reading.param);
  const bool eyeToHand = reading.param.HandEyeType != 0;
  HandEyeKel solver(eyeToHand ? 1 : 0);
  // Every convention's bound first, over an even sample of the poses (a sum over some poses bounds the sum
  // over all); solved in the order of their bounds, a convention whose bound is beyond the best fit so far
  // (or the limit) cannot be the best and is not solved.
  const std::vector<std::string> keys = ConventionsOf(reading.kind);
  if (reading.rows.size() != markerPoses.size()) return Fit{};  // no solve pairs them
  const std::size_t n = reading.rows.size();
  const std::size_t m = std::min(n, kBoundSample);
  std::vector<std::size_t> sample(m);
  std::vector<Kel::SE3d> sampleMarkers(m);
  for (std::size_t k = 0; k < m; ++k) {
    sample[k] = k * n / m;
    sampleMarkers[k] = markerPoses[sample[k]];
  }
  // The poses in the order solved: pose i from row i, or from row n − 1 − i when the rows are reversed.
  const auto posesOf = [&](const std::string& key, const std::vector<std::size_t>& indices) {
    SetConvention(conventionObject, key);
    std::vector<Kel::SE3d> poses;
    poses.reserve(indices.size());
    for (const std::size_t i : indices) {
      conventionObject.AddRobotPose(static_cast<int>(reading.reverse ? n - 1 - i : i), poses);
    }
    if (reading.invert) {
      for (Kel::SE3d& pose : poses) pose = pose.Inverse();
    }
    return poses;
  };
  std::vector<std::size_t> every(n);
  for (std::size_t i = 0; i < n; ++i) every[i] = i;
  std::vector<double> bounds(keys.size(), 0.0);
  std::vector<std::size_t> order(keys.size());
  for (std::size_t k = 0; k < keys.size(); ++k) {
    const double squares = RelaxedSquares(posesOf(keys[k], sample), sampleMarkers, eyeToHand);
    bounds[k] = n > 0 ? std::sqrt(squares / static_cast<double>(n)) * 1000.0 : 0.0;
    order[k] = k;
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return bounds[a] < bounds[b]; });
  Fit best;
  std::size_t bestIndex = keys.size();
  for (const std::size_t k : order) {
    const double limit = std::min(pruneAboveMm, best.rmsMm);
    if (std::isfinite(limit) && bounds[k] > 1.1 * limit + 1e-3) continue;
    const std::vector<Kel::SE3d> poses = posesOf(keys[k], every);
    if (solver.Solve(poses, markerPoses, {}) != 0) continue;
    double maxError = 0.0;
    double rms = 0.0;
    solver.GetErrors(maxError, rms);
    const double rmsMm = rms * 1000.0;
    // The least RMS, the first convention among equals.
    const bool better = rmsMm < best.rmsMm || (rmsMm == best.rmsMm && k < bestIndex);
    if (!better || solver.IsDegenerate(poses, markerPoses)) continue;
    best.rmsMm = rmsMm;
    best.convention = keys[k];
    bestIndex = k;
    const Kel::SE3d riding = eyeToHand ? solver.GetMarkerToFlange() : solver.GetCameraToFlange();
    best.flangeOffset = riding.Translation().norm();
    best.normalRmsDeg = std::numeric_limits<double>::quiet_NaN();
    if (!normals.empty()) {
      const Kel::SE3d camera = eyeToHand ? solver.GetCameraToBase() : solver.GetCameraToFlange();
      // Each normal stays with its shot, as the marker points do (the poses may be reversed).
      best.normalRmsDeg = NormalRmsDeg(poses, camera.Rotation().RotationMatrix(), eyeToHand, normals);
    }
  }
  return best;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// The typical distance of the marker points from the camera (metres as given) and of the flange from the
// base (the rows' translation unit): what says whether a scale alternative is physically plausible.
struct Magnitudes {
  double markers = 0.0;
  double rows = 0.0;
};

Magnitudes TypicalMagnitudes(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows) {
  std::vector<double> m;
  for (const MarkerBoardResult& p : markers) m.push_back(std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z));
  std::vector<double> t;
  for (const auto& row : rows) t.push_back(std::sqrt(row[0] * row[0] + row[1] * row[1] + row[2] * row[2]));
  return {Median(m), Median(t)};
}

// A camera sees its marker from 1 cm to 10 m; a flange is 1 cm to 10 m from its base.
constexpr double kNearest = 0.01;
constexpr double kFarthest = 10.0;

// The readings that undo one mistake each; a scale is changed only where the given one is implausible (a
// uniformly scaled problem fits as well, so the fit alone cannot tell).
std::vector<Reading> Readings(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                              const AlgoParam& param) {
  std::vector<Reading> readings;
  const Magnitudes size = TypicalMagnitudes(markers, rows);
  const double rowMetres = size.rows * (RowsInMetres(kind, param) ? 1.0 : 0.001);
  const Reading same{"", kind, param, rows};
  Reading r = same;
  r.param.HandEyeType = param.HandEyeType != 0 ? 0 : 1;
  r.code = r.param.HandEyeType != 0 ? "eye-to-hand" : "eye-in-hand";
  readings.push_back(r);
  for (const double scale : {0.001, 1000.0}) {
    if (scale < 1.0 ? size.markers <= kFarthest : size.markers >= kNearest) continue;
    r = same;
    r.markerScale = scale;
    r.code = scale < 1.0 ? "markers-x0.001" : "markers-x1000";
    readings.push_back(r);
  }
  if (rowMetres < kNearest) {
    r = same;
    if (HonoursMeter(kind)) {
      r.param.IsMeter = true;
    } else {
      r.rows = ScaleColumns(rows, 0, 3, 1000.0);
    }
    r.code = "meter";
    readings.push_back(r);
  } else if (rowMetres > kFarthest && RowsInMetres(kind, param)) {
    r = same;
    r.param.IsMeter = false;
    r.code = "millimetre";
    readings.push_back(r);
  }
  if (HasAngles(kind)) {
    r = same;
    if (HonoursRadian(kind)) {
      r.param.IsRadian = !param.IsRadian;
    } else {
      r.rows = ScaleColumns(rows, 3, 6, kRadianToDegree);
    }
    r.code = HonoursRadian(kind) && param.IsRadian ? "degree" : "radian";
    readings.push_back(r);
  }
  for (const RobotKindInfo& other : kRobotKinds) {
    if (other.kind == kind || other.rowLength != RowLength(kind)) continue;
    r = same;
    r.kind = other.kind;
    r.code = "robot";
    // Rows of a kind with its own angle unit are read in it when the selected kind has no angle setting.
    if (other.readsRadian && !other.offersRadian && !HonoursRadian(kind)) r.param.IsRadian = other.radian;
    readings.push_back(r);
  }
  r = same;
  r.invert = true;
  r.code = "inverted";
  readings.push_back(r);
  r = same;
  r.reverse = true;
  r.code = "reversed";
  readings.push_back(r);
  return readings;
}

void Describe(SetupAlternative& a, bool meterOffered, bool radianOffered) {
  if (a.code == "eye-to-hand") {
    a.text = "the camera is fixed and the marker rides on the flange (eye-to-hand)";
    a.textZh = "相机固定、标定板装在法兰上（眼在手外）";
  } else if (a.code == "eye-in-hand") {
    a.text = "the camera rides on the flange and the marker is fixed (eye-in-hand)";
    a.textZh = "相机装在法兰上、标定板固定（眼在手上）";
  } else if (a.code == "markers-x0.001") {
    a.text = "the marker points are in millimetres, not metres";
    a.textZh = "标定板点的单位是毫米而非米";
  } else if (a.code == "markers-x1000") {
    a.text = "the marker points are 1000 times too small (they should be metres)";
    a.textZh = "标定板点小了 1000 倍（应以米为单位）";
  } else if (a.code == "meter") {
    a.text = meterOffered ? "the robot rows' X, Y, Z are in metres"
                          : "the robot rows' X, Y, Z are in metres, though this robot type reads millimetres";
    a.textZh =
        meterOffered ? "机器人数据的 X、Y、Z 以米为单位" : "机器人数据的 X、Y、Z 以米为单位，而该机器人类型按毫米读取";
  } else if (a.code == "millimetre") {
    a.text = "the robot rows' X, Y, Z are in millimetres";
    a.textZh = "机器人数据的 X、Y、Z 以毫米为单位";
  } else if (a.code == "radian") {
    a.text = radianOffered ? "the robot rows' angles are in radians"
                           : "the robot rows' angles are in radians, though this robot type reads degrees";
    a.textZh =
        radianOffered ? "机器人数据的角度以弧度为单位" : "机器人数据的角度以弧度为单位，而该机器人类型按角度读取";
  } else if (a.code == "degree") {
    a.text = "the robot rows' angles are in degrees";
    a.textZh = "机器人数据的角度以度为单位";
  } else if (a.code == "robot") {
    a.text = "the rows are " + RobotKindName(a.robot) + " rows (" + a.convention + ")";
    a.textZh = "机器人数据属于 " + RobotKindNameZh(a.robot) + "（" + a.convention + "）";
  } else if (a.code == "inverted") {
    a.text = "every robot row is the inverse pose (the base in the flange frame)";
    a.textZh = "每行机器人数据都是逆位姿（基座在法兰坐标系中）";
  } else if (a.code == "reversed") {
    a.text = "the robot rows are in the reverse order of the shots";
    a.textZh = "机器人数据的顺序与图像顺序相反";
  }
}

}  // namespace

std::string RobotKindName(RobotKind kind) { return KindInfo(kind).name; }
std::string RobotKindNameZh(RobotKind kind) { return KindInfo(kind).nameZh; }

bool UndoesImplausibleScale(const SetupAlternative& alternative) {
  const std::string& c = alternative.code;
  return c == "meter" || c == "millimetre" || c == "markers-x0.001" || c == "markers-x1000";
}

std::vector<SetupAlternative> FindSetupAlternatives(RobotKind kind, const std::vector<MarkerBoardResult>& markers,
                                                    const RobotRows& rows, const AlgoParam& param, double limitMm,
                                                    double* givenRmsMm, SetupNormals* normals, double limitOverGiven) {
  const std::vector<Eigen::Vector3d> shotNormals =
      normals != nullptr ? normals->normals : std::vector<Eigen::Vector3d>{};
  double limit = limitMm;
  if (givenRmsMm != nullptr || std::isfinite(limitOverGiven)) {
    double givenMm = std::numeric_limits<double>::infinity();
    try {
      const Fit given = FitReading(Reading{"", kind, param, rows}, markers, shotNormals);
      givenMm = given.rmsMm;
      if (normals != nullptr) normals->givenRmsDeg = given.normalRmsDeg;
    } catch (const std::exception&) {
    }
    if (givenRmsMm != nullptr) *givenRmsMm = givenMm;
    if (std::isfinite(givenMm)) limit = std::min(limit, limitOverGiven * givenMm);
  }
  std::vector<SetupAlternative> found;
  std::vector<double> offsets;
  std::vector<double> normalRms;
  for (const Reading& reading : Readings(kind, markers, rows, param)) {
    Fit fit;
    try {
      fit = FitReading(reading, markers, shotNormals, limit);
    } catch (const std::exception&) {
      continue;  // a reading that cannot be solved is no alternative
    }
    if (!(fit.rmsMm <= limit)) continue;
    SetupAlternative a;
    a.code = reading.code;
    a.robot = reading.kind;
    a.param = reading.param;
    a.convention = fit.convention;
    a.rmsMm = fit.rmsMm;
    Describe(a, KindInfo(kind).offersMeter, KindInfo(kind).offersRadian);
    found.push_back(a);
    offsets.push_back(fit.flangeOffset);
    normalRms.push_back(fit.normalRmsDeg);
  }
  // Best fit first. Some readings are the same equations (eye-to-hand, and eye-in-hand over inverted rows):
  // between fits within 1 % of each other, the one whose flange-borne part (camera or marker) sits nearer
  // the flange is the physical one.
  std::vector<std::size_t> order(found.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const double ra = found[a].rmsMm;
    const double rb = found[b].rmsMm;
    if (std::abs(ra - rb) <= 0.01 * std::max(ra, rb)) return offsets[a] < offsets[b];
    return ra < rb;
  });
  std::vector<SetupAlternative> sorted;
  if (normals != nullptr) normals->alternativeRmsDeg.clear();
  for (const std::size_t i : order) {
    sorted.push_back(found[i]);
    if (normals != nullptr) normals->alternativeRmsDeg.push_back(normalRms[i]);
  }
  return sorted;
}

}  // namespace TamoHandEye
