// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <tarn/ErrorCode.h>
#include <tarn/MarkerBoardResult.h>

namespace TamoHandEye {
namespace Detect {

/// A marker detector.
class IMarkerAlgo {
 public:
  virtual ~IMarkerAlgo() = default;
  /// One detection attempt; fills `result` on success.
  virtual ErrorCode DetectMarker(MarkerBoardResult& result) = 0;
};

}  // namespace Detect
}  // namespace TamoHandEye
