// SPDX-License-Identifier: Apache-2.0
#pragma once

// The camera's pinhole from an organised cloud: each sampled point's image position is its pixel, so
// u = fx·x/z + cx and v = fy·y/z + cy fit by least squares over rows and columns, with outliers dropped.

#include <tarn/PoseSuggestion.h>

#include <opencv2/core.hpp>

namespace TamoHandEye {
namespace Detect {

/// The fit reads every this many rows and columns of the cloud.
inline constexpr int kPinholeRowStep = 4;

/// The pinhole of a 3-channel float or double cloud; false when the cloud cannot give one.
bool PinholeOfCloud(const cv::Mat& cloud, CameraPinhole& pinhole);

}  // namespace Detect
}  // namespace TamoHandEye
