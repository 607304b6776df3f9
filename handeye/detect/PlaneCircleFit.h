// SPDX-License-Identifier: Apache-2.0
#pragma once

// The precise centre of a concentric-circle marker: its ring boundaries fitted as circles on the board
// plane that the organised cloud measures.
//
// Frames and units: image points are (u, v) = (column, row) in pixels, pixel centres at integers, taken
// in the image as given (its lens distortion modelled only when an ImageModel is given). Cloud points are in the camera
// frame, in the cloud's unit (metres for the results below). Every step is written out in FitMarker's comment.

#include "detect/ImageModel.h"

#include <opencv2/core.hpp>

#include <Eigen/Core>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace TamoHandEye {
namespace Detect {

/// An ellipse as a conic: x̃ᵀ Q x̃ = 0 with x̃ = (u, v, 1) in pixels.
using Conic = Eigen::Matrix3d;

/// Direct least-squares ellipse fit (Halir and Flusser 1998, on points normalised to mean 0 and RMS
/// radius 1), then robust refits: points whose Sampson distance x̃ᵀQx̃ / (2‖(Qx̃)₁,₂‖) exceeds
/// max(1 px, 4 · 1.4826 · median) are dropped, at most three rounds. `kept` receives the points used
/// by the last fit. False when fewer than six points remain or no ellipse fits.
bool FitEllipseRobust(const std::vector<Eigen::Vector2d>& points, Conic& conic, std::vector<Eigen::Vector2d>* kept);

/// Moves each point to the grey image's edge along the conic's normal: samples from −3 to +3 px in
/// 0.25 px steps (bilinear), and takes the crossing of (min + max) / 2 nearest the point, linearly
/// interpolated, with the window centred again on the crossing (at most three times). Then each edge
/// point moves out of the curve by κσ²/2, where the blurred curve's midpoint level lies (κ the conic's
/// curvature there, σ the blur of a Gaussian step of that contrast and slope, median over the points).
/// Points whose samples span fewer than 20 grey levels, or leave the image, are dropped.
std::vector<Eigen::Vector2d> SubPixelEdges(const cv::Mat& grey, const std::vector<Eigen::Vector2d>& points,
                                           const Conic& conic);

/// The board plane seen through the organised cloud, without the camera's intrinsics: X/Z, Y/Z and
/// 1/Z as affine functions of a = (1, u − ū, v − v̄), exact for a plane seen by a pinhole camera.
struct PlaneMap {
  Eigen::Vector3d cx, cy, cz;  ///< coefficients of X/Z, Y/Z and 1/Z
  double u0 = 0.0, v0 = 0.0;   ///< ū, v̄
  int points = 0;              ///< cloud points in the fit (after the 3σ pass)
  double rms = 0.0;            ///< RMS of Z − Z(u, v) over them, cloud units
  /// The covariance of cz: the inverse of the last pass's normal matrix times the variance of its 1/Z
  /// residuals (X/Z and Y/Z are taken as exact: a cloud's directions come from its pixel grid).
  Eigen::Matrix3d czCovariance = Eigen::Matrix3d::Zero();

  /// The plane's point seen at pixel (u, v).
  Eigen::Vector3d At(double u, double v) const;
  /// The pixel at which a point on the plane is seen.
  Eigen::Vector2d PixelOf(const Eigen::Vector3d& point) const;
  /// The plane's unit normal, pointing towards the camera, and its derivative over cz (3 × 3). The plane
  /// n'·P = 1 has n' = (β, γ, α) with 1/Z = α + β·X/Z + γ·Y/Z; the normal is −n'/‖n'‖.
  Eigen::Vector3d Normal(Eigen::Matrix3d* derivative = nullptr) const;
};

/// Fits the plane map over the finite cloud points (Z ≠ 0) inside the ellipse `region` scaled by
/// `scale` — only those at pixels `surface` accepts, when it is given and accepts at least `minPoints` —
/// by least squares on the 3×3 normal equations, then twice again without the points whose 1/Z residual
/// lies beyond 3 robust σ (1.4826 × the median absolute residual) of the fit before: a finger, a cable or
/// flying pixels leave the plane where it is. False with fewer than `minPoints` points. `loadRows`, when
/// given, is asked for the rows and columns the region covers before they are read (see
/// Image::LoadRows); false from it is false here.
using RowLoader = std::function<bool(int firstRow, int lastRow, int firstCol, int lastCol)>;
using SurfaceTest = std::function<bool(double u, double v)>;
bool FitPlaneMap(const cv::Mat& cloud, const Conic& region, double scale, int minPoints, PlaneMap& plane,
                 const RowLoader& loadRows = {}, const SurfaceTest& surface = {});

/// Concentric circles in a plane: points of each ring in 3D (on the plane), one centre and one radius
/// per ring. Linear fit of x² + y² = 2cₓx + 2c_y y + kᵢ in the plane's own coordinates, then three
/// Gauss–Newton steps on ‖q − c‖ − rᵢ.
struct ConcentricCircles {
  Eigen::Vector3d centre = Eigen::Vector3d::Zero();  ///< cloud units, camera frame
  std::vector<double> radii;                         ///< one per ring, cloud units
  /// 1σ from the residuals' scatter: the centre in the plane (root of its two variances), each radius.
  double centreSigma = 0.0;
  std::vector<double> radiusSigmas;
  Eigen::Matrix3d centreCovariance = Eigen::Matrix3d::Zero();  ///< in the plane (rank 2), cloud units²
};
bool FitConcentricCircles(const std::vector<std::vector<Eigen::Vector3d>>& rings, ConcentricCircles& circles);

/// Design radii of the marker's four boundaries, outer to inner, as fractions of the outer one.
constexpr std::array<double, 4> kRingRatios = {1.0, 0.7, 0.45, 0.2};

/// What the fit measured, and whether to trust it.
struct MarkerFit {
  Eigen::Vector3d centre = Eigen::Vector3d::Zero();  ///< cloud units, camera frame
  Eigen::Vector2d pixel = Eigen::Vector2d::Zero();   ///< (u, v) of the centre
  std::array<double, 4> radii{};                     ///< cloud units, outer to inner; 0 where not used
  std::array<bool, 4> used{};                        ///< which boundaries entered the fit
  double ratioDeviation = 0.0;                       ///< max |(rᵢ − sᵢδ) / R − ρᵢ| (see FitMarker)
  double edgeOffsetPx = 0.0;                         ///< δ in pixels
  double markerRadius = 0.0;                         ///< R of that fit, cloud units
  double planeRms = 0.0;                             ///< cloud units
  double centreSigma = 0.0;                          ///< the circles' centre 1σ in the plane, cloud units
  double outerRadiusSigma = 0.0;                     ///< the outer radius's 1σ, cloud units
  /// The board's unit normal (towards the camera) and its covariance (3 × 3, rank 2, radians²), from the
  /// plane fit; the centre's covariance (cloud units²): in the plane from the circles, along the line of
  /// sight from the plane's depth there.
  Eigen::Vector3d normal = Eigen::Vector3d::Zero();
  Eigen::Matrix3d normalCovariance = Eigen::Matrix3d::Zero();
  Eigen::Matrix3d centreCovariance = Eigen::Matrix3d::Zero();
  int edgePoints = 0;
  int planePoints = 0;
  std::string refusal;        ///< empty when the fit can be used; else why not
  bool tooFewPoints = false;  ///< the refusal is for lack of edge or plane points (else the ratios)
};

/// Fits the marker from the four boundary contours (outer to inner) that the contour search found in
/// `grey` (the image's grey version, not filtered), with `cloud` (CV_64FC3, one point per pixel):
/// 1. each contour as a robust ellipse; 2. its points moved to the sub-pixel edge, and refitted; a
///    boundary left with fewer than 12 edge points (a small centre dot, a ring cut by the image border
///    or something in front of it) is left out — the outer one and two others are needed;
/// 3. the plane map over the cloud inside the outer ellipse scaled by 1.3, from the white surfaces only
///    (the board around the marker, the white ring and the centre dot, each 2 px clear of every
///    boundary): dark surfaces read farther on many 3D cameras, and the black rings never enter it;
/// 4. every edge point mapped onto the plane, and concentric circles fitted there;
/// 5. the centre in 3D and its pixel, the radii and their deviation from kRingRatios once fitted as
///    rᵢ = ρᵢ·R + sᵢ·δ: clipped whites and blur move every boundary into the black by one offset δ (the
///    outer and third boundaries inwards, s = −1; the second and the dot's outwards, s = +1).
/// A fit whose ratios deviate by more than 0.01, with too few boundaries or fewer than 50 plane points
/// is refused (see MarkerFit::refusal). `loadRows` as for FitPlaneMap. With `model` (the image's own lens
/// model and registration), the sub-pixel edge points are taken into the cloud's grid before step 3, and
/// the centre's pixel back into the image.
MarkerFit FitMarker(const cv::Mat& grey, const cv::Mat& cloud, const std::array<std::vector<cv::Point>, 4>& contours,
                    const RowLoader& loadRows = {}, const ImageModel* model = nullptr);

}  // namespace Detect
}  // namespace TamoHandEye
