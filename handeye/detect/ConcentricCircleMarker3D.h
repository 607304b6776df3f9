// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "detect/BorderScan.h"
#include "detect/ContourSearch.h"
#include "detect/IMarkerAlgo3D.h"

#include <opencv2/core.hpp>

#include <array>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace TamoHandEye {
namespace Detect {

/// Finds the centre of a concentric-circle marker (four nested circular boundaries: black ring, white
/// ring, black ring, white dot) and its 3D point in the organised cloud.
///
/// Each attempt binarises the median-filtered grey image with one adaptive-threshold pair (half block
/// size h: block 2h + 1, offset C), looks for chains of nested circular contours, and takes the mean of
/// the four boundaries' centroids as the centre. Attempts walk a fixed grid of pairs until one yields
/// exactly one centre with a valid 3D point; after an attempt with exactly one centre the detector keeps
/// rerunning that pair.
class ConcentricCircleMarker3D : public IMarkerAlgo3D {
 public:
  using Pair = std::pair<int, int>;                     ///< (half block size, offset)
  using Rings = std::array<std::vector<cv::Point>, 4>;  ///< a centre's four boundaries, outer to inner

  ConcentricCircleMarker3D(const std::string& imageFile, const std::string& cloudFile);
  ConcentricCircleMarker3D(const cv::Mat& image, const cv::Mat& cloud);

  /// One attempt: 0 with `result` filled, 101 no centre, 104 several, 102 one centre without a valid
  /// 3D point, 106/107 when the input is gone.
  ErrorCode DetectMarker(MarkerBoardResult& result) override;

  /// Runs the attempts (at most paramCount) and returns 0 with `result` filled, the first input error,
  /// the first fit's refusal (109, 110) when every attempt failed and one was refused, or the code
  /// SummarizeFailures derives from the failed attempts. `result` is written only on success.
  ErrorCode Run(MarkerBoardResult& result);

  /// The code for a run whose attempts all failed, from the tallies of each failure.
  ErrorCode SummarizeFailures() const;

  /// Whether a contour is a circle: minimum <= 4π·area / perimeter² <= maximum (false for no area).
  static bool IsCircular(const std::vector<cv::Point>& contour, double minimum, double maximum);

  /// The nested-circle chains of a binary image's contour tree, as groups of four contour indices
  /// (outer to inner). Only complete groups of one chain are kept.
  static std::vector<std::array<int, 4>> FindChains(const std::vector<std::vector<cv::Point>>& contours,
                                                    const std::vector<cv::Vec4i>& hierarchy, double minCircularity);

  /// The adaptive threshold (mean of the block, binary) of the median-filtered grey image, the same as
  /// cv::adaptiveThreshold's; the block mean is made once per block size. The pixels returned are the
  /// detector's one threshold buffer: the next call, and the contour search of an attempt, overwrite
  /// them.
  cv::Mat Binarise(int halfBlock, int offset);

  std::vector<int> noCircleCodes;
  std::vector<int> noPointCodes;
  std::vector<int> multiCircleCodes;
  int paramCount = 0;
  Pair lastGoodParams{-1, -1};
  std::deque<Pair> paramQueue;
  std::vector<int> pointValid;  ///< 1 when the centre's point has finite float coordinates
  std::vector<cv::Point3f> points3D;
  std::vector<cv::Point2f> centers;
  std::vector<Rings> rings;  ///< per centre of the last attempt: the contours it was found from

  /// Whether an attempt after the first whose dark tiles lie in a part of the image spanning neither its
  /// width nor its height first looks there for anything a chain could be made of, and ends at once when
  /// there is nothing (the same outcome: off, every attempt searches the whole image).
  bool cutOutAttempts = true;

  const int medianHalfSize = 2;
  const double minCircularity = 0.8;
  const int blockHalfStart = 50;
  const int blockHalfRange = 100;
  const int paramStep = 10;
  const int offsetStart = 10;
  const int offsetSteps = 5;

 protected:
  /// Runs the next attempt's pair (see the class comment), filling centers, points3D, pointValid, rings.
  void NextAttempt();

 private:
  void Initialise();
  void BuildParamQueue();
  bool RunAttempt(int halfBlock, int offset);
  bool FindCenters(int halfBlock, int offset, std::vector<cv::Point2f>& found, std::vector<Rings>* boundaries);
  /// The median-filtered grey image, made once per detector.
  const cv::Mat& Filtered();
  /// True when the attempt (halfBlock, offset) is sure to find no chain: the borders of its threshold,
  /// scanned in its dark tiles (see tileLeasts), hold no three nested circles a chain needs; or those tiles lie
  /// in a part of the image that, cut out with a white margin, holds nothing a chain could be made of.
  bool SureOfNoChain(int halfBlock, int offset);
  /// Whether some border lies in a circular one, inside a circular one, inside a circular one: what every
  /// chain has (its first three contours and the fourth), whatever the borders' order.
  static bool AnyNestedCircles(const BorderScan& scan, double minCircularity);
  /// Whether the contours hold four nested ones that a chain could be: the first three circular (or, for
  /// the first, a border of the outermost white, whose shape a cut-out changes), each the parent of the
  /// next, the fourth without a circular first child of its own.
  static bool AnyChainShape(const std::vector<std::vector<cv::Point>>& contours,
                            const std::vector<cv::Vec4i>& hierarchy, double minCircularity);
  /// Pixels `c` to `end` (exclusive) of one row of the threshold: 255 where grey − mean > −delta, else 0.
  static void ThresholdRow(const unsigned char* grey, const unsigned char* mean, int delta, int c, int end,
                           unsigned char* binary);
  /// The threshold of the image's `area` (grey − mean > −delta: 255, else 0) into `binary`, whose (0, 0)
  /// is the area's top left; tiles white throughout by `leasts` are written without reading their pixels.
  void ThresholdTiles(const cv::Mat& mean, const cv::Mat& leasts, int delta, const cv::Rect& area, cv::Mat& binary);
  /// The tiles' least differences for a block size whose mean is made, made on first use.
  const cv::Mat& Leasts(int halfBlock);
  /// The least grey − mean over each tile (see tileLeasts).
  static cv::Mat TileLeasts(const cv::Mat& grey, const cv::Mat& mean);

  // An attempt's outcome depends only on its pair: each pair runs once per detector.
  struct Outcome {
    bool found = false;
    std::vector<cv::Point2f> centers;
    std::vector<cv::Point3f> points3D;
    std::vector<int> pointValid;
    std::vector<Rings> rings;
  };
  std::map<Pair, Outcome> outcomes;
  cv::Mat filtered;
  std::map<int, cv::Mat> blockMeans;
  /// Per block size, the least pixel − mean over each tile of kTileRows × 16 pixels (CV_16SC1): a tile
  /// whose least lies above a threshold's bound is white throughout under it.
  std::map<int, cv::Mat> tileLeasts;
  static constexpr int kTileRows = 8;
  ContourSearch contourSearch;  ///< holds the last threshold's pixels: one buffer for every attempt
  ContourSearch cutOutSearch;   ///< the same for the cut-outs of SureOfNoChain
  BorderScan borderScan;        ///< the later attempts' borders, in their dark tiles
};

/// The row (or column) SampleCloud reads first for coordinate `v` in a cloud of `size` rows (columns); it
/// also reads the one after, when there is one.
int CloudIndex(double v, int size);

/// Bilinear interpolation of a CV_64FC3 cloud at row y, column x; neighbours beyond the last row or
/// column are taken from the border. A NaN among the four neighbours makes that coordinate NaN.
cv::Vec3d SampleCloud(const cv::Mat& cloud, double y, double x);

}  // namespace Detect
}  // namespace TamoHandEye
