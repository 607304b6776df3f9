// SPDX-License-Identifier: Apache-2.0
#include "detect/MedianFilter.h"

#include "detect/MedianKernels.h"
#include "detect/ProcessorFeatures.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace TamoHandEye {
namespace Detect {
namespace {

struct Kernels {
  void (*sortColumns)(const std::uint8_t* const[5], std::uint8_t* const[5], std::size_t);
  void (*medianRow)(const std::uint8_t* const[5], std::uint8_t*, std::size_t);
  std::size_t lanes;
};

Kernels KernelsOf(MedianKernel kernel) {
  if (kernel == MedianKernel::Best) {
    kernel = MedianKernelAvailable(MedianKernel::Avx2)   ? MedianKernel::Avx2
             : MedianKernelAvailable(MedianKernel::Sse2) ? MedianKernel::Sse2
                                                         : MedianKernel::Scalar;
  }
  switch (kernel) {
    case MedianKernel::Avx2: return {SortColumnsAvx2, MedianRowAvx2, 32};
    case MedianKernel::Sse2: return {SortColumnsSse2, MedianRowSse2, 16};
    default: return {SortColumnsScalar, MedianRowScalar, 1};
  }
}

}  // namespace

bool MedianKernelAvailable(MedianKernel kernel) {
  switch (kernel) {
    case MedianKernel::Avx2: return HaveAvx2Kernel() && ProcessorHasAvx2();
    case MedianKernel::Sse2: return HaveSse2Kernel();
    default: return true;
  }
}

bool MedianBlur5(const cv::Mat& src, cv::Mat& dst, MedianKernel kernel) {
  if (src.empty() || src.type() != CV_8UC1 || !MedianKernelAvailable(kernel)) return false;
  Kernels k = KernelsOf(kernel);
  const auto width = static_cast<std::size_t>(src.cols);
  if (width < k.lanes) k = KernelsOf(MedianKernel::Scalar);  // a row narrower than one vector
  // Five source rows with two replicated pixels each side, and their columns sorted; both readable a
  // vector past their end.
  const std::size_t stride = width + 4 + kMaxMedianLanes;
  std::vector<std::uint8_t> buffer(10 * stride, 0);
  const std::uint8_t* rows[5];
  std::uint8_t* padded[5];
  std::uint8_t* sorted[5];
  for (int r = 0; r < 5; ++r) {
    padded[r] = buffer.data() + static_cast<std::size_t>(r) * stride;
    rows[r] = padded[r];
    sorted[r] = buffer.data() + static_cast<std::size_t>(5 + r) * stride;
  }
  cv::Mat out(src.size(), CV_8UC1);
  for (int y = 0; y < src.rows; ++y) {
    for (int r = 0; r < 5; ++r) {
      const std::uint8_t* line = src.ptr<std::uint8_t>(std::clamp(y - 2 + r, 0, src.rows - 1));
      padded[r][0] = padded[r][1] = line[0];
      std::memcpy(padded[r] + 2, line, width);
      padded[r][width + 2] = padded[r][width + 3] = line[width - 1];
    }
    k.sortColumns(rows, sorted, width + 4);
    k.medianRow(sorted, out.ptr<std::uint8_t>(y), width);
  }
  dst = out;
  return true;
}

}  // namespace Detect
}  // namespace TamoHandEye
