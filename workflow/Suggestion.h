// SPDX-License-Identifier: Apache-2.0
#pragma once

// The suggested next poses for a reader and as JSON.

#include "MarkerBatch.h"
#include "RobotTypes.h"

#include <tarn/PoseSuggestion.h>

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>

namespace TarnWorkflow {

/// The report raised a warning about the pose set ("few-poses", "narrow-rotation", "single-axis", "uncertain"):
/// the time to suggest the next poses.
bool WarnsAboutPoseSet(const TamoHandEye::CalibrationReport& report);

/// The robot row's columns and units, e.g. "X Y Z W P R (mm, deg)", as `param` reads rows of `robot`.
std::string RowColumns(const RobotType& robot, const TamoHandEye::AlgoParam& param);

/// The σ now, then each suggestion best first: its row, the σ after it and how it was made, and what to do
/// with them.
void WriteSuggestionText(std::ostream& out, const TamoHandEye::PoseSuggestions& s, const RobotType& robot,
                         const TamoHandEye::AlgoParam& param);
/// "sigma_mm", "convention", "columns", and "suggestions": [{"row", "sigma_mm_after", "from_pose" (1-based),
/// "turn_deg", "axis", "view_deg", "distance_mm"}]; "note" when there is none.
nlohmann::json SuggestionJson(const TamoHandEye::PoseSuggestions& s, const RobotType& robot,
                              const TamoHandEye::AlgoParam& param);

/// Where the suggestions' pinhole came from.
enum class PinholeSource { None, Given, Clouds };

/// The pinhole of the first of the first three successfully detected shots whose cloud gives one; unknown
/// (width 0) when none does.
TamoHandEye::CameraPinhole PinholeOfShots(const std::vector<ShotDetection>& detections);
/// One line: the marker kept inside the image of that pinhole (and where it came from), or in the view cone.
std::string PinholeText(const TamoHandEye::SuggestOptions& options, PinholeSource source);
/// "kept_in": "image" or "view cone", and "pinhole" {"fx", "fy", "cx", "cy", "width", "height", "from"} or null.
void AddPinholeJson(nlohmann::json& j, const TamoHandEye::SuggestOptions& options, PinholeSource source);

}  // namespace TarnWorkflow
