// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "detect/PlyReader.h"

#include <opencv2/core.hpp>

#include <limits>
#include <memory>

namespace TamoHandEye {
namespace Detect {

/// One shot of a 3D camera: the 2D image (CV_8UC1 or CV_8UC3) and its organised cloud (CV_64FC3, one
/// point per image pixel, x, y, z; a missing point is NaN). The matrices share their pixels with whoever
/// made them. Read the cloud's rows through LoadRows first.
struct Image {
  cv::Mat image;
  cv::Mat cloud;
  /// Rows of `cloud` still in its file (a shot loaded from files reads only the rows detection uses);
  /// empty when every row is there.
  std::shared_ptr<PendingCloudRows> pending;
  bool cloudLost = false;  ///< a pending row could not be read: the file changed since it was opened

  /// Makes rows `first` to `last` of the cloud (their columns `firstCol` to `lastCol`) hold their
  /// points; false when they cannot be read.
  bool LoadRows(int first, int last, int firstCol = 0, int lastCol = std::numeric_limits<int>::max()) {
    if (cloudLost) return false;
    if (pending && !pending->Load(first, last, firstCol, lastCol)) cloudLost = true;
    return !cloudLost;
  }
};

}  // namespace Detect
}  // namespace TamoHandEye
