// SPDX-License-Identifier: Apache-2.0
#include <tarn/FittedMarkerDetect.h>

#include "api/LibraryLogger.h"
#include "detect/FittedCircleMarker3D.h"

#include <Eigen/Geometry>

#include <cmath>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <type_traits>

namespace TamoHandEye {
namespace {

// Runs the fitting detector built from `inputs` (two paths or two matrices).
void FillQuality(const Detect::MarkerFit& fit, MarkerFitQuality& quality) {
  for (int i = 0; i < 4; ++i) quality.radiiMm[i] = 1000.0 * fit.radii[static_cast<std::size_t>(i)];
  quality.ratioDeviation = fit.ratioDeviation;
  quality.planeRmsMm = 1000.0 * fit.planeRms;
  quality.edgePoints = fit.edgePoints;
  quality.planePoints = fit.planePoints;
  quality.edgeOffsetPx = fit.edgeOffsetPx;
  for (std::size_t i = 0; i < 4; ++i) quality.boundaryUsed[i] = fit.used[i];
  quality.centreSigmaMm = 1000.0 * fit.centreSigma;
  quality.markerRadiusMm = 1000.0 * fit.markerRadius;
  quality.outerRadiusSigmaMm = 1000.0 * fit.outerRadiusSigma;
}

void FillPlane(const Detect::MarkerFit& fit, MarkerPlaneResult& plane) {
  const Eigen::Vector3d n = fit.normal;
  plane.x = fit.centre.x();
  plane.y = fit.centre.y();
  plane.z = fit.centre.z();
  plane.u = fit.pixel.x();
  plane.v = fit.pixel.y();
  plane.nx = n.x();
  plane.ny = n.y();
  plane.nz = n.z();
  const Eigen::Vector3d away = std::abs(n.x()) < 0.9 ? Eigen::Vector3d::UnitX() : Eigen::Vector3d::UnitY();
  const Eigen::Vector3d a1 = n.cross(away).normalized(), a2 = n.cross(a1);
  Eigen::Matrix<double, 3, 2> axes;
  axes << a1, a2;
  // A small turn θ about a moves n by θ (a × n): the normal's change projected on a × n.
  Eigen::Matrix<double, 2, 3> toTurns;
  toTurns << a1.cross(n).transpose(), a2.cross(n).transpose();
  const Eigen::Matrix2d turns = toTurns * fit.normalCovariance * toTurns.transpose();
  for (int k = 0; k < 3; ++k) {
    plane.normalAxes[k] = axes(k, 0);
    plane.normalAxes[3 + k] = axes(k, 1);
  }
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) plane.normalCovariance[2 * r + c] = turns(r, c);
  }
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) plane.centreCovariance[3 * r + c] = fit.centreCovariance(r, c);
  }
}

// The fitting detector for `image` and `cloud` (two paths or two matrices), or the code that refuses them.
template <typename Input>
ErrorCode MakeDetector(const Input& image, const Input& cloud,
                       std::unique_ptr<Detect::FittedCircleMarker3D>& detector) {
  if constexpr (std::is_same_v<Input, std::string>) {
    if (image.empty() || cloud.empty()) return Err_Data_Empty;
    detector = std::make_unique<Detect::FittedCircleMarker3D>(image, cloud);
    return static_cast<ErrorCode>(detector->status);
  } else {
    if (const auto code = Detect::IMarkerAlgo3D::CheckInput(image, cloud); code != Detect::Success) {
      return static_cast<ErrorCode>(code);
    }
    detector = std::make_unique<Detect::FittedCircleMarker3D>(image, cloud);
    return Success;
  }
}

// Runs the fitting detector built from two paths or two matrices.
template <typename Input>
ErrorCode Solve(const Input& image, const Input& cloud, const ImageIntrinsics* intrinsics, MarkerBoardResult* result,
                MarkerFitQuality* quality, MarkerPlaneResult* plane = nullptr) {
  try {
    if (intrinsics) {
      if (const std::string problem = CheckImageIntrinsics(*intrinsics); !problem.empty()) {
        std::cerr << "marker fit: " << problem << std::endl;
        return Err_Data_Invalid_Image;
      }
    }
    std::unique_ptr<Detect::FittedCircleMarker3D> detector;
    if (const ErrorCode code = MakeDetector(image, cloud, detector); code != Success) return code;
    std::optional<Detect::ImageModel> model;
    if (intrinsics) {
      const cv::Size size = detector->data ? detector->data->image.size() : cv::Size();
      if (intrinsics->width > 0 && intrinsics->height > 0 &&
          (intrinsics->width != size.width || intrinsics->height != size.height)) {
        std::cerr << "marker fit: the 2D camera's intrinsics are for " << intrinsics->width << " x "
                  << intrinsics->height << " pixels, the image has " << size.width << " x " << size.height << std::endl;
        return Err_Data_Size_Mismatch;
      }
      model.emplace(*intrinsics);
      detector->model = &*model;
    }
    Detect::MarkerBoardResult local;
    const auto code = static_cast<ErrorCode>(detector->Run(local));
    if (code == Success && result) *result = MarkerBoardResult{local.x, local.y, local.z, local.u, local.v};
    if (code == Success && plane) FillPlane(detector->fit, *plane);
    if (quality && detector->fitted &&
        (code == Success || code == Err_Algo_Marker_Fit_NotMarker || code == Err_Algo_Marker_Fit_TooFewPoints)) {
      FillQuality(code == Success ? detector->fit : detector->firstRefused, *quality);
    }
    return code;
  } catch (const std::exception& e) {
    std::cerr << "marker fit: " << e.what() << std::endl;
    return std::is_same_v<Input, std::string> ? Err_Data_Invalid_PointCloud : Err_Data_Invalid_Image;
  }
}

}  // namespace

ErrorCode SolveFittedMarkerResults(const std::string& imagePath, const std::string& pointCloudPath,
                                   MarkerBoardResult& result) {
  return Solve(imagePath, pointCloudPath, nullptr, &result, nullptr);
}

ErrorCode SolveFittedMarkerResults(const std::string& imagePath, const std::string& pointCloudPath,
                                   MarkerBoardResult& result, MarkerFitQuality& quality) {
  return Solve(imagePath, pointCloudPath, nullptr, &result, &quality);
}

ErrorCode SolveFittedMarkerResults(const cv::Mat& image, const cv::Mat& pointCloud, MarkerBoardResult& result) {
  return Solve(image, pointCloud, nullptr, &result, nullptr);
}

ErrorCode SolveFittedMarkerResults(const cv::Mat& image, const cv::Mat& pointCloud, MarkerBoardResult& result,
                                   MarkerFitQuality& quality) {
  return Solve(image, pointCloud, nullptr, &result, &quality);
}

ErrorCode SolveFittedMarkerResults(const std::string& imagePath, const std::string& pointCloudPath,
                                   const ImageIntrinsics& intrinsics, MarkerBoardResult& result,
                                   MarkerFitQuality& quality) {
  return Solve(imagePath, pointCloudPath, &intrinsics, &result, &quality);
}

ErrorCode SolveFittedMarkerResults(const cv::Mat& image, const cv::Mat& pointCloud, const ImageIntrinsics& intrinsics,
                                   MarkerBoardResult& result, MarkerFitQuality& quality) {
  return Solve(image, pointCloud, &intrinsics, &result, &quality);
}

ErrorCode SolveFittedMarkerPlane(const std::string& imagePath, const std::string& pointCloudPath,
                                 MarkerPlaneResult& result, MarkerFitQuality& quality,
                                 const ImageIntrinsics* intrinsics) {
  return Solve(imagePath, pointCloudPath, intrinsics, nullptr, &quality, &result);
}

ErrorCode SolveFittedMarkerPlane(const cv::Mat& image, const cv::Mat& pointCloud, MarkerPlaneResult& result,
                                 MarkerFitQuality& quality, const ImageIntrinsics* intrinsics) {
  return Solve(image, pointCloud, intrinsics, nullptr, &quality, &result);
}

}  // namespace TamoHandEye
