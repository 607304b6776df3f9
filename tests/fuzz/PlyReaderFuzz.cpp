// SPDX-License-Identifier: Apache-2.0
// libFuzzer target for the PLY reader: the input is a whole file; its first two bytes choose the image
// size the cloud must fill. Run through scripts/fuzz-ply.sh.

#include "detect/PlyReader.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int rows = 1 + data[0] % 8;
  const int cols = 1 + data[1] % 8;
  static const std::string path = "/dev/shm/tarn-ply-fuzz-" + std::to_string(::getpid()) + ".ply";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data + 2, 1, size - 2, f);
  std::fclose(f);
  const cv::Mat cloud = TamoHandEye::Detect::ReadOrganizedCloud(path, rows, cols);
  if (!cloud.empty() && (cloud.rows != rows || cloud.cols != cols || cloud.type() != CV_64FC3)) __builtin_trap();
  return 0;
}
