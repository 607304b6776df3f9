// SPDX-License-Identifier: Apache-2.0
#pragma once

// The flange poses that would shrink a solved calibration's camera translation uncertainty most (the
// candidates, the rules that keep the marker in view and the score are described in tarn/PoseSuggestion.h).

#include "solver/JointSolve.h"
#include "solver/SolutionDiagnostics.h"

#include <tarn/PoseSuggestion.h>

#include <string>
#include <vector>

namespace TamoHandEye {

struct NextPoseOptions {
  int count = 3;
  double maxTurnDeg = 45.0;
  double viewConeDeg = 25.0;
  CameraPinhole camera;  ///< when known (width above 0): the marker kept inside the image instead of the cone
  double imageMargin = 0.1;
  bool fourAxis = false;  ///< turns about the base's z axis only (both ways)
  /// A parameter (over x, δ, t_Z) held by the calibration (a 4-axis robot's): scored as known; -1 none.
  int held = -1;
};

struct NextPose {
  Eigen::Matrix4d flange = Eigen::Matrix4d::Identity();  ///< base_from_flange, metres
  double sigmaMm = 0.0;
  int from = -1;
  Eigen::Vector3d axis = Eigen::Vector3d::UnitZ();
  double turnDeg = 0.0;
  double viewDeg = 0.0;
  double distanceMm = 0.0;
  Eigen::Vector2d pixel = Eigen::Vector2d::Zero();  ///< where the marker is seen, the pinhole known
};

struct NextPoses {
  double sigmaMm = 0.0;  ///< camera translation 1σ of the poses used; NaN when unknown
  std::vector<NextPose> poses;
};

/// `marker` and `camera` as the solver gives them (X and Z); at most `count` poses, best first.
NextPoses SuggestPoses(const SolvedPoses& poses, const Kel::SE3d& marker, const Kel::SE3d& camera,
                       const NextPoseOptions& options);

/// The same under the joint model: each candidate scored by the information its point and its normal (or target
/// rotation) would add, predicted by `joint` from `solution`.
NextPoses SuggestPoses(const SolvedPoses& poses, const JointPredictor& joint, const JointSolution& solution,
                       const NextPoseOptions& options);

/// The information (1/m²) that holds a parameter in the scores: a micrometre at 1 mm of noise.
constexpr double kHeldInformation = 1e6;

/// A plan of poses around one taught pose (see tarn/PosePlan.h).
struct PlanSettings {
  int count = 14;                   ///< poses to add beside the taught one
  double maxTurnDeg = 30.0;         ///< the largest turn from the taught orientation
  double distanceTolerance = 0.15;  ///< the camera's distance kept within this share of the taught one
  double viewConeDeg = 25.0;
  CameraPinhole camera;  ///< when known (width above 0): the marker kept inside the image instead of the cone
  double imageMargin = 0.1;
  double marginDeg = 1.0;  ///< how far inside the cone or image, for the camera's own direction error
  /// The board's unit normal in the marker's frame (the base eye-in-hand, the flange eye-to-hand), and how
  /// obliquely a ring may be seen: its image ellipse no flatter than cos(maxTiltDeg) (see tarn/PosePlan.h).
  Eigen::Vector3d boardNormal = Eigen::Vector3d::UnitZ();
  double maxTiltDeg = 48.0;
  bool fourAxis = false;  ///< turns about the base's z axis only (both ways), the taught orientation kept otherwise
};

/// From the taught flange pose (base_from_flange, metres) with the marker and camera as the solver gives them (X
/// and Z, solved or guessed): the poses that lower the camera translation's σ most, best first, scored from
/// `information` (ΣJᵀJ of the shots taken, the taught one among them) at the residuals' variance `variance`.
NextPoses PlanPoses(bool eyeToHand, const Kel::SE3d& marker, const Kel::SE3d& camera, const Eigen::Isometry3d& taught,
                    const Matrix9d& information, double variance, const PlanSettings& settings);

/// A pose's rows of the translation residuals' derivative (see TranslationJacobian) for a flange pose and the
/// marker point it sees.
Eigen::Matrix<double, 3, 9> PoseJacobian(bool eyeToHand, const Kel::SE3d& camera, const Eigen::Isometry3d& flange,
                                         const Eigen::Vector3d& inCamera);

}  // namespace TamoHandEye
