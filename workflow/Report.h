// SPDX-License-Identifier: Apache-2.0
#pragma once

// A calibration run through a robot type's entry point, and its report as text and as JSON.

#include "MarkerBatch.h"
#include "RobotTypes.h"

#include <tarn/CalibrationReport.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <ostream>
#include <vector>

namespace TarnWorkflow {

struct Calibration {
  TamoHandEye::AlgoParam param;
  TamoHandEye::FinalResult result;
  TamoHandEye::ErrorCode code = TamoHandEye::Success;
  bool reported = false;                  ///< solved through the calibration report
  TamoHandEye::CalibrationReport report;  ///< when reported (its result is `result`)
};

/// Solves `markers` and `rows` as the robot type's entry point does, through the calibration report (its
/// pose search seeded by the options).
Calibration Calibrate(const RobotType& robot, const std::vector<TamoHandEye::MarkerBoardResult>& markers,
                      const TamoHandEye::RobotRows& rows, const TamoHandEye::AlgoParam& param,
                      const TamoHandEye::ReportOptions& report);

/// The result for a reader: the camera as a robot row and a matrix, the marker, every pose's residual and
/// whether it was used, RMS and maximum, and the poses the search dropped; with a report also the
/// convention used, the ± figures (1σ), each pose's leave-one-out residual, the pose set and the warnings.
void WriteCalibrationText(std::ostream& out, const Calibration& calibration, const RobotType& robot);
/// Why a calibration failed, in English: the code and what to do (and the likely set-up mistake when the
/// report found one).
std::string FailureMessage(const Calibration& calibration);
/// The layout of every JSON and YAML document the programs write; readers take this one and the earlier,
/// unnumbered one (camelCase result keys).
inline constexpr int kSchema = 1;

/// The result record, the one serialiser of a calibration (command line, Python, saved files): schema,
/// robot, hand_eye, unit, camera_row, camera_matrix, marker_position, rms_error_mm, max_error_mm, mask,
/// residuals_mm, and "shots" with each shot's detection when `detections` is not empty; the report's
/// "convention", "uncertainty" {"translation_mm", "rotation_deg", "marker_mm"}, "covariance",
/// "leave_one_out_mm", "pose_set", "search", "tolerance", "warnings" [{"code", "message", "fix", "pose"}]
/// and "seed". A pose named is counted from 1 ("pose": 8 is line 8 of the robot file); arrays keep the
/// file's order.
nlohmann::json CalibrationJson(const Calibration& calibration, const RobotType& robot,
                               const std::vector<ShotDetection>& detections);
/// The camera of a result as a row of every vendor robot type (in its own units: millimetres, degrees or
/// UR's radians) and of generic4 (X Y Z in mm and x y z w): {"fanuc": [...], ...}.
nlohmann::json CameraRowsJson(const TamoHandEye::FinalResult& result, const TamoHandEye::AlgoParam& param);
/// Those rows for a reader.
void WriteCameraRows(std::ostream& out, const nlohmann::json& rows);
/// A JSON value as YAML (block style; strings quoted as JSON strings, which YAML reads alike).
std::string ToYaml(const nlohmann::json& value);
/// Writes a record as JSON, or as YAML for a .yaml / .yml path (any letter case), replacing the file whole
/// as ReplaceFile does (a device or a pipe, such as /dev/stdout, gets JSON whatever its name); false with
/// `error` for another ending or a failed write.
bool WriteRecordFile(const std::string& path, const nlohmann::json& record, std::string& error);
/// The value of a YAML text as ToYaml writes it (comments and blank lines allowed); false with `error`
/// for anything else.
bool FromYaml(const std::string& text, nlohmann::json& value, std::string& error);
/// The note for centres found as ring centroids: biased under perspective, outside the σ.
std::string CentroidBiasNote();
/// {"error": {"code", "message"}}.
nlohmann::json ErrorJson(int code, const std::string& message);
/// One shot's detection: its files, code, and the marker or the reason; the fit's figures when the centre
/// was fitted.
nlohmann::json ShotJson(const ShotDetection& detection);

}  // namespace TarnWorkflow
