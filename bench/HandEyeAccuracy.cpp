// SPDX-License-Identifier: Apache-2.0
// Accuracy table: camera translation error (mm) and rotation error (degrees), root mean square over 200
// noisy scenes each, for 6/10/20/40 eye-in-hand poses and 0.1/0.3/1.0 mm point noise.
//   make build && build/bench/handeye_accuracy

#include <tarn/SolveFinalResult.h>

#include "HandEyeScene.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

int main() {
  using namespace TamoHandEye;
  constexpr int kTrials = 200;
  constexpr double kPi = 3.14159265358979323846;

  // The pipeline announces every run on standard output: send that to /dev/null, the table to stderr.
  std::fflush(stdout);
  dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);

  std::fprintf(stderr, "| poses | noise (mm) | translation RMS (mm) | rotation RMS (deg) | failed |\n");
  std::fprintf(stderr, "|---:|---:|---:|---:|---:|\n");
  for (const int poses : {6, 10, 20, 40}) {
    for (const double noiseMm : {0.1, 0.3, 1.0}) {
      double sumT = 0.0, sumR = 0.0;
      int ok = 0, failed = 0;
      for (int trial = 0; trial < kTrials; ++trial) {
        TarnSim::SceneOptions options;
        options.poses = poses;
        options.pointNoise = noiseMm / 1000.0;
        options.seed = 17u + static_cast<unsigned>(trial);
        const TarnSim::Scene scene = TarnSim::MakeScene(options);
        FinalResult result;
        if (FanucSolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, TarnSim::RowFormat::Fanuc), {}, result) !=
            Success) {
          ++failed;
          continue;
        }
        Eigen::Matrix3d r;
        Eigen::Vector3d t;
        for (int i = 0; i < 3; ++i) {
          for (int j = 0; j < 3; ++j)
            r(i, j) = result.cameraMatrix[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
          t(i) = result.cameraMatrix[static_cast<std::size_t>(i)][3];
        }
        sumT += (t - scene.camera.translation() * 1000.0).squaredNorm();
        const double angle = Eigen::AngleAxisd(r * scene.camera.linear().transpose()).angle() * 180.0 / kPi;
        sumR += angle * angle;
        ++ok;
      }
      std::fprintf(stderr, "| %d | %.1f | %.3f | %.4f | %d |\n", poses, noiseMm, std::sqrt(sumT / ok),
                   std::sqrt(sumR / ok), failed);
    }
  }
  return 0;
}
