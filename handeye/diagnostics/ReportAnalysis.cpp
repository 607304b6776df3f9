// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/ReportAnalysis.h"

#include "diagnostics/FourAxisReport.h"
#include "diagnostics/JointModel.h"

#include "diagnostics/SetupCheck.h"
#include "solver/CalibrationPipeline.h"
#include "solver/SolutionDiagnostics.h"
#include "solver/Statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <limits>
#include <tuple>

namespace TamoHandEye {
namespace {

// The limits of the warnings.
constexpr int kFewPoses = 8;
constexpr double kNarrowRotationDeg = 15.0;
constexpr double kSingleAxisSpread = 0.01;      // the middle eigenvalue of the normalised axis scatter
constexpr double kBetterFactor = 10.0;          // an alternative fitting this many times better is named
constexpr double kSignificantlyBetter = 0.999;  // or one better by Fisher's F at this level
// The pose search's distance from the data: this many per-axis σ (a 3-axis Gaussian's distance exceeds
// it once in 10,000), and never below kSearchFloorMm.
constexpr double kSearchSigmas = 4.6;
constexpr double kSearchFloorMm = 0.1;
constexpr double kChiMedian3 = 1.5382;  // the median distance of a 3-axis Gaussian of unit σ
// "search-dropped-many": more than this share dropped, or a dropped pose within this many σ of the fit.
constexpr double kDroppedShare = 0.2;
constexpr double kDroppedSigmas = 3.0;

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

void Warn(CalibrationReport& report, std::string code, std::string message, std::string messageZh, std::string fix,
          std::string fixZh, int pose = -1) {
  report.warnings.push_back(
      ReportWarning{std::move(code), std::move(message), std::move(messageZh), std::move(fix), std::move(fixZh), pose});
}

// The fix of an alternative, in English and Chinese.
std::pair<std::string, std::string> AlternativeFix(const SetupAlternative& a) {
  if (a.code == "eye-to-hand") return {"Select eye-to-hand.", "请选择“眼在手外”。"};
  if (a.code == "eye-in-hand") return {"Select eye-in-hand.", "请选择“眼在手上”。"};
  if (a.code == "markers-x0.001")
    return {"Give the marker points in metres (divide them by 1000).", "标定板点请以米为单位（除以 1000）。"};
  if (a.code == "markers-x1000")
    return {"Give the marker points in metres (multiply them by 1000).", "标定板点请以米为单位（乘以 1000）。"};
  const RobotKindInfo& kind = KindInfo(a.robot);
  const std::string name = kind.name;
  const std::string nameZh = kind.nameZh;
  if (a.code == "meter") {
    if (kind.offersMeter) {
      return {"Select metres for the robot data, or give X, Y, Z in millimetres.",
              "请将机器人数据单位设为米，或以毫米填写 X、Y、Z。"};
    }
    return {"The rows look like metres; " + name + " rows are millimetres: multiply X, Y, Z by 1000.",
            "机器人数据看起来以米为单位；" + nameZh + " 的数据以毫米为单位，请将 X、Y、Z 乘以 1000。"};
  }
  if (a.code == "millimetre") {
    if (kind.offersMeter) return {"Select millimetres for the robot data.", "请将机器人数据单位设为毫米。"};
    return {"Give X, Y, Z in metres (divide them by 1000).", "请以米填写 X、Y、Z（除以 1000）。"};
  }
  if (a.code == "radian") {
    if (kind.offersRadian) {
      return {"Select radians for the robot data, or give the angles in degrees.",
              "请将角度单位设为弧度，或以度填写角度。"};
    }
    return {"The angles look like radians; these rows are read in degrees: multiply the angles by 57.2958.",
            "角度看起来以弧度为单位；该数据按度读取，请将角度乘以 57.2958。"};
  }
  if (a.code == "degree") {
    if (kind.offersRadian) {
      return {"Select degrees for the robot data, or give the angles in radians.",
              "请将角度单位设为度，或以弧度填写角度。"};
    }
    return {"The angles look like degrees; " + name + " rows are radians: multiply the angles by 0.0174533.",
            "角度看起来以度为单位；" + nameZh + " 的数据以弧度为单位，请将角度乘以 0.0174533。"};
  }
  if (a.code == "robot") {
    return {"Select the " + RobotKindName(a.robot) + " robot type.",
            "请选择机器人类型 " + RobotKindNameZh(a.robot) + "。"};
  }
  if (a.code == "inverted") {
    return {"Give each pose as the flange in the robot base frame (invert the rows).",
            "请以法兰在基座坐标系中的位姿填写机器人数据（将各行求逆）。"};
  }
  return {"Put the robot rows in the order of the shots.", "请按图像顺序排列机器人数据。"};
}

}  // namespace

void WarnAboutPoseSet(CalibrationReport& report) {
  const PoseSetCheck& set = report.poseSet;
  if (set.poses < kFewPoses) {
    Warn(report, "few-poses",
         "Only " + std::to_string(set.poses) + " poses were used; at least 8 are needed to judge a calibration.",
         "仅使用了 " + std::to_string(set.poses) + " 个位姿，至少需要 8 个才能评估标定结果。",
         "Take 12 to 20 poses, tilting the flange by 30 degrees or more about different axes.",
         "请采集 12 到 20 个位姿，法兰绕不同轴倾斜 30° 以上。");
  }
  if (set.largestRotationDeg < kNarrowRotationDeg) {
    Warn(report, "narrow-rotation",
         Format("The poses rotate by at most %.1f degrees relative to each other; below 15 degrees the camera "
                "position is poorly fixed.",
                set.largestRotationDeg),
         Format("位姿之间的最大相对旋转仅 %.1f°，小于 15° 时相机位置无法准确确定。", set.largestRotationDeg),
         "Add poses tilted by 30 degrees or more about different axes.", "请增加绕不同轴倾斜 30° 以上的位姿。");
  }
  // A 4-axis set solved with a quantity held has that quantity given.
  if (set.poses >= 2 && set.secondAxisSpread < kSingleAxisSpread && report.fixedQuantity.empty()) {
    Warn(report, "single-axis", "The poses rotate about one axis only; the camera position along it is not fixed.",
         "位姿几乎只绕一个轴旋转，相机沿该轴的位置无法确定。", "Add poses rotated about two other axes.",
         "请增加绕另外两个轴旋转的位姿。");
  }
}

void WarnAboutFit(CalibrationReport& report, bool poorFit) {
  const Uncertainty& u = report.uncertainty;
  // Under a poor fit the model itself is wrong: its σ says nothing more.
  if (!poorFit && u.known && (u.translationNormMm > report.toleranceMm || u.rotationDeg > report.toleranceDeg)) {
    Warn(report, "uncertain",
         Format("The result is uncertain: camera translation +/- %.2f mm, rotation +/- %.3f degrees (1 sigma); "
                "the tolerance is %.2f mm and %.3f degrees.",
                u.translationNormMm, u.rotationDeg, report.toleranceMm, report.toleranceDeg),
         Format("标定结果不确定度较大：相机平移 ±%.2f mm，旋转 ±%.3f°（1σ），超出容差 %.2f mm、%.3f°。",
                u.translationNormMm, u.rotationDeg, report.toleranceMm, report.toleranceDeg),
         "Add poses with larger rotations about different axes.", "请增加绕不同轴、旋转幅度更大的位姿。");
  }
  const FinalResult& r = report.result;
  if (poorFit) {
    Warn(report, "poor-fit",
         Format("The poses do not fit one calibration: RMS %.2f mm, %d of %zu poses used.", r.rmsError,
                report.poseSet.poses, r.residuals.size()),
         Format("位姿与标定结果不符：均方根误差 %.2f mm，使用了 %d / %zu 个位姿。", r.rmsError, report.poseSet.poses,
                r.residuals.size()),
         "Check the robot type, the units, the hand-eye type and that each robot row belongs to its shot.",
         "请检查机器人类型、单位、手眼类型，以及每行机器人数据是否与其图像对应。");
  }
  for (std::size_t i = 0; i < report.leaveOneOutStudentised.size(); ++i) {
    const double t = report.leaveOneOutStudentised[i];
    if (!(t > report.suspectLimit)) continue;
    const double loo = report.leaveOneOutMm[i];
    const int pose = static_cast<int>(i);
    Warn(report, "suspect-pose",
         "Pose " + std::to_string(pose + 1) +
             Format(": %.2f mm from the calibration computed without it, %.1f times the spread expected there "
                    "(a pose like the others stays below %.1f).",
                    loo, t, report.suspectLimit),
         "第 " + std::to_string(pose + 1) + " 个位姿" +
             Format("与不含它的标定结果相差 %.2f mm，为该处预期离散度的 %.1f 倍（正常位姿应低于 %.1f 倍）。", loo, t,
                    report.suspectLimit),
         "Check or retake pose " + std::to_string(pose + 1) + ", or leave it out.",
         "请检查或重新采集第 " + std::to_string(pose + 1) + " 个位姿，或将其剔除。", pose);
  }
}

namespace {

// Why the scale as given is not physical, for an alternative that undoes it.
std::pair<std::string, std::string> ImplausibleText(const std::string& code) {
  if (code == "meter") {
    return {"and as given the rows put the flange within 10 mm of the robot base.",
            "而按给定数值，法兰距机器人基座不到 10 mm。"};
  }
  if (code == "millimetre") {
    return {"and as given the rows put the flange over 10 m from the robot base.",
            "而按给定数值，法兰距机器人基座超过 10 m。"};
  }
  if (code == "markers-x0.001") {
    return {"and as given the marker points lie over 10 m from the camera.", "而按给定数值，标定板点距相机超过 10 m。"};
  }
  return {"and as given the marker points lie within 10 mm of the camera.", "而按给定数值，标定板点距相机不到 10 mm。"};
}

// How the board's normals agree under the reading given and under the first alternative named (degrees), when the
// normals named it: the points alone did not.
struct NormalsNamed {
  bool named = false;
  double givenDeg = 0.0;
  double alternativeDeg = 0.0;
};

void WarnAboutSetup(CalibrationReport& report, double fittedMm, const NormalsNamed& byNormals = {}) {
  if (report.alternatives.empty()) return;
  const SetupAlternative& a = report.alternatives.front();
  const auto [fix, fixZh] = AlternativeFix(a);
  const double ratio = fittedMm / std::max(a.rmsMm, 1e-9);
  if (byNormals.named) {
    const double agree = byNormals.givenDeg / std::max(byNormals.alternativeDeg, 1e-12);
    Warn(report, "likely-setup",
         "The board's normals agree " + Format("%.*f times better if ", agree < 10.0 ? 1 : 0, agree) + a.text +
             Format(" (to %.3f deg instead of %.3f deg; RMS %.3f mm instead of %.2f mm).", byNormals.alternativeDeg,
                    byNormals.givenDeg, a.rmsMm, fittedMm),
         "若" + a.textZh +
             Format("，各图像的标定板法向一致性好 %.*f 倍（%.3f° 而非 %.3f°；均方根误差 %.3f mm，而非 %.2f mm）。",
                    agree < 10.0 ? 1 : 0, agree, byNormals.alternativeDeg, byNormals.givenDeg, a.rmsMm, fittedMm),
         fix, fixZh);
  } else if (fittedMm > 0.0 && std::isfinite(fittedMm) && ratio >= 1.5) {
    Warn(report, "likely-setup",
         "The data fit " + Format("%.*f times better if ", ratio < 10.0 ? 1 : 0, ratio) + a.text +
             Format(" (RMS %.3f mm instead of %.2f mm).", a.rmsMm, fittedMm),
         "若" + a.textZh +
             Format("，数据的拟合好 %.*f 倍（均方根误差 %.3f mm，而非 %.2f mm）。", ratio < 10.0 ? 1 : 0, ratio,
                    a.rmsMm, fittedMm),
         fix, fixZh);
  } else if (fittedMm > 0.0 && std::isfinite(fittedMm)) {
    // A scale reading that fits about as well: the values as given are not physical.
    Warn(report, "likely-setup",
         "The data fit as well if " + a.text + Format(" (RMS %.3f mm instead of %.2f mm), ", a.rmsMm, fittedMm) +
             ImplausibleText(a.code).first,
         "若" + a.textZh + Format("，数据拟合同样好（均方根误差 %.3f mm，而非 %.2f mm），", a.rmsMm, fittedMm) +
             ImplausibleText(a.code).second,
         fix, fixZh);
  } else {
    Warn(report, "likely-setup", "The data fit if " + a.text + Format(" (RMS %.3f mm).", a.rmsMm),
         "若" + a.textZh + Format("，数据即可拟合（均方根误差 %.3f mm）。", a.rmsMm), fix, fixZh);
  }
}

// RMS over every pose, used or not, of the result's residuals (mm).
double RmsOverAll(const FinalResult& r) {
  double sumSq = 0.0;
  for (const PoseResidual& p : r.residuals) sumSq += p.distance * p.distance;
  return r.residuals.empty() ? 0.0 : std::sqrt(sumSq / static_cast<double>(r.residuals.size()));
}

void RunnerUp(const SolveRecord& record, CalibrationReport& report) {
  const ConventionFit* best = nullptr;
  for (const ConventionFit& fit : record.conventionFits) {
    if (fit.status != 0 || fit.axes == report.convention) continue;
    if (!best || fit.selected > best->selected || (fit.selected == best->selected && fit.rmsMm < best->rmsMm)) {
      best = &fit;
    }
  }
  if (best != nullptr) {
    report.runnerUp = best->axes;
    report.runnerUpRmsMm = best->rmsMm;
  }
}

// Fisher's F that makes one fit significantly better than another over `poses` poses.
double SignificantRatio(std::size_t poses) {
  const double freedom = 3.0 * static_cast<double>(poses) - 9.0;
  return freedom >= 1.0 ? FisherQuantile(kSignificantlyBetter, freedom, freedom) : 1e300;
}

// How many times the given reading's RMS an alternative's may be and still be named (below): readings
// beyond it need not be solved.
double MostNamedRatio(std::size_t poses) {
  const double f = SignificantRatio(poses);
  return std::max({std::sqrt(f), 1.0 / std::sqrt(f), 1.0 / kBetterFactor});
}

// The alternatives worth naming against the reading given, solved the same way (`givenMm`, its RMS over
// all `poses`): ten times better, significantly better, or — a scale that is not physical as given — as
// good.
// With the board's normals (the model in use), their agreement tests each reading a second time, over 2m − 2
// freedoms (m shots with a normal; the mean normal takes 2): an alternative the points name whose normals agree
// significantly worse is not named, and one whose normals agree significantly better while its points fit no
// significantly worse is. Readings that only rescale agree alike.
std::vector<SetupAlternative> NamedAlternatives(std::vector<SetupAlternative> all, double givenMm, std::size_t poses,
                                                const SetupNormals& normals, NormalsNamed& byNormals) {
  const double f = SignificantRatio(poses);
  const double normalFreedom =
      2.0 * static_cast<double>(std::count_if(normals.normals.begin(), normals.normals.end(),
                                              [](const Eigen::Vector3d& n) { return n.squaredNorm() > 0.0; })) -
      2.0;
  const double fn = normalFreedom >= 1.0 ? FisherQuantile(kSignificantlyBetter, normalFreedom, normalFreedom) : 1e300;
  const double givenDeg = normals.givenRmsDeg;
  std::vector<SetupAlternative> named;
  byNormals = NormalsNamed{};
  for (std::size_t k = 0; k < all.size(); ++k) {
    SetupAlternative& a = all[k];
    const double given2 = givenMm * givenMm;
    const double alt2 = a.rmsMm * a.rmsMm;
    bool better = kBetterFactor * a.rmsMm <= givenMm || given2 > f * alt2;
    const bool asGood = UndoesImplausibleScale(a) && alt2 <= f * given2;
    const double altDeg =
        k < normals.alternativeRmsDeg.size() ? normals.alternativeRmsDeg[k] : std::numeric_limits<double>::quiet_NaN();
    bool namedByNormals = false;
    if (std::isfinite(givenDeg) && std::isfinite(altDeg)) {
      if (better && altDeg * altDeg > fn * givenDeg * givenDeg) better = false;
      if (!better && !asGood && givenDeg * givenDeg > fn * altDeg * altDeg && alt2 <= f * given2) {
        better = namedByNormals = true;
      }
    }
    if (!(better || asGood)) continue;
    if (named.empty() && namedByNormals) byNormals = {true, givenDeg, altDeg};
    named.push_back(std::move(a));
  }
  return named;
}

// Each shot's board normal for the set-up check (camera frame; zero where none): the normal, or a target
// rotation's third axis.
SetupNormals SetupNormalsOf(const ReportOptions& options) {
  SetupNormals out;
  for (const ShotPlane& p : options.shots) {
    Eigen::Vector3d n = Eigen::Vector3d::Zero();
    if (p.hasNormal) {
      n = Eigen::Vector3d(p.normal[0], p.normal[1], p.normal[2]);
    } else if (p.hasRotation) {
      n = Eigen::Vector3d(p.rotation[2], p.rotation[5], p.rotation[8]);
    }
    out.normals.push_back(n.allFinite() && std::abs(n.norm() - 1.0) < 1e-3 ? Eigen::Vector3d(n.normalized())
                                                                           : Eigen::Vector3d::Zero());
  }
  return out;
}

// The per-axis σ of the residuals of the poses used (mm): their sum of squares over 3m − 9.
double ResidualSigmaMm(const FinalResult& r, const SolvedPoses& poses) {
  double squares = 0.0;
  for (std::size_t i = 0; i < r.residuals.size(); ++i) {
    if (poses.Used(i)) squares += r.residuals[i].distance * r.residuals[i].distance;
  }
  const double freedom = 3.0 * static_cast<double>(poses.UsedCount()) - 9.0;
  return freedom >= 1.0 ? std::sqrt(squares / freedom) : 0.0;
}

// Each pose the search left out, with why; "search-dropped-many" when many were, or ordinary ones.
void ExplainDropped(const SolvedPoses& poses, CalibrationReport& report) {
  const FinalResult& r = report.result;
  const double sigma = ResidualSigmaMm(r, poses);
  bool ordinary = false;
  for (std::size_t i = 0; i < r.residuals.size(); ++i) {
    if (poses.Used(i)) continue;
    DroppedPose d;
    d.pose = static_cast<int>(i);
    d.residualMm = r.residuals[i].distance;
    d.distanceMm = report.searchDistanceMm;
    d.sigmasOff = sigma > 0.0 ? d.residualMm / sigma : 0.0;
    ordinary = ordinary || d.sigmasOff <= kDroppedSigmas;
    d.reason = Format("residual %.2f mm, not below the search distance %.2f mm (%.1f sigma of the fit)", d.residualMm,
                      d.distanceMm, d.sigmasOff);
    d.reasonZh =
        Format("残差 %.2f mm，不小于筛选距离 %.2f mm（拟合的 %.1f 倍 σ）", d.residualMm, d.distanceMm, d.sigmasOff);
    report.dropped.push_back(std::move(d));
  }
  const std::size_t n = r.residuals.size();
  const bool many = static_cast<double>(report.dropped.size()) > kDroppedShare * static_cast<double>(n);
  if (!many && !ordinary) return;
  Warn(report, "search-dropped-many",
       Format("The pose search dropped %zu of %zu poses", report.dropped.size(), n) +
           (ordinary ? Format(", some within %.0f sigma of the fit (ordinary noise)", kDroppedSigmas) : "") +
           Format("; its distance %.2f mm is too tight for this camera's noise (sigma %.2f mm per axis).",
                  report.searchDistanceMm, sigma),
       Format("位姿筛选剔除了 %zu / %zu 个位姿", report.dropped.size(), n) +
           (ordinary ? Format("，其中有的仅偏离拟合 %.0f 倍 σ 以内（正常噪声）", kDroppedSigmas) : "") +
           Format("；筛选距离 %.2f mm 对该相机的噪声（每轴 σ %.2f mm）过紧。", report.searchDistanceMm, sigma),
       "Let the search take its distance from the data's own noise (give none, or 0), or raise the distance.",
       "请让筛选距离按数据自身噪声确定（不指定距离，或设为 0），或增大距离阈值。");
}

// "registration": the same marker measured with different outer radii in different shots, beyond what each
// fit's noise explains.
void WarnAboutRegistration(const ReportOptions& options, const SolvedPoses& poses, CalibrationReport& report) {
  std::vector<double> radii, variances;
  for (std::size_t i = 0; i < options.outerRadiiMm.size(); ++i) {
    const double sigma = i < options.outerRadiusSigmasMm.size() ? options.outerRadiusSigmasMm[i] : 0.0;
    if (!poses.Used(i) || !(options.outerRadiiMm[i] > 0.0) || !std::isfinite(options.outerRadiiMm[i])) continue;
    radii.push_back(options.outerRadiiMm[i]);
    variances.push_back(std::isfinite(sigma) ? sigma * sigma : 0.0);
  }
  const std::size_t n = radii.size();
  if (n < 4) return;
  double mean = 0.0, noise = 0.0, squares = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    mean += radii[k] / static_cast<double>(n);
    noise += variances[k] / static_cast<double>(n);
  }
  for (const double r : radii) squares += (r - mean) * (r - mean);
  const double freedom = static_cast<double>(n - 1);
  report.radiusSpreadMm = std::sqrt(squares / freedom);
  report.radiusSpreadLimitMm =
      std::sqrt((noise + kRadiusFloorMm * kRadiusFloorMm) * ChiSquareQuantile(kRegistrationLevel, freedom) / freedom);
  if (report.radiusSpreadMm <= report.radiusSpreadLimitMm) return;
  Warn(
      report, "registration",
      Format("The marker's outer radius spreads by %.3f mm (1 sigma) over the shots, more than the %.3f mm their "
             "fits explain: the image and the point cloud disagree (lens distortion left in one of them, or the "
             "image shifted or turned against the cloud), which moves every centre without showing in one shot.",
             report.radiusSpreadMm, report.radiusSpreadLimitMm),
      Format(
          "标记外圆半径在各图像间离散 %.3f mm（1σ），超过拟合噪声可解释的 %.3f mm：图像与点云不一致（其一残留镜头畸变，"
          "或图像相对点云有平移或旋转），这会使每个中心偏移，而单张图像看不出来。",
          report.radiusSpreadMm, report.radiusSpreadLimitMm),
      "give the 2D camera's distortion, check the image-to-cloud registration",
      "请提供二维相机的畸变参数，并检查图像与点云的配准");
}

}  // namespace

void Analyse(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
             const AlgoParam& param, const ReportOptions& options, const EntryRun& run, CalibrationReport& report) {
  const SolveRecord& record = run.record;
  report.convention = ConventionUsed(kind, *run.robot->robot);
  if (IsGeneric(kind)) RunnerUp(record, report);
  report.searchFellBack = record.searched && record.search.fellBack;
  report.searchSamples = record.searched ? record.search.samplesTried : 0;

  const FinalResult& r = report.result;
  const SolvedPoses poses{record.robotPoses, record.markerPoses, r.mask, param.HandEyeType != 0};
  if (!ApplyJointModel(options, run, poses, report)) {
    const IHandEye& solver = *record.handEye;
    const Kel::SE3d marker = poses.eyeToHand ? solver.GetMarkerToFlange() : solver.GetMarkerToBase();
    const Kel::SE3d camera = poses.eyeToHand ? solver.GetCameraToBase() : solver.GetCameraToFlange();
    report.uncertainty = SolutionUncertainty(poses, marker, camera);
    report.covariance = SolutionCovariance(poses, marker, camera);
    if (poses.UsedCount() <= kMostLeaveOneOutPoses) {
      for (const LeftOut& left : LeaveOneOutResiduals(poses, marker, camera)) {
        report.leaveOneOutMm.push_back(left.distance * 1000.0);
        report.leaveOneOutStudentised.push_back(left.studentised);
      }
    }
  }
  const Uncertainty& u = report.uncertainty;
  report.meetsTolerance = u.known && u.translationNormMm <= report.toleranceMm && u.rotationDeg <= report.toleranceDeg;
  report.suspectLimit = StudentisedLimit(poses.UsedCount(), kSuspectAlpha);
  report.poseSet = PoseSpread(poses);
  if (param.Exhaust && !r.mask.empty()) report.searchDistanceMm = param.RansacDist * 1000.0;

  const bool halfDropped = 2 * poses.UsedCount() < r.residuals.size();
  const bool poorFit = r.rmsError > kPoorFitMm || halfDropped;
  double givenMm = RmsOverAll(r);
  NormalsNamed byNormals;
  if (options.setupCheck) {
    report.setupChecked = true;
    // Under the model with normals, the normals test each reading too.
    SetupNormals normals = report.model != "point" ? SetupNormalsOf(options) : SetupNormals{};
    const std::vector<SetupAlternative> all =
        FindSetupAlternatives(kind, markers, rows, param, std::numeric_limits<double>::infinity(), &givenMm, &normals,
                              MostNamedRatio(r.residuals.size()));
    if (!std::isfinite(givenMm)) givenMm = RmsOverAll(r);
    report.alternatives = NamedAlternatives(all, givenMm, r.residuals.size(), normals, byNormals);
  }
  WarnAboutPoseSet(report);
  WarnAboutFit(report, poorFit);
  ExplainDropped(poses, report);
  WarnAboutSetup(report, givenMm, byNormals);
  WarnAboutRegistration(options, poses, report);
}

void ExplainFailure(const EntryRun& run, const std::vector<MarkerBoardResult>& markers, const AlgoParam& param,
                    CalibrationReport& report) {
  if (!run.failure.empty()) {
    report.failure = run.failure;
    report.failureZh = "输入数据有误：" + run.failure;
    return;
  }
  const std::size_t n = markers.size();
  if (n < kMinimumPoses) {
    report.failure = "needs at least " + std::to_string(kMinimumPoses) + " poses, got " + std::to_string(n);
    report.failureZh = "至少需要 " + std::to_string(kMinimumPoses) + " 个位姿，当前只有 " + std::to_string(n) + " 个";
  } else if (run.status == kDegeneratePoses &&
             !FourAxisFailure(run.record.robotPoses, param.HandEyeType != 0).first.empty()) {
    std::tie(report.failure, report.failureZh) = FourAxisFailure(run.record.robotPoses, param.HandEyeType != 0);
  } else if (run.status == kDegeneratePoses) {
    report.failure =
        "the poses rotate about one axis only (or not at all): tilt the flange about at least two different axes";
    report.failureZh = "位姿只绕一个轴旋转（或没有旋转）：请让法兰绕至少两个不同的轴倾斜";
  } else if (run.status == -1) {
    report.failure = Format(
        "the pose search found no 5 poses agreeing within %.2f mm: check the set-up, or raise the "
        "distance",
        param.RansacDist * 1000.0);
    report.failureZh =
        Format("位姿筛选未找到 5 个误差在 %.2f mm 以内的位姿：请检查设置，或增大距离阈值", param.RansacDist * 1000.0);
  } else {
    report.failure = "the solve did not converge: check the robot type, the units and the hand-eye type";
    report.failureZh = "求解未收敛：请检查机器人类型、单位和手眼类型";
  }
}

bool DistanceFromData(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, RobotKind robot,
                      std::uint32_t seed, AlgoParam& settings, CalibrationReport& report) {
  AlgoParam all = settings;
  all.Exhaust = false;
  FinalResult first;
  if (RunEntryPoint(robot, markers, rows, all, seed, first) != Success) return false;
  std::vector<double> distances;
  for (const PoseResidual& p : first.residuals) distances.push_back(p.distance);
  const auto middle = distances.begin() + static_cast<std::ptrdiff_t>(distances.size() / 2);
  std::nth_element(distances.begin(), middle, distances.end());
  const double n = static_cast<double>(distances.size());
  const double sigmaMm = *middle / kChiMedian3 * std::sqrt(3.0 * n / std::max(1.0, 3.0 * n - 9.0));
  settings.RansacDist = std::max(kSearchFloorMm, kSearchSigmas * sigmaMm) / 1000.0;
  report.searchDistanceFromData = true;
  return true;
}

void NameFailedSetup(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                     const AlgoParam& param, CalibrationReport& report) {
  report.setupChecked = true;
  report.alternatives = FindSetupAlternatives(kind, markers, rows, param, kPoorFitMm);
  WarnAboutSetup(report, 0.0);
}

}  // namespace TamoHandEye
