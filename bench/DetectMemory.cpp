// SPDX-License-Identifier: Apache-2.0
// Peak memory of one detection through the path form, against the size of the shot's image and cloud.
//   make build && build/bench/detect_memory
//
// Each case runs in a child process of its own, so that no earlier case's memory (freed or kept for
// reuse) is counted: the figure is the peak resident memory during the call minus the resident memory
// just before it.

#include <tarn/MarkerDetect.h>

#include "Bounded.h"
#include "MarkerRenderer.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

long CurrentMemoryKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// The extra peak memory (kB) of one path-form detection, measured in a child; -1 when unmeasurable.
long PeakOfOneCall(const std::string& image, const std::string& cloud, int& code) {
  int pipe[2];
  if (::pipe(pipe) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe[0]);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    long result[2] = {-1, -1};
    if (TarnTest::ResetPeakMemory()) {
      const long before = CurrentMemoryKb();
      TamoHandEye::MarkerBoardResult marker;
      result[1] = TamoHandEye::SolveMarkerBoardResults(image, cloud, marker);
      result[0] = TarnTest::PeakMemoryKb() - before;
    }
    (void)!::write(pipe[1], result, sizeof result);
    ::_exit(0);
  }
  ::close(pipe[1]);
  long result[2] = {-1, -1};
  (void)!::read(pipe[0], result, sizeof result);
  ::close(pipe[0]);
  ::waitpid(child, nullptr, 0);
  code = static_cast<int>(result[1]);
  return result[0];
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "tarn-detect-memory";
  fs::create_directories(dir);
  TarnSim::ShotOptions options;
  options.width = 1920;
  options.height = 1200;
  options.focal = 1700;
  options.cameraFromBoard = Eigen::Isometry3d(Eigen::Translation3d(0.02, -0.01, 0.7));
  options.supersample = 1;
  options.blurSigma = 0.8;
  const TarnSim::Shot shot = TarnSim::RenderShot(options);
  const std::string png = (dir / "shot_1.png").string(), ply = (dir / "shot_1.ply").string();
  cv::imwrite(png, shot.image);
  TarnSim::WritePly(ply, shot.cloud);
  options.colour = true;
  const std::string colourPng = (dir / "colour_1.png").string();
  cv::imwrite(colourPng, TarnSim::RenderShot(options).image);
  options.colour = false;
  options.markers.clear();
  const std::string blankPng = (dir / "blank_1.png").string();
  cv::imwrite(blankPng, TarnSim::RenderShot(options).image);
  options.width = 320;
  options.height = 240;
  options.focal = 300;
  options.colour = false;
  const std::string smallPly = (dir / "small_1.ply").string();
  TarnSim::WritePly(smallPly, TarnSim::RenderShot(options).cloud);

  // A 1920 x 1200 image and a 20000 x 20000 one of the same kind (the second from the header alone).
  const double imageMb = 1920.0 * 1200.0 / 1e6, cloudMb = 1920.0 * 1200.0 * 24.0 / 1e6;
  std::printf("image %.1f MB (grey) or %.1f MB (colour), cloud %.1f MB (CV_64FC3)\n\n", imageMb, 3 * imageMb, cloudMb);
  std::printf("| shot | code | peak above the memory in use (MB) | ÷ (image + cloud) |\n|---|---:|---:|---:|\n");
  struct Case {
    const char* name;
    std::string image, cloud;
    double inputMb;
  };
  for (const Case& c : {Case{"1920 x 1200 grey, marker found", png, ply, imageMb + cloudMb},
                        Case{"1920 x 1200 colour, marker found", colourPng, ply, 3 * imageMb + cloudMb},
                        Case{"1920 x 1200 grey, no marker (all 200 attempts)", blankPng, ply, imageMb + cloudMb},
                        Case{"1920 x 1200 image, 320 x 240 cloud (refused)", png, smallPly, 320 * 240 * 24 / 1e6}}) {
    int code = -1;
    const double mb = static_cast<double>(PeakOfOneCall(c.image, c.cloud, code)) / 1024.0;
    std::printf("| %s | %d | %.1f | %.2f |\n", c.name, code, mb, mb / c.inputMb);
  }
  return 0;
}
