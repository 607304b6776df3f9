// SPDX-License-Identifier: Apache-2.0
// The command module: the work behind each parsed command, loaded by the program only to run one.

#include "CommandStates.h"
#include "LibraryOutput.h"
#include "ProcessMemory.h"

#include <cstring>
#include <exception>
#include <iostream>
#include <stdexcept>

namespace {

using namespace TarnCli;

const RobotType& RobotOrThrow(const std::string& name) {
  const RobotType* robot = TarnWorkflow::FindRobotType(name);
  if (robot == nullptr) {
    throw std::runtime_error("unknown robot type \"" + name + "\"; use one of " + TarnWorkflow::RobotTypeNames());
  }
  return *robot;
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

int Synth(SynthState& state) {
  TarnSim::SynthOptions& o = state.synth;
  const RobotType& robot = RobotOrThrow(state.robot);
  o.robotName = robot.name;
  o.format = robot.format;
  o.radian = robot.radian;
  if (!ParseResolution(state.resolution, o.width, o.height)) {
    throw std::runtime_error("--resolution must look like 1024x768");
  }
  TarnSim::Synthesise(o);
  std::cout << "wrote " << o.poses << " shots, robot.txt and truth.json to " << o.folder << "\n";
  return 0;
}

// Where the shots come from and how the robot rows are read, as calibrate and verify take them; the robot
// type is left unset when `robot` is empty.
void SetShotInputs(CalibrateOptions& o, const std::string& robot) {
  if (o.markers.empty() && o.targets.empty() && o.images.empty()) {
    throw std::runtime_error("give --markers FILE, --targets FILE, or --images DIR and --clouds DIR");
  }
  o.matrixRows = robot == "matrix";
  if (o.invert && !o.matrixRows) throw std::runtime_error("--invert applies to --robot matrix only");
  o.fourValueRows = robot == "scara";
  if (!robot.empty()) o.robot = &RobotOrThrow(o.matrixRows ? "abb-quat" : o.fourValueRows ? "fanuc" : robot);
}

// --tolerance MM[,DEG], checked by the parser.
void SetTolerance(const std::string& text, CalibrateOptions& o) {
  const std::size_t comma = text.find(',');
  o.toleranceMm = std::stod(text.substr(0, comma));
  if (comma != std::string::npos) o.toleranceDeg = std::stod(text.substr(comma + 1));
}

// --model and --robot-noise MM,DEG (with optional units), checked by the parser.
void SetModel(const std::string& model, const std::string& robotNoise, CalibrateOptions& o) {
  o.pointModel = model == "point";
  if (robotNoise.empty()) return;
  const std::size_t comma = robotNoise.find(',');
  o.robotNoiseMm = std::stod(robotNoise.substr(0, comma));  // stod stops at the unit
  o.robotNoiseDeg = std::stod(robotNoise.substr(comma + 1));
}

int Calibrate(CalibrateState& state) {
  CalibrateOptions& o = state.calibrate;
  SetShotInputs(o, state.robot);
  o.ransac = -1.0;
  if (state.ransacGiven)
    o.ransac = state.ransac.empty() || state.ransac == "auto" ? 0.0 : std::stod(state.ransac) / 1000.0;
  SetTolerance(state.tolerance, o);
  if (state.seed != "random") o.seed = static_cast<std::uint32_t>(std::stoull(state.seed));
  SetModel(state.model, state.robotNoise, o);
  return RunCalibrate(o);
}

int Verify(VerifyState& state) {
  SetShotInputs(state.inputs, state.robot);
  SetTolerance(state.tolerance, state.inputs);
  return RunVerify(state.inputs, state.result, state.limitMm);
}

// --intrinsics fx,fy,cx,cy with --image-size WxH, checked by the parser; unknown when not given.
TamoHandEye::CameraPinhole PinholeOf(const std::string& intrinsics, const std::string& imageSize) {
  TamoHandEye::CameraPinhole pinhole;
  if (intrinsics.empty()) return pinhole;
  std::stringstream fields(intrinsics);
  std::string field;
  std::vector<double> v;
  while (std::getline(fields, field, ',')) v.push_back(std::stod(field));
  const std::size_t x = imageSize.find('x');
  return {v.at(0), v.at(1), v.at(2), v.at(3), std::stoi(imageSize.substr(0, x)), std::stoi(imageSize.substr(x + 1))};
}

int Suggest(SuggestState& state) {
  SetShotInputs(state.inputs, state.robot);
  SetModel(state.model, state.robotNoise, state.inputs);
  if (state.inputs.matrixRows) {
    throw std::runtime_error("--robot matrix has no row convention to suggest poses in: give the robot's type");
  }
  return RunSuggest(state.inputs, state.count, PinholeOf(state.intrinsics, state.imageSize));
}

int Plan(PlanState& state) {
  CalibrateOptions& o = state.inputs;
  o.matrixRows = false;
  o.fourValueRows = state.robot == "scara";
  o.robot = &RobotOrThrow(o.fourValueRows ? "fanuc" : state.robot);
  if (state.plan.taught.empty() == o.poses.empty()) {
    throw std::runtime_error("give --taught ROW (with its shot), or --poses FILE with a first stage's shots");
  }
  if (!o.poses.empty() && o.markers.empty() && o.targets.empty() && o.images.empty()) {
    throw std::runtime_error("with --poses give the first stage's shots: --images DIR --clouds DIR, or --markers FILE");
  }
  return RunPlan(o, state.plan, PinholeOf(state.intrinsics, state.imageSize));
}

int Marker(const MarkerState& state) {
  std::string error;
  if (!TarnWorkflow::WriteMarkerSheet(state.out, state.sheet, error)) throw std::runtime_error(error);
  TarnWorkflow::MarkerSheet english = state.sheet;  // the terminal's report stays in English
  english.language = TarnWorkflow::SheetLanguage::En;
  const TarnWorkflow::MarkerLayout layout = TarnWorkflow::LayoutOf(english);
  std::cout << "wrote " << state.out << ": " << layout.caption << ", sheet " << layout.pageWidth << " x "
            << layout.pageHeight << " mm";
  if (state.sheet.paper != TarnWorkflow::Paper::Sheet) {
    const std::vector<TarnWorkflow::MarkerPage> pages = TarnWorkflow::PagesOf(state.sheet);
    const TarnWorkflow::MarkerPage& first = pages.front();
    std::cout << ", on " << pages.size() << (pages.size() == 1 ? " page" : " pages") << " of " << first.width << " x "
              << first.height << " mm";
    if (pages.size() > 1) {
      std::cout << " (" << first.rows << " rows of " << first.columns
                << "): cut each page at its crop marks, lay the cut edge on the dashed line of the page before, glue";
    }
  }
  std::cout << "; " << layout.check << "\n";
  return 0;
}

int Run(const std::string& name, void* state) {
  if (name == "synth") return Synth(*static_cast<SynthState*>(state));
  if (name == "detect") return RunDetect(*static_cast<const DetectOptions*>(state));
  if (name == "calibrate") return Calibrate(*static_cast<CalibrateState*>(state));
  if (name == "verify") return Verify(*static_cast<VerifyState*>(state));
  if (name == "suggest") return Suggest(*static_cast<SuggestState*>(state));
  if (name == "plan") return Plan(*static_cast<PlanState*>(state));
  if (name == "export") return RunExport(static_cast<ExportState*>(state)->options);
  if (name == "marker") return Marker(*static_cast<const MarkerState*>(state));
  if (name == "demo") {
    const auto& demo = *static_cast<const DemoState*>(state);
    return RunDemo(demo.folder, demo.centre);
  }
  throw std::runtime_error("no command \"" + name + "\"");
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int TarnRunCommand(const char* name, void* state) {
  TarnWorkflow::KeepFreedMemory();       // a batch's buffers reuse the pages of the shot before
  TarnWorkflow::SilenceLibraryOutput();  // the command's reports own standard output
  try {
    return Run(name, state);
  } catch (const std::exception& e) {
    std::cerr << "tarn: " << e.what() << "\n";
    return 1;
  }
}
