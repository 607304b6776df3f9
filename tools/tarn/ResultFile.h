#pragma once

// The desktop program's parameter and result file: the settings block, then comma-terminated tables,
// in GB2312.

#include <tarn/AlgoParam.h>
#include <tarn/FinalResult.h>

#include <optional>
#include <string>

namespace TarnCli {

struct RobotType;

/// Writes the settings and the result's three tables (camera pose row, camera matrix, marker position)
/// as the desktop program's "保存" does, through a temporary file of a unique name in the target's
/// folder, renamed into place once complete: a failed write leaves an earlier file whole, and two saves
/// at once never mix. The settings name the way the markers were found as the desktop program's marker box
/// does ("同心圆(平面拟合)" when `fittedCentre`, else "同心圆"; no entry when it is not known). Returns
/// false when the file cannot be written.
bool WriteResultFile(const std::string& path, const RobotType& robot, const TamoHandEye::AlgoParam& param,
                     const TamoHandEye::FinalResult& result, std::optional<bool> fittedCentre = true);

/// A number as the desktop program shows it: up to 6 significant digits ("%g").
std::string FormatNumber(double value);

}  // namespace TarnCli
