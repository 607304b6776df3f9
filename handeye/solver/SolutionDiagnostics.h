// SPDX-License-Identifier: Apache-2.0
#pragma once

// What a solved calibration says about itself: its uncertainty, each pose's leave-one-out residual and the
// spread of the poses used.

#include <LieGroup/SE3.h>
#include <tarn/CalibrationReport.h>

#include <Eigen/Core>

#include <limits>
#include <vector>

namespace TamoHandEye {

/// The poses of one solved calibration, as the solver took them.
struct SolvedPoses {
  const std::vector<Kel::SE3d>& robotPoses;   ///< base_from_flange, metres
  const std::vector<Kel::SE3d>& markerPoses;  ///< marker points as poses, metres
  const std::vector<int>& mask;               ///< 255 used, 0 dropped; empty: every pose used
  bool eyeToHand = false;

  bool Used(std::size_t i) const { return mask.empty() || (i < mask.size() && mask[i] != 0); }
  std::size_t UsedCount() const;
};

using Matrix9d = Eigen::Matrix<double, 9, 9>;

/// The translation residual r = translation(A·X) − translation(Z·B) of one pose, A as the solver reads the
/// flange pose (flange_from_base eye-in-hand, base_from_flange eye-to-hand), B the marker point `p`: its
/// derivative over (x, δ, t_Z) with Z·exp(δ), J = [R_A, R_Z·hat(p), −I₃].
Eigen::Matrix<double, 3, 9> TranslationJacobian(const Eigen::Matrix3d& rotationA, const Eigen::Vector3d& p,
                                                const Eigen::Matrix3d& rotationZ);
/// Σ JᵀJ over the poses used, and the residuals' sum of squares (m²).
struct NormalMatrix {
  Matrix9d normal = Matrix9d::Zero();
  double squares = 0.0;
  std::size_t poses = 0;
};
NormalMatrix TranslationNormal(const SolvedPoses& poses, const Kel::SE3d& marker, const Kel::SE3d& camera);
/// The 1σ figures of the normal matrix `normal` and residual variance `variance` (m²); unknown when singular.
Uncertainty UncertaintyOf(const Matrix9d& normal, double variance);
/// The 1σ figures of a covariance over (x, δ, t_Z), metres and radians.
Uncertainty UncertaintyOfCovariance(const Matrix9d& covariance);

/// The factor from a covariance over (x, δ, t_Z) in metres and radians to CalibrationCovariance's
/// millimetres: 1000 per translation (rows and columns 0–2 and 6–8) in entry (i, j).
Matrix9d MillimetreScale();

/// The whole covariance (CalibrationCovariance) of the same solve; unknown as SolutionUncertainty.
CalibrationCovariance SolutionCovariance(const SolvedPoses& poses, const Kel::SE3d& marker, const Kel::SE3d& camera);

/// 1σ of the camera transform `camera` (Z) and marker point `marker` (X's translation) from the normal
/// matrix of the translation residuals over the poses used and their variance (3n - 9 degrees of freedom).
/// Unknown (known = false) with fewer than 4 poses used or a singular normal matrix.
Uncertainty SolutionUncertainty(const SolvedPoses& poses, const Kel::SE3d& marker, const Kel::SE3d& camera);

/// One pose under the solution computed without it.
struct LeftOut {
  double distance = std::numeric_limits<double>::quiet_NaN();  ///< its residual distance, metres
  /// The residual over its own predicted spread: √(eᵀ C⁻¹ e / 3) / s, with C = I + J N⁻¹ Jᵀ (the noise of a
  /// new point plus the uncertainty of the solution without the pose, J the pose's Jacobian, N the normal
  /// matrix of the others) and s the others' residual σ (3(n−1) − 9 degrees of freedom). Its square is
  /// Fisher's F with 3 and 3(n−1) − 9 degrees of freedom for a pose like the others under Gaussian noise.
  /// NaN for a pose not used or when unknown.
  double studentised = std::numeric_limits<double>::quiet_NaN();
};

/// Per pose, its residual under the solution over the poses used without it, and that residual studentised
/// (above); a pose not used gets its residual under `marker` and `camera`; NaN where the others alone are
/// degenerate. The solution without a pose is one Gauss-Newton step from `marker` and `camera` on the
/// others' normal equations (the full ones less the pose's term): linear in the pose count.
std::vector<LeftOut> LeaveOneOutResiduals(const SolvedPoses& poses, const Kel::SE3d& marker, const Kel::SE3d& camera);

/// The studentised leave-one-out residual above which a pose of `used` is an outlier at family-wise
/// significance `alpha` (Bonferroni over the poses); infinite with fewer than 5 poses used.
double StudentisedLimit(std::size_t used, double alpha);

/// The spread of the poses used (their pairs: among kMostPairedPoses of them, spread evenly, when there are
/// more).
PoseSetCheck PoseSpread(const SolvedPoses& poses);

}  // namespace TamoHandEye
