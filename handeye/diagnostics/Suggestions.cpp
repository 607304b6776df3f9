// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/Suggestions.h"

#include "diagnostics/FourAxisReport.h"
#include "diagnostics/JointModel.h"

#include <tarn/PoseSuggestion.h>
#include <tarn/RowConversions.h>

#include "solver/CalibrationPipeline.h"
#include "solver/EntryPath.h"
#include "solver/NextPose.h"

#include <cmath>
#include <exception>

namespace TamoHandEye {
namespace {

constexpr int kMostSuggestions = 50;

std::string CheckOptions(const SuggestOptions& o) {
  if (o.count < 1 || o.count > kMostSuggestions) return "the count of suggestions must be 1 to 50";
  if (!(o.maxTurnDeg > 0.0 && o.maxTurnDeg <= 90.0)) return "the largest turn must be above 0 and at most 90 degrees";
  if (!(o.viewConeDeg > 0.0 && o.viewConeDeg < 90.0)) return "the view cone must be above 0 and below 90 degrees";
  if (!(o.imageMargin >= 0.0 && o.imageMargin < 0.5)) return "the image margin must be 0 or more and below 0.5";
  const CameraPinhole& c = o.camera;
  if (c.width != 0 && !(c.width > 0 && c.height > 0 && std::isfinite(c.fx) && c.fx > 0.0 && std::isfinite(c.fy) &&
                        c.fy > 0.0 && std::isfinite(c.cx) && std::isfinite(c.cy))) {
    return "the camera's pinhole needs focal lengths above 0, a finite principal point and an image size";
  }
  return {};
}

// The suggestions as rows of the kind.
ErrorCode WriteSuggestions(RobotKind kind, const AlgoParam& param, const NextPoses& next, const SuggestOptions& options,
                           PoseSuggestions& out) {
  out.inImage = options.camera.width > 0;
  if (!std::isfinite(next.sigmaMm)) {
    out.failure = "the poses used leave the camera translation's uncertainty unknown (too few, or degenerate)";
    return Err_Solve_Fail;
  }
  out.sigmaMm = next.sigmaMm;
  for (const NextPose& p : next.poses) {
    PoseSuggestion s;
    if (RowOfFlange(kind, out.convention, param, p.flange, s.row) != Success) continue;
    s.sigmaMmAfter = p.sigmaMm;
    s.fromPose = p.from;
    for (int k = 0; k < 3; ++k) s.axis[static_cast<std::size_t>(k)] = p.axis(k);
    s.turnDeg = p.turnDeg;
    s.viewAngleDeg = p.viewDeg;
    s.distanceMm = p.distanceMm;
    s.u = p.pixel.x();
    s.v = p.pixel.y();
    out.suggestions.push_back(std::move(s));
  }
  if (out.suggestions.empty()) {
    out.failure = out.inImage ? "no turn of the poses taken keeps the marker inside the image: take a pose with the "
                                "marker near the image's centre"
                              : "no turn of the poses taken keeps the marker in view: take a pose with the marker "
                                "near the image's centre";
  }
  return Success;
}

// A 4-axis robot's poses: calibrated with the quantity given held, each suggestion turned about the vertical only.
ErrorCode SuggestFourAxis(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, const AlgoParam& param,
                          RobotKind kind, const SuggestOptions& options, PoseSuggestions& out) {
  const bool height = std::isfinite(options.fixedHeightMm);
  const FixedQuantity quantity = height ? FixedQuantity::MarkerHeight : FixedQuantity::CameraOffsetZ;
  const FourAxisFit fit = FitFourAxis(kind, markers, rows, param, quantity,
                                      (height ? options.fixedHeightMm : options.cameraOffsetZMm) / 1000.0);
  if (!fit.solution.solved) {
    out.failure = "the poses taken could not be calibrated: " + fit.solution.failure;
    return Err_Solve_Fail;
  }
  out.convention = fit.convention;
  const SolvedPoses poses{fit.robotPoses, fit.markerPoses, {}, param.HandEyeType != 0};
  const NextPoseOptions nextOptions{options.count,           options.maxTurnDeg,  options.viewConeDeg,
                                    options.camera,          options.imageMargin, true,
                                    FixedParameter(quantity)};
  return WriteSuggestions(kind, param, SuggestPoses(poses, fit.solution.marker, fit.solution.camera, nextOptions),
                          options, out);
}

}  // namespace

RunSolution SolutionOf(const EntryRun& run, bool eyeToHand) {
  const IHandEye& solver = *run.record.handEye;
  return {eyeToHand ? solver.GetMarkerToFlange() : solver.GetMarkerToBase(),
          eyeToHand ? solver.GetCameraToBase() : solver.GetCameraToFlange()};
}

ErrorCode RowOfFlange(RobotKind kind, const std::string& convention, const AlgoParam& param,
                      const Eigen::Matrix4d& flange, std::vector<double>& row) {
  const bool rowsInMetres = RowsInMetres(kind, param);
  std::vector<std::vector<double>> matrix(4, std::vector<double>(4));
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      matrix[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] =
          flange(r, c) * (c == 3 && r < 3 && !rowsInMetres ? 1000.0 : 1.0);
    }
  }
  return MatrixToRobotRow(kind, convention, param, matrix, row);
}

ErrorCode SuggestFromTaken(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, const AlgoParam& param,
                           RobotKind kind, const SuggestOptions& options, PoseSuggestions& out) {
  out.failure = CheckOptions(options);
  if (!out.failure.empty()) return Err_Solve_Fail;
  EntryRun run;
  FinalResult result;
  const ErrorCode code = RunEntryPoint(kind, markers, rows, param, options.seed, result, &run);
  const bool given = std::isfinite(options.fixedHeightMm) || std::isfinite(options.cameraOffsetZMm);
  const bool oneAxis = !FourAxisFailure(run.record.robotPoses, param.HandEyeType != 0).first.empty();
  if (given && oneAxis) return SuggestFourAxis(markers, rows, param, kind, options, out);
  if (code != Success || oneAxis) {
    // The report says why and what to do (without the set-up check: that is not what was asked).
    ReportOptions explain;
    explain.seed = options.seed;
    explain.setupCheck = false;
    CalibrationReport report;
    SolveCalibrationReport(markers, rows, param, kind, explain, report);
    out.failure = "the poses taken could not be calibrated: " +
                  (report.failure.empty() ? std::string(parseCode(code)) : report.failure);
    return code != Success ? code : Err_Solve_Fail;
  }
  const bool eyeToHand = param.HandEyeType != 0;
  const SolvedPoses poses{run.record.robotPoses, run.record.markerPoses, result.mask, eyeToHand};
  const auto [marker, camera] = SolutionOf(run, eyeToHand);
  out.convention = ConventionUsed(kind, *run.robot->robot);
  const NextPoseOptions nextOptions{
      options.count, options.maxTurnDeg, options.viewConeDeg, options.camera, options.imageMargin, false, -1};
  const JointRun joint =
      SolveJointModel(options.model, options.shots, options.robotNoiseMm, options.robotNoiseDeg, run, poses);
  NextPoses next;
  if (joint.solution.solved) {
    const JointProblem problem = joint.Problem(poses);
    const JointPredictor predictor(problem, joint.solution);
    next = SuggestPoses(poses, predictor, joint.solution, nextOptions);
    out.model = joint.solution.rotations ? "point+rotation" : "point+normal";
  } else {
    next = SuggestPoses(poses, marker, camera, nextOptions);
  }
  return WriteSuggestions(kind, param, next, options, out);
}

}  // namespace TamoHandEye
