// SPDX-License-Identifier: Apache-2.0
#include <tarn/MarkerDetect.h>

#include "api/LibraryLogger.h"
#include "detect/ConcentricCircleMarker3D.h"

#include <exception>
#include <iostream>

namespace TamoHandEye {
namespace Detect {

ErrorCode SolveMarkerBoardResults(const std::string& imagePath, const std::string& pointCloudPath,
                                  MarkerBoardResult& result) {
  if (imagePath.empty() || pointCloudPath.empty()) return Err_Data_Empty;
  try {
    ConcentricCircleMarker3D detector(imagePath, pointCloudPath);
    if (detector.status != 0) return static_cast<ErrorCode>(detector.status);
    return detector.Run(result);
  } catch (const std::exception& e) {
    // Loading goes through readers that report by return value; anything thrown still must not reach
    // the caller. The cloud is what could not be used.
    std::cerr << "marker detection: " << e.what() << std::endl;
    return Err_Data_Invalid_PointCloud;
  }
}

ErrorCode SolveMarkerBoardResults(const cv::Mat& image, const cv::Mat& pointCloud, MarkerBoardResult& result) {
  if (const ErrorCode code = IMarkerAlgo3D::CheckInput(image, pointCloud); code != Success) return code;
  try {
    ConcentricCircleMarker3D detector(image, pointCloud);
    return detector.Run(result);
  } catch (const std::exception& e) {
    std::cerr << "marker detection: " << e.what() << std::endl;
    return Err_Data_Invalid_Image;
  }
}

}  // namespace Detect

namespace {

template <typename... Inputs>
ErrorCode Forward(MarkerBoardResult& result, const Inputs&... inputs) {
  Detect::MarkerBoardResult local;
  const Detect::ErrorCode code = Detect::SolveMarkerBoardResults(inputs..., local);
  if (code == Detect::Success) result = MarkerBoardResult{local.x, local.y, local.z, local.u, local.v};
  return static_cast<ErrorCode>(static_cast<std::int32_t>(code));
}

}  // namespace

ErrorCode SolveMarkerBoardResults(const std::string& imagePath, const std::string& pointCloudPath,
                                  MarkerBoardResult& result) {
  return Forward(result, imagePath, pointCloudPath);
}

ErrorCode SolveMarkerBoardResults(const cv::Mat& image, const cv::Mat& pointCloud, MarkerBoardResult& result) {
  return Forward(result, image, pointCloud);
}

ShotFileProblem DescribeShotFiles(const std::string& imagePath, const std::string& pointCloudPath) {
  if (imagePath.empty()) return {ShotFileProblem::Image, "no file name"};
  if (pointCloudPath.empty()) return {ShotFileProblem::PointCloud, "no file name"};
  try {
    cv::Mat image, cloud;
    ShotFileProblem problem;
    std::unique_ptr<Detect::PendingCloudRows> rows;  // the checks need no row of the cloud
    Detect::IMarkerAlgo3D::Load(imagePath, pointCloudPath, image, cloud, problem, &rows);
    return problem;
  } catch (const std::exception& e) {
    return {ShotFileProblem::PointCloud, e.what()};
  } catch (...) {
    return {ShotFileProblem::PointCloud, "cannot be read"};
  }
}

}  // namespace TamoHandEye
