#pragma once

#include <opencv2/core.hpp>

namespace TamoHandEye {
namespace Detect {

/// One shot of a 3D camera: the 2D image (CV_8UC1 or CV_8UC3) and its organised cloud (CV_64FC3, one
/// point per image pixel, x, y, z; a missing point is NaN). The matrices share their pixels with whoever
/// made them.
struct Image {
  cv::Mat image;
  cv::Mat cloud;
};

}  // namespace Detect
}  // namespace TamoHandEye
