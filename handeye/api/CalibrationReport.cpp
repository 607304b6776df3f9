// SPDX-License-Identifier: Apache-2.0
#include <tarn/CalibrationReport.h>

#include "diagnostics/FourAxisReport.h"
#include "diagnostics/ReportAnalysis.h"
#include "solver/EntryPath.h"

#include <exception>
#include <string>
#include <tuple>

namespace TamoHandEye {

ErrorCode SolveCalibrationReport(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                 const AlgoParam& param, RobotKind robot, const ReportOptions& options,
                                 CalibrationReport& report) {
  report = CalibrationReport{};
  report.seed = options.seed;
  report.toleranceMm = options.toleranceMm;
  report.toleranceDeg = options.toleranceDeg;
  AlgoParam settings = param;
  if (options.searchDistance > 0.0) settings.RansacDist = options.searchDistance;
  try {
    if (settings.Exhaust && !(settings.RansacDist > 0.0) && markers.size() > kMinimumPoses) {
      // When the first solve fails, the calibration fails alike and says why (without the search).
      if (!DistanceFromData(markers, robotRows, robot, options.seed, settings, report)) settings.Exhaust = false;
    }
    EntryRun run;
    run.everyConvention = !settings.Exhaust;
    const ErrorCode code = RunEntryPoint(robot, markers, robotRows, settings, options.seed, report.result, &run);
    // Turns about one axis leave one quantity unseen: solved with it given, refused without (a solve that
    // succeeded on such a set took that quantity from the noise).
    const bool eyeToHand = settings.HandEyeType != 0;
    if (!FourAxisFailure(run.record.robotPoses, eyeToHand).first.empty()) {
      if (FourAxisQuantityGiven(options))
        return SolveFourAxisReport(robot, markers, robotRows, settings, options, report);
      if (code == Success) {
        report.result = FinalResult{};
        std::tie(report.failure, report.failureZh) = FourAxisFailure(run.record.robotPoses, eyeToHand);
        return Err_Solve_Fail;
      }
    }
    if (code != Success) {
      ExplainFailure(run, markers, settings, report);
      // A failed solve may still be a set-up mistake: name a reading under which the poses fit.
      if (run.robot && run.failure.empty() && markers.size() >= kMinimumPoses && options.setupCheck) {
        NameFailedSetup(robot, markers, robotRows, settings, report);
      }
      return code;
    }
    Analyse(robot, markers, robotRows, settings, options, run, report);
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
