// SPDX-License-Identifier: Apache-2.0
#pragma once

// Calibration of robots that turn about one axis only (palletisers, SCARA and other 4-axis arms).
//
// With every flange turn about one axis a (base frame), the point residual r_i = R_Ai·x + t_Ai − R_Z·p_i − t_Z
// stays the same when the marker point x moves along a and the camera's t_Z moves with it (eye-in-hand: x by s·a,
// t_Z by s·R₀ᵀa, R₀ any flange orientation; eye-to-hand: x by s·R₀ᵀa, t_Z by s·a): one quantity no shot can
// see. Every other one is fixed by the shots once the turns and the flange heights vary. So one of two figures
// is given and held: x's third coordinate (the marker's height in the base eye-in-hand; its offset along the
// flange's z eye-to-hand) or t_Z's (the camera's offset along the flange's z eye-in-hand; its height in the base
// eye-to-hand); the rest is solved by least squares.

#include <LieGroup/SE3.h>

#include <Eigen/Core>

#include <optional>
#include <string>
#include <vector>

namespace TamoHandEye {

/// The quantity a 4-axis calibration is given.
enum class FixedQuantity {
  None,
  MarkerHeight,   ///< x's third coordinate (parameter 2)
  CameraOffsetZ,  ///< t_Z's third coordinate (parameter 8)
};

/// The parameter (over x, δ, t_Z) a quantity fixes.
int FixedParameter(FixedQuantity quantity);

/// The common axis (base frame, unit) of every turn between the flange poses, when all of them turn about one
/// axis within `toleranceDeg` and the largest turn exceeds `leastTurnDeg`; nothing otherwise (turns about
/// several axes, or none to speak of).
std::optional<Eigen::Vector3d> CommonTurnAxis(const std::vector<Kel::SE3d>& robotPoses, const std::vector<int>& mask,
                                              double toleranceDeg = 0.05, double leastTurnDeg = 2.0);

struct FourAxisSolution {
  bool solved = false;
  std::string failure;  ///< why not, in English (the linear estimate's system or the normal matrix was singular)
  Kel::SE3d marker;     ///< X (its translation is x)
  Kel::SE3d camera;     ///< Z
  /// Over (x, δ, t_Z), metres and radians; zero row and column at the fixed parameter. The residuals' variance
  /// over 3n − 8.
  Eigen::Matrix<double, 9, 9> covariance = Eigen::Matrix<double, 9, 9>::Zero();
  double squares = 0.0;  ///< the residuals' sum of squares (m²) over the poses used
  int freedom = 0;       ///< 3n − 8
};

/// The solve with `quantity` held at `value` (metres), over the flange poses (base_from_flange, metres) and
/// marker points (camera frame, metres) of the poses `mask` uses (empty: all). From `start` when given (a
/// solution of nearby data), otherwise from the linear estimate. Needs at least 4 poses used.
FourAxisSolution SolveFourAxis(bool eyeToHand, const std::vector<Kel::SE3d>& robotPoses,
                               const std::vector<Eigen::Vector3d>& points, const std::vector<int>& mask,
                               FixedQuantity quantity, double value, const FourAxisSolution* start = nullptr);

}  // namespace TamoHandEye
