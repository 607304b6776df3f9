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

}  // namespace TamoHandEye
