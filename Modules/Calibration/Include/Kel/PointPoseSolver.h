// SPDX-License-Identifier: Apache-2.0
#pragma once

// The point-pose equation A_i·X·p = Z·B_i·p, solved for the two rigid transforms X and Z.
//
// For every pose i, A_i is a known rigid transform and B_i a transform with identity rotation whose
// translation p_i is a measured point. Only the translation of X matters (X carries a point x), so the
// equation per pose is the 3-vector identity
//     R_Ai·x + t_Ai = R_Z·p_i + t_Z.
// In hand-eye calibration Z is the camera transform and x the marker position.
//
// All transforms are Kel::SE3d (translation, then quaternion x, y, z, w). The lists are equally long.

#include <Kel/KelCalibrationExport.h>
#include <LieGroup/SE3.h>

#include <Eigen/Core>

#include <tuple>
#include <utility>
#include <vector>

namespace Kel {

/// The linear estimate. The equation is linear in the 15 unknowns θ = [vec(R_Z), t_Z, x] through
/// R_Z·p = (pᵀ ⊗ I₃)·vec(R_Z); it is solved in the least-squares sense with a rank-revealing
/// decomposition, R_Z is projected onto SO(3) (nearest rotation, det +1), and t_Z and x are solved again
/// with that R_Z fixed. Returns (X, Z, the root mean square of that estimate's residual lengths). Never
/// throws; with fewer than 5 poses or degenerate motion the estimate is whatever the decomposition gives.
KEL_CALIBRATION_EXPORT std::tuple<SE3d, SE3d, double> SolveAxpZbpKron(const std::vector<SE3d>& A,
                                                                      const std::vector<SE3d>& B);

/// Refines (x, R_Z, t_Z) from the starting values X0, Z0 by Levenberg-Marquardt with analytic Jacobians,
/// the rotation updated on the manifold (R_Z ← R_Z·Exp(δ)). Stops when a step is shorter than `tolerance`
/// (metres and radians). On success writes X (translation x, identity rotation) and Z and returns true.
/// Returns false, leaving X and Z as they were, when the problem is degenerate (fewer than 5 poses, pure
/// translations, rotations about a single axis, an ill-conditioned normal matrix), when a value is not
/// finite, or when it does not converge within a bounded number of iterations. Never throws.
KEL_CALIBRATION_EXPORT bool SolveAXpZBpinNumerical(const std::vector<SE3d>& A, const std::vector<SE3d>& B,
                                                   const SE3d& X0, const SE3d& Z0, SE3d& X, SE3d& Z, double tolerance);

/// The stacked linear system of the estimate: the 3n × 15 matrix whose row block i is
/// [p_iᵀ ⊗ I₃, I₃, -R_Ai] (unknowns vec(R_Z) column by column, t_Z, x) and the 3n × 1 right-hand side
/// whose block i is t_Ai.
KEL_CALIBRATION_EXPORT std::pair<Eigen::MatrixXd, Eigen::MatrixXd> GenerateBlockAxpZbp(const std::vector<SE3d>& A,
                                                                                       const std::vector<SE3d>& B);

}  // namespace Kel
