// SPDX-License-Identifier: Apache-2.0
#pragma once

// A calibration with its report: how far to trust it, and what in the set-up is likely wrong.
//
// SolveCalibrationReport takes what an entry point of SolveFinalResult.h takes, plus which entry point
// (the robot kind) and the report's options. It runs that entry point's calibration (with the pose
// search's seed fixed by the options, so the same data and seed give the same result bit for bit) and
// returns its code and FinalResult unchanged, with the figures below.
//
// With the shots' normals (ReportOptions::shots, SolveModel::Auto) the poses the entry point used are solved
// again, jointly for the camera, the marker and the board's normal, each shot's point and normal weighted by
// their covariance and the robot's stated noise (model "point+normal"; with target poses, "point+rotation": the
// target's whole rotation in place of the normal); the result then carries that solution,
// and the uncertainty, covariance and leave-one-out figures are the joint solve's (its inverse normal matrix;
// the leave-one-out solutions one Gauss-Newton step from it). The pose search, the convention, the set-up
// check and the pose set are the point model's in both.
//
//   convention    the rows' rotation convention used: an Euler axes key ("sxyz", "rzyx", …), "axis" (a
//                 rotation vector) or a quaternion order ("wxyz", "xyzw"); for the generic kinds the one
//                 found, with the runner-up and its RMS;
//   uncertainty   1σ of the camera translation (mm, per axis of its parent frame and the root of their
//                 squares), of the camera rotation (deg, the root of the three small-angle variances) and of
//                 the marker position (mm): the inverse normal matrix of the translation residuals at the
//                 solution times their variance (sum of squares over 3n - 9 degrees of freedom);
//   covariance    that whole 9 x 9 covariance with the residual σ: what a later check needs to tell a
//                 moved camera from the calibration's own uncertainty (save it with the result);
//   leaveOneOut   per pose, its residual distance (mm) under the solution computed without it: what a
//                 new shot would see. A pose the search dropped gets its residual under the solution.
//                 Above kMostLeaveOneOutPoses poses used, not computed: empty, and so are the studentised
//                 residuals;
//   studentised   per pose used, that residual over its own predicted spread: the new-shot noise (the
//                 others' residual σ) plus the uncertainty of the solution without it at that pose (its
//                 leverage), as √(eᵀC⁻¹e / 3) / σ; about 1 for an ordinary pose;
//   poseSet       the spread of the poses used: how many, the largest rotation between two of them (above
//                 kMostPairedPoses poses, between two of that many spread evenly over them), how
//                 the relative rotation axes are spread, how far the flange moved;
//   alternatives  the obvious set-up mistakes undone one at a time (other hand-eye type, marker points
//                 scaled by 0.001 or 1000, the other unit of the rows' translations or angles, the other
//                 robot kinds with the same row length, every row inverted, the rows in reverse order),
//                 each solved over all poses, whatever the fit. Listed, best first, are those that fit at
//                 least 10 times better than the reading given, solved the same way (its RMS over all
//                 poses, no pose search), or significantly better (the
//                 ratio of their sums of squares beyond Fisher's F at 99.9 % with 3n − 9 and 3n − 9
//                 degrees of freedom), or — for a scale reading, tried only when the given scale is not
//                 physical (a flange within 1 cm of the base or 10 m from it, a marker as near or as far
//                 from the camera) — that fit as well (not significantly worse);
//   tolerance     whether the 1σ figures are within ReportOptions::toleranceMm and toleranceDeg;
//   dropped       each pose the pose search left out, with its residual and why;
//   warnings      stable codes with an English and a Chinese text and, when there is one, the fix:
//                 "few-poses" (fewer than 8 poses used), "narrow-rotation" (largest relative rotation below
//                 15°), "single-axis" (the relative rotations nearly all about one axis), "uncertain"
//                 (σ translation above the tolerance in mm or σ rotation above the tolerance in degrees),
//                 "poor-fit" (RMS above kPoorFitMm, or fewer than half the poses used), "suspect-pose" (a studentised
//                 leave-one-out residual above the point of Fisher's F(3, 3(n−1) − 9) that a pose like the others
//                 passes with probability 1 − 1 % / n, so that a good set of n poses raises it in about 1 % of
//                 calibrations; one warning per pose), "likely-setup" (the best alternative found) and
//                 "search-dropped-many" (the pose search dropped more than 20 % of the poses, or dropped a pose within
//                 3σ of the fit) and "registration" (the fitted outer radius, given in the options, spreads over
//                 the poses used beyond what the fits' noise explains: the image and the cloud disagree).
//
// On failure the code is that of the entry point, the report's FinalResult stays empty and `failure`
// says in English (and `failureZh` in Chinese) what went wrong and what to do. No function throws.
//
// Poses that turn about one axis only (every turn between them within 0.05° of one axis, the largest above 2°: a
// 4-axis robot) leave one quantity that no shot sees (ReportOptions::fixedHeightMm). With it given, the set is
// solved with it held (no pose search, no set-up check; `fixedQuantity` says which, its σ 0, the freedoms 3n − 8)
// and the code is 0 even where the entry point fails; without it the code is 201 with `failure` naming both
// quantities, even where the entry point's solve succeeded (it took the unseen quantity from the noise).

#include <tarn/AlgoParam.h>
#include <tarn/ErrorCode.h>
#include <tarn/FinalResult.h>
#include <tarn/MarkerBoardResult.h>
#include <tarn/RobotTypes.h>
#include <tarn/SolveFinalResult.h>
#include <tarn/TarnExport.h>

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace TamoHandEye {

/// The fewest poses a calibration solves from.
inline constexpr std::size_t kMinimumPoses = 5;
/// The most poses used for which the report computes leave-one-out residuals (see above).
inline constexpr std::size_t kMostLeaveOneOutPoses = 2000;
/// The most poses the pose set's check compares pair by pair; above, as many spread evenly over them.
inline constexpr std::size_t kMostPairedPoses = 200;
/// The RMS residual (mm) above which the poses do not fit one calibration ("poor-fit").
inline constexpr double kPoorFitMm = 3.0;
/// "registration": the outer radii's variance is tested against χ² with n − 1 degrees of freedom at this
/// level, under each fit's own σ plus kRadiusFloorMm for the depth errors a single fit does not see (a
/// depth offset of 1 mm spreads a 20 mm radius by about 0.003 mm over 0.55–0.70 m).
inline constexpr double kRegistrationLevel = 0.999;
inline constexpr double kRadiusFloorMm = 0.005;

/// The model a calibration is solved under.
enum class SolveModel {
  /// The marker point and the board's normal, each weighted by its covariance, wherever at least
  /// kLeastNormalShots of the poses used carry a normal (ReportOptions::shots), or the marker point and the
  /// target's whole rotation where as many carry one; the point alone otherwise.
  Auto,
  Point,  ///< the marker point alone, as the entry point solves it
};

/// The fewest poses used with a normal for which SolveModel::Auto solves with the normals.
inline constexpr int kLeastNormalShots = 3;

/// What one shot measured beyond its centre, as MarkerPlaneResult gives it. A shot without a normal (a row
/// typed or edited by hand) counts as a point only.
struct ShotPlane {
  bool hasNormal = false;
  std::array<double, 3> normal{};  ///< the board's unit normal, camera frame, towards the camera
  /// Two unit axes across the normal and the covariance of its small turns (θ1, θ2) about them (radians²,
  /// row by row); a zero covariance: not stated (the normals' noise is then taken from their residuals).
  std::array<double, 6> normalAxes{};
  std::array<double, 4> normalCovariance{};
  /// The centre's covariance (x, y, z; the markers' unit², row by row); zero: not stated.
  std::array<double, 9> centreCovariance{};
  /// A target's whole pose measured (a target file, a pattern's pose): its rotation camera_from_target (row by
  /// row) and the covariance of its small turn in the target's frame (radians², row by row; zero: not stated).
  /// Where any pose used carries one, the rotations are used in the solve instead of the normals.
  bool hasRotation = false;
  std::array<double, 9> rotation{};
  std::array<double, 9> rotationCovariance{};
};

struct ReportOptions {
  std::uint32_t seed = 20261208;  ///< the pose search's random seed
  /// The pose search's inlier distance (metres) when above 0; otherwise AlgoParam::RansacDist when above
  /// 0; otherwise (AlgoParam::Exhaust without a distance) taken from the data's own noise: a first solve
  /// over all poses gives the robust per-axis σ of its residuals (their median distance over the median
  /// of a 3-axis Gaussian's, 1.538σ, corrected for the 9 parameters fitted), and the distance is 4.6 σ,
  /// which a pose like the others exceeds once in 10,000 (at least 0.1 mm).
  double searchDistance = 0.0;
  bool setupCheck = true;     ///< look for set-up mistakes (solves every alternative reading: milliseconds)
  double toleranceMm = 1.0;   ///< the camera translation 1σ the result is held to (mm)
  double toleranceDeg = 0.1;  ///< the camera rotation 1σ the result is held to (degrees)
  /// When the markers' centres were fitted: each pose's fitted outer radius and its 1σ (mm, input order;
  /// MarkerFitQuality::markerRadiusMm and outerRadiusSigmaMm), 0 where not known. The same marker must measure
  /// the same in every shot; a spread beyond the fits' noise says the image and the cloud disagree
  /// ("registration"). Empty: not checked.
  std::vector<double> outerRadiiMm;
  std::vector<double> outerRadiusSigmasMm;
  SolveModel model = SolveModel::Auto;
  /// One per pose (input order), or empty: every shot a point only.
  std::vector<ShotPlane> shots;
  /// The robot's pose noise (1σ per axis of a shift and of a turn of the flange), carried through every shot
  /// into the weights of the solve with normals; 0: the shots' own noise only.
  double robotNoiseMm = 0.0;
  double robotNoiseDeg = 0.0;
  /// Robots that turn about one axis only (4-axis arms: palletisers, SCARA) leave one quantity that no shot can
  /// see: the marker and the camera's offset along that axis move together. Such a set fails unless one of
  /// these is given (mm; NaN: not given), then it is solved with that figure held: `fixedHeightMm` the marker's
  /// height in the base frame (eye-in-hand) or its offset along the flange's z axis (eye-to-hand);
  /// `cameraOffsetZMm` the camera's offset along the flange's z axis (eye-in-hand) or its height in the base
  /// frame (eye-to-hand). With both, the height is held. Poses that turn about several axes are solved as
  /// always, the figures unused.
  double fixedHeightMm = std::numeric_limits<double>::quiet_NaN();
  double cameraOffsetZMm = std::numeric_limits<double>::quiet_NaN();
};

struct Uncertainty {
  bool known = false;                     ///< false with fewer than 4 poses used or a singular fit
  std::array<double, 3> translationMm{};  ///< camera translation, per axis
  double translationNormMm = 0.0;         ///< the root of the sum of the three variances
  double rotationDeg = 0.0;               ///< camera rotation, the root of the three small-angle variances
  std::array<double, 3> markerMm{};       ///< marker position, per axis
  double markerNormMm = 0.0;              ///< the root of the sum of the three variances
};

struct PoseSetCheck {
  int poses = 0;                    ///< poses used
  double largestRotationDeg = 0.0;  ///< the largest rotation between two poses used
  /// The eigenvalues of the scatter of the relative rotation vectors between the poses used, normalised to
  /// sum 1, smallest first: (1/3, 1/3, 1/3) evenly spread, (0, 0, 1) all about one axis.
  double axisSpread = 0.0;           ///< the smallest (0 when every axis lies in one plane)
  double secondAxisSpread = 0.0;     ///< the middle one (near 0: about one axis only)
  double translationSpreadMm = 0.0;  ///< root mean square distance of the flange positions from their mean
};

/// One set-up mistake undone.
struct SetupAlternative {
  std::string code;        ///< "eye-to-hand", "eye-in-hand", "markers-x0.001", "markers-x1000", "meter", "millimetre",
                           ///< "radian", "degree", "robot", "inverted", "reversed"
  RobotKind robot;         ///< the kind solved (the selected one unless `code` is "robot")
  AlgoParam param;         ///< the settings solved with
  std::string convention;  ///< the convention under which it fits
  double rmsMm = 0.0;      ///< its RMS over all poses
  std::string text;        ///< what it assumes, in English
  std::string textZh;      ///< the same in Chinese
};

struct ReportWarning {
  std::string code;
  std::string message;
  std::string messageZh;
  std::string fix;  ///< empty when there is none
  std::string fixZh;
  int pose = -1;  ///< the pose (0-based, input order) of a "suspect-pose"; -1 otherwise
};

/// What a later check of the calibration against new shots needs of it: the covariance of the solved
/// parameters and the residual σ it came from.
struct CalibrationCovariance {
  bool known = false;  ///< false with fewer than 4 poses used or a singular fit
  /// 9 x 9, row by row, over (marker position x, y, z in mm; camera rotation δ x, y, z in radians, the camera
  /// turned by exp(δ) in its own frame; camera translation x, y, z in mm), in the frames of FinalResult
  /// (eye-in-hand: marker in the base, camera in the flange; eye-to-hand: marker in the flange, camera in
  /// the base): the inverse normal matrix of the translation residuals times their variance.
  std::array<double, 81> matrix{};
  double residualSigmaMm = 0.0;  ///< per-axis σ of a pose's residual: √(sum of squares / (3n − 9))
  int freedom = 0;               ///< 3n − 9, n the poses used
  /// A shot's noise along the camera's line of sight to the marker and across it (per-axis σ, mm): the
  /// residuals, turned into the camera frame, split into their part along the line of sight and the two
  /// across it, with the same correction for the fitted parameters as σ (so that σ² = (along² + 2·across²)
  /// / 3). A depth camera's noise lies mostly along its line of sight; a check of new shots weighs their
  /// residuals by it. 0 when not known (then σ on every axis).
  double alongSightSigmaMm = 0.0;
  double acrossSightSigmaMm = 0.0;
};

/// A pose the pose search left out.
struct DroppedPose {
  int pose = -1;            ///< 0-based, input order
  double residualMm = 0.0;  ///< its residual under the result
  double distanceMm = 0.0;  ///< the search's inlier distance it was not below
  double sigmasOff = 0.0;   ///< its residual over the fit's per-axis σ (a pose like the others: about 1.7)
  std::string reason;       ///< in English
  std::string reasonZh;
};

/// The board's plane under the solve with normals (with target rotations: the target's z axis, and its whole
/// rotation's figures).
struct BoardPlane {
  /// The board's unit normal in the marker's frame (the base eye-in-hand, the flange eye-to-hand).
  std::array<double, 3> normal{};
  double normalSigmaDeg = 0.0;  ///< its 1σ (the root of the two small-angle variances; three with rotations)
  double residualRmsDeg = 0.0;  ///< RMS angle between each shot's normal (or rotation) and the solution's
  /// How far the shots' stated noise under-stated what their residuals show (points, normals): the factor their
  /// covariances were scaled by (1: as stated; where not stated, the variance itself in (mm², deg²)).
  double pointNoiseFactor = 1.0;
  double normalNoiseFactor = 1.0;
  /// The points' extra noise along each line of sight that the residuals show beyond the stated (1σ, mm): a
  /// real camera's depth errors (dark or shiny surfaces, a depth scale or offset) that no single shot shows.
  double sightNoiseMm = 0.0;
  /// What a later check of new shots' normals needs (CheckCalibration): the covariance of the normal's three
  /// components (3 x 3, row by row; rank 2, nothing along the normal), its covariance with CalibrationCovariance's
  /// nine parameters (3 x 9, row by row, in their units), and one shot's normal noise per axis across it (1σ,
  /// degrees: the normals' residuals over their share of the redundancy, 2m − 5 for m shots, `normalFreedom`).
  std::array<double, 9> normalCovariance{};
  std::array<double, 27> normalCrossCovariance{};
  double shotNormalSigmaDeg = 0.0;
  int normalFreedom = 0;
};

struct CalibrationReport {
  /// As the entry point gives it under the point model; under the others the same poses and mask with the
  /// camera transform, the marker and every residual of the solve with normals.
  FinalResult result;
  std::string model = "point";  ///< the model solved under: "point", "point+normal" or "point+rotation"
  int shotsWithNormal = 0;      ///< poses used that carried a normal (or a rotation); 0 under "point"
  BoardPlane board;             ///< not under "point"
  std::string convention;
  /// Generic kinds: the next best convention; empty otherwise. With the pose search, among the conventions
  /// that bounds could not prove unable to be chosen (the others are not solved).
  std::string runnerUp;
  double runnerUpRmsMm = 0.0;  ///< its RMS (over the poses its own search kept)
  Uncertainty uncertainty;
  CalibrationCovariance covariance;  ///< what a later check against new shots needs (CheckCalibration)
  /// One per pose; NaN where the solve without it failed; empty above kMostLeaveOneOutPoses poses used.
  std::vector<double> leaveOneOutMm;
  /// One per pose: the studentised leave-one-out residual; NaN for a pose not used or when unknown.
  std::vector<double> leaveOneOutStudentised;
  double suspectLimit = 0.0;  ///< the studentised residual above which a pose is "suspect-pose"
  PoseSetCheck poseSet;
  bool setupChecked = false;  ///< the set-up check ran (the option on)
  std::vector<SetupAlternative> alternatives;
  double toleranceMm = 0.0;  ///< the tolerance held to (ReportOptions)
  double toleranceDeg = 0.0;
  bool meetsTolerance = false;          ///< the uncertainty is known and within the tolerance
  double searchDistanceMm = 0.0;        ///< the pose search's inlier distance used (0 without a search)
  bool searchDistanceFromData = false;  ///< that distance was taken from the data's own noise
  std::vector<DroppedPose> dropped;     ///< the poses the search left out, input order
  int searchSamples = 0;                ///< random samples the search drew (0 without a search)
  /// The consensus of the winning sample did not solve: the search started from the sample's poses alone.
  bool searchFellBack = false;
  /// The outer radius's standard deviation over the poses used (mm), and the most the fits' noise explains
  /// (kRegistrationLevel); both 0 when not checked (no radii given, or fewer than 4 poses with one).
  double radiusSpreadMm = 0.0;
  double radiusSpreadLimitMm = 0.0;
  std::vector<ReportWarning> warnings;
  std::uint32_t seed = 0;  ///< the pose search's seed used
  /// A 4-axis set solved with a quantity held (ReportOptions::fixedHeightMm, cameraOffsetZMm): "marker-height" or
  /// "camera-offset-z", and the figure held (mm); empty otherwise. Its σ is 0 in the uncertainty and covariance.
  std::string fixedQuantity;
  double fixedValueMm = 0.0;
  std::string failure;  ///< on failure: what went wrong and what to do
  std::string failureZh;
};

/// Calibrates with the entry point of `robot` and reports on the result (see above). Returns the entry
/// point's code for the same input (a 4-axis set aside, see above).
TARN_EXPORT ErrorCode SolveCalibrationReport(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                             const AlgoParam& param, RobotKind robot, const ReportOptions& options,
                                             CalibrationReport& report);

}  // namespace TamoHandEye
