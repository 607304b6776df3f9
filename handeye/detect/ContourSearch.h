// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <opencv2/core.hpp>

#include <memory>
#include <vector>

struct CvMemStorage;

namespace TamoHandEye {
namespace Detect {

/// Every contour of a binary image with its hierarchy, as cv::findContours finds them with RETR_TREE and
/// CHAIN_APPROX_NONE (the same contours, in the same order, with the same hierarchy), in memory kept from
/// one image to the next: the image is written straight into Frame() — which is framed by a one-pixel
/// border the search needs, so it is not copied into one — and the contours' storage is reused.
class ContourSearch {
 public:
  ContourSearch();
  ~ContourSearch();
  ContourSearch(const ContourSearch&);  ///< a search of its own: nothing is shared
  ContourSearch& operator=(const ContourSearch&);

  /// The pixels of the next image (CV_8UC1, `size`): any non-zero pixel is foreground. They stay valid
  /// until the next call and are overwritten by Find.
  cv::Mat Frame(cv::Size size);

  /// The contours of the image in Frame() and, per contour, (next, previous, first child, parent), -1
  /// for none.
  void Find(std::vector<std::vector<cv::Point>>& contours, std::vector<cv::Vec4i>& hierarchy);

 private:
  cv::Mat framed;  ///< the image inside a border of zeros, one pixel wide
  struct Release {
    void operator()(CvMemStorage* storage) const;
  };
  std::unique_ptr<CvMemStorage, Release> storage;
};

}  // namespace Detect
}  // namespace TamoHandEye
