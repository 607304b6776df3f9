// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/SolverParam.h"

#include <LieGroup/SE3.h>
#include <tarn/FinalResult.h>
#include <tarn/MarkerBoardResult.h>

#include <Eigen/Core>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace TamoHandEye {

struct SolveRecord;

/// A robot controller's pose convention: turns the stored robot rows into flange poses (base_from_flange,
/// metres) and a solved transform back into a row of the same convention and units; its Solve runs one
/// calibration over the rows. The conversions are defined with the conventions; the solving members
/// (Solve, SolveOverConventions) with the solver, which they hand the work to.
class IRobot {
 public:
  explicit IRobot(const std::vector<MarkerBoardResult>& markerRecords);
  virtual ~IRobot();
  IRobot(const IRobot&) = delete;
  IRobot& operator=(const IRobot&) = delete;

  /// Runs one calibration over the rows with `solverParam`: 0 success (result filled), 129 the numerical
  /// solve failed, -1 the pose search found no consensus (result untouched). `record` receives what the
  /// solve leaves beside the result (its poses, solver and search).
  virtual int Solve(const SolverParam& solverParam, FinalResult& result, SolveRecord& record);
  /// Fixes the random seed of every later pose search (tests); std::nullopt returns to seeding from the system's
  /// random device.
  static void SetPoseSearchSeed(std::optional<std::uint32_t> seed);

  /// Every row as a pose and every marker point as a pose (identity rotation), under the current settings.
  void BuildTransforms(std::vector<Kel::SE3d>& robotTransforms, std::vector<Kel::SE3d>& markerTransforms);
  /// Converts robotData[index] and appends its pose to `poses`; earlier entries stay.
  virtual void AddRobotPose(int index, std::vector<Kel::SE3d>& poses);
  /// Replaces the whole of `row` by `pose` written in this convention.
  virtual void ToRobotData(const Kel::SE3d& pose, std::vector<double>& row);

  std::vector<MarkerBoardResult> markers;
  std::vector<std::vector<double>> robotData;
  SolverParam param;  ///< the settings of the current Solve
  /// The pose search's seed for this object's solves; none: the one SetPoseSearchSeed fixed, if any.
  std::optional<std::uint32_t> searchSeed;

  /// Whether SolveOverConventions, with the pose search, may leave out candidates that cannot be chosen
  /// (see there); false solves every one, for a caller that reads every candidate's fit.
  bool screenConventions = true;

 protected:
  static constexpr double kMillimetre = 0.001;                  ///< millimetres to metres
  static constexpr double kDegree = 0.017453292519943295;       ///< degrees to radians (pi / 180)
  static constexpr double kRadianToDegree = 57.29577951308232;  ///< 180 / pi

  /// Metres per unit of a row's translation, as IsMeter says, and the way back.
  double TranslationToMetre() const { return param.IsMeter ? 1.0 : kMillimetre; }
  double MetreToTranslation() const { return param.IsMeter ? 1.0 : 1000.0; }
  /// Radians per unit of a row's angles, as IsRadian says, and the way back.
  double AngleToRadian() const { return param.IsRadian ? 1.0 : kDegree; }
  double RadianToAngle() const { return param.IsRadian ? 1.0 : kRadianToDegree; }

  /// The row at `index` (values read by position; the entry points checked the length).
  const std::vector<double>& Row(int index) const { return robotData.at(static_cast<std::size_t>(index)); }

  /// Appends the pose of translation (row[0..2] × toMetre) and quaternion `xyzw`, normalised (an all-zero
  /// quaternion becomes the identity), to `poses`.
  static void AppendPose(const std::vector<double>& row, double toMetre, const Eigen::Vector4d& xyzw,
                         std::vector<Kel::SE3d>& poses);
  /// Replaces `row` by the pose's translation × fromMetre followed by `rotation`.
  static void WriteRow(const Kel::SE3d& pose, double fromMetre, const Eigen::VectorXd& rotation,
                       std::vector<double>& row);
  /// Appends the pose of a row of X, Y, Z and three Euler angles in convention `axes`.
  static void AppendEulerPose(const std::vector<double>& row, double toMetre, double toRadian, const std::string& axes,
                              std::vector<Kel::SE3d>& poses);
  /// Replaces `row` by the pose as X, Y, Z and three Euler angles in convention `axes`.
  static void WriteEulerRow(const Kel::SE3d& pose, double fromMetre, double fromRadian, const std::string& axes,
                            std::vector<double>& row);
  /// Runs the base calibration once per candidate convention (setting `axes` to it first) and keeps the
  /// successful run that selected the most poses and, among those, fits best (lowest rmsError); ties go
  /// to the earlier candidate. When the poses are degenerate (rotations about one axis, or none) under a
  /// candidate that fits them about as well as the best solved one, the search fails: under a wrong
  /// convention such rows only look spread. `axes` ends at the chosen key and the result is written in it. When no
  /// candidate succeeds, returns the last run's code with `axes` at the last candidate.
  /// With the pose search and screenConventions, the candidates are solved in the order of a lower bound
  /// of their fit over all poses, and one is left out when bounds prove that it can
  /// neither be chosen nor make the poses count as degenerate (ConventionFit::kNotTried); the outcome is the
  /// same as solving all.
  /// `record` is the chosen run's, with every candidate's fit.
  int SolveOverConventions(const std::vector<std::string>& candidates, std::string& axes,
                           const SolverParam& solverParam, FinalResult& result, SolveRecord& record);
  /// The quaternion of a rotation vector given in the row's angle unit, scaled by `toRadian`.
  static Eigen::Vector4d QuaternionFromRotationVector(double r1, double r2, double r3, double toRadian);
  /// The pose's quaternion (x, y, z, w).
  static Eigen::Vector4d Quaternion(const Kel::SE3d& pose) { return pose.Rotation().Coeffs(); }
};

}  // namespace TamoHandEye
