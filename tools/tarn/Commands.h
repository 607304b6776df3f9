#pragma once

// The work behind each command of the `tarn` program. Each returns the process exit status and writes
// its own messages; failures throw std::runtime_error with a message for the user.

#include <string>

namespace TarnCli {

struct RobotType;

struct DetectOptions {
  std::string images;
  std::string clouds;
  std::string format = "png";
  bool json = false;
};

struct CalibrateOptions {
  std::string markers;  ///< a markers file, or empty to detect from images and clouds
  std::string images;
  std::string clouds;
  std::string format = "png";
  std::string poses;
  const RobotType* robot = nullptr;
  bool eyeToHand = false;
  bool meter = false;
  bool radian = false;
  double ransac = -1.0;  ///< metres; below 0: no pose search
  std::string save;
  bool json = false;
};

int RunDetect(const DetectOptions& options);
int RunCalibrate(const CalibrateOptions& options);
/// Synthesises the sample set into `folder` (a temporary folder when empty), detects, calibrates and
/// compares with the ground truth.
int RunDemo(const std::string& folder);

}  // namespace TarnCli
