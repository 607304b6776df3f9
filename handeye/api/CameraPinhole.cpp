// SPDX-License-Identifier: Apache-2.0
#include <tarn/PoseSuggestion.h>

#include "detect/CloudPinhole.h"
#include "detect/PlyReader.h"
#include "detect/ShotFiles.h"

#include <exception>
#include <memory>
#include <optional>
#include <vector>

namespace TamoHandEye {

bool EstimateCameraPinhole(const cv::Mat& cloud, CameraPinhole& pinhole) {
  return Detect::PinholeOfCloud(cloud, pinhole);
}

bool EstimateCameraPinhole(const std::string& imagePath, const std::string& pointCloudPath, CameraPinhole& pinhole) {
  try {
    std::vector<unsigned char> bytes;
    std::string why;
    if (!Detect::ReadRegularFile(imagePath, bytes, why)) return false;
    const std::optional<cv::Size> size = Detect::ImageHeaderSize(bytes.data(), bytes.size());
    if (!size || size->width <= 0 || size->height <= 0) return false;
    std::unique_ptr<Detect::PendingCloudRows> pending;
    cv::Mat cloud = Detect::OpenOrganizedCloud(pointCloudPath, size->height, size->width, pending, &why);
    if (cloud.empty()) return false;
    if (pending) {
      for (int r = 0; r < cloud.rows; r += Detect::kPinholeRowStep) {
        if (!pending->Load(r, r)) return false;
      }
    }
    return EstimateCameraPinhole(cloud, pinhole);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace TamoHandEye
