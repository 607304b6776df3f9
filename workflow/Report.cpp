// SPDX-License-Identifier: Apache-2.0
#include "Report.h"

#include "DataFiles.h"
#include "Text.h"

#include <sys/stat.h>

#include <tarn/RowConversions.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace TarnWorkflow {

using namespace TamoHandEye;
using nlohmann::json;

Calibration Calibrate(const RobotType& robot, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                      const AlgoParam& param, const ReportOptions& report) {
  Calibration c;
  c.param = param;
  c.reported = true;
  if (const std::optional<UnusableRow> unusable = FindUnusableRow(robot, rows)) {
    c.code = Err_Solve_Fail;
    c.report.failure = unusable->Message();
    c.report.failureZh = unusable->MessageZh();
    return c;
  }
  c.code = SolveCalibrationReport(markers, rows, c.param, robot.kind, report, c.report);
  // The distance the search used: the option's, the settings', or the one taken from the data.
  if (c.report.searchDistanceMm > 0.0) c.param.RansacDist = c.report.searchDistanceMm / 1000.0;
  if (report.searchDistance > 0.0) c.param.RansacDist = report.searchDistance;
  c.result = c.report.result;
  return c;
}

std::string FailureMessage(const Calibration& c) {
  std::string message = "calibration failed (code " + std::to_string(static_cast<int>(c.code)) + "): ";
  if (!c.reported || c.report.failure.empty()) return message + parseCode(c.code);
  message += c.report.failure;
  for (const ReportWarning& w : c.report.warnings) {
    if (w.code == "likely-setup") message += ". " + w.message + " " + w.fix;
  }
  return message;
}

json CameraRowsJson(const FinalResult& result, const AlgoParam& param) {
  std::vector<std::vector<double>> matrix = result.cameraMatrix;
  if (param.IsMeter) {
    for (std::size_t r = 0; r < 3 && r < matrix.size(); ++r) matrix[r][3] *= 1000.0;
  }
  json rows = json::object();
  for (const RobotType& type : RobotTypes()) {
    // A generic three-angle row is one of the vendor rows' conventions; a generic quaternion is x y z w.
    if (IsGeneric(type.kind) && !KindInfo(type.kind).quaternion) continue;
    std::vector<double> row;
    const std::string convention = IsGeneric(type.kind) ? "xyzw" : "";
    if (MatrixToRobotRow(type.kind, convention, type.Settings(false, false, false, -1.0), matrix, row) == Success) {
      rows[type.name] = row;
    }
  }
  return rows;
}

void WriteCameraRows(std::ostream& out, const json& rows) {
  out << "The camera as a row of each robot type:\n";
  for (const auto& [name, row] : rows.items()) {
    out << "  " << std::left << std::setw(10) << name << std::right;
    for (const json& v : row) out << std::setw(13) << Fixed(v.get<double>(), 4);
    out << "\n";
  }
}

namespace {

// A value written on one line: a primitive, an empty container, or an array of primitives.
bool Inline(const json& v) {
  return v.is_primitive() || v.empty() ||
         (v.is_array() && std::all_of(v.begin(), v.end(), [](const json& e) { return e.is_primitive(); }));
}

std::string InlineText(const json& v) {
  if (v.is_primitive()) return v.dump();
  if (v.is_object()) return "{}";
  std::string text = "[";
  for (std::size_t i = 0; i < v.size(); ++i) text += (i ? ", " : "") + v[i].dump();
  return text + "]";
}

void Yaml(std::ostream& out, const json& value, int indent) {
  const std::string pad(static_cast<std::size_t>(indent), ' ');
  if (value.is_object()) {
    for (const auto& [key, item] : value.items()) {
      out << pad << key << ":";
      if (Inline(item)) {
        out << " " << InlineText(item) << "\n";
      } else {
        out << "\n";
        Yaml(out, item, indent + 2);
      }
    }
    return;
  }
  for (const json& item : value) {
    if (Inline(item)) {
      out << pad << "- " << InlineText(item) << "\n";
      continue;
    }
    std::ostringstream nested;
    Yaml(nested, item, indent + 2);
    std::string text = nested.str();
    text.replace(static_cast<std::size_t>(indent), 2, "- ");  // the first line carries the dash
    out << text;
  }
}

// The lines of a YAML text as ToYaml writes it: each with its indent and its text.
struct YamlLine {
  std::size_t indent = 0;
  std::string text;
};

// "key: rest" or "key:" with a plain key; false for anything else.
bool SplitKey(const std::string& text, std::string& key, std::string& rest) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = text[i];
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
  }
  if (colon + 1 < text.size() && text[colon + 1] != ' ') return false;
  key = text.substr(0, colon);
  rest = colon + 1 < text.size() ? text.substr(colon + 2) : "";
  return true;
}

class YamlReader {
 public:
  explicit YamlReader(std::vector<YamlLine> read) : lines(std::move(read)) {}

  // The block starting at the current line, whose lines are indented by `indent`.
  json Block(std::size_t indent) {
    if (at < lines.size() && lines[at].text.rfind("- ", 0) == 0) return Sequence(indent);
    return Mapping(indent);
  }
  bool Done() const { return at == lines.size(); }

 private:
  json Mapping(std::size_t indent) {
    json object = json::object();
    std::string key, rest;
    while (at < lines.size() && lines[at].indent == indent && SplitKey(lines[at].text, key, rest)) {
      ++at;
      object[key] = rest.empty() ? Nested(indent) : Inline(rest);
    }
    return object;
  }

  json Sequence(std::size_t indent) {
    json array = json::array();
    while (at < lines.size() && lines[at].indent == indent && lines[at].text.rfind("- ", 0) == 0) {
      const std::string item = lines[at].text.substr(2);
      std::string key, rest;
      if (SplitKey(item, key, rest)) {
        lines[at] = {indent + 2, item};  // the dash's item is a mapping indented past it
        array.push_back(Mapping(indent + 2));
      } else {
        ++at;
        array.push_back(Inline(item));
      }
    }
    return array;
  }

  // The value under a "key:" line: the deeper block that follows, or an empty object.
  json Nested(std::size_t indent) {
    if (at < lines.size() && lines[at].indent > indent) return Block(lines[at].indent);
    if (at < lines.size() && lines[at].indent == indent && lines[at].text.rfind("- ", 0) == 0) return Sequence(indent);
    return json::object();
  }

  static json Inline(const std::string& text) {
    json value = json::parse(text, nullptr, false);
    if (value.is_discarded()) throw std::runtime_error("not a value: " + text);
    return value;
  }

  std::vector<YamlLine> lines;
  std::size_t at = 0;
};

}  // namespace

std::string ToYaml(const json& value) {
  std::ostringstream out;
  Yaml(out, value, 0);
  return out.str();
}

bool WriteRecordFile(const std::string& path, const json& record, std::string& error) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const bool yaml = extension == ".yaml" || extension == ".yml";
  struct stat status {};
  const bool stream = ::stat(path.c_str(), &status) == 0 && (S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode));
  // A device or a pipe (/dev/stdout) gets JSON whatever its name.
  if (!yaml && extension != ".json" && !stream) {
    error = "the file name must end in .json, .yaml or .yml: " + path;
    return false;
  }
  if (!ReplaceFile(path, yaml ? ToYaml(record) : record.dump(2) + "\n", &error)) return false;
  return true;
}

bool FromYaml(const std::string& text, json& value, std::string& error) {
  std::vector<YamlLine> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos || line[first] == '#') continue;
    lines.push_back({first, line.substr(first)});
  }
  try {
    YamlReader reader(std::move(lines));
    json read = reader.Block(0);
    if (!reader.Done()) throw std::runtime_error("a line out of place");
    value = std::move(read);
    return true;
  } catch (const std::exception& e) {
    error = std::string("not the YAML tarn writes (") + e.what() + ")";
    return false;
  }
}

std::string CentroidBiasNote() {
  return "the marker centres are the rings' centroids, which perspective shifts (typically 0.5-2 mm); the "
         "uncertainty does not include that bias. Use --centre fit for the precise centre.";
}

json ErrorJson(int code, const std::string& message) {
  return {{"schema", kSchema}, {"error", {{"code", code}, {"message", message}}}};
}

namespace {

std::string Optional(double v, int digits) { return std::isfinite(v) ? Fixed(v, digits) : "-"; }

void WriteResiduals(std::ostream& out, const Calibration& c) {
  const FinalResult& r = c.result;
  const bool leaveOut = c.reported && c.report.leaveOneOutMm.size() == r.residuals.size();
  out << "Residuals (mm):\n  pose  used  distance        dx        dy        dz" << (leaveOut ? "  left out" : "")
      << "\n";
  std::vector<std::size_t> dropped;
  for (std::size_t i = 0; i < r.residuals.size(); ++i) {
    const bool used = r.mask.empty() || r.mask[i] != 0;
    if (!used) dropped.push_back(i);
    const PoseResidual& p = r.residuals[i];
    out << std::setw(6) << i + 1 << std::setw(6) << (used ? "yes" : "no") << std::setw(10) << Fixed(p.distance, 3)
        << std::setw(10) << Fixed(p.dx, 3) << std::setw(10) << Fixed(p.dy, 3) << std::setw(10) << Fixed(p.dz, 3);
    if (leaveOut) out << std::setw(10) << Optional(c.report.leaveOneOutMm[i], 3);
    out << "\n";
  }
  out << "RMS " << Fixed(r.rmsError, 3) << " mm, maximum " << Fixed(r.maxError, 3) << " mm\n";
  if (c.reported && c.report.leaveOneOutMm.empty() && c.report.poseSet.poses > 0) {
    out << "Left-out residuals: not computed above " << TamoHandEye::kMostLeaveOneOutPoses
        << " poses used (their cost grows with the square of the count)\n";
  }
  out << "Dropped by the pose search: ";
  if (!c.param.Exhaust) {
    out << "no search\n";
    return;
  }
  if (dropped.empty()) {
    out << "none";
  } else {
    out << dropped.size() << " of " << r.residuals.size();
  }
  if (c.reported && c.report.searchDistanceMm > 0.0) {
    out << " (distance " << Fixed(c.report.searchDistanceMm, 3) << " mm"
        << (c.report.searchDistanceFromData ? ", from the data's own noise)" : ")");
  }
  if (c.report.searchFellBack) out << "; the poses agreeing with the best sample did not solve: started from its own";
  out << "\n";
  for (const DroppedPose& d : c.report.dropped) out << "  pose " << d.pose + 1 << ": " << d.reason << "\n";
}

// What a 4-axis calibration held, in a line.
std::string FixedQuantityText(const CalibrationReport& report, bool eyeToHand) {
  const bool height = report.fixedQuantity == "marker-height";
  const std::string what =
      height ? (eyeToHand ? "the marker's offset along the flange's z axis" : "the marker's height in the base frame")
             : (eyeToHand ? "the camera's height in the base frame" : "the camera's offset along the flange's z axis");
  return "Held (4-axis robot: no shot sees it): " + what + " = " + Fixed(report.fixedValueMm, 3) +
         " mm, as given; its sigma is not part of the uncertainty";
}

void WriteCameraUncertainty(std::ostream& out, const CalibrationReport& report, bool eyeToHand) {
  const Uncertainty& u = report.uncertainty;
  if (!u.known) {
    out << "Uncertainty: not known (too few poses)\n";
    return;
  }
  out << "Uncertainty (1 sigma): camera translation +/- " << Fixed(u.translationNormMm, 3) << " mm (x "
      << Fixed(u.translationMm[0], 3) << ", y " << Fixed(u.translationMm[1], 3) << ", z "
      << Fixed(u.translationMm[2], 3) << "), rotation +/- " << Fixed(u.rotationDeg, 4) << " deg\n";
  if (!report.fixedQuantity.empty()) out << FixedQuantityText(report, eyeToHand) << "\n";
}

void WriteTolerance(std::ostream& out, const CalibrationReport& report) {
  out << "Tolerance " << Fixed(report.toleranceMm, 3) << " mm, " << Fixed(report.toleranceDeg, 3) << " deg (1 sigma): ";
  if (!report.uncertainty.known) {
    out << "cannot tell (the uncertainty is not known)\n";
  } else {
    out << (report.meetsTolerance ? "met" : "not met") << " (+/- " << Fixed(report.uncertainty.translationNormMm, 3)
        << " mm, " << Fixed(report.uncertainty.rotationDeg, 4) << " deg)\n";
  }
}

void WriteModel(std::ostream& out, const CalibrationReport& report) {
  if (report.model == "point") {
    out << "Model: point (the marker points alone)\n";
    return;
  }
  const BoardPlane& b = report.board;
  const bool rotations = report.model == "point+rotation";
  out << "Model: " << report.model << " (" << report.shotsWithNormal << " of " << report.poseSet.poses
      << (rotations ? " poses with the target's rotation; rotations fit to "
                    : " poses with the board's normal; normals fit to ")
      << Fixed(b.residualRmsDeg, 4) << " deg RMS, " << (rotations ? "target z axis (" : "board normal (")
      << Fixed(b.normal[0], 5) << ", " << Fixed(b.normal[1], 5) << ", " << Fixed(b.normal[2], 5) << ") +/- "
      << Fixed(b.normalSigmaDeg, 4) << " deg)\n";
}

void WriteReport(std::ostream& out, const Calibration& c) {
  const CalibrationReport& report = c.report;
  WriteModel(out, report);
  WriteTolerance(out, report);
  const PoseSetCheck& set = report.poseSet;
  out << "Pose set: " << set.poses << " poses used, largest relative rotation " << Fixed(set.largestRotationDeg, 1)
      << " deg, rotation axis spread " << Fixed(set.axisSpread, 3) << " (0 flat, 0.333 even), flange moved "
      << Fixed(set.translationSpreadMm, 1) << " mm (RMS)\n";
  if (c.param.Exhaust) out << "Pose search seed: " << report.seed << "\n";
  if (report.warnings.empty()) {
    out << "Warnings: none\n";
    return;
  }
  out << "Warnings:\n";
  for (const ReportWarning& w : report.warnings) {
    out << "  [" << w.code << "] " << w.message << "\n";
    if (!w.fix.empty()) out << "      fix: " << w.fix << "\n";
  }
}

json Uncertain(const std::array<double, 3>& axes, double norm) {
  return {{"x", axes[0]}, {"y", axes[1]}, {"z", axes[2]}, {"norm", norm}};
}

// `rows` x `columns` values, row by row, as an array of rows.
json Rows(const double* values, std::size_t rows, std::size_t columns) {
  json out = json::array();
  for (std::size_t r = 0; r < rows; ++r)
    out.push_back(std::vector<double>(values + r * columns, values + (r + 1) * columns));
  return out;
}

json CovarianceJson(const CalibrationCovariance& c) {
  if (!c.known) return nullptr;
  json matrix = json::array();
  for (std::size_t r = 0; r < 9; ++r) {
    matrix.push_back(std::vector<double>(c.matrix.begin() + static_cast<std::ptrdiff_t>(9 * r),
                                         c.matrix.begin() + static_cast<std::ptrdiff_t>(9 * r + 9)));
  }
  return {{"parameters",
           {"marker_x_mm", "marker_y_mm", "marker_z_mm", "camera_rx_rad", "camera_ry_rad", "camera_rz_rad",
            "camera_x_mm", "camera_y_mm", "camera_z_mm"}},
          {"matrix", matrix},
          {"residual_sigma_mm", c.residualSigmaMm},
          {"freedom", c.freedom},
          {"along_sight_sigma_mm", c.alongSightSigmaMm},
          {"across_sight_sigma_mm", c.acrossSightSigmaMm}};
}

void AddReportJson(json& j, const CalibrationReport& report) {
  j["model"] = report.model;
  j["shots_with_normal"] = report.shotsWithNormal;
  if (report.model != "point") {
    const BoardPlane& b = report.board;
    j["board"] = {{"normal", b.normal},
                  {"normal_sigma_deg", b.normalSigmaDeg},
                  {"normal_rms_deg", b.residualRmsDeg},
                  {"point_noise_factor", b.pointNoiseFactor},
                  {"normal_noise_factor", b.normalNoiseFactor},
                  {"sight_noise_mm", b.sightNoiseMm},
                  {"normal_covariance", Rows(b.normalCovariance.data(), 3, 3)},
                  {"normal_cross_covariance", Rows(b.normalCrossCovariance.data(), 3, 9)},
                  {"shot_normal_sigma_deg", b.shotNormalSigmaDeg},
                  {"normal_freedom", b.normalFreedom}};
  }
  j["convention"] = report.convention;
  j["fixed_quantity"] = report.fixedQuantity.empty() ? json(nullptr) : json(report.fixedQuantity);
  j["fixed_value_mm"] = report.fixedQuantity.empty() ? json(nullptr) : json(report.fixedValueMm);
  j["runner_up"] = report.runnerUp.empty() ? json(nullptr) : json(report.runnerUp);
  j["runner_up_rms_mm"] = report.runnerUp.empty() ? json(nullptr) : json(report.runnerUpRmsMm);
  const Uncertainty& u = report.uncertainty;
  if (u.known) {
    j["uncertainty"] = {{"translation_mm", Uncertain(u.translationMm, u.translationNormMm)},
                        {"rotation_deg", u.rotationDeg},
                        {"marker_mm", Uncertain(u.markerMm, u.markerNormMm)}};
  } else {
    j["uncertainty"] = {{"translation_mm", nullptr}, {"rotation_deg", nullptr}, {"marker_mm", nullptr}};
  }
  j["covariance"] = CovarianceJson(report.covariance);
  json leaveOut = json::array();
  for (const double v : report.leaveOneOutMm) leaveOut.push_back(std::isfinite(v) ? json(v) : json(nullptr));
  j["leave_one_out_mm"] = leaveOut;
  json studentised = json::array();
  for (const double v : report.leaveOneOutStudentised) {
    studentised.push_back(std::isfinite(v) ? json(v) : json(nullptr));
  }
  j["leave_one_out_studentised"] = studentised;
  j["suspect_limit"] = std::isfinite(report.suspectLimit) ? json(report.suspectLimit) : json(nullptr);
  j["tolerance"] = {
      {"translation_mm", report.toleranceMm}, {"rotation_deg", report.toleranceDeg}, {"met", report.meetsTolerance}};
  json dropped = json::array();
  for (const DroppedPose& d : report.dropped) {
    dropped.push_back({{"pose", d.pose + 1},
                       {"residual_mm", d.residualMm},
                       {"distance_mm", d.distanceMm},
                       {"sigmas", d.sigmasOff},
                       {"reason", d.reason},
                       {"reason_zh", d.reasonZh}});
  }
  j["search"] = {{"distance_mm", report.searchDistanceMm},
                 {"distance_from_data", report.searchDistanceFromData},
                 {"samples", report.searchSamples},
                 {"fell_back", report.searchFellBack},
                 {"dropped", dropped}};
  const PoseSetCheck& set = report.poseSet;
  j["pose_set"] = {{"poses", set.poses},
                   {"largest_rotation_deg", set.largestRotationDeg},
                   {"axis_spread", set.axisSpread},
                   {"second_axis_spread", set.secondAxisSpread},
                   {"translation_spread_mm", set.translationSpreadMm}};
  if (report.radiusSpreadLimitMm > 0.0) {
    j["outer_radius_spread"] = {{"spread_mm", report.radiusSpreadMm}, {"limit_mm", report.radiusSpreadLimitMm}};
  }
  json warnings = json::array();
  for (const ReportWarning& w : report.warnings) {
    json warning = {
        {"code", w.code}, {"message", w.message}, {"message_zh", w.messageZh}, {"fix", w.fix}, {"fix_zh", w.fixZh}};
    if (w.pose >= 0) warning["pose"] = w.pose + 1;
    warnings.push_back(warning);
  }
  j["warnings"] = warnings;
  j["seed"] = report.seed;
}

}  // namespace

void WriteCalibrationText(std::ostream& out, const Calibration& c, const RobotType& robot) {
  const FinalResult& r = c.result;
  const bool eyeToHand = c.param.HandEyeType != 0;
  const std::string unit = c.param.IsMeter ? "m" : "mm";
  out << "Robot type: " << robot.text << " (" << (eyeToHand ? "eye-to-hand" : "eye-in-hand") << ")\n";
  if (c.reported) {
    out << "Convention: " << c.report.convention;
    if (!c.report.runnerUp.empty()) {
      out << " (found; runner-up " << c.report.runnerUp << " at RMS " << Fixed(c.report.runnerUpRmsMm, 3) << " mm)";
    }
    out << "\n";
  }
  out << (eyeToHand ? "Camera in the base frame" : "Camera in the flange frame") << ", as a robot row:\n ";
  const std::vector<std::string> names = robot.ColumnNames();
  for (std::size_t k = 0; k < r.cameraPose.size() && k < names.size(); ++k) {
    out << " " << names[k] << " " << Fixed(r.cameraPose[k]);
  }
  out << "\nCamera matrix (" << unit << "):\n";
  for (const auto& row : r.cameraMatrix) {
    out << " ";
    for (const double v : row) out << std::setw(14) << Fixed(v, 6);
    out << "\n";
  }
  if (c.reported) WriteCameraUncertainty(out, c.report, eyeToHand);
  out << (eyeToHand ? "Marker in the flange frame" : "Marker in the base frame") << " (" << unit
      << "): " << Fixed(r.markerPosition[0]) << " " << Fixed(r.markerPosition[1]) << " " << Fixed(r.markerPosition[2]);
  if (c.reported && c.report.uncertainty.known) out << "  +/- " << Fixed(c.report.uncertainty.markerNormMm, 3) << " mm";
  out << "\n";
  WriteResiduals(out, c);
  if (c.reported) WriteReport(out, c);
}

json ShotJson(const ShotDetection& d) {
  json j{{"image", Utf8Name(d.pair.image)}, {"cloud", Utf8Name(d.pair.cloud)}, {"code", static_cast<int>(d.code)}};
  if (d.code == Success) {
    j["x"] = d.marker.x;
    j["y"] = d.marker.y;
    j["z"] = d.marker.z;
    j["u"] = d.marker.u;
    j["v"] = d.marker.v;
    if (d.hasNormal) {
      const MarkerPlaneResult& p = d.plane;
      j["normal"] = {p.nx, p.ny, p.nz};
      j["normal_axes"] = {{p.normalAxes[0], p.normalAxes[1], p.normalAxes[2]},
                          {p.normalAxes[3], p.normalAxes[4], p.normalAxes[5]}};
      j["normal_covariance_rad2"] = {{p.normalCovariance[0], p.normalCovariance[1]},
                                     {p.normalCovariance[2], p.normalCovariance[3]}};
      json centre = json::array();
      for (int r = 0; r < 3; ++r) {
        centre.push_back({p.centreCovariance[3 * r], p.centreCovariance[3 * r + 1], p.centreCovariance[3 * r + 2]});
      }
      j["centre_covariance_m2"] = centre;
    }
  } else {
    j["message"] = Utf8Name(FailureText(d));
  }
  if (d.fitted) {
    const MarkerFitQuality& q = d.quality;
    j["fit"] = {{"radii_mm", {q.radiiMm[0], q.radiiMm[1], q.radiiMm[2], q.radiiMm[3]}},
                {"ratio_deviation", q.ratioDeviation},
                {"plane_rms_mm", q.planeRmsMm},
                {"edge_points", q.edgePoints},
                {"plane_points", q.planePoints},
                {"edge_offset_px", q.edgeOffsetPx},
                {"boundaries_used", {q.boundaryUsed[0], q.boundaryUsed[1], q.boundaryUsed[2], q.boundaryUsed[3]}},
                {"centre_sigma_mm", q.centreSigmaMm},
                {"marker_radius_mm", q.markerRadiusMm},
                {"outer_radius_sigma_mm", q.outerRadiusSigmaMm}};
  }
  return j;
}

json CalibrationJson(const Calibration& c, const RobotType& robot, const std::vector<ShotDetection>& detections) {
  json j;
  j["schema"] = kSchema;
  j["robot"] = robot.name;
  j["hand_eye"] = c.param.HandEyeType != 0 ? "eye-to-hand" : "eye-in-hand";
  j["unit"] = c.param.IsMeter ? "m" : "mm";
  j["camera_row"] = c.result.cameraPose;
  j["camera_matrix"] = c.result.cameraMatrix;
  j["marker_position"] = c.result.markerPosition;
  j["rms_error_mm"] = c.result.rmsError;
  j["max_error_mm"] = c.result.maxError;
  j["mask"] = c.result.mask;
  json residuals = json::array();
  for (const PoseResidual& p : c.result.residuals) {
    residuals.push_back({{"distance", p.distance}, {"dx", p.dx}, {"dy", p.dy}, {"dz", p.dz}});
  }
  j["residuals_mm"] = residuals;
  if (c.reported) AddReportJson(j, c.report);
  if (!detections.empty()) {
    json shots = json::array();
    for (const ShotDetection& d : detections) shots.push_back(ShotJson(d));
    j["shots"] = shots;
  }
  return j;
}

}  // namespace TarnWorkflow
