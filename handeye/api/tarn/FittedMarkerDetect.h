// SPDX-License-Identifier: Apache-2.0
#pragma once

// The precise centre of the concentric-circle marker: its four ring boundaries fitted as concentric
// circles on the board plane that the organised cloud measures, instead of the mean of the boundaries'
// centroids read from one cloud pixel (MarkerDetect.h). The centroid of a circle seen at an angle is not
// the image of the circle's centre, and one cloud pixel carries its depth noise; the fit has neither
// error and needs no point at the centre itself.
//
// Frames and units: image points (u, v) are (column, row) in pixels, pixel centres at integers, taken in
// the image as given (its lens distortion modelled only when its intrinsics are given, ImageIntrinsics). The cloud is
// organised (its point (r, c) is the point seen at pixel (c, r)), in the camera frame; its unit is taken as metres.
//
// The method, after the marker's four boundaries (radii ρ = 1, 0.7, 0.45, 0.2 of the outer one) were
// found as MarkerDetect.h finds them:
// 1. Each boundary is fitted as an ellipse (direct least squares on points normalised to mean 0 and RMS
//    radius 1), dropping points whose Sampson distance x̃ᵀQx̃ / (2‖(Qx̃)₁,₂‖) exceeds
//    max(1 px, 4 · 1.4826 · median), at most three rounds.
// 2. Each kept point moves along the ellipse's normal to the grey image's edge: samples from −3 to +3 px
//    every 0.25 px, the crossing of (min + max) / 2 nearest the point (points with less than 20 grey
//    levels of contrast are dropped), with the window centred again on the crossing until it stays put
//    (a contour traced off the edge's midpoint would otherwise see one plateau only in part). A blurred
//    curve crosses its midpoint level inside the curve by κσ²/2 (curvature κ, blur σ estimated from the
//    contrast and the slope at the crossing, median per boundary): each edge point moves back out by
//    that much. The ellipse is fitted again to these edge points.
// 3. Over the finite cloud points inside the outer ellipse scaled by 1.3, X/Z, Y/Z and 1/Z are fitted as
//    affine functions of a = (1, u − ū, v − v̄) (least squares, one pass dropping 1/Z residuals beyond
//    3σ). Then Z(u, v) = 1 / (a · c_z) and P(u, v) = Z · (a · c_x, a · c_y, 1): exact for a plane seen
//    by a pinhole camera, and it averages the depth noise of thousands of points.
// 4. Every edge point maps to P(u, v); in the plane's own axes (the main axes of their scatter) one
//    centre c and one radius rᵢ per ring are fitted: linear in x² + y² = 2cₓx + 2c_y y + kᵢ, then three
//    Gauss–Newton steps on ‖q − c‖ − rᵢ.
// 5. The centre is that c in the camera frame; its pixel solves the X/Z and Y/Z maps for (u, v).
// A fit whose radii deviate from the ratios ρ by more than 0.01 (another marker, or a poor view) is
// refused with 109; one with fewer than 12 edge points on a boundary or 50 cloud points on the board
// with 110.

#include <tarn/ErrorCode.h>
#include <tarn/MarkerBoardResult.h>
#include <tarn/TarnExport.h>

#include <opencv2/core.hpp>

#include <string>

namespace TamoHandEye {

/// What the fit measured: how far to trust a fitted centre.
struct MarkerFitQuality {
  double radiiMm[4] = {0.0, 0.0, 0.0, 0.0};  ///< the boundaries' fitted radii, outer to inner, mm; 0 if unused
  /// max |(rᵢ ∓ δ) / R − ρᵢ| once the radii are fitted as ρᵢ·R with every boundary moved into the black by
  /// one offset δ (the bloom of clipped whites): below 0.003 on good shots, refused above 0.01
  double ratioDeviation = 0.0;
  double planeRmsMm = 0.0;  ///< RMS of the cloud's depth about the fitted plane, mm
  int edgePoints = 0;       ///< sub-pixel edge points used, all boundaries together
  int planePoints = 0;      ///< cloud points the plane was fitted to
  /// δ in pixels: how far every boundary lies into the black rings (over-exposure, blur); near 0 on a
  /// well exposed shot, 1 px and more where whites clip
  double edgeOffsetPx = 0.0;
  /// Which boundaries (outer to inner) the fit used: one with too few sharp edge points (a small marker's
  /// centre dot, a ring cut by the image border or by something in front of it) is left out; the outer
  /// one and two others are needed
  bool boundaryUsed[4] = {false, false, false, false};
  /// 1σ of the centre in the board's plane (the root of its two variances), mm, from the scatter of the
  /// edge points about the fitted circles: it widens when boundaries are left out or their edges are rough.
  /// Depth errors of the plane are not in it.
  double centreSigmaMm = 0.0;
  /// The marker's outer radius R with the edge offset taken out (the radii fitted as ρᵢ·R ∓ δ), mm: the
  /// same in every shot of one marker, whatever the exposure. Its spread over the shots of a calibration,
  /// against outerRadiusSigmaMm, says whether the image and the cloud agree.
  double markerRadiusMm = 0.0;
  /// 1σ of the outer radius, mm, from the same fit.
  double outerRadiusSigmaMm = 0.0;
};

/// The 2D camera, when its image is not the cloud's own pinhole grid: a colour or grey sensor registered to
/// a depth sensor, or an image that keeps its lens distortion while the cloud is corrected. Given, every
/// sub-pixel edge point is undistorted with it (OpenCV's model: x' = x(1 + k1 r² + k2 r⁴ + k3 r⁶) + 2p1 xy +
/// p2(r² + 2x²), y' = y(1 + …) + p1(r² + 2y²) + 2p2 xy on normalised coordinates, then u = fx x' + skew y' +
/// cx, v = fy y' + cy), turned and shifted by the registration, and taken into the cloud's grid, which is
/// the pinhole camera with the same matrix and no distortion. The centre's pixel in the result is then in
/// the image as given. An image point p and the grid point q it sees are related by
/// undistort(p) = c + Rot(turnDeg)·(q − c) + shift, with c = (cx, cy).
struct ImageIntrinsics {
  double fx = 0.0, fy = 0.0;  ///< focal lengths, pixels (both above 0)
  double cx = 0.0, cy = 0.0;  ///< principal point, pixels (pixel centres at integers)
  double skew = 0.0;          ///< the camera matrix's (0, 1) entry, 0 on almost every camera
  double k1 = 0.0, k2 = 0.0, p1 = 0.0, p2 = 0.0, k3 = 0.0;  ///< distortion, OpenCV's order and meaning
  int width = 0, height = 0;              ///< the image size they were calibrated at; 0 when not stated (then any)
  double shiftUPx = 0.0, shiftVPx = 0.0;  ///< registration: where the image sees a grid point, minus where
  double turnDeg = 0.0;                   ///< the grid sees it, after undistortion; and the turn between them
};

/// Reads the 2D camera's intrinsics from a YAML file as OpenCV's FileStorage writes them (camera_matrix
/// and distortion_coefficients as !!opencv-matrix, image_width, image_height), as ROS's camera_info files
/// hold them (camera_matrix and distortion_coefficients with rows, cols and data, distortion_model
/// plumb_bob), or as a ROS 2 CameraInfo message prints (k, d, width, height); registration_shift_px:
/// [u, v] and registration_turn_deg add a registration. Distortion coefficients past the fifth must be 0.
/// False with `error` saying what is wrong (no file, no camera matrix, another distortion model, …);
/// nothing thrown.
TARN_EXPORT bool ReadImageIntrinsics(const std::string& path, ImageIntrinsics& intrinsics, std::string& error);
/// Empty when the intrinsics can be used; else what is wrong with them.
TARN_EXPORT std::string CheckImageIntrinsics(const ImageIntrinsics& intrinsics);

/// Codes: those of SolveMarkerBoardResults (MarkerDetect.h; 102 does not occur: no cloud point at the
/// centre is needed), and 109 (the rings' ratios are not the marker's) and 110 (too few edge or plane
/// points). `result` is written only on 0, `quality` on 0, 109 and 110. No exception leaves these.

/// From an image file (png, jpg, bmp, …) and a PLY file of the same number of points.
TARN_EXPORT ErrorCode SolveFittedMarkerResults(const std::string& imagePath, const std::string& pointCloudPath,
                                               MarkerBoardResult& result);
TARN_EXPORT ErrorCode SolveFittedMarkerResults(const std::string& imagePath, const std::string& pointCloudPath,
                                               MarkerBoardResult& result, MarkerFitQuality& quality);
/// From an image (CV_8UC1 or CV_8UC3, BGR) and a cloud (CV_64FC3, metres, NaN for no point).
TARN_EXPORT ErrorCode SolveFittedMarkerResults(const cv::Mat& image, const cv::Mat& pointCloud,
                                               MarkerBoardResult& result);
TARN_EXPORT ErrorCode SolveFittedMarkerResults(const cv::Mat& image, const cv::Mat& pointCloud,
                                               MarkerBoardResult& result, MarkerFitQuality& quality);

/// The fitted centre with the board's normal and the covariances of both: what a solve that weighs each
/// shot by its own noise needs. The covariances come from the fits' residuals (the edge points' scatter about
/// the circles, the cloud's 1/Z scatter about the plane); depth errors that are smooth over the marker, a bent
/// board or an image that disagrees with the cloud are not in them.
struct MarkerPlaneResult {
  double x = 0.0, y = 0.0, z = 0.0;     ///< the centre, camera frame, the cloud's unit (metres)
  double u = 0.0, v = 0.0;              ///< its pixel in the image
  double nx = 0.0, ny = 0.0, nz = 0.0;  ///< the board's unit normal, camera frame, pointing towards the camera
  /// Two unit axes perpendicular to the normal (a1 = normalise(n × x̂), or n × ŷ when n is near x̂; a2 = n × a1),
  /// x y z of each; the normal's small turns about them are (θ1, θ2).
  double normalAxes[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  double normalCovariance[4] = {0.0, 0.0, 0.0, 0.0};                           ///< of (θ1, θ2), radians², row by row
  double centreCovariance[9] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};  ///< of (x, y, z), unit², row by row
};

/// As SolveFittedMarkerResults, with the normal and the covariances; `intrinsics` as there when not null.
/// Codes as SolveFittedMarkerResults'; `result` written only on 0.
TARN_EXPORT ErrorCode SolveFittedMarkerPlane(const std::string& imagePath, const std::string& pointCloudPath,
                                             MarkerPlaneResult& result, MarkerFitQuality& quality,
                                             const ImageIntrinsics* intrinsics = nullptr);
TARN_EXPORT ErrorCode SolveFittedMarkerPlane(const cv::Mat& image, const cv::Mat& pointCloud, MarkerPlaneResult& result,
                                             MarkerFitQuality& quality, const ImageIntrinsics* intrinsics = nullptr);

/// With the 2D camera's intrinsics (see ImageIntrinsics): 106 when CheckImageIntrinsics refuses them, 108
/// when they state a size other than the image's.
TARN_EXPORT ErrorCode SolveFittedMarkerResults(const std::string& imagePath, const std::string& pointCloudPath,
                                               const ImageIntrinsics& intrinsics, MarkerBoardResult& result,
                                               MarkerFitQuality& quality);
TARN_EXPORT ErrorCode SolveFittedMarkerResults(const cv::Mat& image, const cv::Mat& pointCloud,
                                               const ImageIntrinsics& intrinsics, MarkerBoardResult& result,
                                               MarkerFitQuality& quality);

}  // namespace TamoHandEye
