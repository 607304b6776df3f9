#pragma once

// The obvious set-up mistakes, undone one at a time and solved again.

#include <tarn/CalibrationReport.h>

#include <string>
#include <vector>

namespace TamoHandEye {

/// Every alternative reading of the input (other hand-eye type, marker points × 0.001 and × 1000, the other
/// unit of the rows' translations and angles, the other robot kinds of the same row length, every row
/// inverted, the rows reversed), each solved over all poses without the pose search and under each
/// convention of its kind; those whose best RMS is at most `limitMm` and whose poses are not degenerate,
/// best first.
std::vector<SetupAlternative> FindSetupAlternatives(RobotKind kind, const std::vector<MarkerBoardResult>& markers,
                                                    const RobotRows& rows, const AlgoParam& param, double limitMm);

/// The kind's name for messages, e.g. "KUKA (or ABB Euler)".
std::string RobotKindName(RobotKind kind);
std::string RobotKindNameZh(RobotKind kind);

}  // namespace TamoHandEye
