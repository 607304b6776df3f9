// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <LieGroup/SE3.h>

#include <Eigen/Core>

#include <vector>

namespace TamoHandEye {

/// A hand-eye solver for the point-pose equation translation(A_i·X) = translation(Z·B_i), where T_i is
/// the flange pose in the base frame (base_from_flange), B_i carries the marker point p_i measured in the
/// camera frame, and A_i = T_i⁻¹ for eye-in-hand, T_i for eye-to-hand.
///
/// Z is the camera transform: flange_from_camera (eye-in-hand) or base_from_camera (eye-to-hand). X is
/// the marker transform, of which only the translation (the marker point) matters: the marker in the base
/// frame (eye-in-hand) or in the flange frame (eye-to-hand).
class IHandEye {
 public:
  virtual ~IHandEye() = default;

  /// Solves over the poses `mask` selects (255 used, 0 dropped; empty: all). 0 solved, 129 the numerical
  /// solve failed (residuals and errors then keep their previous values).
  virtual int Solve(const std::vector<Kel::SE3d>& robotPoses, const std::vector<Kel::SE3d>& markerPoses,
                    const std::vector<int>& mask) = 0;
  virtual Kel::SE3d GetCameraToFlange() const = 0;  ///< Z (eye-in-hand)
  virtual Kel::SE3d GetMarkerToBase() const = 0;    ///< X (eye-in-hand)
  virtual Kel::SE3d GetMarkerToFlange() const = 0;  ///< X (eye-to-hand)
  virtual Kel::SE3d GetCameraToBase() const = 0;    ///< Z (eye-to-hand)
  /// Replaces the solution by X = `marker`, Z = `camera` (a solve of the same poses under another model)
  /// and recomputes the residuals and errors over the poses of the last solve.
  virtual void SetSolution(const Kel::SE3d& marker, const Kel::SE3d& camera) = 0;
  /// The residual of every pose, selected or not, in metres.
  virtual std::vector<Eigen::Vector3d> GetResiduals() const = 0;
  /// The largest and the root mean square of the selected residual lengths, metres.
  virtual void GetErrors(double& maxError, double& rmsError) const = 0;
};

}  // namespace TamoHandEye
