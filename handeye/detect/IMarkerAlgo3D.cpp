#include "detect/IMarkerAlgo3D.h"

#include "api/LibraryLogger.h"
#include "detect/PlyReader.h"
#include "detect/ShotFiles.h"

#include <opencv2/imgcodecs.hpp>

#include <iostream>
#include <optional>
#include <vector>

namespace TamoHandEye {
namespace Detect {
namespace {
bool Usable(const cv::Mat& image) { return image.type() == CV_8UC1 || image.type() == CV_8UC3; }

// The image as stored (its own depth and channels); an empty matrix, with a line on standard error,
// when the bytes are not an image OpenCV can decode.
cv::Mat Decode(std::vector<unsigned char>& bytes, const std::string& path) {
  cv::Mat image;
  try {
    image = cv::imdecode(bytes, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
    image.release();
  }
  std::vector<unsigned char>().swap(bytes);  // the file's bytes are not needed any more
  if (image.empty()) std::cerr << "image " << path << ": not an image file that can be decoded" << std::endl;
  return image;
}
}  // namespace

IMarkerAlgo3D::IMarkerAlgo3D(const std::string& imageFile, const std::string& cloudFile)
    : imagePath(imageFile), cloudPath(cloudFile) {
  if (imagePath.empty() || cloudPath.empty()) return;
  std::vector<unsigned char> bytes;
  std::string error;
  if (!ReadRegularFile(imagePath, bytes, error)) {
    std::cerr << "image " << imagePath << ": " << error << std::endl;
    status = Err_Data_Invalid_PointCloud;  // an unreadable image: no cloud can match it
    return;
  }
  cv::Mat image;
  cv::Mat cloud;
  if (const std::optional<cv::Size> stated = ImageHeaderSize(bytes.data(), bytes.size())) {
    // The cloud first, at the size the header states: when it cannot match, the image is never decoded
    // (a small file can decode to gigabytes).
    cloud = ReadOrganizedCloud(cloudPath, stated->height, stated->width);
    if (!cloud.empty()) {
      image = Decode(bytes, imagePath);
      if (image.size() != *stated) cloud.release();
    }
  } else {
    image = Decode(bytes, imagePath);
    cloud = ReadOrganizedCloud(cloudPath, image.rows, image.cols);
  }
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
  if (cloud.rows != image.rows || cloud.cols != image.cols) return Err_Data_Size_Mismatch;
  return Success;
}

ErrorCode IMarkerAlgo3D::CheckAttempt() const {
  if (!data || data->cloud.empty()) return Err_Data_Invalid_PointCloud;
  if (data->image.empty()) return Err_Data_Invalid_Image;
  return Success;
}

}  // namespace Detect
}  // namespace TamoHandEye
