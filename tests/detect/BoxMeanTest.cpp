// SPDX-License-Identifier: Apache-2.0
// The block mean made from its own sums against OpenCV's box filter, pixel for pixel.

#include "detect/BoxMean.h"
#include "detect/BoxMeanRows.h"
#include "detect/ProcessorFeatures.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using namespace TamoHandEye::Detect;

cv::Mat Filtered(const cv::Mat& grey, int half) {
  cv::Mat mean;
  cv::boxFilter(grey, mean, CV_8U, cv::Size(2 * half + 1, 2 * half + 1), cv::Point(-1, -1), true,
                cv::BORDER_REPLICATE | cv::BORDER_ISOLATED);
  return mean;
}

std::vector<const BoxMeanRows*> Kernels() {
  std::vector<const BoxMeanRows*> kernels{&BaselineBoxMeanRows()};
  if (Avx2BoxMeanRows() && ProcessorHasAvx2()) kernels.push_back(Avx2BoxMeanRows());
  return kernels;
}

TEST(BoxMean, EqualsTheBoxFilter) {
  cv::RNG rng(11);
  for (const cv::Size size :
       {cv::Size(1, 1), cv::Size(19, 3), cv::Size(37, 300), cv::Size(301, 41), cv::Size(1283, 517)}) {
    cv::Mat grey(size, CV_8UC1);
    rng.fill(grey, cv::RNG::UNIFORM, 0, 256);
    if (size.area() > 1000) {
      grey(cv::Rect(0, 0, size.width / 2, size.height / 3)).setTo(255);
      cv::GaussianBlur(grey, grey, cv::Size(0, 0), 3.0);  // smooth ramps, as a shot's grey is
    }
    for (const int half : {1, 7, 8, 10, 50, 140}) {
      cv::Mat own, mean;
      BoxMean(grey, half, mean);
      EXPECT_EQ(cv::norm(mean, Filtered(grey, half), cv::NORM_INF), 0.0) << size << " half " << half;
      if (half < 8 || size.width < 3) continue;
      for (const BoxMeanRows* rows : Kernels()) {
        EXPECT_TRUE(BoxMeanOwn(grey, half, own, rows)) << size << " half " << half << " lanes " << rows->lanes;
        EXPECT_EQ(cv::norm(own, mean, cv::NORM_INF), 0.0) << size << " half " << half << " lanes " << rows->lanes;
      }
    }
  }
}

// Sums so close to a half that single and double precision round them apart: the filter rounds its vector
// loop's columns one way and its tail's the other, and the own mean must do the same column by column.
TEST(BoxMean, RoundsEachColumnAsTheFilter) {
  const int half = 140;
  const int block = 2 * half + 1;
  const int area = block * block;
  const auto single = static_cast<float>(1.0 / area);
  int sum = 128 * area;
  while (std::lrint(static_cast<float>(sum) * single) == std::lrint(static_cast<double>(sum) / area)) ++sum;
  // 300 columns: the tail of a vector loop of 8 or 16 lanes. On the middle row, the block of every column
  // from 158 to the last holds all rows and columns 160 to 298, where the sum's remainder is spread.
  cv::Mat grey(block, 300, CV_8UC1, cv::Scalar(sum / area));
  int rest = sum % area;
  for (int r = 0; r < block && rest > 0; ++r) {
    for (int c = 160; c <= 298 && rest > 0; ++c) {
      const int add = std::min(rest, 100);
      grey.at<unsigned char>(r, c) += static_cast<unsigned char>(add);
      rest -= add;
    }
  }
  const cv::Mat expected = Filtered(grey, half);
  const auto inSingle = static_cast<unsigned char>(std::lrint(static_cast<float>(sum) * single));
  ASSERT_EQ(expected.at<unsigned char>(half, 158), inSingle);  // the vector loop's rounding
  for (const BoxMeanRows* rows : Kernels()) {
    cv::Mat own;
    ASSERT_TRUE(BoxMeanOwn(grey, half, own, rows));
    EXPECT_EQ(cv::norm(own, expected, cv::NORM_INF), 0.0) << rows->lanes;
  }
  cv::Mat mean;
  BoxMean(grey, half, mean);
  EXPECT_EQ(cv::norm(mean, expected, cv::NORM_INF), 0.0);
}

}  // namespace
