// SPDX-License-Identifier: Apache-2.0
// The tile-skipping border scan against cv::findContours on the same thresholds: every border, its parent,
// its walk's area, length and circularity.

#include "detect/BorderScan.h"
#include "detect/ConcentricCircleMarker3D.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <climits>
#include <map>
#include <random>
#include <tuple>
#include <vector>

namespace {

using TamoHandEye::Detect::BorderScan;
using TamoHandEye::Detect::ConcentricCircleMarker3D;

constexpr int kTileRows = 8;

// The least grey − mean over each tile of kTileRows × 16 pixels.
cv::Mat Leasts(const cv::Mat& grey, const cv::Mat& mean) {
  cv::Mat leasts((grey.rows + kTileRows - 1) / kTileRows, (grey.cols + 15) / 16, CV_16SC1, cv::Scalar(SHRT_MAX));
  for (int r = 0; r < grey.rows; ++r) {
    for (int c = 0; c < grey.cols; ++c) {
      short& least = leasts.at<short>(r / kTileRows, c / 16);
      least = std::min(least, static_cast<short>(grey.at<unsigned char>(r, c) - mean.at<unsigned char>(r, c)));
    }
  }
  return leasts;
}

struct Scene {
  cv::Mat grey, mean;
  int delta;
};

// Grey scenes as the marker search thresholds them: a bright board with a dark margin round it on a grey
// ground (tiles white throughout inside it), rings and blobs on it, noise of several strengths, sizes that
// leave part tiles; and bare binary images (speckle touching every edge, all set, all clear).
std::vector<Scene> Scenes() {
  std::vector<Scene> scenes;
  std::mt19937 random(11);
  for (const cv::Size size : {cv::Size(331, 203), cv::Size(97, 41)}) {
    for (const double noise : {0.0, 2.0, 12.0}) {
      cv::Mat grey(size, CV_8UC1, cv::Scalar(110));
      const cv::Rect board(size.width / 6, size.height / 7, size.width * 2 / 3, size.height * 2 / 3);
      cv::rectangle(grey, board, cv::Scalar(225), cv::FILLED);
      const cv::Point centre(board.x + board.width / 3, board.y + board.height / 2);
      for (int radius = board.height / 4, value = 20; radius > 1; radius -= radius / 4 + 1, value = 245 - value)
        cv::circle(grey, centre, radius, cv::Scalar(value), cv::FILLED);
      for (int k = 0; k < 6; ++k) {
        const cv::Point at(board.x + static_cast<int>(random() % static_cast<unsigned>(board.width)),
                           board.y + static_cast<int>(random() % static_cast<unsigned>(board.height)));
        cv::ellipse(grey, at, cv::Size(2 + static_cast<int>(random() % 9), 2 + static_cast<int>(random() % 6)),
                    static_cast<double>(random() % 180), 0, 360, cv::Scalar(k % 2 ? 90 : 200), cv::FILLED);
      }
      cv::Mat jitter(size, CV_32FC1);
      cv::randn(jitter, 0.0, noise);
      cv::Mat shaded;
      grey.convertTo(shaded, CV_32FC1);
      cv::Mat(shaded + jitter).convertTo(grey, CV_8UC1);
      for (const int half : {3, 25}) {
        cv::Mat mean;
        cv::boxFilter(grey, mean, CV_8U, cv::Size(2 * half + 1, 2 * half + 1), cv::Point(-1, -1), true,
                      cv::BORDER_REPLICATE | cv::BORDER_ISOLATED);
        for (const int delta : {0, 6, 14}) scenes.push_back({grey, mean, delta});
      }
    }
  }
  // A pixel on its own at every other column and row: forty thousand borders.
  cv::Mat lattice(400, 400, CV_8UC1, cv::Scalar(0));
  for (int r = 0; r < lattice.rows; r += 2) {
    for (int c = 0; c < lattice.cols; c += 2) lattice.at<unsigned char>(r, c) = 255;
  }
  scenes.push_back({lattice, cv::Mat(lattice.size(), CV_8UC1, cv::Scalar(128)), 0});
  for (const cv::Size size :
       {cv::Size(1, 1), cv::Size(1, 9), cv::Size(17, 1), cv::Size(45, 23), cv::Size(160, 120), cv::Size(480, 400)}) {
    for (const double density : {0.05, 0.5, 0.95, 0.0, 1.0}) {
      cv::Mat grey(size, CV_8UC1);
      std::bernoulli_distribution on(density);
      for (int r = 0; r < size.height; ++r) {
        for (int c = 0; c < size.width; ++c) grey.at<unsigned char>(r, c) = on(random) ? 255 : 0;
      }
      scenes.push_back({grey, cv::Mat(size, CV_8UC1, cv::Scalar(128)), 0});
    }
  }
  return scenes;
}

TEST(BorderScan, WalksEveryBorderAsTheContourSearch) {
  BorderScan scan;  // one scan for every scene: its labels are put back and reused across sizes
  int compared = 0;
  for (const Scene& scene : Scenes()) {
    cv::Mat difference;
    cv::subtract(scene.grey, scene.mean, difference, cv::noArray(), CV_16S);
    const cv::Mat white = difference > -scene.delta;
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> tree;
    cv::findContours(white, contours, tree, cv::RETR_TREE, cv::CHAIN_APPROX_NONE);
    scan.Scan(scene.grey, scene.mean, Leasts(scene.grey, scene.mean), kTileRows, scene.delta);
    const std::vector<BorderScan::Border>& borders = scan.Borders();
    ASSERT_EQ(borders.size(), contours.size()) << scene.grey.size() << " delta " << scene.delta;

    // Borders are known by their first pixel and kind (a hole's first pixel is white, left of the hole).
    std::map<std::tuple<int, int, bool>, int> byOrigin;
    for (std::size_t i = 0; i < borders.size(); ++i)
      byOrigin[{borders[i].origin.x, borders[i].origin.y, borders[i].hole}] = static_cast<int>(i);
    std::vector<int> depth(contours.size(), -1);
    std::vector<int> mine(contours.size(), -1);
    for (std::size_t i = 0; i < contours.size(); ++i) {  // a parent comes before its children
      const int parent = tree[i][3];
      depth[i] = parent < 0 ? 0 : depth[static_cast<std::size_t>(parent)] + 1;
      const auto found = byOrigin.find({contours[i][0].x, contours[i][0].y, depth[i] % 2 == 1});
      ASSERT_NE(found, byOrigin.end()) << "border from " << contours[i][0] << " not scanned";
      mine[i] = found->second;
      const BorderScan::Border& border = borders[static_cast<std::size_t>(found->second)];
      EXPECT_EQ(border.parent, parent < 0 ? -1 : mine[static_cast<std::size_t>(parent)]) << contours[i][0];
      const BorderScan::Walk walk = scan.WalkOf(found->second);
      EXPECT_EQ(static_cast<double>(std::llabs(walk.twiceArea)) * 0.5, cv::moments(contours[i]).m00);
      EXPECT_EQ(walk.straight + walk.diagonal, contours[i].size() > 1 ? static_cast<int>(contours[i].size()) : 0);
      for (const double minimum : {0.5, 0.8})
        EXPECT_EQ(BorderScan::Circular(walk, minimum, 1.0),
                  ConcentricCircleMarker3D::IsCircular(contours[i], minimum, 1.0));
      ++compared;
    }
  }
  EXPECT_GT(compared, 2000);
}

}  // namespace
