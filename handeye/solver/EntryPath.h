// SPDX-License-Identifier: Apache-2.0
#pragma once

// The one path of every calibration entry point: checks the input as the entry points document, runs the
// robot kind's convention object and keeps it for whoever wants to look at the solution.

#include "robot/Robot.h"
#include "solver/CalibrationPipeline.h"

#include <tarn/CalibrationReport.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace TamoHandEye {

/// The entry points' checks of their input: 202 no markers or rows, 203 counts differ, 204 a row of the
/// wrong length, 201 a value that is not finite; `failure` says which, in English.
ErrorCode CheckEntryInput(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                          std::string& failure);
/// 6 or 7.
std::size_t RowLength(RobotKind kind);
/// The kind's rows give translations in metres: IsMeter, where the kind honours it (the generic kinds and
/// UR); millimetres otherwise.
bool RowsInMetres(RobotKind kind, const AlgoParam& param);
/// A fresh robot type object of that kind over `markers`.
std::unique_ptr<Robot> MakeRobot(RobotKind kind, const std::vector<MarkerBoardResult>& markers);
/// The rotation conventions the kind's rows may be in: one for the vendor kinds ("sxyz", "rzyx", "wxyz",
/// "axis"), every candidate for the generic kinds, in the order their solve tries them.
std::vector<std::string> ConventionsOf(RobotKind kind);
/// Makes a generic kind's convention object read its rows in `key` (the vendor kinds have one reading).
void SetConvention(IRobot& robot, const std::string& key);
/// The convention a solved robot object used.
std::string ConventionUsed(RobotKind kind, const IRobot& robot);
/// The settings as the convention objects take them.
SolverParam ToSolverParam(const AlgoParam& param);

/// What one run did beyond its code.
struct EntryRun {
  /// In: solve every candidate convention of a generic kind, for a caller that reads each one's fit
  /// (SolveRecord::conventionFits); otherwise those that cannot be chosen may be left out.
  bool everyConvention = false;
  std::unique_ptr<Robot> robot;  ///< the solved robot object (on success, and on a failed solve)
  SolveRecord record;            ///< what its solve left beside the result
  int status = 0;                ///< the convention object's own code (129, -1, 130) when the solve failed
  std::string failure;           ///< on failure: what went wrong, in English
};

/// Checks the input (202, 203, 204; 201 for a value that is not finite), solves with the kind's convention
/// object, the pose search seeded by `seed` when given, and writes `result` only on success. Never throws.
ErrorCode RunEntryPoint(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                        const AlgoParam& param, std::optional<std::uint32_t> seed, FinalResult& result,
                        EntryRun* run = nullptr);

}  // namespace TamoHandEye
