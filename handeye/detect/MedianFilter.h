// SPDX-License-Identifier: Apache-2.0
#pragma once

// The 5 × 5 median filter of 8-bit grey images, pixel for pixel what cv::medianBlur(src, dst, 5) gives
// (borders replicated), on the widest vectors the processor has.

#include <opencv2/core.hpp>

namespace TamoHandEye {
namespace Detect {

enum class MedianKernel { Best, Scalar, Sse2, Avx2 };

/// Whether `kernel` runs on this processor with this build (Best and Scalar always do).
bool MedianKernelAvailable(MedianKernel kernel);

/// Filters `src` (CV_8UC1) into `dst` (which may be `src`); false, `dst` untouched, for another type or an
/// empty image, or a kernel that is not available.
bool MedianBlur5(const cv::Mat& src, cv::Mat& dst, MedianKernel kernel = MedianKernel::Best);

}  // namespace Detect
}  // namespace TamoHandEye
