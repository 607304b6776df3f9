// tarn: hand-eye calibration from the command line.
//
//   tarn synth OUTDIR          render a synthetic data set with known answers
//   tarn detect …              find the marker in every image / point cloud pair
//   tarn calibrate …           solve the camera transform and the marker position
//   tarn demo [DIR]            all of the above on the built-in sample set

#include "Commands.h"
#include "DataSet.h"
#include "PrintableMarker.h"
#include "ProcessMemory.h"

#include <tarn/CalibrationReport.h>
#include <tarn/Version.h>

#include <CLI/CLI.hpp>

#include <clocale>
#include <cmath>
#include <exception>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <string>

namespace {

using namespace TarnCli;
using TarnWorkflow::FindRobotType;
using TarnWorkflow::RobotTypeNames;

// A command: its parser, and what runs it once parsed (the exit status; failures throw with a message).
struct Command {
  CLI::App* parser;
  std::function<int()> run;
};

const std::string& RobotHelp() {
  static const std::string help = "Robot type: " + RobotTypeNames();
  return help;
}

const RobotType& RobotOrThrow(const std::string& name) {
  const RobotType* robot = FindRobotType(name);
  if (robot == nullptr) throw std::runtime_error("unknown robot type \"" + name + "\"; use one of " + RobotTypeNames());
  return *robot;
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

// "WxH" with 2 to 5 digits each.
bool ParseResolution(const std::string& text, int& width, int& height) {
  const std::size_t x = text.find('x');
  if (x == std::string::npos) return false;
  const std::string w = text.substr(0, x), h = text.substr(x + 1);
  const auto digits = [](const std::string& d) {
    return d.size() >= 2 && d.size() <= 5 && d.find_first_not_of("0123456789") == std::string::npos;
  };
  if (!digits(w) || !digits(h)) return false;
  width = std::stoi(w);
  height = std::stoi(h);
  return true;
}

Command AddSynth(CLI::App& app) {
  struct State {
    TarnSim::SynthOptions synth;
    std::string robot = "fanuc";
    std::string resolution = "1024x768";
  };
  const auto state = std::make_shared<State>();
  TarnSim::SynthOptions& synth = state->synth;
  auto* command = app.add_subcommand("synth", "Render a data set: images, point clouds, robot data file, truth.json");
  command->add_option("OUTDIR", synth.folder, "Folder to write the data set into")->required();
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
  return {command, [state] {
            TarnSim::SynthOptions& o = state->synth;
            const RobotType& robot = RobotOrThrow(state->robot);
            o.robotName = robot.name;
            o.format = robot.format;
            o.radian = robot.radian;
            if (!ParseResolution(state->resolution, o.width, o.height)) {
              throw std::runtime_error("--resolution must look like 1024x768");
            }
            TarnSim::Synthesise(o);
            std::cout << "wrote " << o.poses << " shots, robot.txt and truth.json to " << o.folder << "\n";
            return 0;
          }};
}

Command AddDetect(CLI::App& app) {
  const auto detect = std::make_shared<DetectOptions>();
  auto* command = app.add_subcommand("detect", "Find the marker in every image / point cloud pair");
  command->add_option("--images", detect->images, "Folder of 2D images (name_<number>.<format>)")->required();
  command->add_option("--clouds", detect->clouds, "Folder of PLY point clouds (name_<number>.ply)")->required();
  command->add_option("--format", detect->format, "Image format")
      ->check(CLI::IsMember({"png", "jpg", "bmp"}))
      ->capture_default_str();
  command->add_flag("--json", detect->json, "Print JSON instead of a table");
  AddCentreOption(*command, detect->centre);
  return {command, [detect] { return RunDetect(*detect); }};
}

// --ransac: a finite distance of 0 mm or more.
std::string CheckDistance(std::string& text) {
  double value = 0.0;
  if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value) || value < 0.0) {
    return "must be a finite number of millimetres, 0 or more: " + text;
  }
  return {};
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

Command AddCalibrate(CLI::App& app) {
  struct State {
    CalibrateOptions calibrate;
    std::string robot;
    double ransacMm = 0.0;
    CLI::Option* ransac = nullptr;
    std::string seed = std::to_string(TamoHandEye::ReportOptions{}.seed);
  };
  const auto state = std::make_shared<State>();
  CalibrateOptions& calibrate = state->calibrate;
  auto* command = app.add_subcommand("calibrate", "Solve the camera transform and the marker position");
  auto* markersOpt = command->add_option(
      "--markers", calibrate.markers,
      "File of marker positions: per line x y z (metres) [u v]; or tarn detect's output, table or JSON");
  auto* targetsOpt = command->add_option(
      "--targets", calibrate.targets,
      "File of target poses instead: per line a 4 x 4 matrix (16 or 12 values) or X Y Z and a quaternion; the "
      "translation is the marker point (metres)");
  auto* imagesOpt = command->add_option("--images", calibrate.images, "Folder of 2D images to detect in");
  auto* cloudsOpt = command->add_option("--clouds", calibrate.clouds, "Folder of PLY point clouds");
  markersOpt->excludes(imagesOpt)->excludes(cloudsOpt)->excludes(targetsOpt);
  targetsOpt->excludes(imagesOpt)->excludes(cloudsOpt);
  command->add_option("--marker-unit", calibrate.markerUnit, "Unit of --markers and --targets")
      ->check(CLI::IsMember({"m", "mm"}))
      ->capture_default_str();
  imagesOpt->needs(cloudsOpt);
  cloudsOpt->needs(imagesOpt);
  command->add_option("--format", calibrate.format, "Image format")
      ->check(CLI::IsMember({"png", "jpg", "bmp"}))
      ->capture_default_str();
  command
      ->add_option("--poses", calibrate.poses,
                   "Robot data file: one pose per line, values separated by spaces, tabs, commas or semicolons "
                   "('#' comments and a first line of names skipped)")
      ->required();
  command->add_option("--robot", state->robot, RobotHelp() + "; or matrix: 4 x 4 flange poses (16 or 12 values, mm)")
      ->required();
  command->add_flag("--invert", calibrate.invert, "With --robot matrix: the matrices are the base in the flange frame");
  command->add_flag("--eye-to-hand", calibrate.eyeToHand, "Camera fixed, marker on the flange");
  command->add_flag("--meter", calibrate.meter, "Robot translations in metres (generic types, matrix)");
  command->add_flag("--radian", calibrate.radian, "Robot angles in radians (generic3)");
  state->ransac =
      command->add_option("--ransac", state->ransacMm, "Drop poses whose residual is not below DIST mm first")
          ->check(CLI::Validator(CheckDistance, "DIST >= 0", "finite non-negative"));
  command->add_option("--save", calibrate.save, "Write the settings and result as the desktop program's 保存 does");
  command->add_flag("--json", calibrate.json, "Print JSON instead of text");
  command->add_option("--output", calibrate.output,
                      "Also write the result as --json prints it, to FILE.json or FILE.yaml");
  command->add_flag("--all-conventions", calibrate.allConventions,
                    "Also give the camera as a row of every robot type's convention");
  command
      ->add_option("--seed", state->seed,
                   "Seed of the pose search (the same data and seed give the same result), "
                   "or random")
      ->check(CLI::Validator(CheckSeed, "N|random", "seed"))
      ->capture_default_str();
  command->add_flag("--strict", calibrate.strict, "Exit with status 3 when the report raises any warning");
  AddCentreOption(*command, calibrate.centre);
  return {command, [state] {
            CalibrateOptions& o = state->calibrate;
            if (o.markers.empty() && o.targets.empty() && o.images.empty()) {
              throw std::runtime_error("give --markers FILE, --targets FILE, or --images DIR and --clouds DIR");
            }
            o.matrixRows = state->robot == "matrix";
            if (o.invert && !o.matrixRows) throw std::runtime_error("--invert applies to --robot matrix only");
            o.robot = &RobotOrThrow(o.matrixRows ? "abb-quat" : state->robot);
            o.ransac = state->ransac->count() > 0 ? state->ransacMm / 1000.0 : -1.0;
            if (state->seed != "random") o.seed = static_cast<std::uint32_t>(std::stoull(state->seed));
            return RunCalibrate(o);
          }};
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
  struct State {
    TarnWorkflow::MarkerSheet sheet;
    std::string out;
  };
  const auto state = std::make_shared<State>();
  auto* command = app.add_subcommand("marker", "Write the marker to print: PDF, SVG or PNG, with a scale bar");
  command->add_option("--radius", state->sheet.radiusMm, "Outer radius of the marker (e.g. 40mm)")
      ->transform(CLI::Validator(CheckRadius, "LENGTH", "radius"))
      ->capture_default_str();
  command->add_option("--out", state->out, "File to write: .pdf, .svg or .png")->required();
  command->add_option("--dpi", state->sheet.dpi, "Resolution of a PNG")
      ->check(CLI::Range(72, 2400))
      ->capture_default_str();
  return {command, [state] {
            std::string error;
            if (!TarnWorkflow::WriteMarkerSheet(state->out, state->sheet, error)) throw std::runtime_error(error);
            const TarnWorkflow::MarkerLayout layout = TarnWorkflow::LayoutOf(state->sheet);
            std::cout << "wrote " << state->out << ": " << layout.caption << ", sheet " << layout.pageWidth << " x "
                      << layout.pageHeight << " mm; " << layout.check << "\n";
            return 0;
          }};
}

Command AddDemo(CLI::App& app) {
  struct State {
    std::string folder;
    Centre centre = Centre::Fit;
  };
  const auto state = std::make_shared<State>();
  auto* command = app.add_subcommand("demo", "Render the sample set, detect, calibrate and compare with the truth");
  command->add_option("DIR", state->folder, "Folder for the sample set (default: a temporary folder)");
  AddCentreOption(*command, state->centre, "; both are compared with the truth, this one in full");
  return {command, [state] { return RunDemo(state->folder, state->centre); }};
}

}  // namespace

int main(int argc, char** argv) {
  // The locale's character set, to read file names written in it; numbers keep the C locale's form.
  std::setlocale(LC_CTYPE, "");
  TarnWorkflow::KeepFreedMemory();
  CLI::App app{"Tarn: hand-eye calibration of a 3D camera on an industrial robot"};
  app.set_version_flag("--version", std::string(TamoHandEye::GetVersion()));
  app.require_subcommand(1);
  const Command commands[] = {AddSynth(app), AddDetect(app), AddCalibrate(app), AddMarker(app), AddDemo(app)};

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end here with 0; a bad option gets the parser's message and the exit
    // status of every bad input.
    return app.exit(e) == 0 ? 0 : 1;
  }

  try {
    for (const Command& command : commands) {
      if (command.parser->parsed()) return command.run();
    }
  } catch (const std::exception& e) {
    std::cerr << "tarn: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
