// SPDX-License-Identifier: Apache-2.0
#include "Tables.h"

#include "Text.h"

#include <Eigen/Geometry>
#include <Eigen/SVD>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace TarnWorkflow {
namespace {

using Kind = DataFileError::Kind;

bool Fail(DataFileError& error, Kind kind, std::size_t line, const std::string& message) {
  error = DataFileError{kind, line, message};
  return false;
}

std::string At(const std::string& path, std::size_t line) { return path + ", line " + std::to_string(line) + ": "; }

std::vector<std::string> Fields(std::string line) {
  line = line.substr(0, line.find('#'));
  for (char& c : line) {
    if (c == ',' || c == ';' || c == '\t') c = ' ';
  }
  std::istringstream stream(line);
  std::vector<std::string> fields;
  for (std::string field; stream >> field;) fields.push_back(field);
  return fields;
}

bool IsNumber(const std::string& text) {
  double v = 0.0;
  return ParseDecimal(text, v) && std::isfinite(v);
}

// Reads as a number, finite or not ("nan", "inf"): a value, never a name.
bool LooksLikeNumber(const std::string& text) {
  double v = 0.0;
  return ParseDecimal(text, v);
}

Eigen::Matrix4d MatrixOf(const std::vector<double>& v) {
  Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
  for (int r = 0; r < 3 + (v.size() == 16 ? 1 : 0); ++r) {
    for (int c = 0; c < 4; ++c) m(r, c) = v[static_cast<std::size_t>(4 * r + c)];
  }
  return m;
}

// The nearest rotation to `m`, or false when m is further than `tolerance` from one.
bool NearestRotation(const Eigen::Matrix3d& m, Eigen::Matrix3d& rotation) {
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(m, Eigen::ComputeFullU | Eigen::ComputeFullV);
  rotation = svd.matrixU() * svd.matrixV().transpose();
  return rotation.determinant() > 0.0 && (rotation - m).cwiseAbs().maxCoeff() <= 1e-3;
}

// The values of a JSON list of lists (or of numbers), row by row, when it has exactly `count` finite numbers.
bool Numbers(const nlohmann::json& shot, const char* key, std::size_t count, double* out) {
  const auto it = shot.find(key);
  if (it == shot.end() || !it->is_array()) return false;
  std::size_t k = 0;
  for (const nlohmann::json& item : *it) {
    const nlohmann::json row = item.is_array() ? item : nlohmann::json::array({item});
    for (const nlohmann::json& value : row) {
      if (!value.is_number() || k >= count) return false;
      out[k++] = value.get<double>();
    }
  }
  return k == count;
}

// The board's normal of one shot of tarn detect's output, with its axes and covariances where given.
TamoHandEye::ShotPlane PlaneOfShot(const nlohmann::json& shot) {
  TamoHandEye::ShotPlane plane;
  plane.hasNormal = Numbers(shot, "normal", 3, plane.normal.data());
  if (!plane.hasNormal) return plane;
  if (!Numbers(shot, "normal_axes", 6, plane.normalAxes.data()) ||
      !Numbers(shot, "normal_covariance_rad2", 4, plane.normalCovariance.data())) {
    plane.normalAxes = {};
    plane.normalCovariance = {};
  }
  if (!Numbers(shot, "centre_covariance_m2", 9, plane.centreCovariance.data())) plane.centreCovariance = {};
  return plane;
}

// Where a target's quaternion has its scalar: named by the file's column names ("qw" or "w" first or last of the
// four), unknown without them (then only the translation is read).
enum class QuaternionOrder { Unknown, ScalarFirst, ScalarLast };

QuaternionOrder OrderOf(const std::vector<std::string>& names) {
  if (names.size() != 7) return QuaternionOrder::Unknown;
  const auto scalar = [](std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    return name == "w" || name == "qw";
  };
  if (scalar(names[3])) return QuaternionOrder::ScalarFirst;
  if (scalar(names[6])) return QuaternionOrder::ScalarLast;
  return QuaternionOrder::Unknown;
}

bool UnitNormal(const TamoHandEye::ShotPlane& plane) {
  const double length = std::sqrt(plane.normal[0] * plane.normal[0] + plane.normal[1] * plane.normal[1] +
                                  plane.normal[2] * plane.normal[2]);
  return !plane.hasNormal || std::abs(length - 1.0) <= 0.01;
}

bool ReadDetectJson(const std::string& path, const std::string& text,
                    std::vector<TamoHandEye::MarkerBoardResult>& markers, DataFileError& error,
                    std::vector<TamoHandEye::ShotPlane>* planes) {
  const nlohmann::json shots = nlohmann::json::parse(text, nullptr, false);
  if (shots.is_discarded() || !shots.is_array()) {
    return Fail(error, Kind::NotNumber, 0,
                path +
                    " is JSON, but not the output of tarn detect (a list of shots, each with \"code\", \"x\", "
                    "\"y\", \"z\")");
  }
  // A number under `key`, or NaN.
  const auto number = [](const nlohmann::json& shot, const char* key) {
    const auto it = shot.find(key);
    return it != shot.end() && it->is_number() ? it->get<double>() : std::nan("");
  };
  std::size_t index = 0;
  for (const nlohmann::json& shot : shots) {
    ++index;
    const double x = shot.is_object() ? number(shot, "x") : std::nan("");
    if (!shot.is_object() || number(shot, "code") != 0.0 || !std::isfinite(x)) {
      return Fail(error, Kind::WrongCount, 0,
                  path + ": shot " + std::to_string(index) +
                      " has no marker: leave it out of the robot data too, or retake it");
    }
    const double u = number(shot, "u"), v = number(shot, "v");
    markers.push_back(
        {x, number(shot, "y"), number(shot, "z"), std::isfinite(u) ? u : 0.0, std::isfinite(v) ? v : 0.0});
    if (planes != nullptr) {
      planes->push_back(PlaneOfShot(shot));
      if (!UnitNormal(planes->back())) {
        return Fail(error, Kind::NotNumber, 0,
                    path + ": shot " + std::to_string(index) + " has a \"normal\" that is not of unit length");
      }
    }
  }
  if (markers.empty()) return Fail(error, Kind::Empty, 0, "the markers file is empty: " + path);
  return true;
}

}  // namespace

bool ReadTable(const std::string& path, const std::string& what, std::vector<TableRow>& rows, DataFileError& error,
               std::vector<std::string>* names) {
  rows.clear();
  if (names != nullptr) names->clear();
  bool headerAllowed = true;
  const bool read = ForEachDataLine(path, what, error, [&](const std::string& line, std::size_t number) {
    std::vector<std::string> fields = Fields(line);
    if (fields.empty()) return true;
    if (fields.size() == 1 && !IsNumber(fields.front())) {
      return Fail(error, Kind::WrongCount, number,
                  At(path, number) + "\"" + fields.front() + "\" has no values (a shot without its marker?)");
    }
    if (!LooksLikeNumber(fields.front()) && fields.size() > 1 && IsNumber(fields[1])) fields.erase(fields.begin());
    TableRow row{number, {}, {}};
    for (const std::string& field : fields) {
      double v = 0.0;
      if (!ParseDecimal(field, v) || !std::isfinite(v)) {
        // The first line is a header when most of it is not numbers (names; a typo in a row of numbers is not).
        const auto numbers = static_cast<std::size_t>(std::count_if(fields.begin(), fields.end(), IsNumber));
        const bool header = headerAllowed && 2 * numbers < fields.size();
        headerAllowed = false;
        if (header && names != nullptr) *names = fields;
        if (header) return true;
        return Fail(
            error, Kind::NotNumber, number,
            At(path, number) + "\"" + field + "\" is not " + (LooksLikeNumber(field) ? "a finite number" : "a number"));
      }
      row.values.push_back(v);
      row.texts.push_back(field);
    }
    headerAllowed = false;
    if (rows.size() >= kMaxTableRows) {
      return Fail(error, Kind::TooLarge, number,
                  path + " holds more than " + std::to_string(kMaxTableRows) + " rows: is this the right file?");
    }
    rows.push_back(std::move(row));
    return true;
  });
  if (!read) return false;
  if (rows.empty()) return Fail(error, Kind::Empty, 0, "the " + what + " is empty: " + path);
  return true;
}

bool ReadRobotTable(const std::string& path, std::size_t rowLength, const std::string& typeName,
                    TamoHandEye::RobotRows& rows, DataFileError& error, std::vector<std::vector<std::string>>* texts) {
  std::vector<TableRow> table;
  if (!ReadTable(path, "robot data file", table, error)) return false;
  rows.clear();
  if (texts != nullptr) texts->clear();
  for (const TableRow& row : table) {
    if (row.values.size() != rowLength) {
      return Fail(error, Kind::WrongCount, row.line,
                  At(path, row.line) + std::to_string(row.values.size()) + " values, but a " + typeName + " row has " +
                      std::to_string(rowLength));
    }
    rows.push_back(row.values);
    if (texts != nullptr) texts->push_back(row.texts);
  }
  return true;
}

bool ReadPoseMatrices(const std::string& path, bool meter, bool invert, TamoHandEye::RobotRows& rows,
                      DataFileError& error) {
  std::vector<TableRow> table;
  if (!ReadTable(path, "robot data file", table, error)) return false;
  rows.clear();
  for (const TableRow& row : table) {
    if (row.values.size() != 16 && row.values.size() != 12) {
      return Fail(error, Kind::WrongCount, row.line,
                  At(path, row.line) + std::to_string(row.values.size()) +
                      " values, but a pose matrix has 16 (4 x 4, row by row) or 12 (without the last row)");
    }
    Eigen::Matrix4d m = MatrixOf(row.values);
    Eigen::Matrix3d rotation;
    if (!NearestRotation(m.topLeftCorner<3, 3>(), rotation) ||
        (row.values.size() == 16 && m.row(3) != Eigen::RowVector4d(0, 0, 0, 1))) {
      return Fail(error, Kind::NotNumber, row.line,
                  At(path, row.line) + "the matrix is not a pose (rotation and translation)");
    }
    Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
    pose.linear() = rotation;
    pose.translation() = m.topRightCorner<3, 1>() * (meter ? 1000.0 : 1.0);
    if (invert) pose = pose.inverse();
    const Eigen::Quaterniond q(pose.linear());
    const Eigen::Vector3d t = pose.translation();
    rows.push_back({t.x(), t.y(), t.z(), q.w(), q.x(), q.y(), q.z()});
  }
  return true;
}

namespace {

// A row's target rotation (a matrix's, or a quaternion's in the order the column names give) or board normal.
bool RowPlane(const std::string& path, const TableRow& row, MarkerForm form, QuaternionOrder order,
              TamoHandEye::ShotPlane& plane, DataFileError& error) {
  const std::vector<double>& v = row.values;
  const std::size_t n = v.size();
  const bool matrix = form == MarkerForm::Targets && n != 7;
  if (form == MarkerForm::Targets && (matrix || order != QuaternionOrder::Unknown)) {
    Eigen::Matrix3d turn = Eigen::Matrix3d::Identity();
    const Eigen::Quaterniond q = order == QuaternionOrder::ScalarFirst ? Eigen::Quaterniond(v[3], v[4], v[5], v[6])
                                                                       : Eigen::Quaterniond(v[6], v[3], v[4], v[5]);
    const bool read =
        matrix ? NearestRotation(MatrixOf(v).topLeftCorner<3, 3>(), turn) : std::abs(q.norm() - 1.0) <= 1e-3;
    if (!read) {
      return Fail(error, Kind::NotNumber, row.line,
                  At(path, row.line) + "the target's rotation is not one (a rotation matrix, or a unit quaternion)");
    }
    if (!matrix) turn = q.normalized().toRotationMatrix();
    plane.hasRotation = true;
    for (int k = 0; k < 9; ++k) plane.rotation[static_cast<std::size_t>(k)] = turn(k / 3, k % 3);
  }
  const std::size_t normalAt = n == 6 ? 3 : 5;
  plane.hasNormal = form == MarkerForm::Points && (n == 6 || n == 8 || n == 10);
  if (plane.hasNormal) plane.normal = {v[normalAt], v[normalAt + 1], v[normalAt + 2]};
  if (!UnitNormal(plane)) {
    return Fail(error, Kind::NotNumber, row.line,
                At(path, row.line) + "nx ny nz is not a unit normal (its length is not 1)");
  }
  return true;
}

}  // namespace

bool ReadMarkers(const std::string& path, MarkerForm form, double toMetre,
                 std::vector<TamoHandEye::MarkerBoardResult>& markers, DataFileError& error,
                 std::vector<TamoHandEye::ShotPlane>* planes) {
  markers.clear();
  if (planes != nullptr) planes->clear();
  std::string text;
  if (!ReadWholeFile(path, "markers file", kMaxTableBytes, text, error)) return false;
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && (text[first] == '[' || text[first] == '{')) {
    return ReadDetectJson(path, text, markers, error, planes);
  }
  std::vector<TableRow> table;
  std::vector<std::string> names;
  if (!ReadTable(path, "markers file", table, error, &names)) return false;
  const QuaternionOrder order = OrderOf(names);
  for (const TableRow& row : table) {
    const std::vector<double>& v = row.values;
    const std::size_t n = v.size();
    // x y z, with u v, with the board's normal nx ny nz, and with the fitted centre's two figures as tarn
    // detect's tables have them: 3, 5, 6 (x y z nx ny nz), 7 (x y z u v and the figures), 8 (x y z u v nx ny
    // nz) or 10 (and the figures).
    if (form == MarkerForm::Points && n != 3 && n != 5 && n != 6 && n != 7 && n != 8 && n != 10) {
      return Fail(error, Kind::WrongCount, row.line,
                  At(path, row.line) + "expected x y z [u v] [nx ny nz], found " + std::to_string(n) + " values");
    }
    if (form == MarkerForm::Targets && n != 16 && n != 12 && n != 7) {
      return Fail(error, Kind::WrongCount, row.line,
                  At(path, row.line) + std::to_string(n) +
                      " values, but a target pose has 16 or 12 (a 4 x 4 matrix) or 7 (X Y Z and a quaternion)");
    }
    const bool matrix = form == MarkerForm::Targets && n != 7;
    const double x = matrix ? v[3] : v[0], y = matrix ? v[7] : v[1], z = matrix ? v[11] : v[2];
    const bool pixel = form == MarkerForm::Points && n >= 5 && n != 6;
    markers.push_back({x * toMetre, y * toMetre, z * toMetre, pixel ? v[3] : 0.0, pixel ? v[4] : 0.0});
    if (planes == nullptr) continue;
    TamoHandEye::ShotPlane plane;
    if (!RowPlane(path, row, form, order, plane, error)) return false;
    planes->push_back(plane);
  }
  return true;
}

}  // namespace TarnWorkflow
