// SPDX-License-Identifier: Apache-2.0
#pragma once

// The calibration report of a robot that turns about one axis only, solved with the quantity the shots cannot
// see held at the figure the options give (ReportOptions::fixedHeightMm, cameraOffsetZMm).

#include <tarn/CalibrationReport.h>

#include "solver/EntryPath.h"
#include "solver/FourAxisSolve.h"

#include <memory>
#include <string>
#include <vector>

namespace TamoHandEye {

/// A 4-axis solve of robot rows: the convention object that read them, the poses and the solution.
struct FourAxisFit {
  std::unique_ptr<Robot> robot;
  std::vector<Kel::SE3d> robotPoses;   ///< base_from_flange, metres
  std::vector<Kel::SE3d> markerPoses;  ///< the marker points as poses
  std::vector<Eigen::Vector3d> points;
  FourAxisSolution solution;
  std::string convention;
};

/// The rows solved with `quantity` held at `value` (metres), every candidate convention of a generic kind tried
/// and the best fit kept; not solved (the solution's failure says why) when the poses do not turn about one axis.
FourAxisFit FitFourAxis(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                        const AlgoParam& param, FixedQuantity quantity, double value);

/// The options give a quantity to hold.
bool FourAxisQuantityGiven(const ReportOptions& options);

/// After a run that failed on a degenerate set: when its poses turn about one axis and the options give a
/// quantity, solves with it held (every candidate convention of a generic kind; the best fit kept) and fills the
/// report (result, uncertainty and covariance over the rest, leave-one-out residuals, pose set, warnings).
/// Success, or Err_Solve_Fail with the report's failure saying why. No pose search and no set-up check run.
ErrorCode SolveFourAxisReport(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                              const AlgoParam& param, const ReportOptions& options, CalibrationReport& report);

/// What to say when a degenerate set turns about one axis (a 4-axis robot) and no quantity was given: which two
/// quantities move together and what to give; empty when the poses do not turn about one axis.
std::pair<std::string, std::string> FourAxisFailure(const std::vector<Kel::SE3d>& robotPoses, bool eyeToHand);

}  // namespace TamoHandEye
