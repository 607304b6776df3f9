// SPDX-License-Identifier: Apache-2.0
#pragma once

// Between the 2D image's pixels and the cloud's grid when the image has its own lens model (see
// ImageIntrinsics in tarn/FittedMarkerDetect.h): undistortion, then the registration's turn and shift.

#include <tarn/FittedMarkerDetect.h>

#include <Eigen/Core>

namespace TamoHandEye {
namespace Detect {

class ImageModel {
 public:
  explicit ImageModel(const ImageIntrinsics& intrinsics);

  /// The grid pixel that sees what image pixel `image` sees; false when the undistortion does not
  /// converge (a point far outside the lens model's range).
  bool ToGrid(const Eigen::Vector2d& image, Eigen::Vector2d& grid) const;
  /// The image pixel that sees what grid pixel `grid` sees.
  Eigen::Vector2d ToImage(const Eigen::Vector2d& grid) const;

 private:
  Eigen::Vector2d Distort(const Eigen::Vector2d& x) const;

  ImageIntrinsics k;
  Eigen::Matrix2d turn;  ///< grid to image, about the principal point
};

}  // namespace Detect
}  // namespace TamoHandEye
