// SPDX-License-Identifier: Apache-2.0
#pragma once

// Synthetic hand-eye scenes with a known camera transform and marker point, built with Eigen alone (not
// with the library's own group or convention code), and robot rows written in every controller's
// convention.

#include <tarn/MarkerBoardResult.h>

#include <Eigen/Geometry>

#include <string>
#include <vector>

namespace TarnSim {

enum class Motion {
  General,          ///< rotations about varied axes
  TranslationOnly,  ///< every flange pose has the same orientation (degenerate)
  SingleAxis,       ///< every rotation is about one axis (degenerate)
  FourAxis,         ///< every flange turns about the base's vertical z axis only, as a 4-axis robot's
};

struct SceneOptions {
  int poses = 12;
  bool eyeToHand = false;
  Motion motion = Motion::General;
  double rotationSpreadDeg = 30.0;  ///< spread of the viewing directions and rolls, degrees
  /// Motion::FourAxis: the flange's constant tilt about x (0: its axes those of the base turned about z; 180: its
  /// z axis pointing down, as many controllers report a 4-axis robot).
  double fourAxisTiltDeg = 0.0;
  double pointNoise = 0.0;             ///< σ of each measured point coordinate, metres
  double depthNoise = 0.0;             ///< σ added along the camera's line of sight, metres (a depth camera's)
  double robotTranslationNoise = 0.0;  ///< σ of each reported flange translation coordinate, metres
  double robotRotationNoise = 0.0;     ///< σ of each reported flange rotation-vector component, radians
  std::vector<int> outliers;           ///< poses whose measured point is displaced
  double outlierOffset = 0.05;         ///< length of that displacement, metres
  double normalNoise = 0.0;            ///< σ of the measured board normal's turn about each axis across it, radians
  unsigned seed = 1;                   ///< draws the poses (and, unless noiseSeed is set, seeds the noise)
  unsigned noiseSeed = 0;              ///< when not 0, seeds the noise: same poses, new noise
};

struct Scene {
  bool eyeToHand = false;
  /// Z: flange_from_camera (eye-in-hand) or base_from_camera (eye-to-hand).
  Eigen::Isometry3d camera = Eigen::Isometry3d::Identity();
  /// x: the marker in the base frame (eye-in-hand) or in the flange frame (eye-to-hand).
  Eigen::Vector3d marker = Eigen::Vector3d::Zero();
  /// base_from_flange as the robot reports it (with robot noise).
  std::vector<Eigen::Isometry3d> flange;
  /// The marker centre measured in the camera frame (with point noise and outliers), metres.
  std::vector<Eigen::Vector3d> points;
  /// The board's unit normal in the marker's frame (the base eye-in-hand, the flange eye-to-hand), facing the
  /// camera, and as each shot measures it in the camera frame (with normal noise, drawn from its own engine:
  /// the other draws do not depend on it).
  Eigen::Vector3d boardNormal = Eigen::Vector3d::UnitZ();
  std::vector<Eigen::Vector3d> normals;

  std::vector<TamoHandEye::MarkerBoardResult> Markers() const;
};

Scene MakeScene(const SceneOptions& options);

/// Row conventions, written independently of the library.
enum class RowFormat {
  Fanuc,    ///< X Y Z W P R, Rz(R)·Ry(P)·Rx(W)
  Kuka,     ///< X Y Z A B C, Rz(A)·Ry(B)·Rx(C)
  AbbQuat,  ///< X Y Z w x y z
  Ur,       ///< X Y Z and the rotation vector
  Xyzw,     ///< X Y Z x y z w
};

/// One row per flange pose. Translations in metres when `meter`, else millimetres; angles in radians
/// when `radian`, else degrees (quaternions are unit-free).
std::vector<std::vector<double>> RobotRows(const Scene& scene, RowFormat format, bool meter = false,
                                           bool radian = false);

}  // namespace TarnSim
