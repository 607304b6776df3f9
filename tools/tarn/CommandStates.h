// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the command line parses for each command, handed to the command module that runs it. The
// program that parses (and prints help) reads these as plain data and links no library the commands need.

#include "Commands.h"
#include "DataSet.h"
#include "PrintableMarker.h"

#include <tarn/CalibrationReport.h>

#include <string>

namespace TarnCli {

struct SynthState {
  TarnSim::SynthOptions synth;
  std::string robot = "fanuc";
  std::string resolution = "1024x768";
};

struct CalibrateState {
  CalibrateOptions calibrate;  ///< all but the robot type, the pose search distance and its seed
  std::string robot;
  std::string ransac;  ///< millimetres; empty, "auto" or 0 with ransacGiven: from the data
  bool ransacGiven = false;
  std::string tolerance = "1,0.1";                                       ///< MM[,DEG]
  std::string seed = std::to_string(TamoHandEye::ReportOptions{}.seed);  ///< a number or "random"
  std::string model = "auto";                                            ///< "auto" or "point"
  std::string robotNoise;  ///< MM[mm],DEG[deg], checked by the parser; empty: none
};

struct VerifyState {
  CalibrateOptions inputs;          ///< the new shots as calibrate reads them (its solve settings unused)
  std::string robot;                ///< empty: the saved result's
  std::string result;               ///< the saved result file
  double limitMm = 0.0;             ///< above 0: the verdict's limit
  std::string tolerance = "1,0.1";  ///< MM[,DEG]: the smallest move "ok" must have been able to see
};

struct SuggestState {
  CalibrateOptions inputs;  ///< the poses taken as calibrate reads them (no pose search)
  std::string robot;
  int count = 3;               ///< suggestions wanted
  std::string intrinsics;      ///< fx,fy,cx,cy, checked by the parser; empty: estimated from the clouds
  std::string imageSize;       ///< WxH, with intrinsics
  std::string model = "auto";  ///< as calibrate's
  std::string robotNoise;
};

struct PlanState {
  CalibrateOptions inputs;  ///< the taught shot (or a first stage's shots) as calibrate reads them
  PlanCommandOptions plan;
  std::string robot;
  std::string intrinsics;  ///< fx,fy,cx,cy, checked by the parser; empty: estimated from the clouds
  std::string imageSize;   ///< WxH, with intrinsics
};

struct ExportState {
  ExportCommandOptions options;
};

struct MarkerState {
  TarnWorkflow::MarkerSheet sheet;
  std::string out;
};

struct DemoState {
  std::string folder;
  Centre centre = Centre::Fit;
};

}  // namespace TarnCli

/// The command module's entry: runs command `name` ("synth", "detect", "calibrate", "verify", "suggest", "plan",
/// "export", "marker", "demo") on its state (SynthState, DetectOptions, CalibrateState, VerifyState, SuggestState,
/// PlanState, ExportState, MarkerState, DemoState) and returns
/// the exit status; a failure prints "tarn: " and its message and gives 1.
extern "C" int TarnRunCommand(const char* name, void* state);
