#include "Suggestion.h"

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
        << Fixed(p.turnDeg, 0) << " deg, marker " << Fixed(p.viewAngleDeg, 1) << " deg off the optical axis)\n";
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
                    {"distance_mm", p.distanceMm}});
  }
  nlohmann::json j;
  j["sigma_mm"] = s.sigmaMm;
  j["convention"] = s.convention;
  j["columns"] = RowColumns(robot, param);
  j["suggestions"] = list;
  if (s.suggestions.empty()) j["note"] = s.failure;
  return j;
}

}  // namespace TarnWorkflow
