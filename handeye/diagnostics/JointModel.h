// SPDX-License-Identifier: Apache-2.0
#pragma once

// The report under the model with the board's normal: the shots as the joint solve takes them, and the
// report's solution and figures replaced by that solve's.

#include <tarn/CalibrationReport.h>

#include "solver/EntryPath.h"
#include "solver/JointSolve.h"
#include "solver/SolutionDiagnostics.h"

#include <vector>

namespace TamoHandEye {

/// The shots of the options as the joint solve takes them (one per pose): a normal that is not a finite unit
/// vector counts as none; axes that are not a unit pair across it are rebuilt (and the covariance then not
/// stated); a covariance that is not finite and positive definite is not stated. Its turns about the axes become
/// the normal's displacement along them.
std::vector<JointShot> JointShots(const std::vector<ShotPlane>& planes, const std::vector<Kel::SE3d>& markerPoses);

/// The joint solve of a run's poses: the shots as it takes them, the robot's noise and the solution. Not solved
/// under SolveModel::Point, with fewer than kLeastNormalShots poses used carrying a normal (or a target rotation),
/// with planes not one per pose, or when the solve fails.
struct JointRun {
  std::vector<JointShot> shots;
  JointOptions options;
  JointSolution solution;

  JointProblem Problem(const SolvedPoses& poses) const {
    return {poses.eyeToHand, poses.robotPoses, shots, poses.mask, options};
  }
};
JointRun SolveJointModel(SolveModel model, const std::vector<ShotPlane>& planes, double robotNoiseMm,
                         double robotNoiseDeg, const EntryRun& run, const SolvedPoses& poses);

/// Under SolveModel::Auto with at least kLeastNormalShots poses used carrying a normal (or a target rotation): solves
/// jointly from the run's point solution over the same poses, puts the solution into the run's solver and
/// `report.result`, and fills the model, the board plane, the uncertainty, the covariance and (up to
/// kMostLeaveOneOutPoses poses used) the leave-one-out figures. False (the report untouched) when the model is the
/// point's or the joint solve fails.
bool ApplyJointModel(const ReportOptions& options, const EntryRun& run, const SolvedPoses& poses,
                     CalibrationReport& report);

}  // namespace TamoHandEye
