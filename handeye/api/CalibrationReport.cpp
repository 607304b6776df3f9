#include <tarn/CalibrationReport.h>

#include "api/EntryPoint.h"
#include "api/SetupCheck.h"
#include "solver/CalibrationPipeline.h"
#include "solver/SolutionDiagnostics.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <exception>

namespace TamoHandEye {
namespace {

// The limits of the warnings.
constexpr int kFewPoses = 8;
constexpr double kNarrowRotationDeg = 15.0;
constexpr double kSingleAxisSpread = 0.01;  // the middle eigenvalue of the normalised axis scatter
constexpr double kUncertainMm = 1.0;
constexpr double kUncertainDeg = 0.1;
constexpr double kPoorFitMm = 3.0;
constexpr double kSuspectRatio = 3.0;
constexpr double kSuspectMm = 1.0;
constexpr double kBetterFactor = 10.0;  // an alternative must fit this many times better
constexpr std::size_t kMinPoses = 5;

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
  if (a.code == "meter") {
    return {"Select metres for the robot data, or give X, Y, Z in millimetres.",
            "请将机器人数据单位设为米，或以毫米填写 X、Y、Z。"};
  }
  if (a.code == "millimetre") return {"Select millimetres for the robot data.", "请将机器人数据单位设为毫米。"};
  if (a.code == "radian") {
    return {"Select radians for the robot data, or give the angles in degrees.",
            "请将角度单位设为弧度，或以度填写角度。"};
  }
  if (a.code == "degree") {
    return {"Select degrees for the robot data, or give the angles in radians.",
            "请将角度单位设为度，或以弧度填写角度。"};
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
  if (set.poses >= 2 && set.secondAxisSpread < kSingleAxisSpread) {
    Warn(report, "single-axis", "The poses rotate about one axis only; the camera position along it is not fixed.",
         "位姿几乎只绕一个轴旋转，相机沿该轴的位置无法确定。", "Add poses rotated about two other axes.",
         "请增加绕另外两个轴旋转的位姿。");
  }
}

void WarnAboutFit(CalibrationReport& report, bool poorFit) {
  const Uncertainty& u = report.uncertainty;
  // Under a poor fit the model itself is wrong: its σ says nothing more.
  if (!poorFit && u.known && (u.translationNormMm > kUncertainMm || u.rotationDeg > kUncertainDeg)) {
    Warn(report, "uncertain",
         Format("The result is uncertain: camera translation +/- %.2f mm, rotation +/- %.3f degrees (1 sigma).",
                u.translationNormMm, u.rotationDeg),
         Format("标定结果不确定度较大：相机平移 ±%.2f mm，旋转 ±%.3f°（1σ）。", u.translationNormMm, u.rotationDeg),
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
  for (std::size_t i = 0; i < report.leaveOneOutMm.size(); ++i) {
    const double loo = report.leaveOneOutMm[i];
    const bool used = r.mask.empty() || r.mask[i] != 0;
    if (!used || !(loo > kSuspectRatio * r.rmsError && loo > kSuspectMm)) continue;
    const int pose = static_cast<int>(i);
    Warn(report, "suspect-pose",
         "Pose " + std::to_string(pose) +
             Format(": %.2f mm from the calibration computed without it (%.1f times the RMS).", loo,
                    loo / std::max(r.rmsError, 1e-12)),
         "第 " + std::to_string(pose + 1) + " 个位姿" +
             Format("与不含它的标定结果相差 %.2f mm（均方根误差的 %.1f 倍）。", loo, loo / std::max(r.rmsError, 1e-12)),
         "Check or retake pose " + std::to_string(pose) + ", or leave it out.",
         "请检查或重新采集第 " + std::to_string(pose + 1) + " 个位姿，或将其剔除。", pose);
  }
}

void WarnAboutSetup(CalibrationReport& report, double fittedMm) {
  if (report.alternatives.empty()) return;
  const SetupAlternative& a = report.alternatives.front();
  const auto [fix, fixZh] = AlternativeFix(a);
  if (fittedMm > 0.0) {
    Warn(report, "likely-setup",
         "The data fit " + Format("%.0f times better if ", fittedMm / std::max(a.rmsMm, 1e-9)) + a.text +
             Format(" (RMS %.3f mm instead of %.2f mm).", a.rmsMm, fittedMm),
         "若" + a.textZh +
             Format("，数据的拟合好 %.0f 倍（均方根误差 %.3f mm，而非 %.2f mm）。", fittedMm / std::max(a.rmsMm, 1e-9),
                    a.rmsMm, fittedMm),
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

void RunnerUp(const IRobot& robot, CalibrationReport& report) {
  const IRobot::ConventionFit* best = nullptr;
  for (const IRobot::ConventionFit& fit : robot.conventionFits) {
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

// The report's analysis of a successful run.
void Analyse(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
             const AlgoParam& param, const ReportOptions& options, const IRobot& robot, CalibrationReport& report) {
  report.convention = ConventionUsed(kind, robot);
  if (kind == RobotKind::Common3 || kind == RobotKind::Common4) RunnerUp(robot, report);

  const FinalResult& r = report.result;
  const SolvedPoses poses{robot.robotPoses, robot.markerPoses, r.mask, param.HandEyeType != 0};
  const Kel::SE3d marker = poses.eyeToHand ? robot.handEye->GetMarkerToFlange() : robot.handEye->GetMarkerToBase();
  const Kel::SE3d camera = poses.eyeToHand ? robot.handEye->GetCameraToBase() : robot.handEye->GetCameraToFlange();
  report.uncertainty = SolutionUncertainty(poses, marker, camera);
  report.leaveOneOutMm = LeaveOneOutResiduals(poses, marker, camera);
  for (double& v : report.leaveOneOutMm) v *= 1000.0;
  report.poseSet = PoseSpread(poses);

  const bool halfDropped = 2 * poses.UsedCount() < r.residuals.size();
  const bool poorFit = r.rmsError > kPoorFitMm || halfDropped;
  const double allRms = RmsOverAll(r);
  if (poorFit && options.setupCheck) {
    report.setupChecked = true;
    report.alternatives = FindSetupAlternatives(kind, markers, rows, param, allRms / kBetterFactor);
  }
  WarnAboutPoseSet(report);
  WarnAboutFit(report, poorFit);
  WarnAboutSetup(report, allRms);
}

// What to say when the solve failed.
void ExplainFailure(const EntryRun& run, const std::vector<MarkerBoardResult>& markers, const AlgoParam& param,
                    CalibrationReport& report) {
  if (!run.failure.empty()) {
    report.failure = run.failure;
    report.failureZh = "输入数据有误：" + run.failure;
    return;
  }
  const std::size_t n = markers.size();
  if (n < kMinPoses) {
    report.failure = "needs at least 5 poses, got " + std::to_string(n);
    report.failureZh = "至少需要 5 个位姿，当前只有 " + std::to_string(n) + " 个";
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

}  // namespace

ErrorCode SolveCalibrationReport(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                 const AlgoParam& param, RobotKind robot, const ReportOptions& options,
                                 CalibrationReport& report) {
  report = CalibrationReport{};
  report.seed = options.seed;
  AlgoParam settings = param;
  if (options.searchDistance > 0.0) settings.RansacDist = options.searchDistance;
  try {
    EntryRun run;
    run.everyConvention = true;  // the runner-up is read from every candidate's fit
    const ErrorCode code = RunEntryPoint(robot, markers, robotRows, settings, options.seed, report.result, &run);
    if (code != Success) {
      ExplainFailure(run, markers, settings, report);
      // A failed solve may still be a set-up mistake: name a reading under which the poses fit.
      if (run.robot && run.failure.empty() && markers.size() >= kMinPoses && options.setupCheck) {
        report.setupChecked = true;
        report.alternatives = FindSetupAlternatives(robot, markers, robotRows, settings, kPoorFitMm);
        WarnAboutSetup(report, 0.0);
      }
      return code;
    }
    Analyse(robot, markers, robotRows, settings, options, *run.robot->robot, report);
    return Success;
  } catch (const std::exception& e) {
    report = CalibrationReport{};
    report.seed = options.seed;
    report.failure = std::string("internal error: ") + e.what();
    report.failureZh = "内部错误";
    return Err_Solve_Fail;
  }
}

}  // namespace TamoHandEye
