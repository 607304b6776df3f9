// SPDX-License-Identifier: Apache-2.0
// libFuzzer target for the whole path form of marker detection: image file + PLY file -> code. The input
// is both files: a 4-byte little-endian length, that many bytes of image file, then the PLY file. Run
// through scripts/fuzz-shot.sh, which seeds it with rendered shots and times every case: a hang is a
// finding like a crash.

#include <tarn/MarkerDetect.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

bool Write(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

bool Known(TamoHandEye::ErrorCode code) { return code == TamoHandEye::Success || (code >= 101 && code <= 108); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::size_t declared = data[0] | (data[1] << 8) | (data[2] << 16) | (std::size_t(data[3]) << 24);
  const std::size_t imageSize = declared % (size - 3);
  static const std::string stem = "/dev/shm/tarn-shot-fuzz-" + std::to_string(::getpid());
  const std::string image = stem + ".img", cloud = stem + ".ply";
  if (!Write(image, data + 4, imageSize) || !Write(cloud, data + 4 + imageSize, size - 4 - imageSize)) return 0;

  TamoHandEye::MarkerBoardResult result{-1, -1, -1, -1, -1};
  const TamoHandEye::ErrorCode code = TamoHandEye::SolveMarkerBoardResults(image, cloud, result);
  if (!Known(code)) __builtin_trap();
  if (code == TamoHandEye::Success) {
    // A found marker is a finite point at a pixel inside the image.
    for (const double v : {result.x, result.y, result.z, result.u, result.v}) {
      if (!std::isfinite(v)) __builtin_trap();
    }
    if (result.u < 0 || result.v < 0) __builtin_trap();
  }
  const TamoHandEye::ShotFileProblem problem = TamoHandEye::DescribeShotFiles(image, cloud);
  // A shot detection could load is one whose files have no problem, and the other way round.
  const bool loaded = code != TamoHandEye::Err_Data_Invalid_Image && code != TamoHandEye::Err_Data_Invalid_PointCloud;
  if (loaded != (problem.file == TamoHandEye::ShotFileProblem::None)) __builtin_trap();
  return 0;
}
