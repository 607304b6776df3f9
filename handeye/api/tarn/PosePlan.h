// SPDX-License-Identifier: Apache-2.0
#pragma once

// From one taught pose to the poses of a calibration: where to drive the robot, before any calibration exists.
//
// The taught pose is the first row, its shot the first marker. With a guess of the camera transform
// (PlanOptions::cameraGuess) the plan is the taught pose and PlanOptions::count − 1 more, chosen one after another
// to lower the camera translation's predicted 1σ most (as the suggestions score, PoseSuggestion.h): each is the
// taught flange turned by up to PlanOptions::maxTurnDeg (a third, two thirds and all of it, about 26 axes spread
// over the sphere) so that the controller keeps the taught arm configuration, placed so the camera sees the marker
// at the taught distance or PlanOptions::distanceTolerance nearer or farther, the marker inside the image shrunk by
// PlanOptions::imageMargin on every side and by the guess's direction error (PlanOptions::guessErrorDeg) further
// (the camera's pinhole known) or within PlanOptions::viewConeDeg of the optical axis, its face seen as from the
// taught pose (the line of sight within the largest turn of the taught one) and its rings seen no flatter than
// PlanOptions::maxTiltDeg allows. Greedy on the translation's σ, the
// turns spread over well-separated axes by themselves. The predicted σ assumes PlanOptions::pointNoiseMm per axis
// on every shot.
//
// Without a guess, and with the taught shot alone, the plan is a first stage: the taught pose, three shifts of
// PlanOptions::probeShiftMm along the flange's x, y and z axes, and two turns of PlanOptions::probeTurnDeg about
// its x and y axes. Its shots fix the camera's rotation (the shifts) and its offset roughly (the turns).
// Given those shots (five or more rows, the taught one first), the camera is solved from them as the entry point
// solves it, and the plan is the full one from the taught pose, scored with them taken and at their residuals'
// noise (never below PlanOptions::pointNoiseMm / 4).
//
// Codes: 0; 202 no rows; 203 counts differ; 204 a row of the wrong length; 201 a value that is not finite, options
// out of range, a guess that is not a transform, two to four rows (neither the taught shot alone nor a first
// stage's shots), a generic kind without PlanOptions::convention for a single row, or shots that do not calibrate
// (`failure` says why). Success with fewer poses than asked when no more keep the marker in view. Never throws.

#include <tarn/AlgoParam.h>
#include <tarn/ErrorCode.h>
#include <tarn/MarkerBoardResult.h>
#include <tarn/PoseSuggestion.h>
#include <tarn/RobotTypes.h>
#include <tarn/SolveFinalResult.h>
#include <tarn/TarnExport.h>

#include <array>
#include <limits>
#include <string>
#include <vector>

namespace TamoHandEye {

struct PlanOptions {
  int count = 15;                   ///< poses in the plan, the taught one first (2 to 50)
  double maxTurnDeg = 30.0;         ///< the largest turn from the taught orientation (above 0, at most 90)
  double distanceTolerance = 0.15;  ///< the camera's distance kept within this share of the taught one
  CameraPinhole camera;             ///< when known: the marker kept inside the image (see above)
  double imageMargin = 0.1;         ///< the share of the image's width and height kept clear on every side
  double viewConeDeg = 25.0;        ///< without the pinhole: the marker's largest angle from the optical axis
  /// The board's unit normal in the taught shot (camera frame, as the fitted centre gives it); zero: taken to face
  /// the taught camera. No planned pose sees the rings flatter than a circle tilted by `maxTiltDeg`: their image
  /// ellipse's smallest axis at least cos(maxTiltDeg) of its largest, the pinhole's stretch off its axis counted
  /// (rings flatter than about 0.6 are not found; a wide lens stretches them most at the image's corners).
  std::array<double, 3> boardNormal{};
  double maxTiltDeg = 48.0;
  /// The camera transform as FinalResult::cameraPose gives it (camera-in-flange eye-in-hand, camera-in-base
  /// eye-to-hand; a row of the kind in AlgoParam's units); empty: none (a first stage, or solved from its shots).
  std::vector<double> cameraGuess;
  double guessErrorDeg = 2.0;  ///< how far off the guess's direction to the marker may be
  double pointNoiseMm = 0.5;   ///< a shot's noise per axis the predicted σ assumes
  /// The generic kinds: the rows' rotation convention (needed for a single row; with a first stage's shots the
  /// one they fit best when empty).
  std::string convention;
  double probeShiftMm = 30.0;  ///< the first stage's shifts
  double probeTurnDeg = 5.0;   ///< and turns
  /// A 4-axis robot (palletiser, SCARA: turns about the base's vertical z axis only). Every pose is the taught one
  /// turned about that axis and moved (the first stage: shifts along the base's x, y and z, turns of ±probeTurnDeg
  /// about z), and the σ are predicted with the marker's height held, the quantity no shot sees (ReportOptions::
  /// fixedHeightMm). With a first stage's shots the camera is solved with `fixedHeightMm` or `cameraOffsetZMm`
  /// held (as ReportOptions takes them; one is needed then).
  bool fourAxis = false;
  double fixedHeightMm = std::numeric_limits<double>::quiet_NaN();
  double cameraOffsetZMm = std::numeric_limits<double>::quiet_NaN();
};

struct PlannedPose {
  /// The flange pose as a robot row of the kind: its convention and AlgoParam's units (as PoseSuggestion::row).
  std::vector<double> row;
  /// The same as a 4 x 4 matrix, row by row, its translation in the row's unit.
  std::array<double, 16> matrix{};
  double sigmaMmAfter = 0.0;     ///< predicted camera translation 1σ (mm) with this pose and those before; 0 unknown
  std::array<double, 3> axis{};  ///< the turn from the taught orientation: unit axis, base frame
  double turnDeg = 0.0;          ///< and angle
  double distanceMm = 0.0;       ///< the camera's predicted distance from the marker; 0 unknown (a first stage)
  double u = 0.0;                ///< where the camera is predicted to see the marker, pixels (the pinhole known)
  double v = 0.0;
};

struct PosePlan {
  bool firstStage = false;         ///< the short first program (no guess): take its shots, then plan again with them
  std::vector<PlannedPose> poses;  ///< the taught pose first
  double sigmaMm = 0.0;            ///< predicted camera translation 1σ after all of the plan (mm); 0 for a first stage
  double sigmaDeg = 0.0;           ///< and camera rotation 1σ (degrees)
  double noiseMm = 0.0;            ///< the shot noise per axis the prediction assumed
  bool inImage = false;            ///< the marker kept inside the image (the pinhole known)
  std::string convention;          ///< the rows' rotation convention
  std::string failure;             ///< on failure, or when fewer poses than asked were found: why
};

TARN_EXPORT ErrorCode PlanCalibrationPoses(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                           const AlgoParam& param, RobotKind robot, const PlanOptions& options,
                                           PosePlan& plan);

}  // namespace TamoHandEye
