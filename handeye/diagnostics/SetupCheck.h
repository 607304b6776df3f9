// SPDX-License-Identifier: Apache-2.0
#pragma once

// The obvious set-up mistakes, undone one at a time and solved again.

#include <tarn/CalibrationReport.h>

#include <Eigen/Core>

#include <limits>
#include <string>
#include <vector>

namespace TamoHandEye {

/// Every alternative reading of the input (other hand-eye type, marker points × 0.001 and × 1000, the other
/// unit of the rows' translations and angles, the other robot kinds of the same row length, every row
/// inverted, the rows reversed), each solved over all poses without the pose search and under each
/// convention of its kind; those whose best RMS is at most `limitMm` and whose poses are not degenerate,
/// best first.
/// `givenRmsMm`, when not null, receives the RMS of the reading given solved the same way (infinite when
/// it does not solve or its poses are degenerate).
/// The board's normal of each shot (camera frame; zero where a shot has none) and how well each reading's
/// normals agree: brought into the reading's fixed frame (the base eye-in-hand, the flange eye-to-hand) under
/// its solution, the RMS angle (degrees) of each from their mean. NaN with fewer than 3 normals.
/// `limitOverGiven`: a reading is returned only when its RMS is within that many times the given reading's
/// too; a reading that cannot come within the limits (its lower bound, the linear fit with the camera's
/// rotation any 3 × 3 matrix, is above them) is not solved at all.
struct SetupNormals {
  std::vector<Eigen::Vector3d> normals;
  double givenRmsDeg = std::numeric_limits<double>::quiet_NaN();  ///< out: the reading given
  std::vector<double> alternativeRmsDeg;                          ///< out: one per alternative returned
};

std::vector<SetupAlternative> FindSetupAlternatives(RobotKind kind, const std::vector<MarkerBoardResult>& markers,
                                                    const RobotRows& rows, const AlgoParam& param, double limitMm,
                                                    double* givenRmsMm = nullptr, SetupNormals* normals = nullptr,
                                                    double limitOverGiven = std::numeric_limits<double>::infinity());

/// The alternative undoes a scale that is not physical as given (a flange within 1 cm of its base or 10 m
/// from it, marker points as near to or as far from the camera): such readings are only ever tried then.
bool UndoesImplausibleScale(const SetupAlternative& alternative);

/// The kind's name for messages, e.g. "KUKA (or ABB Euler)".
std::string RobotKindName(RobotKind kind);
std::string RobotKindNameZh(RobotKind kind);

}  // namespace TamoHandEye
