// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace TamoHandEye {

/// The marker centre found in one image pair.
struct MarkerBoardResult {
  double x = 0.0;  ///< centre X in the camera (point-cloud) frame, metres (the point cloud's unit)
  double y = 0.0;  ///< centre Y in the camera frame, metres
  double z = 0.0;  ///< centre Z in the camera frame, metres
  double u = 0.0;  ///< circle centre column in the 2D image, pixels (sub-pixel)
  double v = 0.0;  ///< circle centre row in the 2D image, pixels (sub-pixel)
};

namespace Detect {

/// The marker centre as detection reports it: the same fields in the same order as the top-level record.
struct MarkerBoardResult {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  double u = 0.0;
  double v = 0.0;
};

}  // namespace Detect
}  // namespace TamoHandEye
