// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace TamoHandEye {

/// The library's own copy of one calculation's settings, handed from the entry points to the robot
/// convention objects and the hand-eye solver.
struct SolverParam {
  bool type = false;        ///< true: eye-to-hand (AlgoParam::HandEyeType != 0); false: eye-in-hand
  bool IsMeter = false;     ///< robot translations in metres (false: millimetres), where the convention reads it
  bool IsRadian = false;    ///< robot angles in radians (false: degrees), where the convention reads it
  bool Exhaust = false;     ///< run the random-subset pose search first
  double RansacDist = 0.0;  ///< inlier distance of that search, metres
};

}  // namespace TamoHandEye
