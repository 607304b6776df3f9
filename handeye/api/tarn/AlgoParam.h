// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

namespace TamoHandEye {

/// The settings of one calculation.
struct AlgoParam {
  /// 0: eye-in-hand (camera on the flange, marker fixed in the base frame); any other value: eye-to-hand
  /// (camera fixed, marker on the flange).
  std::int32_t HandEyeType = 0;
  /// Robot translations are in metres (false: millimetres). Also the unit of cameraMatrix and
  /// markerPosition in the result.
  bool IsMeter = false;
  /// Robot angles are in radians (false: degrees), for the conventions that read it.
  bool IsRadian = false;
  /// Run the random-subset search over poses before the final solve.
  bool Exhaust = false;
  /// Inlier distance of that search, metres, compared with each pose's translation residual.
  double RansacDist = 0.0;
};

}  // namespace TamoHandEye
