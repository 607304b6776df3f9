// SPDX-License-Identifier: Apache-2.0
#pragma once

// Is a saved calibration still good? New shots (marker points with their robot rows) checked against a
// saved camera transform and marker position, without calibrating again.
//
// For each shot the saved calibration predicts where the camera sees the marker: eye-in-hand, the marker
// (fixed in the base) seen from the camera at flange · camera; eye-to-hand, the marker at flange · marker
// seen from the fixed camera. The distance between that prediction and the measured point is the shot's
// residual, the same quantity as a calibration's per-pose residual.
//
// When the saved calibration carries its covariance (CalibrationCovariance) and no limit is given, the
// verdict knows what these shots can see. The shots' residuals (predicted minus measured, camera frame)
// are compared with what the saved calibration predicts for them, its own uncertainty included: noise of
// the saved residual σ per axis on every shot, plus the saved parameters' error, which is common to all
// shots. Three tests, by generalised least squares under that covariance, each at 1 % / 3 (Fisher's F
// against the saved residual σ's degrees of freedom): a shift of the camera (3 degrees of freedom), a
// turn of the camera about its centre across the mean line of sight (2; a turn about the line of sight
// moves no marker point near it), and all residuals together (3 per shot: anything else). Then:
//   drift         one test is significant (the displacement below, with its 1σ);
//   ok            none is, and the smallest shift and turn these shots would detect 90 % of the time
//                 (in their worst direction) are within CheckOptions::toleranceMm and toleranceDeg;
//   inconclusive  none is, but these shots could not have seen a move of that size: the smallest
//                 detectable shift and turn say what they can see, and `moreShots` how many more shots
//                 like these would make a shift of toleranceMm detectable (-1: no number would — the saved
//                 calibration's own uncertainty is too large for it; recalibrate with more poses).
//
// Otherwise (a limit given, or a saved calibration without covariance, saved by an older version) the
// verdict is "drift" when the shots' RMS residual exceeds a limit, "ok" otherwise. The limit is 2.5
// times what a new shot of the saved calibration is expected to miss by: the RMS of its leave-one-out
// residuals (each pose's residual under the calibration solved without it), or, when the saved
// calibration does not carry them, √(rms² + σt² + σm² + (d · σr)²) from its RMS residual (rms), its 1σ
// camera translation (σt), marker position (σm) and camera rotation (σr, radians, at the mean
// camera-to-marker distance d of the new shots) — an upper bound, as those errors partly cancel at the
// marker. The factor leaves room for a few shots' RMS to scatter. The limit is never below
// CheckOptions::minimumLimitMm. When the saved calibration carries neither (a result file that holds only
// the transforms) the limit is CheckOptions::defaultLimitMm; CheckOptions::limitMm, when above 0,
// replaces either.
//
// A saved calibration solved with the board's normals (SavedCalibration::model and board) also judges the normals
// of new shots that carry one: each shot's normal residual (the predicted normal's displacement across the measured
// one, 2 values) joins its point's, with one shot's normal noise as the calibration's normals showed it and the
// saved normal's error (with its covariance with the other parameters) common to all shots. The turn test and the
// test of all residuals then weigh the normals too; as a normal moves with any turn across it, a turn of the camera
// is seen far sooner than from the points alone. The tests' degrees of freedom are then the smaller of the points'
// and the normals'.
//
// With three or more shots, the camera displacement that best explains them is estimated: a motion of the
// camera (in its own frame at the saved pose) that brings the measured points onto the predicted ones by
// least squares (generalised, under the covariance above, when it is known). Over a few shots near the camera's axis a
// shift and a turn look alike, so it is the simpler of a shift alone and a turn about the camera's centre alone, unless
// the full rigid motion fits significantly better (F test at 99 %) and the points spread at least 5 mm (RMS) in two
// directions.

#include <tarn/AlgoParam.h>
#include <tarn/CalibrationReport.h>
#include <tarn/ErrorCode.h>
#include <tarn/MarkerBoardResult.h>
#include <tarn/SolveFinalResult.h>
#include <tarn/TarnExport.h>

#include <array>
#include <limits>
#include <string>
#include <vector>

namespace TamoHandEye {

/// A calibration as it was saved.
struct SavedCalibration {
  /// The camera transform, 4 x 4, row by row (camera-in-flange for eye-in-hand, camera-in-base for
  /// eye-to-hand); translation in millimetres unless AlgoParam::IsMeter (then metres), as FinalResult.
  std::vector<std::vector<double>> cameraMatrix;
  /// The marker position, 3 values, in the same unit (marker-in-base, or marker-in-flange).
  std::vector<double> markerPosition;
  /// The generic kinds: the rotation convention the rows were read in ("sxyz", "wxyz", …); empty: the
  /// reading under which the new shots fit best.
  std::string convention;
  /// The calibration's RMS residual (mm); 0 when unknown.
  double rmsErrorMm = 0.0;
  /// Its leave-one-out residuals (mm, as the calibration report gives them; NaN entries are skipped);
  /// empty when unknown.
  std::vector<double> leaveOneOutMm;
  /// Its uncertainty, when known.
  Uncertainty uncertainty;
  /// Its covariance, when known: then the verdict knows what the shots can see (see above).
  CalibrationCovariance covariance;
  /// The model it was solved under ("point", "point+normal", "point+rotation") and, under the others, the
  /// board's plane: then new shots that carry the board's normal are judged by it too (see above).
  std::string model = "point";
  BoardPlane board;
};

struct CheckOptions {
  double limitMm = 0.0;         ///< when above 0, the limit itself
  double minimumLimitMm = 0.1;  ///< the lowest limit derived from the saved figures
  double defaultLimitMm = 1.0;  ///< the limit when the saved calibration carries no RMS
  /// The smallest move the verdict "ok" must have been able to see: a camera shift (mm) and turn (degrees).
  double toleranceMm = 1.0;
  double toleranceDeg = 0.1;
};

enum class CheckVerdict { Ok, Drift, Inconclusive };

/// One new shot.
struct ShotCheck {
  std::array<double, 3> predictedMm{};  ///< where the saved calibration puts the marker, camera frame
  std::array<double, 3> measuredMm{};   ///< where it was measured
  double residualMm = 0.0;              ///< their distance
  /// The angle between the board's normal the saved calibration predicts and the one measured (degrees);
  /// NaN where the shot carries no normal or the saved calibration no board plane.
  double normalResidualDeg = std::numeric_limits<double>::quiet_NaN();
};

struct CalibrationCheck {
  std::vector<ShotCheck> shots;       ///< one per shot, in input order
  double rmsMm = 0.0;                 ///< root mean square of the residuals
  double maxMm = 0.0;                 ///< the largest residual
  double limitMm = 0.0;               ///< the limit used
  bool limitFromCalibration = false;  ///< derived from the saved calibration's figures (see above)
  bool drift = false;                 ///< the verdict is Drift
  CheckVerdict verdict = CheckVerdict::Ok;
  /// Judged with the saved covariance (see above); false: by the RMS limit.
  bool powerKnown = false;
  double detectableShiftMm = 0.0;  ///< the smallest shift these shots detect 90 % of the time, worst direction
  double detectableTurnDeg = 0.0;  ///< the same for a turn across the mean line of sight
  int moreShots = -1;              ///< shots like these to add to detect a shift of toleranceMm; -1 none would
  double toleranceMm = 0.0;        ///< the options' tolerance, as judged by
  double toleranceDeg = 0.0;
  double pValue = 1.0;     ///< the smallest of the three tests' p-values (times 3): below 0.01 is drift
  std::string convention;  ///< the rows' rotation convention used
  /// Shots judged by their normal as well (see above), and the RMS of their normal residuals (degrees).
  int shotsWithNormal = 0;
  double normalRmsDeg = 0.0;
  /// The camera displacement that best explains the shots (see above): known with three or more shots.
  bool displacementKnown = false;
  std::array<double, 3> displacementMm{};  ///< the camera's move, in its own axes at the saved pose
  double displacementNormMm = 0.0;
  std::array<double, 3> displacementAxis{};  ///< the unit axis of its turn, camera axes
  double displacementRotationDeg = 0.0;      ///< the angle of its turn
  /// With the covariance: 1σ of the displacement's shift (mm, camera axes) and of its turn (degrees).
  std::array<double, 3> displacementSigmaMm{};
  double displacementRotationSigmaDeg = 0.0;
  std::string failure;  ///< on failure: what went wrong, in English
};

/// Checks the new shots against the saved calibration (see above). The rows are read as the entry point
/// of `robot` reads them, with `param`'s units and set-up (its search settings are not used). Codes: 0;
/// 202 no shots; 203 counts differ; 204 a row of the wrong length; 201 a value that is not finite, or a
/// saved calibration that is not a rigid transform and a point (or a convention the robot type does not
/// have), or, when no limit is given, one that did not fit its own poses (RMS residual above kPoorFitMm:
/// a limit derived from it would pass anything). On failure `check` holds only `failure`. Never throws.
TARN_EXPORT ErrorCode CheckCalibration(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                       const AlgoParam& param, RobotKind robot, const SavedCalibration& saved,
                                       const CheckOptions& options, CalibrationCheck& check);

/// The same, with the board's plane of each shot (one entry per marker, or none): where the saved calibration
/// carries its board plane (SavedCalibration::model not "point", its covariance known), each shot's normal is
/// judged beside its point (see above). Shots without a normal count as points only; without any, the result is
/// the one above. Codes as above, and 203 when `shots` is neither empty nor one per marker.
TARN_EXPORT ErrorCode CheckCalibration(const std::vector<MarkerBoardResult>& markers,
                                       const std::vector<ShotPlane>& shots, const RobotRows& robotRows,
                                       const AlgoParam& param, RobotKind robot, const SavedCalibration& saved,
                                       const CheckOptions& options, CalibrationCheck& check);

}  // namespace TamoHandEye
