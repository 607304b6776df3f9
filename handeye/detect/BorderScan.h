// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <opencv2/core.hpp>

#include <utility>
#include <vector>

namespace TamoHandEye {
namespace Detect {

/// The borders of a threshold image — white where grey − mean > −delta — that cv::findContours finds with
/// RETR_TREE and CHAIN_APPROX_NONE, each known by its first pixel, its kind and its parent, found without
/// walking them: each row is cut into runs of one colour, the runs joined into regions (white ones by
/// their eight neighbours, black ones by their four, the black beyond the image's edge one region), and
/// every region but that outer black has one border — a white region's outer border, or the hole border
/// round a black one — whose parent is the border of the region that holds it. Only the tiles that are
/// not white throughout are read; a walk is made only when asked for.
class BorderScan {
 public:
  struct Border {
    int parent = -1;  ///< the enclosing border (an index into Borders()), −1 for the image's frame
    bool hole = false;
    cv::Point origin;  ///< the walk's first pixel: a white region's first, or the one left of a black region's first
  };

  /// A border's walk, as cv::findContours' points go round it.
  struct Walk {
    long long twiceArea = 0;  ///< its signed shoelace sum
    int straight = 0;         ///< its steps along a row or a column
    int diagonal = 0;         ///< its diagonal steps
  };

  /// The borders of the threshold of `grey` (CV_8UC1) against `mean` (CV_8UC1, the same size) with bound
  /// `delta`, in the order cv::findContours' raster scan meets them. `leasts` (CV_16SC1) holds the least
  /// grey − mean over each tile of `tileRows` × 16 pixels: a tile whose least is above −delta is white
  /// throughout.
  void Scan(const cv::Mat& grey, const cv::Mat& mean, const cv::Mat& leasts, int tileRows, int delta);

  const std::vector<Border>& Borders() const { return borders; }

  /// The walk round border `index` of the last scan.
  Walk WalkOf(int index) const;

  /// Whether 4π·area / length² of a walk lies in [minimum, maximum], computed as it is from cv::moments
  /// and cv::arcLength of its points (a walk without area is not circular).
  static bool Circular(const Walk& walk, double minimum, double maximum);

 private:
  struct Run {
    int start, end, row;
    bool white;
  };
  void CutRow(int y, const cv::Mat& grey, const cv::Mat& mean, int delta, const std::pair<int, int>* dark,
              const std::pair<int, int>* darkEnd);
  void JoinRows(std::size_t previous, std::size_t current, std::size_t end);
  int Find(int run);
  void Unite(int a, int b);
  void Restore();

  cv::Mat framed;         ///< the threshold inside a border of zeros, one pixel wide (255 white, 0 black)
  std::vector<Run> runs;  ///< in raster order; run 0 stands for the black beyond the image's edge
  std::vector<int> up;    ///< each run's link towards its region's first run
  std::vector<Border> borders;
  std::vector<std::pair<int, int>> spans;  ///< per band, its runs of dark tiles (first, end column)
  std::vector<int> spanStarts;             ///< each band's first span
  std::vector<std::pair<int, std::pair<int, int>>> thresholded;  ///< runs of dark tiles written (band, columns)
  int bandRows = 1;
};

}  // namespace Detect
}  // namespace TamoHandEye
