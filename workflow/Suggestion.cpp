// SPDX-License-Identifier: Apache-2.0
#include "Suggestion.h"

#include "Report.h"

#include "Text.h"

#include <iomanip>

namespace TarnWorkflow {

bool WarnsAboutPoseSet(const TamoHandEye::CalibrationReport& report) {
  for (const TamoHandEye::ReportWarning& w : report.warnings) {
    if (w.code == "few-poses" || w.code == "narrow-rotation" || w.code == "single-axis" || w.code == "uncertain") {
      return true;
    }
  }
  return false;
}

std::string RowColumns(const RobotType& robot, const TamoHandEye::AlgoParam& param) {
  std::string columns;
  for (const std::string& name : robot.ColumnNames()) columns += (columns.empty() ? "" : " ") + name;
  const bool meter = robot.meterChoice && param.IsMeter;
  const bool quaternion = robot.rowLength == 7;
  const bool radian = robot.radian || (robot.radianChoice && param.IsRadian);
  return columns + " (" + (meter ? "m" : "mm") + (quaternion ? "" : (radian ? ", rad" : ", deg")) + ")";
}

void WriteSuggestionText(std::ostream& out, const TamoHandEye::PoseSuggestions& s, const RobotType& robot,
                         const TamoHandEye::AlgoParam& param) {
  out << "Camera translation uncertainty now: +/- " << Fixed(s.sigmaMm, 3) << " mm (1 sigma)\n";
  if (!s.convention.empty()) out << "Robot rows read as: " << s.convention << "\n";
  out << "Scored with the model: " << s.model << "\n";
  if (s.suggestions.empty()) {
    out << "No suggestion: " << s.failure << "\n";
    return;
  }
  out << "Suggested next poses, best first, as rows " << RowColumns(robot, param)
      << "; each sigma counts the poses above it:\n";
  for (std::size_t i = 0; i < s.suggestions.size(); ++i) {
    const TamoHandEye::PoseSuggestion& p = s.suggestions[i];
    out << std::setw(3) << i + 1 << " ";
    for (const double v : p.row) out << std::setw(12) << Fixed(v, robot.rowLength == 7 ? 6 : 3);
    out << "   sigma after " << Fixed(p.sigmaMmAfter, 3) << " mm  (pose " << p.fromPose + 1 << " turned "
        << Fixed(p.turnDeg, 0) << " deg, marker " << Fixed(p.viewAngleDeg, 1) << " deg off the optical axis";
    if (s.inImage) out << ", at pixel " << Fixed(p.u, 0) << ", " << Fixed(p.v, 0);
    out << ")\n";
  }
  out << "Move the robot to a suggested row, take the shot, add it, and ask again: each new shot changes what is "
         "best next.\n";
}

nlohmann::json SuggestionJson(const TamoHandEye::PoseSuggestions& s, const RobotType& robot,
                              const TamoHandEye::AlgoParam& param) {
  nlohmann::json list = nlohmann::json::array();
  for (const TamoHandEye::PoseSuggestion& p : s.suggestions) {
    list.push_back({{"row", p.row},
                    {"sigma_mm_after", p.sigmaMmAfter},
                    {"from_pose", p.fromPose + 1},
                    {"turn_deg", p.turnDeg},
                    {"axis", p.axis},
                    {"view_deg", p.viewAngleDeg},
                    {"distance_mm", p.distanceMm},
                    {"pixel", s.inImage ? nlohmann::json({p.u, p.v}) : nlohmann::json(nullptr)}});
  }
  nlohmann::json j;
  j["schema"] = kSchema;
  j["sigma_mm"] = s.sigmaMm;
  j["convention"] = s.convention;
  j["model"] = s.model;
  j["columns"] = RowColumns(robot, param);
  j["suggestions"] = list;
  j["note"] = s.failure;
  j["kept_in"] = s.inImage ? "image" : "view cone";
  return j;
}

TamoHandEye::CameraPinhole PinholeOfShots(const std::vector<ShotDetection>& detections) {
  int tried = 0;
  for (const ShotDetection& d : detections) {
    if (d.code != TamoHandEye::Success || tried++ == 3) continue;
    TamoHandEye::CameraPinhole p;
    if (TamoHandEye::EstimateCameraPinhole(d.pair.image, d.pair.cloud, p)) return p;
  }
  return {};
}

std::string PinholeText(const TamoHandEye::SuggestOptions& options, PinholeSource source) {
  const TamoHandEye::CameraPinhole& p = options.camera;
  if (source == PinholeSource::None || p.width <= 0) {
    return "Each marker kept within " + Fixed(options.viewConeDeg, 0) +
           " deg of the optical axis: the camera's pinhole is not known (give --intrinsics and --image-size, or "
           "images and clouds), so the image's border is not.";
  }
  return "Each marker kept inside the " + std::to_string(p.width) + " x " + std::to_string(p.height) + " image, " +
         Fixed(100.0 * options.imageMargin, 0) + " % from its border (pinhole fx " + Fixed(p.fx, 1) + ", fy " +
         Fixed(p.fy, 1) + ", cx " + Fixed(p.cx, 1) + ", cy " + Fixed(p.cy, 1) +
         (source == PinholeSource::Given ? ", given)." : ", estimated from the clouds).");
}

void AddPinholeJson(nlohmann::json& j, const TamoHandEye::SuggestOptions& options, PinholeSource source) {
  const TamoHandEye::CameraPinhole& p = options.camera;
  const bool known = source != PinholeSource::None && p.width > 0;
  j["kept_in"] = known ? "image" : "view cone";
  if (!known) {
    j["pinhole"] = nullptr;
    return;
  }
  j["pinhole"] = {{"fx", p.fx},
                  {"fy", p.fy},
                  {"cx", p.cx},
                  {"cy", p.cy},
                  {"width", p.width},
                  {"height", p.height},
                  {"from", source == PinholeSource::Given ? "given" : "clouds"}};
}

}  // namespace TarnWorkflow
