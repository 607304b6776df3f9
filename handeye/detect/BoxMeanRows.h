// SPDX-License-Identifier: Apache-2.0
#pragma once

// The block mean's row kernels (see BoxMean.h): the column sums' update, the prefix sums along a row and
// the means rounded in single precision, each on the processor's vectors.

#include <cstdint>

namespace TamoHandEye {
namespace Detect {

struct BoxMeanRows {
  /// sums[x] += add[x] − sub[x] for x < width.
  void (*update)(const std::uint8_t* add, const std::uint8_t* sub, int width, int* sums);
  /// prefix[j + 1] = values[0] + … + values[j] for j < count; prefix[0] = 0.
  void (*prefix)(const int* values, int count, int* prefix);
  /// out[x] = (prefix[x + block] − prefix[x]) / block² rounded in single precision, for x below the
  /// returned column (a multiple of `lanes`, at most width); near[g] = 1 for each group of `lanes` columns
  /// from g × lanes holding a mean within a hair of a half, else 0.
  int (*round)(const int* prefix, int block, int width, std::uint8_t* out, std::uint8_t* near);
  int lanes;
};

/// The widest kernels this processor and build have.
const BoxMeanRows& BestBoxMeanRows();
/// The baseline kernels (SSE2 on x86-64, else plain code).
const BoxMeanRows& BaselineBoxMeanRows();
/// The AVX2 kernels, or null without them.
const BoxMeanRows* Avx2BoxMeanRows();

}  // namespace Detect
}  // namespace TamoHandEye
