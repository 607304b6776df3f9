// SPDX-License-Identifier: Apache-2.0
// The contour search in a kept frame against OpenCV's own cv::findContours on the same images.

#include "detect/ContourSearch.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <random>
#include <string>
#include <vector>

namespace {

using TamoHandEye::Detect::ContourSearch;

// Images a threshold can give: speckle of several densities (foreground touching every edge included),
// nested rings, blobs with holes, all set and all clear; sizes from one pixel up.
std::vector<cv::Mat> Images() {
  std::vector<cv::Mat> images;
  std::mt19937 random(7);
  for (const cv::Size size : {cv::Size(1, 1), cv::Size(1, 7), cv::Size(9, 1), cv::Size(33, 17), cv::Size(160, 120)}) {
    for (const double density : {0.05, 0.5, 0.95}) {
      cv::Mat image(size, CV_8UC1);
      std::bernoulli_distribution on(density);
      for (int r = 0; r < size.height; ++r) {
        for (int c = 0; c < size.width; ++c) image.at<unsigned char>(r, c) = on(random) ? 255 : 0;
      }
      images.push_back(image);
    }
    images.push_back(cv::Mat(size, CV_8UC1, cv::Scalar(255)));
    images.push_back(cv::Mat(size, CV_8UC1, cv::Scalar(0)));
  }
  cv::Mat rings(240, 320, CV_8UC1, cv::Scalar(255));
  for (int k = 0; k < 3; ++k) {
    const cv::Point centre(60 + 100 * k, 120);
    for (int radius = 50, value = 0; radius > 0; radius -= 10, value = 255 - value)
      cv::circle(rings, centre, radius, cv::Scalar(value), cv::FILLED);
  }
  cv::rectangle(rings, cv::Rect(0, 0, 320, 240), cv::Scalar(0), 3);  // and a frame along the edge
  images.push_back(rings);
  cv::Mat blobs(200, 300, CV_8UC1, cv::Scalar(0));
  for (int k = 0; k < 40; ++k) {
    const cv::Point centre(static_cast<int>(random() % 300), static_cast<int>(random() % 200));
    cv::ellipse(blobs, centre, cv::Size(5 + static_cast<int>(random() % 30), 5 + static_cast<int>(random() % 20)),
                static_cast<double>(random() % 180), 0, 360, cv::Scalar(k % 3 ? 255 : 0), cv::FILLED);
  }
  images.push_back(blobs);
  return images;
}

TEST(ContourSearch, FindsWhatOpenCvFindsInTheSameOrder) {
  ContourSearch search;  // one search for every image: the frame and storage are reused across sizes
  int nonEmpty = 0;
  for (const cv::Mat& image : Images()) {
    std::vector<std::vector<cv::Point>> expected;
    std::vector<cv::Vec4i> expectedTree;
    cv::findContours(image, expected, expectedTree, cv::RETR_TREE, cv::CHAIN_APPROX_NONE);
    image.copyTo(search.Frame(image.size()));
    std::vector<std::vector<cv::Point>> contours{{cv::Point(1, 1)}};  // what the vectors held is replaced
    std::vector<cv::Vec4i> tree{cv::Vec4i(9, 9, 9, 9)};
    search.Find(contours, tree);
    const std::string name = std::to_string(image.cols) + " x " + std::to_string(image.rows);
    EXPECT_EQ(contours, expected) << name;
    EXPECT_EQ(tree, expectedTree) << name;
    nonEmpty += !expected.empty();
  }
  EXPECT_GE(nonEmpty, 15);
}

}  // namespace
