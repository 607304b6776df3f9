// SPDX-License-Identifier: Apache-2.0
#pragma once

// A list of flange poses as a program for the robot's controller: slow linear moves, a pause at each pose for the
// shot, and a comment header. FANUC TP text (.ls), KUKA KRL (.src, FRAME targets), ABB RAPID (.mod, robtargets),
// URScript (.script, movel in metres and rotation vectors), YASKAWA INFORM (.JBI, rectangular positions) and a plain
// CSV of rows in the robot type's own convention, which `tarn calibrate --poses` reads.

#include "RobotTypes.h"

#include <tarn/PosePlan.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace TarnWorkflow {

enum class ProgramFormat { FanucLs, KukaSrc, AbbMod, UrScript, YaskawaJbi, Csv };

/// The format named by a file's extension (".ls", ".src", ".mod", ".script", ".JBI", ".csv"; any letter case) or by
/// a format name ("ls", "src", "mod", "script", "jbi", "csv", or "fanuc", "kuka", "abb", "ur", "yaskawa"); nothing
/// for any other.
std::optional<ProgramFormat> ProgramFormatOf(const std::string& extensionOrName);
/// The names ProgramFormatOf takes, for messages.
std::string ProgramFormatNames();

struct ProgramOptions {
  std::string name =
      "TARN_CALIB";            ///< the program's name (letters, digits and _; upper-cased where the controller wants)
  double speedPercent = 10.0;  ///< of 1000 mm/s, the linear speed of every move
  /// The taught arm configuration, in the controller's own form: FANUC "N U T, 0, 0, 0", ABB "0,0,0,0" (cf1, cf4,
  /// cf6, cfx), YASKAWA's RCONF "0,0,0,0,0,0,0,0"; empty: those defaults. KUKA and UR targets carry none.
  std::string configuration;
  std::vector<std::string> comments;  ///< header lines (ASCII; the taught pose, the expected σ, …)
};

/// The program for the flange poses (base_from_flange, 4 x 4 row by row, millimetres). Each format writes its own
/// rotation form, whatever the robot type of the rows; `type` and `rows` (the same poses as the type's rows) are
/// used by the CSV only.
std::string WriteProgram(ProgramFormat format, const std::vector<std::array<double, 16>>& flanges,
                         const RobotType& type, const std::vector<std::vector<double>>& rows,
                         const ProgramOptions& options);

/// A pose plan's header lines for its program (ASCII): what it is, the taught pose as a row of `type`, what to do
/// after a first stage or the σ expected after all of it, and "check reach and collisions before running".
std::vector<std::string> PlanComments(const TamoHandEye::PosePlan& plan, const RobotType& type);

}  // namespace TarnWorkflow
