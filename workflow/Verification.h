// SPDX-License-Identifier: Apache-2.0
#pragma once

// A saved calibration read back for checking it against new shots, and the check as text and as JSON.

#include <tarn/CalibrationCheck.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <ostream>
#include <string>

namespace TarnWorkflow {

/// A saved calibration and the settings it was saved with, where the file says them.
struct SavedResult {
  TamoHandEye::SavedCalibration calibration;
  std::string robot;              ///< the robot type's short name; empty when the file does not say
  std::optional<bool> eyeToHand;  ///< the set-up, when the file says
  std::optional<bool> meter;      ///< the unit of its translations is metres, when the file says
};

/// Reads what `tarn calibrate --json` printed (or wrote with --output FILE.json) or a result file the
/// desktop program's "保存" (or `tarn calibrate --save`) wrote. False, with the reason in `error`, when
/// the file is neither or lacks the camera matrix or the marker position.
bool ReadSavedResult(const std::string& path, SavedResult& result, std::string& error);

/// The board plane of a calibration record (its "model" and "board", as the report writes them) into `saved`:
/// kept only when whole, so that new shots' normals are judged by it; otherwise `saved` is left as it was.
void ReadBoardRecord(const nlohmann::json& record, TamoHandEye::SavedCalibration& saved);

/// The saved translations and marker position in the unit of rows in metres (`meter`) or millimetres, when
/// the file says which unit it was saved in. A robot type whose rows are always millimetres
/// (`typeHasUnitChoice` false) gives its results in millimetres whatever a desktop file's "IsMeter" says.
void ToUnitOfRows(SavedResult& saved, bool typeHasUnitChoice, bool meter);

/// "ok", "drift" or "inconclusive".
const char* VerdictText(const TamoHandEye::CalibrationCheck& check);
/// What the shots can see, when judged with the saved covariance: the smallest shift and turn they detect
/// and how many more shots would see a shift of the tolerance; empty otherwise.
std::string PowerText(const TamoHandEye::CalibrationCheck& check);
/// Where the limit came from: "option" (given), "calibration" (the saved figures) or "default".
const char* LimitSource(const TamoHandEye::CalibrationCheck& check, bool limitGiven);

/// The check for a reader: per shot the predicted and measured marker and their distance, RMS and
/// maximum against the limit and how it was set, the verdict, and the camera displacement when known.
void WriteCheckText(std::ostream& out, const TamoHandEye::CalibrationCheck& check, bool limitGiven = false);
/// The same as JSON: "shots" [{"predicted_mm", "measured_mm", "residual_mm", "normal_residual_deg" (null without a
/// normal)}], "shots_with_normal" (judged by their normal too), "normal_rms_deg", "rms_mm", "max_mm",
/// "limit_mm", "limit_from" ("calibration", "default" or "option"), "verdict" ("ok", "drift" or
/// "inconclusive"), "judged_by" ("covariance" or "limit"), "power" {"detectable_shift_mm",
/// "detectable_turn_deg", "more_shots", "tolerance_mm", "tolerance_deg", "p_value", "text"} or null,
/// "convention", and "drift" {"translation_mm", "rotation_deg", "translation_xyz_mm", "axis",
/// "translation_sigma_mm", "rotation_sigma_deg"} or null.
nlohmann::json CheckJson(const TamoHandEye::CalibrationCheck& check, bool limitGiven);

}  // namespace TarnWorkflow
