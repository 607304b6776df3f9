#include <tarn/CalibrationCheck.h>

#include "api/EntryPoint.h"

#include <Eigen/Geometry>
#include <Eigen/SVD>

#include <algorithm>
#include <cmath>
#include <exception>

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

ErrorCode Check(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, const AlgoParam& param,
                RobotKind kind, const SavedCalibration& saved, const CheckOptions& options, CalibrationCheck& check) {
  Saved transform;
  check.failure = ReadSaved(saved, param.IsMeter, transform);
  if (!check.failure.empty()) return Err_Solve_Fail;
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
  std::vector<Kel::SE3d> flanges, points, bestPoints;
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
  double distance = 0.0;
  for (const Eigen::Vector3d& p : measured) distance += 1000.0 * p.norm() / static_cast<double>(measured.size());
  SetLimit(saved, options, distance, check);
  check.drift = check.rmsMm > check.limitMm;
  EstimateDisplacement(best, measured, check);
  return Success;
}

}  // namespace

ErrorCode CheckCalibration(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                           const AlgoParam& param, RobotKind robot, const SavedCalibration& saved,
                           const CheckOptions& options, CalibrationCheck& check) {
  CalibrationCheck fresh;
  ErrorCode code = CheckEntryInput(robot, markers, robotRows, fresh.failure);
  try {
    if (code == Success) code = Check(markers, robotRows, param, robot, saved, options, fresh);
  } catch (const std::exception& e) {
    code = Err_Solve_Fail;
    fresh.failure = std::string("internal error: ") + e.what();
  } catch (...) {
    code = Err_Solve_Fail;
    fresh.failure = "internal error";
  }
  if (code != Success) {
    const std::string why = fresh.failure;
    fresh = CalibrationCheck();
    fresh.failure = why;
  }
  check = std::move(fresh);
  return code;
}

}  // namespace TamoHandEye
