// SPDX-License-Identifier: Apache-2.0
// The readers of the files a user hands over: a saved calibration (JSON, YAML or the desktop program's
// result file), the desktop program's parameter file, a robot data file, a markers or targets file and the
// 2D camera's intrinsics (an OpenCV or ROS camera YAML).
// The first byte picks the reader, the rest is the file; each reads it from disk as the programs do.

#include <tarn/FittedMarkerDetect.h>

#include "SettingsFile.h"
#include "Tables.h"
#include "Verification.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kNames[] = {"result.json", "result.yaml", "result.csv",  "param.csv",
                                       "robot.txt",   "markers.txt", "targets.txt", "camera.yaml"};
  const std::size_t reader = data[0] % (sizeof kNames / sizeof kNames[0]);
  const std::string path = "/tmp/tarn-file-fuzz-" + std::to_string(::getpid()) + "-" + kNames[reader];
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  std::string error;
  TarnWorkflow::DataFileError fault;
  switch (reader) {
    case 0:
    case 1:
    case 2: {
      TarnWorkflow::SavedResult saved;
      TarnWorkflow::ReadSavedResult(path, saved, error);
      break;
    }
    case 3: {
      TarnWorkflow::SettingsFileContent content;
      TarnWorkflow::ReadSettingsFile(path, content);
      break;
    }
    case 4: {
      TamoHandEye::RobotRows rows;
      std::vector<std::vector<std::string>> texts;
      TarnWorkflow::ReadRobotTable(path, 6, "fanuc", rows, fault, &texts);
      break;
    }
    case 7: {
      TamoHandEye::ImageIntrinsics intrinsics;
      TamoHandEye::ReadImageIntrinsics(path, intrinsics, error);
      break;
    }
    default: {
      std::vector<TamoHandEye::MarkerBoardResult> markers;
      std::vector<TamoHandEye::ShotPlane> planes;  // the normals and target rotations too
      TarnWorkflow::ReadMarkers(path,
                                reader == 5 ? TarnWorkflow::MarkerForm::Points : TarnWorkflow::MarkerForm::Targets, 1.0,
                                markers, fault, &planes);
      break;
    }
  }
  ::unlink(path.c_str());
  return 0;
}
