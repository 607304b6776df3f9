// SPDX-License-Identifier: Apache-2.0
#pragma once

// The work behind each command of the `tarn` program. Each returns the process exit status and writes
// its own messages; failures throw std::runtime_error with a message for the user.

#include "MarkerBatch.h"
#include "RobotTypes.h"

#include <tarn/PoseSuggestion.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace TarnCli {

using TarnWorkflow::Centre;
using TarnWorkflow::RobotType;

struct DetectOptions {
  std::string images;
  std::string clouds;
  std::string format = "png";
  Centre centre = Centre::Fit;
  std::string imageIntrinsics;  ///< the 2D camera's intrinsics file, or empty
  bool json = false;
};

struct CalibrateOptions {
  std::string markers;           ///< a markers file, or empty to detect from images and clouds
  std::string targets;           ///< a file of target poses (their translations are the marker points), instead
  std::string markerUnit = "m";  ///< the unit of the markers or targets file: "m" or "mm"
  std::string images;
  std::string clouds;
  std::string format = "png";
  Centre centre = Centre::Fit;
  std::string imageIntrinsics;  ///< the 2D camera's intrinsics file, or empty
  std::string poses;
  const RobotType* robot = nullptr;  ///< the ABB quaternion type when `matrixRows`
  bool matrixRows = false;           ///< the poses file holds 4 x 4 matrices (mm, or m with `meter`)
  bool invert = false;               ///< those matrices are flange_from_base
  bool eyeToHand = false;
  bool meter = false;
  bool radian = false;
  double ransac = -1.0;       ///< metres; below 0: no pose search; 0: a search whose distance follows the data
  double toleranceMm = 1.0;   ///< the camera translation 1σ the result is held to
  double toleranceDeg = 0.1;  ///< and its rotation 1σ
  std::string save;
  bool json = false;
  std::optional<std::uint32_t> seed;  ///< the pose search's seed; none: drawn from the system's random device
  bool strict = false;                ///< any warning of the report makes the exit status 3
  std::string output;                 ///< also write the JSON result here (.json) or as YAML (.yaml, .yml)
  bool allConventions = false;        ///< add the camera as a row of every robot type
  bool pointModel = false;            ///< solve with the marker points alone, whatever normals the shots carry
  double robotNoiseMm = 0.0;          ///< the robot's pose noise (1 sigma per axis): shift, mm
  double robotNoiseDeg = 0.0;         ///< and turn, degrees
  /// --robot scara: the poses file's rows are X Y Z (mm) and A (degrees) about the base's vertical axis, read as
  /// FANUC rows (`robot`) with W = P = 0: the flange's axes those of the base turned by A.
  bool fourValueRows = false;
  /// A 4-axis robot's quantity no shot sees (mm; NaN: not given), as ReportOptions takes them.
  double fixedHeightMm = std::numeric_limits<double>::quiet_NaN();
  double cameraOffsetZMm = std::numeric_limits<double>::quiet_NaN();
};

/// What `tarn plan` takes beyond the shots.
struct PlanCommandOptions {
  std::string taught;       ///< the taught row's values; empty: the first row of the poses file (a first stage's)
  std::string marker;       ///< X,Y,Z of the marker in the taught shot (the markers' unit); empty: from the shots
  std::string cameraGuess;  ///< the camera transform as a row of the type; empty: none
  int count = 15;
  double maxTurnDeg = 30.0;
  double noiseMm = 0.5;    ///< a shot's noise per axis the predicted σ assumes
  std::string convention;  ///< the generic types: the rows' rotation convention
  std::string out;         ///< the program file; its extension names the format unless `format` does
  std::string format;
  double speedPercent = 10.0;
  std::string configuration;  ///< the taught arm configuration in the controller's form
  std::string name = "TARN_CALIB";
  bool fourAxis = false;  ///< a 4-axis robot (implied by --robot scara): turns about the base's z axis only
};

int RunDetect(const DetectOptions& options);
/// Exit status 0 calibrated, 1 bad input, 2 the calibration failed, 3 warnings under `strict`; with `json`
/// every failure is also one JSON object {"error": {"code", "message"}} on standard output.
int RunCalibrate(const CalibrateOptions& options);
/// Checks the new shots of `inputs` (markers or images and clouds, robot rows, robot type and set-up)
/// against the calibration saved in `resultFile`; `limitMm` above 0 sets the verdict's limit. Exit
/// status 0 ok, 1 bad input, 2 the check failed, 3 drift under `inputs.strict`; with `inputs.json` the
/// check (or {"error": …}) as JSON.
int RunVerify(const CalibrateOptions& inputs, const std::string& resultFile, double limitMm);
/// Suggests the `count` next poses for the shots taken of `inputs` (markers or images and clouds, robot
/// rows, robot type and set-up), the marker kept inside the image of `pinhole` when it is known, else of the
/// pinhole estimated from the first shot's cloud that gives one, else in the view cone (the output says
/// which). Exit status 0 (also when nothing can be suggested: said why), 1 bad input, 2 the poses taken
/// could not be calibrated; with `inputs.json` the suggestions (or {"error": …}) as JSON.
int RunSuggest(const CalibrateOptions& inputs, int count, const TamoHandEye::CameraPinhole& pinhole);
/// Plans the poses of a calibration around one taught pose (PlanCalibrationPoses): the taught row with the marker
/// of its shot (`plan.marker`, or the one shot of the images and clouds), or a first stage's shots with their rows.
/// Prints the plan (text or, with `inputs.json`, JSON) and writes it as a robot program to `plan.out`. Exit status
/// 0, 1 bad input, 2 the plan failed.
int RunPlan(const CalibrateOptions& inputs, const PlanCommandOptions& plan, const TamoHandEye::CameraPinhole& pinhole);
/// What `tarn export` takes.
struct ExportCommandOptions {
  std::string result;  ///< the saved calibration
  std::string to;      ///< ros2, urdf, yaml, fanuc, kuka, abb or ur
  std::string out;
  std::string parent;
  std::string child;
  int number = 1;
  bool eyeToHand = false;  ///< for a result file that does not say
};
/// Writes the saved calibration's camera transform for the cell (ExportTransform). Exit status 0, 1 bad input.
int RunExport(const ExportCommandOptions& options);
/// Synthesises the sample set into `folder` (a temporary folder when empty), detects and calibrates with
/// both centre methods, and compares each with the ground truth; `centre` is the one printed in full and
/// held to the bound (0.05 mm and 0.02° for Fit, 2 mm and 0.2° for Centroid).
int RunDemo(const std::string& folder, Centre centre);

}  // namespace TarnCli
