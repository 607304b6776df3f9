// SPDX-License-Identifier: Apache-2.0
#pragma once

// A synthetic data set as an operator would have it: one rendered image and point cloud per robot pose,
// the robot data file in the chosen controller's convention, and the ground truth.

#include "HandEyeScene.h"

#include <string>

namespace TarnSim {

struct SynthOptions {
  std::string folder;
  int poses = 12;
  bool eyeToHand = false;
  std::string robotName = "fanuc";      ///< recorded in truth.json
  RowFormat format = RowFormat::Fanuc;  ///< how the robot rows are written
  bool radian = false;                  ///< angles of the rows in radians (else degrees)
  double noiseMm = 0.2;                 ///< σ of the point cloud's depth noise
  unsigned seed = 1;
  int width = 1024;
  int height = 768;
  std::string imageFormat = "png";
  bool force = false;  ///< replace a data set already in the folder
};

/// Writes folder/images/shot_<i>.<format>, folder/clouds/shot_<i>.ply, folder/robot.txt and
/// folder/truth.json. A folder that already holds a data set is refused unless `force`; then the earlier
/// set's shots, robot.txt and truth.json are removed first (so no earlier shot pairs with the new poses),
/// and nothing else. Throws std::runtime_error when the folder is refused or a file cannot be written.
void Synthesise(const SynthOptions& options);

}  // namespace TarnSim
