// SPDX-License-Identifier: Apache-2.0
// tarn: hand-eye calibration from the command line.
//
//   tarn synth OUTDIR          render a synthetic data set with known answers
//   tarn detect …              find the marker in every image / point cloud pair
//   tarn calibrate …           solve the camera transform and the marker position
//   tarn verify …              check a saved calibration against new shots
//   tarn suggest …             the next poses to take
//   tarn plan …                the poses of a calibration around one taught pose, as a robot program
//   tarn export …              a saved calibration for ROS 2, URDF, YAML or a controller's frame
//   tarn demo [DIR]            all of the above on the built-in sample set

#include "CommandStates.h"
#include "VersionText.h"

#include <CLI/CLI.hpp>

#include <dlfcn.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <exception>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <string>

namespace {

// A file or folder name: not empty (an empty --output would write nothing, and succeed).
std::string CheckFileName(std::string& text) { return text.empty() ? "must name a file, not be empty" : ""; }
const CLI::Validator kFileName(CheckFileName, "");

using namespace TarnCli;
using TarnWorkflow::RobotTypeNames;

// The folder this program was started from.
std::string ProgramFolder() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0) return ".";
  path.resize(static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Runs a parsed command in the command module, loaded now: only a command needs the calibration
// library, OpenCV and the image codecs (some 140 shared objects), so help and bad options answer at once.
int RunInModule(const char* name, void* state) {
  const std::string folder = ProgramFolder();
  std::string path = folder + "/" TARN_COMMAND_MODULE;  // beside the program in the build tree
  if (::access(path.c_str(), R_OK) != 0) path = folder + "/" TARN_COMMAND_MODULE_INSTALLED;
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::cerr << "tarn: cannot load the command module: " << ::dlerror() << "\n";
    return 1;
  }
  // Never closed: the commands leave threads' and libraries' state behind until the program ends.
  void* entry = ::dlsym(module, "TarnRunCommand");
  if (entry == nullptr) {
    std::cerr << "tarn: " << path << " is not this program's command module\n";
    return 1;
  }
  return reinterpret_cast<int (*)(const char*, void*)>(entry)(name, state);
}

// A command: its parser, and what runs it once parsed (the exit status).
struct Command {
  CLI::App* parser;
  std::function<int()> run;
};

const std::string& RobotHelp() {
  static const std::string help = "Robot type: " + RobotTypeNames();
  return help;
}

// --centre fit|centroid, into `centre`.
void AddCentreOption(CLI::App& command, Centre& centre, const std::string& more = "") {
  static const std::map<std::string, Centre> kCentres{{"fit", Centre::Fit}, {"centroid", Centre::Centroid}};
  command
      .add_option("--centre", centre,
                  "How the marker's centre is found: fit (its rings fitted as circles on the board plane the cloud "
                  "measures; precise) or centroid (the mean of the rings' centroids at one cloud pixel, as the desktop "
                  "program's 同心圆)" +
                      more)
      ->transform(CLI::CheckedTransformer(kCentres, CLI::ignore_case))
      ->option_text("fit|centroid (default fit)");
}

// --image-intrinsics FILE, into `path`.
void AddImageIntrinsicsOption(CLI::App& command, std::string& path) {
  command
      .add_option("--image-intrinsics", path,
                  "The 2D camera's intrinsics and distortion (k1 k2 p1 p2 k3), an OpenCV or ROS camera-info YAML "
                  "file, when the image is not the cloud's own undistorted grid; the fitted centre maps its edges "
                  "through them")
      ->check(kFileName);
}

Command AddSynth(CLI::App& app) {
  const auto state = std::make_shared<SynthState>();
  TarnSim::SynthOptions& synth = state->synth;
  auto* command = app.add_subcommand("synth", "Render a data set: images, point clouds, robot data file, truth.json");
  command->add_option("OUTDIR", synth.folder, "Folder to write the data set into")->required()->check(kFileName);
  command->add_option("--poses", synth.poses, "Number of robot poses")
      ->check(CLI::Range(3, 500))
      ->capture_default_str();
  command->add_flag("--eye-to-hand", synth.eyeToHand, "Camera fixed, marker on the flange");
  command->add_option("--robot", state->robot, RobotHelp())->capture_default_str();
  command->add_option("--noise", synth.noiseMm, "Depth noise of the point clouds, mm (σ)")
      ->check(CLI::Range(0.0, 50.0))
      ->capture_default_str();
  command->add_option("--seed", synth.seed, "Random seed")->capture_default_str();
  command->add_option("--resolution", state->resolution, "Image size WxH")->capture_default_str();
  command->add_option("--format", synth.imageFormat, "Image format")
      ->check(CLI::IsMember({"png", "jpg", "bmp"}))
      ->capture_default_str();
  command->add_flag("--force", synth.force, "Replace a data set already in OUTDIR");
  return {command, [state] { return RunInModule("synth", state.get()); }};
}

Command AddDetect(CLI::App& app) {
  const auto detect = std::make_shared<DetectOptions>();
  auto* command = app.add_subcommand("detect", "Find the marker in every image / point cloud pair");
  command->add_option("--images", detect->images, "Folder of 2D images (name_<number>.<format>)")
      ->required()
      ->check(kFileName);
  command->add_option("--clouds", detect->clouds, "Folder of PLY point clouds (name_<number>.ply)")
      ->required()
      ->check(kFileName);
  command->add_option("--format", detect->format, "Image format")
      ->check(CLI::IsMember({"png", "jpg", "bmp"}))
      ->capture_default_str();
  command->add_flag("--json", detect->json, "Print JSON instead of a table");
  AddCentreOption(*command, detect->centre);
  AddImageIntrinsicsOption(*command, detect->imageIntrinsics);
  return {command, [detect] { return RunInModule("detect", detect.get()); }};
}

// --limit: a finite number of millimetres above 0 (CLI's PositiveNumber lets "nan" through).
std::string CheckLimit(std::string& text) {
  double value = 0.0;
  if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || !(value > 0.0)) {
    return "must be a finite number of millimetres above 0: " + text;
  }
  return {};
}

// --ransac: a finite distance of 0 mm or more, or none (or "auto"): from the data's own noise.
std::string CheckDistance(std::string& text) {
  double value = 0.0;
  if (text.empty() || text == "auto") return {};
  if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || value < 0.0) {
    return "must be a finite number of millimetres, 0 or more, or auto: " + text;
  }
  return {};
}

// --intrinsics: four finite numbers, the focal lengths above 0.
std::string CheckIntrinsics(std::string& text) {
  std::stringstream fields(text);
  std::string field;
  std::vector<double> values;
  while (std::getline(fields, field, ',')) {
    double v = 0.0;
    if (!CLI::detail::lexical_cast(field, v) || !std::isfinite(v)) break;
    values.push_back(v);
  }
  return values.size() == 4 && values[0] > 0.0 && values[1] > 0.0 && !fields
             ? std::string()
             : "must be fx,fy,cx,cy in pixels, the focal lengths above 0: " + text;
}

// --image-size: WxH, each 1 to 100000.
std::string CheckImageSize(std::string& text) {
  const std::size_t x = text.find('x');
  int w = 0;
  int h = 0;
  const bool ok = x != std::string::npos && CLI::detail::lexical_cast(text.substr(0, x), w) &&
                  CLI::detail::lexical_cast(text.substr(x + 1), h) && w >= 1 && h >= 1 && w <= 100000 && h <= 100000;
  return ok ? std::string() : "must be WxH in pixels: " + text;
}

// --tolerance: MM or MM,DEG, each a finite number above 0.
std::string CheckTolerance(std::string& text) {
  const std::size_t comma = text.find(',');
  double mm = 0.0;
  double deg = 0.0;
  const bool ok = CLI::detail::lexical_cast(text.substr(0, comma), mm) && std::isfinite(mm) && mm > 0.0 &&
                  (comma == std::string::npos ||
                   (CLI::detail::lexical_cast(text.substr(comma + 1), deg) && std::isfinite(deg) && deg > 0.0));
  return ok ? std::string() : "must be MM or MM,DEG, each a number above 0: " + text;
}

// --robot-noise: MM,DEG with optional units ("0.03mm,0.005deg"), each a finite number not below 0.
std::string CheckRobotNoise(std::string& text) {
  const std::size_t comma = text.find(',');
  const auto value = [](std::string field, const std::string& unit) {
    if (field.size() > unit.size() && field.compare(field.size() - unit.size(), unit.size(), unit) == 0) {
      field.resize(field.size() - unit.size());
    }
    double v = -1.0;
    return CLI::detail::lexical_cast(field, v) && std::isfinite(v) && v >= 0.0;
  };
  const bool ok =
      comma != std::string::npos && value(text.substr(0, comma), "mm") && value(text.substr(comma + 1), "deg");
  return ok ? std::string() : "must be MM,DEG (e.g. 0.03mm,0.005deg), each a number not below 0: " + text;
}

// --seed: a whole number from 0 to 4294967295, or "random".
std::string CheckSeed(std::string& text) {
  if (text == "random") return {};
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos ||
      std::stoull(text) > 0xffffffffULL) {
    return "must be a whole number from 0 to 4294967295, or random: " + text;
  }
  return {};
}

// --model and --robot-noise: how the shots are solved (and the suggestions scored).
void AddModelOptions(CLI::App& command, std::string& model, std::string& robotNoise) {
  command
      .add_option("--model", model,
                  "auto: solve with each shot's board normal too where the shots carry one (found in images and "
                  "clouds, or in the markers file), weighted by its noise; point: the marker points alone")
      ->check(CLI::IsMember({"auto", "point"}))
      ->capture_default_str();
  command
      .add_option("--robot-noise", robotNoise,
                  "The robot's pose noise, 1 sigma per axis of a shift (mm) and a turn (degrees), e.g. "
                  "0.03mm,0.005deg: weighs each shot in the solve with normals")
      ->check(CLI::Validator(CheckRobotNoise, "MM,DEG", "robot noise"));
}

// A 4-axis robot's quantity that no shot sees.
void AddFourAxisOptions(CLI::App& command, CalibrateOptions& o) {
  auto* height = command
                     .add_option("--fixed-height", o.fixedHeightMm,
                                 "4-axis robots (turns about the vertical axis only): the marker's height in the base "
                                 "frame, mm (eye-to-hand: its offset along the flange's z axis)")
                     ->check(CLI::Range(-1e6, 1e6));
  command
      .add_option("--camera-offset-z", o.cameraOffsetZMm,
                  "4-axis robots: instead, the camera's offset along the flange's z axis, mm (eye-to-hand: its "
                  "height in the base frame)")
      ->check(CLI::Range(-1e6, 1e6))
      ->excludes(height);
}

// Where a command's shots come from: a markers or targets file, or images and clouds to detect in.
void AddShotOptions(CLI::App& command, CalibrateOptions& o, const std::string& markersHelp,
                    const std::string& targetsHelp) {
  auto* markersOpt = command.add_option("--markers", o.markers, markersHelp);
  auto* targetsOpt = command.add_option("--targets", o.targets, targetsHelp);
  auto* imagesOpt = command.add_option("--images", o.images, "Folder of 2D images to detect in");
  auto* cloudsOpt = command.add_option("--clouds", o.clouds, "Folder of PLY point clouds");
  for (CLI::Option* option : {markersOpt, targetsOpt, imagesOpt, cloudsOpt}) option->check(kFileName);
  markersOpt->excludes(imagesOpt)->excludes(cloudsOpt)->excludes(targetsOpt);
  targetsOpt->excludes(imagesOpt)->excludes(cloudsOpt);
  imagesOpt->needs(cloudsOpt);
  cloudsOpt->needs(imagesOpt);
  command.add_option("--marker-unit", o.markerUnit, "Unit of --markers and --targets")
      ->check(CLI::IsMember({"m", "mm"}))
      ->capture_default_str();
  command.add_option("--format", o.format, "Image format")
      ->check(CLI::IsMember({"png", "jpg", "bmp"}))
      ->capture_default_str();
}

Command AddCalibrate(CLI::App& app) {
  const auto state = std::make_shared<CalibrateState>();
  CalibrateOptions& calibrate = state->calibrate;
  auto* command = app.add_subcommand("calibrate", "Solve the camera transform and the marker position");
  AddShotOptions(*command, calibrate,
                 "File of marker positions: per line x y z (metres) [u v]; or tarn detect's output, table or JSON",
                 "File of target poses instead: per line a 4 x 4 matrix (16 or 12 values) or X Y Z and a quaternion; "
                 "the translation is the marker point (metres), the rotation is used in the solve");
  command
      ->add_option("--poses", calibrate.poses,
                   "Robot data file: one pose per line, values separated by spaces, tabs, commas or semicolons "
                   "('#' comments and a first line of names skipped)")
      ->required()
      ->check(kFileName);
  command
      ->add_option("--robot", state->robot,
                   RobotHelp() +
                       "; or matrix: 4 x 4 flange poses (16 or 12 values, mm); or scara: X Y Z (mm) and A (deg) "
                       "about the base's vertical axis (a 4-axis robot; the camera comes as a FANUC row)")
      ->required();
  command->add_flag("--invert", calibrate.invert, "With --robot matrix: the matrices are the base in the flange frame");
  command->add_flag("--eye-to-hand", calibrate.eyeToHand, "Camera fixed, marker on the flange");
  command->add_flag("--meter", calibrate.meter, "Robot translations in metres (generic types, matrix)");
  command->add_flag("--radian", calibrate.radian, "Robot angles in radians (generic3)");
  CLI::Option* ransac =
      command
          ->add_option("--ransac", state->ransac,
                       "Drop poses whose residual is not below DIST mm first; without DIST (or auto, or 0) the "
                       "distance follows the data's own noise")
          ->expected(0, 1)
          ->check(CLI::Validator(CheckDistance, "[DIST]", "finite non-negative"));
  command->add_option("--save", calibrate.save, "Write the settings and result as the desktop program's 保存 does")
      ->check(kFileName);
  command->add_flag("--json", calibrate.json, "Print JSON instead of text");
  command
      ->add_option("--output", calibrate.output, "Also write the result as --json prints it, to FILE.json or FILE.yaml")
      ->check(kFileName);
  command->add_flag("--all-conventions", calibrate.allConventions,
                    "Also give the camera as a row of every robot type's convention");
  command
      ->add_option("--seed", state->seed,
                   "Seed of the pose search (the same data and seed give the same result), "
                   "or random")
      ->check(CLI::Validator(CheckSeed, "N|random", "seed"))
      ->capture_default_str();
  AddFourAxisOptions(*command, calibrate);
  command->add_flag("--strict", calibrate.strict, "Exit with status 3 when the report raises any warning");
  command
      ->add_option("--tolerance", state->tolerance,
                   "The 1 sigma the result is held to, camera translation in mm and rotation in degrees (what "
                   "'uncertain' and --strict judge by)")
      ->check(CLI::Validator(CheckTolerance, "MM[,DEG]", "tolerance"))
      ->capture_default_str();
  AddModelOptions(*command, state->model, state->robotNoise);
  AddCentreOption(*command, calibrate.centre);
  AddImageIntrinsicsOption(*command, calibrate.imageIntrinsics);
  return {command, [state, ransac] {
            state->ransacGiven = ransac->count() > 0;
            return RunInModule("calibrate", state.get());
          }};
}

Command AddVerify(CLI::App& app) {
  const auto state = std::make_shared<VerifyState>();
  CalibrateOptions& inputs = state->inputs;
  auto* command = app.add_subcommand("verify", "Check a saved calibration against new shots, without calibrating");
  command
      ->add_option("--result", state->result,
                   "The saved calibration: what tarn calibrate --json printed, or a result file the desktop "
                   "program saved (保存)")
      ->required()
      ->check(kFileName);
  AddShotOptions(*command, inputs, "File of the new shots' marker positions (as for calibrate)",
                 "File of target poses instead (as for calibrate)");
  command->add_option("--poses", inputs.poses, "Robot data file of the new shots (as for calibrate)")
      ->required()
      ->check(kFileName);
  command->add_option("--robot", state->robot, RobotHelp() + "; or matrix (default: the saved result's)");
  command->add_flag("--invert", inputs.invert, "With --robot matrix: the matrices are the base in the flange frame");
  command->add_flag("--eye-to-hand", inputs.eyeToHand,
                    "Camera fixed, marker on the flange (default: the saved result's)");
  command->add_flag("--meter", inputs.meter, "Robot translations in metres (generic types, matrix)");
  command->add_flag("--radian", inputs.radian, "Robot angles in radians (generic3)");
  command
      ->add_option("--limit", state->limitMm,
                   "A plain limit on the RMS residual, mm: drift above it (default: judged with the saved "
                   "calibration's covariance, or a limit from its residuals when it has none)")
      ->check(CLI::Validator(CheckLimit, "MM", "limit"));
  command->add_flag("--json", inputs.json, "Print JSON instead of text");
  command->add_flag("--strict", inputs.strict, "Exit with status 3 when the verdict is drift");
  command
      ->add_option("--tolerance", state->tolerance,
                   "The smallest camera shift (mm) and turn (degrees) the verdict ok must have been able to see; "
                   "shots that could not see them are inconclusive")
      ->check(CLI::Validator(CheckTolerance, "MM[,DEG]", "tolerance"))
      ->capture_default_str();
  AddCentreOption(*command, inputs.centre);
  AddImageIntrinsicsOption(*command, inputs.imageIntrinsics);
  return {command, [state] { return RunInModule("verify", state.get()); }};
}

Command AddSuggest(CLI::App& app) {
  const auto state = std::make_shared<SuggestState>();
  CalibrateOptions& inputs = state->inputs;
  auto* command = app.add_subcommand(
      "suggest", "Suggest the next robot poses: those that shrink the camera translation's uncertainty most");
  AddShotOptions(*command, inputs, "File of the marker positions of the shots taken (as for calibrate)",
                 "File of target poses instead (as for calibrate)");
  command->add_option("--poses", inputs.poses, "Robot data file of the shots taken (as for calibrate)")
      ->required()
      ->check(kFileName);
  command->add_option("--robot", state->robot, RobotHelp() + "; or scara (X Y Z A, a 4-axis robot)")->required();
  AddFourAxisOptions(*command, inputs);
  command->add_flag("--eye-to-hand", inputs.eyeToHand, "Camera fixed, marker on the flange");
  command->add_flag("--meter", inputs.meter, "Robot translations in metres (generic types); also the suggested rows");
  command->add_flag("--radian", inputs.radian, "Robot angles in radians (generic3); also the suggested rows");
  command->add_option("--count", state->count, "How many poses to suggest")
      ->check(CLI::Range(1, 50))
      ->capture_default_str();
  auto* intrinsics =
      command
          ->add_option("--intrinsics", state->intrinsics,
                       "The camera's pinhole fx,fy,cx,cy (pixels): keeps the marker inside the image (default: "
                       "estimated from the clouds)")
          ->check(CLI::Validator(CheckIntrinsics, "FX,FY,CX,CY", "pinhole"));
  auto* imageSize = command->add_option("--image-size", state->imageSize, "The image's size WxH, with --intrinsics")
                        ->check(CLI::Validator(CheckImageSize, "WxH", "image size"));
  intrinsics->needs(imageSize);
  imageSize->needs(intrinsics);
  command->add_flag("--json", inputs.json, "Print JSON instead of text");
  AddModelOptions(*command, state->model, state->robotNoise);
  AddCentreOption(*command, inputs.centre);
  AddImageIntrinsicsOption(*command, inputs.imageIntrinsics);
  return {command, [state] { return RunInModule("suggest", state.get()); }};
}

// A plan's program: its file, format, speed, arm configuration and name.
void AddProgramOptions(CLI::App& command, PlanCommandOptions& plan) {
  command
      .add_option("--out", plan.out,
                  "Write the plan as a robot program: .ls (FANUC), .src (KUKA), .mod (ABB), .script (UR), "
                  ".JBI (YASKAWA) or .csv (rows of the type, as --poses reads them)")
      ->check(kFileName);
  command.add_option("--format", plan.format, "The program's format when --out's extension does not say it")
      ->check(CLI::IsMember({"ls", "src", "mod", "script", "jbi", "JBI", "csv"}));
  command.add_option("--speed", plan.speedPercent, "Linear speed of the moves, % of 1000 mm/s")
      ->check(CLI::Range(1.0, 100.0))
      ->capture_default_str();
  command.add_option("--config", plan.configuration,
                     "The taught arm configuration in the controller's form (FANUC 'N U T, 0, 0, 0', ABB 0,0,0,0, "
                     "YASKAWA RCONF 0,0,0,0,0,0,0,0)");
  command.add_option("--name", plan.name, "The program's name")->capture_default_str();
}

Command AddPlan(CLI::App& app) {
  const auto state = std::make_shared<PlanState>();
  CalibrateOptions& inputs = state->inputs;
  PlanCommandOptions& plan = state->plan;
  auto* command = app.add_subcommand(
      "plan", "Plan the calibration's poses around one taught pose, as a program for the robot's controller");
  command
      ->add_option("--robot", state->robot,
                   RobotHelp() + "; or scara: X Y Z (mm) and A (deg) about the base's vertical axis (a 4-axis robot)")
      ->required();
  command->add_flag("--four-axis", plan.fourAxis,
                    "A 4-axis robot (palletiser): plan turns about the base's vertical axis only (implied by scara)");
  AddFourAxisOptions(*command, inputs);
  auto* taught = command->add_option(
      "--taught", plan.taught, "The taught pose as a robot row of the type (values separated by commas or spaces)");
  command->add_option("--marker", plan.marker,
                      "X,Y,Z of the marker in the taught shot, camera frame (in --marker-unit), instead of its images "
                      "and clouds");
  // The shots as calibrate takes them, but --format names the program's format here.
  auto* markersOpt = command->add_option("--markers", inputs.markers,
                                         "With --poses: the first stage's marker positions (as for calibrate)");
  auto* imagesOpt = command->add_option("--images", inputs.images, "Folder of 2D images to detect in");
  auto* cloudsOpt = command->add_option("--clouds", inputs.clouds, "Folder of PLY point clouds");
  for (CLI::Option* option : {markersOpt, imagesOpt, cloudsOpt}) option->check(kFileName);
  markersOpt->excludes(imagesOpt)->excludes(cloudsOpt);
  imagesOpt->needs(cloudsOpt);
  cloudsOpt->needs(imagesOpt);
  command->add_option("--marker-unit", inputs.markerUnit, "Unit of --marker and --markers")
      ->check(CLI::IsMember({"m", "mm"}))
      ->capture_default_str();
  command->add_option("--image-format", inputs.format, "Image format")
      ->check(CLI::IsMember({"png", "jpg", "bmp"}))
      ->capture_default_str();
  auto* poses = command
                    ->add_option("--poses", inputs.poses,
                                 "Instead of --taught: the first stage's robot rows, the taught pose first, with their "
                                 "shots (--images and --clouds, or --markers)")
                    ->check(kFileName);
  taught->excludes(poses);
  command->add_option("--camera-guess", plan.cameraGuess,
                      "The camera transform as a row of the type (camera in flange eye-in-hand, in base eye-to-hand): "
                      "the whole plan at once; without it a short first stage");
  command->add_flag("--eye-to-hand", inputs.eyeToHand, "Camera fixed, marker on the flange");
  command->add_flag("--meter", inputs.meter, "Robot translations in metres (generic types); also the planned rows");
  command->add_flag("--radian", inputs.radian, "Robot angles in radians (generic3); also the planned rows");
  command->add_option("--convention", plan.convention, "The generic types: the rows' rotation convention (e.g. sxyz)");
  command->add_option("--count", plan.count, "Poses in the plan, the taught one first")
      ->check(CLI::Range(2, 50))
      ->capture_default_str();
  command->add_option("--max-turn", plan.maxTurnDeg, "The largest turn from the taught orientation, degrees")
      ->check(CLI::Range(1.0, 90.0))
      ->capture_default_str();
  command->add_option("--noise", plan.noiseMm, "A shot's noise per axis (mm) the predicted sigma assumes")
      ->check(CLI::Range(0.001, 100.0))
      ->capture_default_str();
  auto* intrinsics =
      command
          ->add_option("--intrinsics", state->intrinsics,
                       "The camera's pinhole fx,fy,cx,cy (pixels): keeps the marker inside the image (default: "
                       "estimated from the taught shot's cloud)")
          ->check(CLI::Validator(CheckIntrinsics, "FX,FY,CX,CY", "pinhole"));
  auto* imageSize = command->add_option("--image-size", state->imageSize, "The image's size WxH, with --intrinsics")
                        ->check(CLI::Validator(CheckImageSize, "WxH", "image size"));
  intrinsics->needs(imageSize);
  imageSize->needs(intrinsics);
  AddProgramOptions(*command, plan);
  command->add_flag("--json", inputs.json, "Print JSON instead of text");
  AddCentreOption(*command, inputs.centre);
  AddImageIntrinsicsOption(*command, inputs.imageIntrinsics);
  return {command, [state] { return RunInModule("plan", state.get()); }};
}

Command AddExport(CLI::App& app) {
  const auto state = std::make_shared<ExportState>();
  ExportCommandOptions& o = state->options;
  auto* command = app.add_subcommand(
      "export",
      "Hand a saved calibration to the cell: a ROS 2 launch file, a URDF joint, YAML, or a controller's frame");
  command->add_option("--result", o.result, "The saved calibration (as verify takes it)")->required()->check(kFileName);
  command
      ->add_option("--to", o.to,
                   "ros2 (static transform launch file), urdf (fixed joint), yaml, or the controller's tool frame "
                   "(eye-in-hand) or user frame (eye-to-hand): fanuc (TP program), kuka (KRL), abb (RAPID module), ur "
                   "(URScript)")
      ->required()
      ->check(CLI::IsMember({"ros2", "urdf", "yaml", "fanuc", "kuka", "abb", "ur"}));
  command->add_option("--out", o.out, "The file to write")->required()->check(kFileName);
  command->add_option("--parent", o.parent, "The parent frame's name (default tool0, eye-to-hand base_link)");
  command->add_option("--child", o.child, "The camera frame's name (default camera_optical_frame)");
  command->add_option("--number", o.number, "The controller's tool or user frame number")
      ->check(CLI::Range(1, 99))
      ->capture_default_str();
  command->add_flag("--eye-to-hand", o.eyeToHand, "For a result file that does not say: the camera is fixed");
  return {command, [state] { return RunInModule("export", state.get()); }};
}

// --radius: a length with its unit (40mm, 4cm, 0.04m) or a bare number of millimetres; 5 to 500 mm.
std::string CheckRadius(std::string& text) {
  double value = 0.0;
  std::string number = text;
  double toMm = 1.0;
  for (const auto& [suffix, factor] : {std::pair{std::string("mm"), 1.0}, {"cm", 10.0}, {"m", 1000.0}}) {
    if (text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0) {
      number = text.substr(0, text.size() - suffix.size());
      toMm = factor;
      break;
    }
  }
  if (!CLI::detail::lexical_cast(number, value) || !std::isfinite(value) || value * toMm < 5.0 ||
      value * toMm > 500.0) {
    return "must be a length from 5 mm to 500 mm, e.g. 40mm: " + text;
  }
  text = std::to_string(value * toMm);
  return {};
}

Command AddMarker(CLI::App& app) {
  const auto state = std::make_shared<MarkerState>();
  auto* command = app.add_subcommand("marker", "Write the marker to print: PDF, SVG or PNG, with a scale bar");
  command->add_option("--radius", state->sheet.radiusMm, "Outer radius of the marker (e.g. 40mm)")
      ->transform(CLI::Validator(CheckRadius, "LENGTH", "radius"))
      ->capture_default_str();
  command->add_option("--out", state->out, "File to write: .pdf, .svg or .png")->required()->check(kFileName);
  command->add_option("--dpi", state->sheet.dpi, "Resolution of a PNG")
      ->check(CLI::Range(72, 2400))
      ->capture_default_str();
  // Names, checked here and turned into the sheet's settings when the command runs.
  const auto names = std::make_shared<std::pair<std::string, std::string>>("", "zh");
  command
      ->add_option("--paper", names->first,
                   "Lay the marker out on this paper (PDF): one page when it fits, else overlapping pages with crop "
                   "marks to cut and join (default: one page of the sheet's own size)")
      ->check(CLI::IsMember({"A4", "A3", "letter"}, CLI::ignore_case));
  command->add_option("--lang", names->second, "Language of the sheet's texts (a PNG's are English)")
      ->check(CLI::IsMember({"zh", "en"}, CLI::ignore_case))
      ->capture_default_str();
  return {command, [state, names] {
            const std::string paper = CLI::detail::to_lower(names->first);
            state->sheet.paper = paper == "a4"       ? TarnWorkflow::Paper::A4
                                 : paper == "a3"     ? TarnWorkflow::Paper::A3
                                 : paper == "letter" ? TarnWorkflow::Paper::Letter
                                                     : TarnWorkflow::Paper::Sheet;
            state->sheet.language = CLI::detail::to_lower(names->second) == "en" ? TarnWorkflow::SheetLanguage::En
                                                                                 : TarnWorkflow::SheetLanguage::Zh;
            return RunInModule("marker", state.get());
          }};
}

Command AddDemo(CLI::App& app) {
  const auto state = std::make_shared<DemoState>();
  auto* command = app.add_subcommand("demo", "Render the sample set, detect, calibrate and compare with the truth");
  command->add_option("DIR", state->folder, "Folder for the sample set (default: a temporary folder)");
  AddCentreOption(*command, state->centre, "; both are compared with the truth, this one in full");
  return {command, [state] { return RunInModule("demo", state.get()); }};
}

}  // namespace

int main(int argc, char** argv) {
  // The locale's character set, to read file names written in it; numbers keep the C locale's form.
  std::setlocale(LC_CTYPE, "");
  CLI::App app{"Tarn: hand-eye calibration of a 3D camera on an industrial robot"};
  app.set_version_flag("--version", std::string(TARN_VERSION_TEXT));
  app.require_subcommand(1);
  const Command commands[] = {AddSynth(app), AddDetect(app), AddCalibrate(app), AddVerify(app), AddSuggest(app),
                              AddPlan(app),  AddExport(app), AddMarker(app),    AddDemo(app)};

  // A first word that names no command ("tarn frob") would otherwise be told only that one is required.
  std::string names;
  bool known = false;
  for (const Command& command : commands) {
    names += (names.empty() ? "" : ", ") + command.parser->get_name();
    known = known || (argc > 1 && command.parser->get_name() == argv[1]);
  }
  if (argc > 1 && argv[1][0] != '-' && !known) {
    std::cerr << "tarn: there is no command \"" << argv[1] << "\"; the commands are " << names
              << " (tarn --help says what each does)\n";
    return 1;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end here with 0; a bad option gets the parser's message and the exit
    // status of every bad input.
    return app.exit(e) == 0 ? 0 : 1;
  }

  for (const Command& command : commands) {
    if (command.parser->parsed()) return command.run();
  }
  return 0;
}
