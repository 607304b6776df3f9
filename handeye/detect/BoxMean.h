// SPDX-License-Identifier: Apache-2.0
#pragma once

// The normalised box mean of an 8-bit grey image, borders replicated, pixel for pixel what
// cv::boxFilter(src, dst, CV_8U, {block, block}, {-1, -1}, true, BORDER_REPLICATE | BORDER_ISOLATED) gives.
//
// For blocks whose sums need 32 bits, the filter's sums are exact integers and each mean is the sum times
// the block's reciprocal rounded to the nearest (even) integer — in single precision in its vector loop, in
// double precision in its tail. Here the sums are made the same way (column sums, then a sliding row sum)
// and each mean rounded in single precision; the few within a hair of a half, which the two precisions
// may round apart, are rounded as the filter rounds their column — learnt once per width from the filter.

#include <opencv2/core.hpp>

namespace TamoHandEye {
namespace Detect {

struct BoxMeanRows;

/// The block mean of `grey` (CV_8UC1) over a square of 2 × `half` + 1 pixels into `mean`, as the filter
/// above makes it. `mean` must not share `grey`'s pixels.
void BoxMean(const cv::Mat& grey, int half, cv::Mat& mean);

/// The same made without the filter, for a block whose sums need 32 bits, with the row kernels `rows`
/// (the best when null); false, `mean` left in any state, when it cannot vouch for every pixel (a block
/// of fewer than 17 pixels a side, sums beyond 31 bits, a width whose roundings it cannot learn).
bool BoxMeanOwn(const cv::Mat& grey, int half, cv::Mat& mean, const BoxMeanRows* rows = nullptr);

}  // namespace Detect
}  // namespace TamoHandEye
