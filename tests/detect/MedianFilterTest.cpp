// SPDX-License-Identifier: Apache-2.0
// The 5 × 5 median: its comparator network proven on every input it can get, and each kernel equal to
// OpenCV's filter pixel for pixel.

#include "detect/MedianFilter.h"
#include "detect/MedianNetwork.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

namespace {

using namespace TamoHandEye::Detect;

template <std::size_t N>
void Compare(std::array<int, N>& wires, const std::uint8_t (*network)[2], std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    int& a = wires[network[i][0]];
    int& b = wires[network[i][1]];
    if (a > b) std::swap(a, b);
  }
}

// 0–1 principle: a comparator network selects the median of every input with sorted columns when it does
// for every 0–1 input with sorted columns (6 per column: 6⁵ in all); the column sort sorts all 2⁵.
TEST(MedianFilter, NetworkSelectsTheMedianOfEveryInputWithSortedColumns) {
  for (int bits = 0; bits < 32; ++bits) {
    std::array<int, 5> column{};
    for (int r = 0; r < 5; ++r) column[static_cast<std::size_t>(r)] = (bits >> r) & 1;
    Compare(column, kColumnSort, 9);
    EXPECT_TRUE(std::is_sorted(column.begin(), column.end())) << bits;
  }
  for (int code = 0; code < 7776; ++code) {
    std::array<int, 25> wires{};
    int ones = 0;
    for (int c = 0, rest = code; c < 5; ++c, rest /= 6) {
      const int columnOnes = rest % 6;  // the column's top `columnOnes` rows are 1
      for (int r = 5 - columnOnes; r < 5; ++r) wires[static_cast<std::size_t>(c * 5 + r)] = 1;
      ones += columnOnes;
    }
    Compare(wires, kMedianNetwork, sizeof kMedianNetwork / sizeof kMedianNetwork[0]);
    ASSERT_EQ(wires[kMedianWire], ones >= 13 ? 1 : 0) << code;
  }
}

TEST(MedianFilter, EveryKernelEqualsOpenCvsFilter) {
  cv::RNG rng(7);
  for (const MedianKernel kernel : {MedianKernel::Best, MedianKernel::Scalar, MedianKernel::Sse2, MedianKernel::Avx2}) {
    if (!MedianKernelAvailable(kernel)) continue;
    for (const cv::Size size :
         {cv::Size(1, 1), cv::Size(3, 2), cv::Size(5, 5), cv::Size(15, 7), cv::Size(16, 3), cv::Size(17, 31),
          cv::Size(31, 9), cv::Size(32, 33), cv::Size(33, 4), cv::Size(65, 40), cv::Size(647, 480)}) {
      cv::Mat image(size, CV_8UC1);
      rng.fill(image, cv::RNG::UNIFORM, 0, 256);
      if (size.area() > 100) {
        image(cv::Rect(0, 0, size.width / 2, size.height / 3)).setTo(255);  // flat and saturated patches
        image(cv::Rect(size.width / 2, size.height / 2, size.width / 3, size.height / 3)).setTo(0);
      }
      cv::Mat expected, filtered;
      cv::medianBlur(image, expected, 5);
      ASSERT_TRUE(MedianBlur5(image, filtered, kernel));
      EXPECT_EQ(cv::countNonZero(filtered != expected), 0) << static_cast<int>(kernel) << " " << size;
      cv::Mat inPlace = image.clone();
      ASSERT_TRUE(MedianBlur5(inPlace, inPlace, kernel));
      EXPECT_EQ(cv::countNonZero(inPlace != expected), 0) << "in place " << static_cast<int>(kernel) << " " << size;
    }
  }
  cv::Mat colour(4, 4, CV_8UC3), untouched;
  EXPECT_FALSE(MedianBlur5(colour, untouched));
  EXPECT_TRUE(untouched.empty());
}

}  // namespace
