// SPDX-License-Identifier: Apache-2.0
#pragma once

// Marker detection: the centre of the concentric-circle marker in one shot of a 3D camera (a 2D image and
// its organised point cloud, one point per pixel), with its 3D point.
//
// Codes: 0 success (result written); 101 no marker centre found; 102 a centre but no 3D point there;
// 103 neither found reliably (check the image quality); 104 more than one centre; 105 empty input (or an
// empty path); 106 the image is not 8-bit grey or 8-bit three-channel; 107 the point cloud is missing,
// unreadable or does not match the image; 108 image and cloud differ in size. `result` is written only on
// success. No exception leaves these functions.

#include <tarn/ErrorCode.h>
#include <tarn/MarkerBoardResult.h>
#include <tarn/TarnExport.h>

#include <opencv2/core.hpp>

#include <string>

namespace TamoHandEye {

namespace Detect {

/// From an image file (png, jpg, bmp, …) and a PLY file of the same number of points.
TARN_EXPORT ErrorCode SolveMarkerBoardResults(const std::string& imagePath, const std::string& pointCloudPath,
                                              MarkerBoardResult& result);
/// From an image (CV_8UC1 or CV_8UC3, BGR) and a cloud (CV_64FC3, metres, NaN for no point).
TARN_EXPORT ErrorCode SolveMarkerBoardResults(const cv::Mat& image, const cv::Mat& pointCloud,
                                              MarkerBoardResult& result);

}  // namespace Detect

TARN_EXPORT ErrorCode SolveMarkerBoardResults(const std::string& imagePath, const std::string& pointCloudPath,
                                              MarkerBoardResult& result);
TARN_EXPORT ErrorCode SolveMarkerBoardResults(const cv::Mat& image, const cv::Mat& pointCloud,
                                              MarkerBoardResult& result);

/// Which of a shot's two files cannot be used, and why: what to tell the operator when the path form
/// returned 106 or 107 (an unreadable image also gives 107, as no cloud can match it).
struct ShotFileProblem {
  enum File { None = 0, Image = 1, PointCloud = 2 };
  File file = None;    ///< None when both files can be used together
  std::string reason;  ///< UTF-8, in English, without the path: "not a regular file", "truncated", …
};

/// Loads a shot's files as the path form of SolveMarkerBoardResults does, without detecting, and says
/// what is wrong with them. Costs one load of the shot; never throws.
TARN_EXPORT ShotFileProblem DescribeShotFiles(const std::string& imagePath, const std::string& pointCloudPath);

}  // namespace TamoHandEye
