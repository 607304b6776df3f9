// SPDX-License-Identifier: Apache-2.0
// Writes the starting corpus of the shot fuzz target: small rendered shots of the marker (found by the
// detector) in each image format and PLY layout, each as "length of the image file, image file, PLY".
//   shot_seeds OUTDIR

#include <tarn/MarkerDetect.h>

#include "MarkerRenderer.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: shot_seeds OUTDIR\n";
    return 1;
  }
  const std::string out = argv[1];
  TarnSim::ShotOptions options;
  options.width = 64;
  options.height = 48;
  options.focal = 70;
  options.cameraFromBoard.translation() = Eigen::Vector3d(0, 0, 0.12);
  options.supersample = 2;
  options.blurSigma = 0.6;
  const std::vector<std::pair<std::string, TarnSim::PlyFormat>> layouts = {
      {"le", TarnSim::PlyFormat::BinaryLittleEndian},
      {"be", TarnSim::PlyFormat::BinaryBigEndian},
      {"ascii", TarnSim::PlyFormat::Ascii}};
  int written = 0;
  for (const bool colour : {false, true}) {
    options.colour = colour;
    const TarnSim::Shot shot = TarnSim::RenderShot(options);
    for (const std::string extension : {".png", ".bmp", ".jpg"}) {
      std::vector<unsigned char> image;
      if (!cv::imencode(extension, shot.image, image)) return 1;
      // Seeds that find the marker lead the fuzzer through the whole detector.
      const std::string imagePath = out + "/image.tmp";
      std::ofstream(imagePath, std::ios::binary)
          .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
      for (const auto& [name, format] : layouts) {
        TarnSim::PlyOptions ply;
        ply.format = format;
        ply.doubles = format == TarnSim::PlyFormat::BinaryBigEndian;
        const std::string cloudPath = out + "/cloud.tmp";
        TarnSim::WritePly(cloudPath, shot.cloud, ply);
        TamoHandEye::MarkerBoardResult found{};
        const int code = TamoHandEye::SolveMarkerBoardResults(imagePath, cloudPath, found);
        if (code != 0) std::cerr << "seed " << extension << " " << name << ": no marker (code " << code << ")\n";
        std::ifstream cloudFile(cloudPath, std::ios::binary);
        const std::string cloud((std::istreambuf_iterator<char>(cloudFile)), std::istreambuf_iterator<char>());
        const auto length = static_cast<std::uint32_t>(image.size());
        std::ofstream seed(out + "/shot-" + (colour ? "bgr" : "grey") + extension.substr(1) + "-" + name,
                           std::ios::binary);
        const char prefix[4] = {static_cast<char>(length), static_cast<char>(length >> 8),
                                static_cast<char>(length >> 16), static_cast<char>(length >> 24)};
        seed.write(prefix, 4);
        seed.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        seed << cloud;
        ++written;
      }
    }
  }
  std::remove((out + "/cloud.tmp").c_str());
  std::remove((out + "/image.tmp").c_str());
  std::cout << written << " seeds in " << out << "\n";
  return 0;
}
