// SPDX-License-Identifier: Apache-2.0
#pragma once

// Synthetic shots of the concentric-circle marker: a white board carrying the marker (black ring from R
// to 0.7R, white ring to 0.45R, black ring to 0.2R, white centre dot) seen by a pinhole camera, with its
// organised point cloud; and a PLY writer for such clouds.

#include <Eigen/Geometry>
#include <opencv2/core.hpp>

#include <array>
#include <string>
#include <vector>

namespace TarnSim {

struct ShotOptions {
  int width = 640;
  int height = 480;
  double focal = 700.0;  ///< pixels; the principal point is the image centre
  /// camera_from_board: the board's plane is z = 0 of the board frame. Default: frontal, 0.5 m away.
  Eigen::Isometry3d cameraFromBoard = Eigen::Isometry3d(Eigen::Translation3d(0.0, 0.0, 0.5));
  double markerRadius = 0.03;                                        ///< R, metres
  std::array<double, 3> ringRadii = {0.7, 0.45, 0.2};                ///< the inner boundaries, as fractions of R
  std::vector<Eigen::Vector2d> markers = {Eigen::Vector2d::Zero()};  ///< marker centres on the board, metres
  double boardHalfWidth = 0.2;
  double boardHalfHeight = 0.15;
  int supersample = 4;      ///< samples per pixel along each axis
  double blurSigma = 0.0;   ///< Gaussian blur, pixels
  double gain = 1.0;        ///< exposure: grey levels times this after the blur (above 1 whites clip at 255)
  double greyNoise = 0.0;   ///< σ of additive grey-level noise
  double gradient = 0.0;    ///< lighting falls off by this fraction from the left edge to the right
  bool colour = false;      ///< BGR instead of grey
  double depthNoise = 0.0;  ///< σ of the cloud's depth, metres
  /// Dark surfaces read farther (as many 3D cameras measure them): a point on the black rings lies this
  /// much farther along its ray, metres (grey between in proportion to the shade).
  double darkDepthBias = 0.0;
  /// The image's own lens distortion (k1 k2 p1 p2 k3 on normalised coordinates, the cloud's focal length
  /// and principal point), while the cloud stays a pinhole grid; and a registration between them: a grid
  /// point q is seen in the image at distort(c + Rot(imageTurnDeg)(q − c) + imageShift).
  std::array<double, 5> imageDistortion{};
  Eigen::Vector2d imageShift = Eigen::Vector2d::Zero();
  double imageTurnDeg = 0.0;
  std::vector<cv::Rect> holes;  ///< pixels whose points are missing (NaN)
  unsigned seed = 1;
};

struct Shot {
  cv::Mat image;  ///< CV_8UC1 or CV_8UC3
  cv::Mat cloud;  ///< CV_64FC3, camera frame, metres; NaN off the board and in the holes
  std::vector<Eigen::Vector2d>
      centres;  ///< each marker centre seen in the image: (column, row), pixel centres at integers
  std::vector<Eigen::Vector3d> points;  ///< each marker centre in the camera frame, metres
};

Shot RenderShot(const ShotOptions& options);

/// camera_from_board for a board `distance` ahead of the camera, shifted by (offsetX, offsetY) and tilted
/// about its x axis, then its y axis (radians).
inline Eigen::Isometry3d View(double distance, double tiltX, double tiltY, double offsetX = 0.0, double offsetY = 0.0) {
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.translate(Eigen::Vector3d(offsetX, offsetY, distance));
  pose.rotate(Eigen::AngleAxisd(tiltX, Eigen::Vector3d::UnitX()) * Eigen::AngleAxisd(tiltY, Eigen::Vector3d::UnitY()));
  return pose;
}

enum class PlyFormat { Ascii, BinaryLittleEndian, BinaryBigEndian };

struct PlyOptions {
  PlyFormat format = PlyFormat::BinaryLittleEndian;
  bool doubles = false;          ///< x, y, z as double (else float)
  bool colour = false;           ///< uchar red, green, blue between y and z
  bool leadingElement = false;   ///< an element with a list property before "vertex"
  bool omitZ = false;            ///< leave the "z" property out
  int dropVertices = 0;          ///< write this many vertices fewer than the cloud holds
  long long claimVertices = -1;  ///< the vertex count the header states (default: the true one)
};

/// Writes `cloud` (CV_64FC3) as PLY, vertex k = element (k / cols, k mod cols).
void WritePly(const std::string& path, const cv::Mat& cloud, const PlyOptions& options = {});

}  // namespace TarnSim
