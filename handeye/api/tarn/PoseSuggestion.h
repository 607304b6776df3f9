// SPDX-License-Identifier: Apache-2.0
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
// rotation σ plus its translation σ over the nearest distance; at least 1°).
// With the camera's pinhole known (SuggestOptions::camera: estimated from a shot's organised cloud by
// EstimateCameraPinhole, or given), the image replaces the cone: the marker goes to the principal point
// and to 16 places around it, 8 half-way to and 8 on the border of the image shrunk by
// SuggestOptions::imageMargin (10 %) of its width and height on every side, and that same margin of error
// further (its tangent times the focal length, in pixels). A candidate is kept when the
// camera sees the marker's face: its line of sight to the marker, in the marker's own frame (the base for
// eye-in-hand, the flange for eye-to-hand), lies within maxTurnDeg of the mean line of sight of the poses
// used (the face is taken to point there).
// Each is scored by the camera translation's 1σ (the norm of its three 1σ, mm) once it is added: first
// order, from the normal matrix of the calibration's translation residuals and their variance (as the
// calibration report's uncertainty), the new pose's marker point being where the solution predicts it. The
// best is taken, then the next best with it added, and so on: each suggestion's σ counts the ones before it.
// When the shots carry the board's normal (SuggestOptions::shots, as ReportOptions::shots) and the model allows
// it, the calibration is solved with the normals as the report solves it, and each candidate is scored by what
// its point and its normal (or its target rotation) add to that solve's information, each with the noise the
// shots taken showed, plus the robot's (SuggestOptions::robotNoiseMm, robotNoiseDeg): a pose that turns the
// board's normal in the camera's view gains there. PoseSuggestions::model says which model scored.
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

#include <opencv2/core.hpp>

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace TamoHandEye {

/// A pinhole camera: pixel (u, v) (column, row; pixel centres at integers) sees the ray
/// ((u − cx) / fx, (v − cy) / fy, 1) of the camera frame. Unknown while its width is 0.
struct CameraPinhole {
  double fx = 0.0;
  double fy = 0.0;
  double cx = 0.0;
  double cy = 0.0;
  int width = 0;
  int height = 0;
};

/// The pinhole of the camera that took an organised cloud (CV_64FC3 or CV_32FC3; NaN or z ≤ 0 for no point):
/// u = fx·X/Z + cx and v = fy·Y/Z + cy fitted by least squares over the cloud's points (every 4th row and
/// column), one more pass without those off by more than 0.5 px; the image is the cloud's size. False,
/// with `pinhole` untouched, when fewer than 100 points are found or they span less than a tenth of the
/// image in either direction, or the fit leaves more than 0.5 px RMS (a cloud that is not organised as its
/// image). From files: the image's size from its header, the PLY read as the detection reads it (only the
/// rows used). Never throws.
TARN_EXPORT bool EstimateCameraPinhole(const cv::Mat& pointCloud, CameraPinhole& pinhole);
TARN_EXPORT bool EstimateCameraPinhole(const std::string& imagePath, const std::string& pointCloudPath,
                                       CameraPinhole& pinhole);

struct SuggestOptions {
  int count = 3;              ///< suggestions wanted
  double maxTurnDeg = 45.0;   ///< the largest turn from a pose taken
  double viewConeDeg = 25.0;  ///< the marker's largest angle from the camera's optical axis
  /// The pose search's seed (AlgoParam::Exhaust), as ReportOptions::seed: the same seed drops the same poses.
  std::uint32_t seed = ReportOptions{}.seed;
  /// The camera's pinhole: when known, the marker is kept inside the image (see above) instead of the cone.
  CameraPinhole camera;
  double imageMargin = 0.1;  ///< the share of the image's width and height kept clear on every side
  /// As ReportOptions: the model, each pose's plane (input order; empty: points only) and the robot's noise.
  SolveModel model = SolveModel::Auto;
  std::vector<ShotPlane> shots;
  double robotNoiseMm = 0.0;
  double robotNoiseDeg = 0.0;
  /// A 4-axis robot's poses (turns about the base's vertical axis only) are calibrated with the quantity no shot
  /// sees held, as ReportOptions::fixedHeightMm and cameraOffsetZMm (one is needed then), and each suggestion only
  /// turns about that axis (under the point model).
  double fixedHeightMm = std::numeric_limits<double>::quiet_NaN();
  double cameraOffsetZMm = std::numeric_limits<double>::quiet_NaN();
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
  double u = 0.0;                ///< where the calibrated camera sees the marker, pixels (the pinhole known)
  double v = 0.0;
  double distanceMm = 0.0;  ///< the camera's distance from the marker (that of `fromPose`)
};

struct PoseSuggestions {
  double sigmaMm = 0.0;         ///< camera translation 1σ (mm) of the poses taken
  std::string convention;       ///< the rows' rotation convention
  bool inImage = false;         ///< the marker was kept inside the image (the pinhole known); false: in the view cone
  std::string model = "point";  ///< the model that scored: "point", "point+normal" or "point+rotation"
  std::vector<PoseSuggestion> suggestions;  ///< best first
  std::string failure;                      ///< on failure, or when nothing could be suggested: why
};

TARN_EXPORT ErrorCode SuggestNextPoses(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                       const AlgoParam& param, RobotKind robot, const SuggestOptions& options,
                                       PoseSuggestions& suggestions);

}  // namespace TamoHandEye
