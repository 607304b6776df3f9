// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "solver/IHandEye.h"

#include <LieGroup/SE3.h>

#include <Eigen/Core>

#include <limits>
#include <vector>

namespace TamoHandEye {

/// The hand-eye solver over the point-pose equation solver (a linear estimate refined by
/// Levenberg-Marquardt). Created only through std::make_shared; creating one switches the library's
/// shared logger "Kel" off for the whole process.
class HandEyeKel : public IHandEye {
 public:
  /// `handEyeType`: 0 eye-in-hand, 1 eye-to-hand.
  explicit HandEyeKel(int handEyeType);

  int Solve(const std::vector<Kel::SE3d>& robotPoses, const std::vector<Kel::SE3d>& markerPoses,
            const std::vector<int>& poseMask) override;
  Kel::SE3d GetCameraToFlange() const override { return Z; }
  Kel::SE3d GetMarkerToBase() const override { return X; }
  Kel::SE3d GetMarkerToFlange() const override { return X; }
  Kel::SE3d GetCameraToBase() const override { return Z; }
  void SetSolution(const Kel::SE3d& marker, const Kel::SE3d& camera) override {
    X = marker;
    Z = camera;
    ComputeResiduals();
  }
  /// Takes the poses as Solve would and the solution X = `marker`, Z = `camera` found another way (a solve
  /// with a quantity held), without solving; the residuals and errors follow.
  void Adopt(const std::vector<Kel::SE3d>& robotPoses, const std::vector<Kel::SE3d>& markerPoses,
             const std::vector<int>& poseMask, const Kel::SE3d& marker, const Kel::SE3d& camera);
  std::vector<Eigen::Vector3d> GetResiduals() const override { return residuals; }
  /// True when the poses cannot fix a solution whatever the noise: the refinement's normal equations at
  /// the linear estimate are singular (smallest eigenvalue below 1e-10 of the largest), as with rotations
  /// about one axis only, or none. False for fewer than 5 poses (too few, not degenerate). `linearRms`,
  /// when given, receives the RMS of the linear estimate's residual lengths (metres): how well the poses,
  /// read this way, can be fitted at all.
  bool IsDegenerate(const std::vector<Kel::SE3d>& robotPoses, const std::vector<Kel::SE3d>& markerPoses,
                    double* linearRms = nullptr) const;
  /// The least squares over all poses of the linear system in which Z's rotation may be any 3×3 matrix:
  /// every solution is a point of that system with the same residuals, so its cost (m²) bounds from below
  /// the sum of squared residual lengths any solution reaches. It is kept so that the bounds over all but
  /// one or two poses follow from it: leaving rows out of a least-squares fit lowers its cost by
  /// r_Kᵀ(I − Q_K Q_Kᵀ)⁻¹r_K (r_K the fit's residuals of the rows left out, Q_K their rows of an orthonormal
  /// basis of the system's columns), so each costs a 3 × 3 or 6 × 6 solve instead of a fit of its own.
  struct RelaxedFit {
    double cost = std::numeric_limits<double>::quiet_NaN();  ///< over all poses (m²); NaN: bounds nothing
    Eigen::MatrixXd basis;                                   ///< 3n × 15, orthonormal columns
    Eigen::VectorXd residual;                                ///< 3n
    /// [j]: over all but pose j (NaN where those poses do not fix the unknowns).
    std::vector<double> LeavingOut() const;
    /// The least over all but any two poses (NaN when some pair's removal leaves the unknowns unfixed).
    double LeastLeavingTwoOut() const;
  };
  static RelaxedFit FitRelaxed(int handEyeType, const std::vector<Kel::SE3d>& robotPoses,
                               const std::vector<Kel::SE3d>& markerPoses);
  void GetErrors(double& maxErr, double& rmsErr) const override {
    maxErr = maxError;
    rmsErr = rmsError;
  }

 private:
  /// r_i = translation(A_i·X) - translation(Z·B_i) for every pose; the errors over the selected ones.
  void ComputeResiduals();

  int type;
  Kel::SE3d X;
  Kel::SE3d Z;
  std::vector<Kel::SE3d> A;
  std::vector<Kel::SE3d> B;
  std::vector<int> mask;
  std::vector<Eigen::Vector3d> residuals;
  double maxError = 0.0;
  double rmsError = 0.0;
};

}  // namespace TamoHandEye
