#pragma once

// Which pose should be taken next? From the poses taken so far (marker points with their robot rows), the
// calibration is solved as its entry point solves it, and flange poses that would shrink the camera
// translation's uncertainty most are proposed as robot rows, ready to type into the controller.
//
// Candidates: each pose used, its flange turned by a third, two thirds and all of SuggestOptions::maxTurnDeg
// (15°, 30°, 45°) about 26 axes spread over the sphere, placed so the camera keeps that pose's distance from
// the marker and sees it on its optical axis or at one of 16 places around it, 8 at half the view cone and
// 8 on its edge (off-axis shots are what separate the camera's translation from its rotation). So that the
// real camera, not only the calibrated one, sees the marker within SuggestOptions::viewConeDeg (25°) of its
// optical axis, the edge is taken three σ of the calibration's own direction error inside the cone (its
// rotation σ plus its translation σ over the nearest distance; at least 1°). A candidate is kept when the
// camera sees the marker's face: its line of sight to the marker, in the marker's own frame (the base for
// eye-in-hand, the flange for eye-to-hand), lies within maxTurnDeg of the mean line of sight of the poses
// used (the face is taken to point there).
// Each is scored by the camera translation's 1σ (the norm of its three 1σ, mm) once it is added: first
// order, from the normal matrix of the calibration's translation residuals and their variance (as the
// calibration report's uncertainty), the new pose's marker point being where the solution predicts it. The
// best is taken, then the next best with it added, and so on: each suggestion's σ counts the ones before it.
//
// Codes: those of the robot kind's entry point for the same input (the calibration must succeed); 201 also
// when the poses used leave the uncertainty unknown (a degenerate set). Success with no suggestion when no
// candidate keeps the marker in view (`failure` says so). Nothing throws.

#include <tarn/AlgoParam.h>
#include <tarn/CalibrationReport.h>
#include <tarn/ErrorCode.h>
#include <tarn/MarkerBoardResult.h>
#include <tarn/SolveFinalResult.h>
#include <tarn/TarnExport.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace TamoHandEye {

struct SuggestOptions {
  int count = 3;              ///< suggestions wanted
  double maxTurnDeg = 45.0;   ///< the largest turn from a pose taken
  double viewConeDeg = 25.0;  ///< the marker's largest angle from the camera's optical axis
  /// The pose search's seed (AlgoParam::Exhaust), as ReportOptions::seed: the same seed drops the same poses.
  std::uint32_t seed = ReportOptions{}.seed;
};

struct PoseSuggestion {
  /// The flange pose as a robot row of the kind: its convention (the one the calibration found, for the
  /// generic kinds) and the units of AlgoParam (IsMeter, IsRadian where the kind honours them).
  std::vector<double> row;
  double sigmaMmAfter = 0.0;     ///< camera translation 1σ (mm) with this and the suggestions before it
  int fromPose = -1;             ///< the pose taken it turns from (0-based, input order)
  std::array<double, 3> axis{};  ///< the turn's unit axis, base frame
  double turnDeg = 0.0;          ///< the turn's angle
  double viewAngleDeg = 0.0;     ///< the marker's angle from the optical axis in the new pose
  double distanceMm = 0.0;       ///< the camera's distance from the marker (that of `fromPose`)
};

struct PoseSuggestions {
  double sigmaMm = 0.0;                     ///< camera translation 1σ (mm) of the poses taken
  std::string convention;                   ///< the rows' rotation convention
  std::vector<PoseSuggestion> suggestions;  ///< best first
  std::string failure;                      ///< on failure, or when nothing could be suggested: why
};

TARN_EXPORT ErrorCode SuggestNextPoses(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                       const AlgoParam& param, RobotKind robot, const SuggestOptions& options,
                                       PoseSuggestions& suggestions);

}  // namespace TamoHandEye
