// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "detect/IMarkerAlgo.h"
#include "detect/Image.h"

#include <tarn/MarkerDetect.h>

#include <opencv2/core.hpp>

#include <memory>
#include <string>

namespace TamoHandEye {
namespace Detect {

/// A detector whose input is one shot: an image and its organised point cloud.
class IMarkerAlgo3D : public IMarkerAlgo {
 public:
  /// Loads a shot from an image file (any format OpenCV reads, kept as stored) and a PLY file of the
  /// image's size. The outcome is in `status`: 0 usable, 106 the image is not 8-bit grey or 8-bit
  /// three-channel, 107 the cloud cannot be read or does not fit the image (an unreadable image too).
  /// Only regular files are opened (never waiting on a FIFO); when the image's header states its size,
  /// the cloud is checked against it before the image is decoded.
  /// With either path empty nothing is loaded: `status` stays 0 and `data` empty.
  IMarkerAlgo3D(const std::string& imageFile, const std::string& cloudFile);
  /// Wraps two matrices without checking them (see CheckInput).
  IMarkerAlgo3D(const cv::Mat& image, const cv::Mat& cloud);

  /// Loads a shot from its two files as the path constructor does: 0 (image and cloud filled), 106 or
  /// 107, with `problem` naming the file at fault and why.
  /// With `pending` given, a binary cloud of fixed-size vertices is checked but its rows are left in the
  /// file for `pending` to read (see OpenOrganizedCloud); the refusals are the same.
  static int Load(const std::string& imageFile, const std::string& cloudFile, cv::Mat& image, cv::Mat& cloud,
                  ShotFileProblem& problem, std::unique_ptr<PendingCloudRows>* pending = nullptr);

  /// The checks of the matrix form, in order: 105 empty image, 105 empty cloud, 106 image neither
  /// CV_8UC1 nor CV_8UC3, 107 cloud not CV_64FC3, 108 rows or columns differ (a cloud of the same number
  /// of points in another shape would pair points with the wrong pixels); 0 when all pass.
  static ErrorCode CheckInput(const cv::Mat& image, const cv::Mat& cloud);

  int status = 0;
  std::string imagePath;
  std::string cloudPath;
  std::shared_ptr<Image> data;

 protected:
  /// The check before every attempt and after it: 107 empty cloud or a cloud whose rows could not be read,
  /// then 106 empty image, else 0.
  ErrorCode CheckAttempt() const;
};

}  // namespace Detect
}  // namespace TamoHandEye
