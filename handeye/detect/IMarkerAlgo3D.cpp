#include "detect/IMarkerAlgo3D.h"

#include "api/LibraryLogger.h"
#include "detect/PlyReader.h"

#include <opencv2/imgcodecs.hpp>

namespace TamoHandEye {
namespace Detect {
namespace {
bool Usable(const cv::Mat& image) { return image.type() == CV_8UC1 || image.type() == CV_8UC3; }
}  // namespace

IMarkerAlgo3D::IMarkerAlgo3D(const std::string& imageFile, const std::string& cloudFile)
    : imagePath(imageFile), cloudPath(cloudFile) {
  if (imagePath.empty() || cloudPath.empty()) return;
  const cv::Mat image = cv::imread(imagePath, cv::IMREAD_UNCHANGED);
  const cv::Mat cloud = ReadOrganizedCloud(cloudPath, image.rows, image.cols);
  if (cloud.empty()) {
    status = Err_Data_Invalid_PointCloud;
  } else if (!Usable(image)) {
    status = Err_Data_Invalid_Image;
  } else {
    data = std::make_shared<Image>(Image{image, cloud});
  }
}

IMarkerAlgo3D::IMarkerAlgo3D(const cv::Mat& image, const cv::Mat& cloud)
    : data(std::make_shared<Image>(Image{image, cloud})) {}

ErrorCode IMarkerAlgo3D::CheckInput(const cv::Mat& image, const cv::Mat& cloud) {
  if (image.empty()) return Err_Data_Empty;
  if (cloud.empty()) return Err_Data_Empty;
  if (!Usable(image)) return Err_Data_Invalid_Image;
  if (cloud.type() != CV_64FC3) return Err_Data_Invalid_PointCloud;
  if (cloud.total() != image.total()) return Err_Data_Size_Mismatch;  // element counts only
  return Success;
}

ErrorCode IMarkerAlgo3D::CheckAttempt() const {
  if (!data || data->cloud.empty()) return Err_Data_Invalid_PointCloud;
  if (data->image.empty()) return Err_Data_Invalid_Image;
  return Success;
}

}  // namespace Detect
}  // namespace TamoHandEye
