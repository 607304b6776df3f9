// SPDX-License-Identifier: Apache-2.0
#include "detect/IMarkerAlgo3D.h"

#include "api/LibraryLogger.h"
#include "detect/PlyReader.h"
#include "detect/ShotFiles.h"

#include "ImageCodecs.h"

#include <opencv2/imgcodecs.hpp>

#include <iostream>
#include <optional>
#include <vector>

namespace TamoHandEye {
namespace Detect {
namespace {
// Why an image did not decode: the bytes, or the codecs themselves missing from this machine.
std::string Undecodable() {
  const std::string problem = TarnCodecs::LoadProblem();
  return problem.empty() ? "not an image file that can be decoded" : problem;
}

bool Usable(const cv::Mat& image) { return image.type() == CV_8UC1 || image.type() == CV_8UC3; }

// The image as stored (its own depth and channels); an empty matrix when the bytes are not an image
// OpenCV can decode.
cv::Mat Decode(std::vector<unsigned char>& bytes) {
  cv::Mat image;
  try {
    image = TarnCodecs::Decode(bytes, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
    image.release();
  }
  std::vector<unsigned char>().swap(bytes);  // the file's bytes are not needed any more
  return image;
}

std::string Describe(const cv::Mat& image) {
  static const char* const kDepths[] = {"8-bit",  "8-bit signed", "16-bit",       "16-bit signed",
                                        "32-bit", "32-bit float", "64-bit float", "16-bit float"};
  return std::string(kDepths[image.depth() & 7]) + " image of " + std::to_string(image.channels()) +
         " channel(s); detection needs 8-bit grey or 8-bit three-channel images";
}
}  // namespace

int IMarkerAlgo3D::Load(const std::string& imageFile, const std::string& cloudFile, cv::Mat& image, cv::Mat& cloud,
                        ShotFileProblem& problem, std::unique_ptr<PendingCloudRows>* pending) {
  const auto readCloud = [&](int rows, int cols, std::string* why) {
    return pending ? OpenOrganizedCloud(cloudFile, rows, cols, *pending, why)
                   : ReadOrganizedCloud(cloudFile, rows, cols, why);
  };
  const auto refuse = [&](ShotFileProblem::File file, std::string reason, int code) {
    problem = ShotFileProblem{file, std::move(reason)};
    image.release();
    cloud.release();
    if (pending) pending->reset();
    return code;
  };
  std::vector<unsigned char> bytes;
  std::string why;
  if (!ReadRegularFile(imageFile, bytes, why)) {
    return refuse(ShotFileProblem::Image, why, Err_Data_Invalid_PointCloud);  // no cloud can match it
  }
  if (const std::optional<cv::Size> stated = ImageHeaderSize(bytes.data(), bytes.size())) {
    // The cloud first, at the size the header states: when it cannot match, the image is never decoded
    // (a small file can decode to gigabytes).
    cloud = readCloud(stated->height, stated->width, &why);
    if (cloud.empty()) return refuse(ShotFileProblem::PointCloud, why, Err_Data_Invalid_PointCloud);
    image = Decode(bytes);
    if (image.empty()) return refuse(ShotFileProblem::Image, Undecodable(), Err_Data_Invalid_PointCloud);
    if (image.size() != *stated) {
      return refuse(ShotFileProblem::Image, "its header states another size than its pixels have",
                    Err_Data_Invalid_PointCloud);
    }
  } else {
    image = Decode(bytes);
    if (image.empty()) return refuse(ShotFileProblem::Image, Undecodable(), Err_Data_Invalid_PointCloud);
    cloud = readCloud(image.rows, image.cols, &why);
    if (cloud.empty()) return refuse(ShotFileProblem::PointCloud, why, Err_Data_Invalid_PointCloud);
  }
  if (!Usable(image)) return refuse(ShotFileProblem::Image, Describe(image), Err_Data_Invalid_Image);
  problem = ShotFileProblem{};
  return Success;
}

IMarkerAlgo3D::IMarkerAlgo3D(const std::string& imageFile, const std::string& cloudFile)
    : imagePath(imageFile), cloudPath(cloudFile) {
  if (imagePath.empty() || cloudPath.empty()) return;
  cv::Mat image;
  cv::Mat cloud;
  ShotFileProblem problem;
  std::unique_ptr<PendingCloudRows> pending;
  status = Load(imagePath, cloudPath, image, cloud, problem, &pending);
  if (status == Success) {
    data = std::make_shared<Image>(Image{image, cloud, std::move(pending)});
  } else if (problem.file == ShotFileProblem::Image) {
    std::cerr << "image " << imagePath << ": " << problem.reason << std::endl;  // the cloud reader says its own
  }
}

IMarkerAlgo3D::IMarkerAlgo3D(const cv::Mat& image, const cv::Mat& cloud)
    : data(std::make_shared<Image>(Image{image, cloud, nullptr})) {}

ErrorCode IMarkerAlgo3D::CheckInput(const cv::Mat& image, const cv::Mat& cloud) {
  if (image.empty()) return Err_Data_Empty;
  if (cloud.empty()) return Err_Data_Empty;
  if (!Usable(image)) return Err_Data_Invalid_Image;
  if (cloud.type() != CV_64FC3) return Err_Data_Invalid_PointCloud;
  if (cloud.rows != image.rows || cloud.cols != image.cols) return Err_Data_Size_Mismatch;
  return Success;
}

ErrorCode IMarkerAlgo3D::CheckAttempt() const {
  if (!data || data->cloud.empty() || data->cloudLost) return Err_Data_Invalid_PointCloud;
  if (data->image.empty()) return Err_Data_Invalid_Image;
  return Success;
}

}  // namespace Detect
}  // namespace TamoHandEye
