// tarn: hand-eye calibration from the command line.
//
//   tarn synth OUTDIR          render a synthetic data set with known answers
//   tarn detect …              find the marker in every image / point cloud pair
//   tarn calibrate …           solve the camera transform and the marker position
//   tarn demo [DIR]            all of the above on the built-in sample set

#include "Commands.h"
#include "RobotTypes.h"
#include "Synth.h"

#include <tarn/Version.h>

#include <CLI/CLI.hpp>

#include <clocale>
#include <cmath>
#include <exception>
#include <iostream>
#include <map>
#include <regex>
#include <string>

int main(int argc, char** argv) {
  using namespace TarnCli;
  // The locale's character set, to read file names written in it; numbers keep the C locale's form.
  std::setlocale(LC_CTYPE, "");
  CLI::App app{"Tarn: hand-eye calibration of a 3D camera on an industrial robot"};
  app.set_version_flag("--version", std::string(TamoHandEye::GetVersion()));
  app.require_subcommand(1);

  const std::string robotHelp = "Robot type: " + RobotTypeNames();

  // synth
  SynthOptions synth;
  std::string synthRobot = "fanuc";
  std::string resolution = "1024x768";
  auto* synthCmd = app.add_subcommand("synth", "Render a data set: images, point clouds, robot data file, truth.json");
  synthCmd->add_option("OUTDIR", synth.folder, "Folder to write the data set into")->required();
  synthCmd->add_option("--poses", synth.poses, "Number of robot poses")->check(CLI::Range(3, 500))->capture_default_str();
  synthCmd->add_flag("--eye-to-hand", synth.eyeToHand, "Camera fixed, marker on the flange");
  synthCmd->add_option("--robot", synthRobot, robotHelp)->capture_default_str();
  synthCmd->add_option("--noise", synth.noiseMm, "Depth noise of the point clouds, mm (σ)")
      ->check(CLI::Range(0.0, 50.0))
      ->capture_default_str();
  synthCmd->add_option("--seed", synth.seed, "Random seed")->capture_default_str();
  synthCmd->add_option("--resolution", resolution, "Image size WxH")->capture_default_str();
  synthCmd->add_option("--format", synth.imageFormat, "Image format")->check(CLI::IsMember({"png", "jpg", "bmp"}))
      ->capture_default_str();
  synthCmd->add_flag("--force", synth.force, "Replace a data set already in OUTDIR");

  // detect
  DetectOptions detect;
  auto* detectCmd = app.add_subcommand("detect", "Find the marker in every image / point cloud pair");
  detectCmd->add_option("--images", detect.images, "Folder of 2D images (name_<number>.<format>)")->required();
  detectCmd->add_option("--clouds", detect.clouds, "Folder of PLY point clouds (name_<number>.ply)")->required();
  detectCmd->add_option("--format", detect.format, "Image format")->check(CLI::IsMember({"png", "jpg", "bmp"}))
      ->capture_default_str();
  detectCmd->add_flag("--json", detect.json, "Print JSON instead of a table");
  const std::map<std::string, Centre> centres{{"fit", Centre::Fit}, {"centroid", Centre::Centroid}};
  const std::string centreHelp =
      "How the marker's centre is found: fit (its rings fitted as circles on the board plane the cloud measures; "
      "precise) or centroid (the mean of the rings' centroids at one cloud pixel, as the desktop program's 同心圆)";
  detectCmd->add_option("--centre", detect.centre, centreHelp)
      ->transform(CLI::CheckedTransformer(centres, CLI::ignore_case))
      ->default_str("fit");

  // calibrate
  CalibrateOptions calibrate;
  std::string calibrateRobot;
  double ransacMm = 0.0;
  auto* calibrateCmd = app.add_subcommand("calibrate", "Solve the camera transform and the marker position");
  auto* markersOpt = calibrateCmd->add_option("--markers", calibrate.markers,
                                              "File of marker positions: per line x y z (metres) [u v]");
  auto* imagesOpt = calibrateCmd->add_option("--images", calibrate.images, "Folder of 2D images to detect in");
  auto* cloudsOpt = calibrateCmd->add_option("--clouds", calibrate.clouds, "Folder of PLY point clouds");
  markersOpt->excludes(imagesOpt)->excludes(cloudsOpt);
  imagesOpt->needs(cloudsOpt);
  cloudsOpt->needs(imagesOpt);
  calibrateCmd->add_option("--format", calibrate.format, "Image format")->check(CLI::IsMember({"png", "jpg", "bmp"}))
      ->capture_default_str();
  calibrateCmd->add_option("--poses", calibrate.poses, "Robot data file: one pose per line, whitespace separated")
      ->required();
  calibrateCmd->add_option("--robot", calibrateRobot, robotHelp)->required();
  calibrateCmd->add_flag("--eye-to-hand", calibrate.eyeToHand, "Camera fixed, marker on the flange");
  calibrateCmd->add_flag("--meter", calibrate.meter, "Robot translations in metres (generic types)");
  calibrateCmd->add_flag("--radian", calibrate.radian, "Robot angles in radians (generic3)");
  auto* ransacOpt = calibrateCmd->add_option("--ransac", ransacMm, "Drop poses whose residual is not below DIST mm first")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            double value = 0.0;
            if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || value < 0.0) {
              return "must be a finite number of millimetres, 0 or more: " + text;
            }
            return {};
          },
          "DIST >= 0", "finite non-negative"));
  calibrateCmd->add_option("--save", calibrate.save, "Write the settings and result as the desktop program's 保存 does");
  calibrateCmd->add_flag("--json", calibrate.json, "Print JSON instead of text");
  calibrateCmd->add_option("--centre", calibrate.centre, centreHelp)
      ->transform(CLI::CheckedTransformer(centres, CLI::ignore_case))
      ->default_str("fit");

  // demo
  std::string demoFolder;
  auto* demoCmd = app.add_subcommand("demo", "Render the sample set, detect, calibrate and compare with the truth");
  demoCmd->add_option("DIR", demoFolder, "Folder for the sample set (default: a temporary folder)");
  Centre demoCentre = Centre::Fit;
  demoCmd->add_option("--centre", demoCentre, centreHelp + "; both are compared with the truth, this one in full")
      ->transform(CLI::CheckedTransformer(centres, CLI::ignore_case))
      ->default_str("fit");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end here with 0; a bad option gets the parser's message and the exit
    // status of every bad input.
    return app.exit(e) == 0 ? 0 : 1;
  }

  try {
    if (synthCmd->parsed()) {
      synth.robot = FindRobotType(synthRobot);
      if (synth.robot == nullptr) throw std::runtime_error("unknown robot type \"" + synthRobot + "\"; use one of " + RobotTypeNames());
      std::smatch m;
      if (!std::regex_match(resolution, m, std::regex("([0-9]{2,5})x([0-9]{2,5})"))) {
        throw std::runtime_error("--resolution must look like 1024x768");
      }
      synth.width = std::stoi(m[1]);
      synth.height = std::stoi(m[2]);
      Synthesise(synth);
      std::cout << "wrote " << synth.poses << " shots, robot.txt and truth.json to " << synth.folder << "\n";
      return 0;
    }
    if (detectCmd->parsed()) return RunDetect(detect);
    if (calibrateCmd->parsed()) {
      if (calibrate.markers.empty() && calibrate.images.empty()) {
        throw std::runtime_error("give --markers FILE, or --images DIR and --clouds DIR");
      }
      calibrate.robot = FindRobotType(calibrateRobot);
      if (calibrate.robot == nullptr) {
        throw std::runtime_error("unknown robot type \"" + calibrateRobot + "\"; use one of " + RobotTypeNames());
      }
      calibrate.ransac = ransacOpt->count() > 0 ? ransacMm / 1000.0 : -1.0;
      return RunCalibrate(calibrate);
    }
    if (demoCmd->parsed()) return RunDemo(demoFolder, demoCentre);
  } catch (const std::exception& e) {
    std::cerr << "tarn: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
