// SPDX-License-Identifier: Apache-2.0
#include "Verification.h"

#include "DataFiles.h"
#include "Report.h"
#include "RobotTypes.h"
#include "SettingsFile.h"
#include "Text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <limits>
#include <sstream>

namespace TarnWorkflow {
namespace {

using json = nlohmann::json;
using TamoHandEye::CalibrationCheck;

// The number at `key` of a JSON object, or nothing (absent, null or not a number).
std::optional<double> Number(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number()) return std::nullopt;
  return it->get<double>();
}

// A calibration's "covariance" as CalibrationJson writes it; left unknown when it is not whole.
void ReadCovariance(const json& j, TamoHandEye::CalibrationCovariance& out) {
  const auto matrix = j.find("matrix");
  const std::optional<double> sigma = Number(j, "residual_sigma_mm");
  const std::optional<double> freedom = Number(j, "freedom");
  if (matrix == j.end() || !matrix->is_array() || matrix->size() != 9 || !sigma || !freedom) return;
  TamoHandEye::CalibrationCovariance c;
  for (std::size_t r = 0; r < 9; ++r) {
    const json& row = (*matrix)[r];
    if (!row.is_array() || row.size() != 9) return;
    for (std::size_t k = 0; k < 9; ++k) {
      if (!row[k].is_number()) return;
      c.matrix[9 * r + k] = row[k].get<double>();
    }
  }
  if (!(*sigma > 0.0) || !(*freedom >= 1.0) || !(*freedom < 1e6)) return;
  c.alongSightSigmaMm = Number(j, "along_sight_sigma_mm").value_or(0.0);
  c.acrossSightSigmaMm = Number(j, "across_sight_sigma_mm").value_or(0.0);

  c.residualSigmaMm = *sigma;
  c.freedom = static_cast<int>(*freedom);
  c.known = true;
  out = c;
}

// `count` numbers from a JSON array of rows (or a flat array); false unless every one is there.
bool ReadNumbers(const json& j, double* out, std::size_t count) {
  if (!j.is_array()) return false;
  std::size_t at = 0;
  for (const json& row : j) {
    for (const json& v : row.is_array() ? row : json::array({row})) {
      if (!v.is_number() || at >= count) return false;
      out[at++] = v.get<double>();
    }
  }
  return at == count;
}

// A calibration's "model" and "board" as the report writes them; the board is kept only when whole (then new shots'
// normals are judged by it), the model "point" otherwise.
}  // namespace

void ReadBoardRecord(const json& j, TamoHandEye::SavedCalibration& c) {
  const auto model = j.find("model");
  const auto board = j.find("board");
  if (model == j.end() || !model->is_string() || *model == "point" || board == j.end() || !board->is_object()) return;
  TamoHandEye::BoardPlane b;
  const auto find = [&](const char* key) { return board->contains(key) ? &(*board)[key] : nullptr; };
  const json* normal = find("normal");
  const json* covariance = find("normal_covariance");
  const json* cross = find("normal_cross_covariance");
  const std::optional<double> sigma = Number(*board, "shot_normal_sigma_deg");
  const std::optional<double> freedom = Number(*board, "normal_freedom");
  if (normal == nullptr || covariance == nullptr || cross == nullptr || !sigma || !freedom ||
      !ReadNumbers(*normal, b.normal.data(), 3) || !ReadNumbers(*covariance, b.normalCovariance.data(), 9) ||
      !ReadNumbers(*cross, b.normalCrossCovariance.data(), 27) || !(*sigma > 0.0) || !(*freedom >= 1.0) ||
      !(*freedom < 1e6)) {
    return;
  }
  b.shotNormalSigmaDeg = *sigma;
  b.normalFreedom = static_cast<int>(*freedom);
  b.normalSigmaDeg = Number(*board, "normal_sigma_deg").value_or(0.0);
  b.residualRmsDeg = Number(*board, "normal_rms_deg").value_or(0.0);
  c.model = model->get<std::string>();
  c.board = b;
}

namespace {

// The member of `j` under the current key or, in a file written before the keys were snake_case, the
// earlier one.
json::const_iterator Member(const json& j, const char* key, const char* earlierKey) {
  const auto it = j.find(key);
  return it != j.end() ? it : j.find(earlierKey);
}

bool ReadResultRecord(const json& j, SavedResult& out, std::string& error) {
  if (!j.is_object()) {
    error = "not a calibration result";
    return false;
  }
  if (const auto schema = j.find("schema"); schema != j.end() && !(schema->is_number() && *schema <= kSchema)) {
    error = "written by a newer tarn (schema " + schema->dump() + "); this one reads schema " + std::to_string(kSchema);
    return false;
  }
  const auto matrix = Member(j, "camera_matrix", "cameraMatrix");
  const auto marker = Member(j, "marker_position", "markerPosition");
  if (matrix == j.end() || marker == j.end() || !matrix->is_array() || !marker->is_array()) {
    error = "no \"camera_matrix\" and \"marker_position\" (is it what tarn calibrate wrote?)";
    return false;
  }
  TamoHandEye::SavedCalibration& c = out.calibration;
  for (const json& row : *matrix) {
    if (!row.is_array()) break;
    std::vector<double> values;
    for (const json& v : row) values.push_back(v.is_number() ? v.get<double>() : std::nan(""));
    c.cameraMatrix.push_back(values);
  }
  for (const json& v : *marker) c.markerPosition.push_back(v.is_number() ? v.get<double>() : std::nan(""));
  const auto rms = Member(j, "rms_error_mm", "rmsErrorMm");
  c.rmsErrorMm = rms != j.end() && rms->is_number() ? rms->get<double>() : 0.0;
  if (const auto loo = j.find("leave_one_out_mm"); loo != j.end() && loo->is_array()) {
    for (const json& v : *loo) c.leaveOneOutMm.push_back(v.is_number() ? v.get<double>() : std::nan(""));
  }
  if (const auto u = j.find("uncertainty"); u != j.end() && u->is_object()) {
    const auto t = u->find("translation_mm");
    const auto m = u->find("marker_mm");
    const std::optional<double> r = Number(*u, "rotation_deg");
    if (t != u->end() && t->is_object() && m != u->end() && m->is_object() && r) {
      c.uncertainty.known = true;
      c.uncertainty.translationNormMm = Number(*t, "norm").value_or(0.0);
      c.uncertainty.markerNormMm = Number(*m, "norm").value_or(0.0);
      c.uncertainty.rotationDeg = *r;
    }
  }
  if (const auto cov = j.find("covariance"); cov != j.end() && cov->is_object()) ReadCovariance(*cov, c.covariance);
  ReadBoardRecord(j, c);
  if (const auto v = j.find("convention"); v != j.end() && v->is_string()) c.convention = v->get<std::string>();
  if (const auto v = j.find("robot"); v != j.end() && v->is_string()) out.robot = v->get<std::string>();
  if (const auto v = Member(j, "hand_eye", "handEye"); v != j.end() && v->is_string()) {
    out.eyeToHand = v->get<std::string>() == "eye-to-hand";
  }
  if (const auto v = j.find("unit"); v != j.end() && v->is_string()) out.meter = v->get<std::string>() == "m";
  return true;
}

// The numbers of a table line ("1,2,3,"), or nothing when a field is not one.
std::optional<std::vector<double>> Numbers(const std::string& line) {
  std::vector<double> values;
  std::stringstream fields(line);
  std::string field;
  while (std::getline(fields, field, ',')) {
    if (field.empty()) continue;
    double v = 0.0;
    if (!ParseDecimal(field, v)) return std::nullopt;
    values.push_back(v);
  }
  return values;
}

bool ReadDesktopResult(const std::string& path, SavedResult& out, std::string& error) {
  SettingsFileContent content;
  if (!ReadSettingsFile(path, content)) {
    error = "neither JSON nor a result file the desktop program saved";
    return false;
  }
  // After the camera row: the matrix's header (列1 …), its four rows, the marker's header and row.
  const auto& rows = content.rows;
  std::size_t at = 0;
  while (at < rows.size() && rows[at].rfind("列1", 0) != 0) ++at;
  if (at + 7 > rows.size()) {
    error = "no camera matrix and marker position (a parameter file, not a saved result?)";
    return false;
  }
  for (std::size_t r = at + 1; r <= at + 4; ++r) {
    const auto values = Numbers(rows[r]);
    if (!values) {
      error = "the camera matrix holds a field that is not a number";
      return false;
    }
    out.calibration.cameraMatrix.push_back(*values);
  }
  const auto marker = Numbers(rows[at + 6]);
  if (!marker) {
    error = "the marker position holds a field that is not a number";
    return false;
  }
  out.calibration.markerPosition = *marker;
  if (const auto type = content.Find("RobotType")) {
    if (const RobotType* robot = RobotTypeOfText(*type)) out.robot = robot->name;
  }
  if (const auto type = content.Find("HandEyeType")) out.eyeToHand = *type != "0";
  if (const auto meter = content.Find("IsMeter")) out.meter = *meter != "0";
  if (const auto covariance = content.Find("Covariance")) ParseCovarianceEntry(*covariance, out.calibration.covariance);
  if (const auto board = content.Find("Board")) ParseBoardEntry(*board, out.calibration.model, out.calibration.board);
  double rms = 0.0;
  if (const auto entry = content.Find("RmsError");
      entry && ParseDecimal(*entry, rms) && std::isfinite(rms) && rms > 0.0) {
    out.calibration.rmsErrorMm = rms;
  }
  return true;
}

}  // namespace

bool ReadSavedResult(const std::string& path, SavedResult& result, std::string& error) {
  std::string body;
  DataFileError fault;
  if (!ReadWholeFile(path, "result file", kMaxResultBytes, body, fault)) {
    error = fault.message;
    return false;
  }
  const std::size_t first = body.find_first_not_of(" \t\r\n");
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  SavedResult read;
  bool ok = false;
  if (first != std::string::npos && body[first] == '{') {
    const json j = json::parse(body, nullptr, false);
    ok = !j.is_discarded() && ReadResultRecord(j, read, error);
    if (j.is_discarded()) error = "not valid JSON";
  } else if (extension == ".yaml" || extension == ".yml") {
    json j;
    ok = FromYaml(body, j, error) && ReadResultRecord(j, read, error);
  } else {
    ok = ReadDesktopResult(path, read, error);
  }
  if (!ok) {
    error = path + ": " + error;
    return false;
  }
  result = std::move(read);
  return true;
}

const char* VerdictText(const CalibrationCheck& check) {
  switch (check.verdict) {
    case TamoHandEye::CheckVerdict::Drift: return "drift";
    case TamoHandEye::CheckVerdict::Inconclusive: return "inconclusive";
    case TamoHandEye::CheckVerdict::Ok: break;
  }
  return "ok";
}

std::string PowerText(const CalibrationCheck& check) {
  // e.g. "These 5 shots can only see moves above 3.10 mm / 0.400 deg (…); no number of shots …".
  if (!check.powerKnown) return {};
  const std::size_t n = check.shots.size();
  // Too few shots, or shots on one line of sight, see no turn at all.
  const std::string turn =
      std::isfinite(check.detectableTurnDeg) ? Fixed(check.detectableTurnDeg, 3) + " deg" : "no turn at all";
  const bool enough = check.detectableShiftMm <= check.toleranceMm && check.detectableTurnDeg <= check.toleranceDeg;
  std::string text = "These " + std::to_string(n) + " shot" + (n == 1 ? "" : "s") +
                     (enough ? " see moves above " : " can only see moves above ") + Fixed(check.detectableShiftMm, 2) +
                     " mm / " + turn + " (tolerance " + Fixed(check.toleranceMm, 3) + " mm, " +
                     Fixed(check.toleranceDeg, 3) + " deg)";
  if (check.moreShots > 0) {
    text += "; about " + std::to_string(check.moreShots) + " more shots like these would see a " +
            Fixed(check.toleranceMm, 3) + " mm shift";
  } else if (check.moreShots < 0) {
    text += "; no number of shots would see a " + Fixed(check.toleranceMm, 3) +
            " mm shift: the saved calibration is itself too uncertain (calibrate again with more poses)";
  }
  return text + ".";
}

const char* LimitSource(const CalibrationCheck& check, bool limitGiven) {
  return limitGiven ? "option" : (check.limitFromCalibration ? "calibration" : "default");
}

void ToUnitOfRows(SavedResult& saved, bool typeHasUnitChoice, bool meter) {
  if (!typeHasUnitChoice) saved.meter = false;
  if (!saved.meter || *saved.meter == meter) return;
  const double factor = meter ? 0.001 : 1000.0;
  for (std::size_t r = 0; r < 3 && r < saved.calibration.cameraMatrix.size(); ++r) {
    if (saved.calibration.cameraMatrix[r].size() == 4) saved.calibration.cameraMatrix[r][3] *= factor;
  }
  for (double& v : saved.calibration.markerPosition) v *= factor;
  saved.meter = meter;
}

void WriteCheckText(std::ostream& out, const CalibrationCheck& check, bool limitGiven) {
  out << "# shot   predicted x y z (mm)              measured x y z (mm)          residual (mm)\n";
  for (std::size_t i = 0; i < check.shots.size(); ++i) {
    const TamoHandEye::ShotCheck& s = check.shots[i];
    out << std::setw(6) << i + 1;
    for (const double v : s.predictedMm) out << std::setw(11) << Fixed(v, 3);
    out << "  ";
    for (const double v : s.measuredMm) out << std::setw(11) << Fixed(v, 3);
    out << std::setw(12) << Fixed(s.residualMm, 3) << "\n";
  }
  out << "RMS " << Fixed(check.rmsMm, 3) << " mm, max " << Fixed(check.maxMm, 3) << " mm";
  if (check.powerKnown) {
    out << "; judged against what the saved calibration predicts, its own uncertainty included (p = "
        << Fixed(check.pValue, 4) << ")\n";
  } else {
    out << "; limit " << Fixed(check.limitMm, 3) << " mm"
        << (check.limitFromCalibration ? " (2.5 x what a new shot of the saved calibration is expected to miss by)"
                                       : "")
        << "\n";
  }
  if (check.normalRmsDeg > 0.0 || check.shotsWithNormal > 0) {
    int normals = 0;
    for (const TamoHandEye::ShotCheck& s : check.shots) normals += std::isfinite(s.normalResidualDeg) ? 1 : 0;
    out << "Board normals: " << normals << " of " << check.shots.size() << " shots, RMS "
        << Fixed(check.normalRmsDeg, 4) << " deg from the saved board plane"
        << (check.shotsWithNormal > 0 ? "; judged with the points" : "; not judged (no covariance to judge them by)")
        << "\n";
  }
  if (!check.convention.empty()) out << "Robot rows read as: " << check.convention << "\n";
  if (check.displacementKnown) {
    out << "Camera displacement that best explains the shots: " << Fixed(check.displacementNormMm, 2) << " mm ("
        << Fixed(check.displacementMm[0], 2) << " " << Fixed(check.displacementMm[1], 2) << " "
        << Fixed(check.displacementMm[2], 2) << " in camera axes), turned " << Fixed(check.displacementRotationDeg, 3)
        << " deg";
    if (check.powerKnown) {
      const auto& s = check.displacementSigmaMm;
      out << " (1 sigma: " << Fixed(std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]), 2) << " mm, "
          << Fixed(check.displacementRotationSigmaDeg, 3) << " deg)";
    }
    out << "\n";
  }
  if (check.powerKnown) out << PowerText(check) << "\n";
  out << "Verdict: " << VerdictText(check) << "\n";
  if (!check.powerKnown) {
    out << (limitGiven ? "Judged by the RMS limit given.\n"
                       : "Judged by the RMS limit: the saved result carries no covariance, so what these shots "
                         "can see is not known (a result saved by this version carries it).\n");
  }
  if (check.verdict == TamoHandEye::CheckVerdict::Inconclusive) {
    out << "Inconclusive: no move was seen, but these shots could not have seen one of the tolerance's size; take "
           "more shots, or hold the check to a larger tolerance.\n";
  }
  if (check.drift) {
    out << "The camera transform no longer predicts the marker: check the camera's mounting and the tool, then "
           "recalibrate.\n";
  }
}

json CheckJson(const CalibrationCheck& check, bool limitGiven) {
  json shots = json::array();
  for (const TamoHandEye::ShotCheck& s : check.shots) {
    shots.push_back({{"predicted_mm", s.predictedMm},
                     {"measured_mm", s.measuredMm},
                     {"residual_mm", s.residualMm},
                     {"normal_residual_deg", std::isfinite(s.normalResidualDeg) ? json(s.normalResidualDeg) : json()}});
  }
  json j;
  j["schema"] = kSchema;
  j["shots"] = shots;
  j["rms_mm"] = check.rmsMm;
  j["max_mm"] = check.maxMm;
  j["limit_mm"] = check.limitMm;
  j["limit_from"] = LimitSource(check, limitGiven);
  j["verdict"] = VerdictText(check);
  j["judged_by"] = check.powerKnown ? "covariance" : "limit";
  j["shots_with_normal"] = check.shotsWithNormal;
  j["normal_rms_deg"] = check.normalRmsDeg;
  if (check.powerKnown) {
    j["power"] = {{"detectable_shift_mm", check.detectableShiftMm},
                  {"detectable_turn_deg", check.detectableTurnDeg},
                  {"more_shots", check.moreShots},
                  {"tolerance_mm", check.toleranceMm},
                  {"tolerance_deg", check.toleranceDeg},
                  {"p_value", check.pValue},
                  {"text", PowerText(check)}};
  } else {
    j["power"] = nullptr;
  }
  j["convention"] = check.convention;
  if (check.displacementKnown) {
    j["drift"] = {{"translation_mm", check.displacementNormMm},
                  {"rotation_deg", check.displacementRotationDeg},
                  {"translation_xyz_mm", check.displacementMm},
                  {"axis", check.displacementAxis},
                  {"translation_sigma_mm", check.displacementSigmaMm},
                  {"rotation_sigma_deg", check.displacementRotationSigmaDeg}};
  } else {
    j["drift"] = nullptr;
  }
  return j;
}

}  // namespace TarnWorkflow
