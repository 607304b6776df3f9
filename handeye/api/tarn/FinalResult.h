// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

namespace TamoHandEye {

/// The translation residual of one pose, millimetres whatever the input unit.
struct PoseResidual {
  double distance = 0.0;  ///< length of (dx, dy, dz)
  double dx = 0.0;
  double dy = 0.0;
  double dz = 0.0;
};

/// A calibration result.
///
/// The camera transform is camera-in-flange for eye-in-hand and camera-in-base for eye-to-hand; the
/// marker position is marker-in-base for eye-in-hand and marker-in-flange for eye-to-hand.
struct FinalResult {
  /// The camera transform as one robot row of the selected convention (6 or 7 values).
  std::vector<double> cameraPose;
  /// The camera transform as a 4x4 homogeneous matrix, row by row; translation in millimetres unless
  /// IsMeter (then metres).
  std::vector<std::vector<double>> cameraMatrix;
  /// Root mean square of the selected poses' residual distances, millimetres.
  double rmsError = 0.0;
  /// Largest selected residual distance, millimetres.
  double maxError = 0.0;
  /// One entry per pose in input order, selected or not.
  std::vector<PoseResidual> residuals;
  /// Per pose: 255 used, 0 dropped by the subset search; empty when no search ran (every pose used).
  std::vector<int> mask;
  /// The marker position, 3 values, millimetres unless IsMeter (then metres).
  std::vector<double> markerPosition;
};

}  // namespace TamoHandEye
