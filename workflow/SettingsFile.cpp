// SPDX-License-Identifier: Apache-2.0
#include "SettingsFile.h"

#include "DataFiles.h"
#include "Text.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <locale>
#include <sstream>

namespace TarnWorkflow {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

std::vector<std::string> Numbers(const std::vector<double>& values) {
  std::vector<std::string> texts;
  for (const double v : values) texts.push_back(FormatNumber(v));
  return texts;
}

}  // namespace

std::string CovarianceEntry(const TamoHandEye::CalibrationCovariance& c) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out.precision(17);
  out << c.residualSigmaMm << " " << c.freedom;
  for (const double v : c.matrix) out << " " << v;
  out << " " << c.alongSightSigmaMm << " " << c.acrossSightSigmaMm;
  return out.str();
}

bool ParseCovarianceEntry(const std::string& text, TamoHandEye::CalibrationCovariance& c) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  TamoHandEye::CalibrationCovariance read;
  in >> read.residualSigmaMm >> read.freedom;
  for (double& v : read.matrix) in >> v;
  if (in.fail()) return false;
  // The shot noise along the line of sight and across it follows (an entry without it leaves it unknown).
  if (in >> read.alongSightSigmaMm) {
    in >> read.acrossSightSigmaMm;
  } else {
    read.alongSightSigmaMm = 0.0;
    in.clear();
    in.setstate(std::ios::eofbit);
  }
  std::string rest;
  if (in.fail() || (in >> rest) || !std::isfinite(read.residualSigmaMm) || read.residualSigmaMm <= 0.0 ||
      read.freedom < 1) {
    return false;
  }
  read.known = true;
  c = read;
  return true;
}

std::string BoardEntry(const std::string& model, const TamoHandEye::BoardPlane& b) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out.precision(17);
  out << model;
  for (const double v : b.normal) out << " " << v;
  for (const double v : b.normalCovariance) out << " " << v;
  for (const double v : b.normalCrossCovariance) out << " " << v;
  out << " " << b.shotNormalSigmaDeg << " " << b.normalFreedom;
  return out.str();
}

bool ParseBoardEntry(const std::string& text, std::string& model, TamoHandEye::BoardPlane& board) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  TamoHandEye::BoardPlane read;
  std::string name;
  in >> name;
  for (double& v : read.normal) in >> v;
  for (double& v : read.normalCovariance) in >> v;
  for (double& v : read.normalCrossCovariance) in >> v;
  in >> read.shotNormalSigmaDeg >> read.normalFreedom;
  std::string rest;
  if (in.fail() || (in >> rest) || (name != "point+normal" && name != "point+rotation") ||
      !std::isfinite(read.shotNormalSigmaDeg) || read.shotNormalSigmaDeg <= 0.0 || read.normalFreedom < 1) {
    return false;
  }
  model = name;
  board = read;
  return true;
}

const std::string& CentroidMarkerText() {
  static const std::string text = "同心圆";
  return text;
}

const std::string& FittedMarkerText() {
  static const std::string text = "同心圆(平面拟合)";
  return text;
}

std::string SettingsFileText(const FileSettings& s, const std::vector<FileTable>& tables) {
  std::ostringstream out;
  out << "HandEyeType:" << s.handEyeType << "\n"
      << "RobotType:" << s.robotType << "\n"
      << "IsMeter:" << (s.isMeter ? 1 : 0) << "\n"
      << "IsRadian:" << (s.isRadian ? 1 : 0) << "\n"
      << "Exhaust:" << (s.exhaust ? 1 : 0) << "\n"
      << "RansacDist:" << FormatNumber(s.ransacDist) << "\n";
  if (s.markerType) out << "MarkerType:" << *s.markerType << "\n";
  if (s.covariance && s.covariance->known) out << "Covariance:" << CovarianceEntry(*s.covariance) << "\n";
  if (s.board) out << "Board:" << BoardEntry(s.board->first, s.board->second) << "\n";
  if (s.rmsErrorMm && std::isfinite(*s.rmsErrorMm)) out << "RmsError:" << FormatNumber(*s.rmsErrorMm) << "\n";
  out << "END:\n";
  for (const FileTable& table : tables) {
    for (const std::string& h : table.headers) out << h << ",";
    out << "\n";
    for (const auto& row : table.rows) {
      for (const std::string& cell : row) out << cell << ",";
      out << "\n";
    }
    out << "\n";
  }
  return out.str();
}

bool WriteSettingsFile(const std::string& path, const FileSettings& settings, const std::vector<FileTable>& tables,
                       std::string* reason) {
  return ReplaceFile(path, Utf8ToGbk(SettingsFileText(settings, tables)), reason);
}

std::vector<FileTable> ResultTables(const TamoHandEye::FinalResult& result) {
  FileTable pose{{"X", "Y", "Z", "R1", "R2", "R3"}, {Numbers(result.cameraPose)}};
  if (result.cameraPose.size() == 7) pose.headers.push_back("R4");
  FileTable matrix{{"列1", "列2", "列3", "列4"}, {}};
  for (const auto& row : result.cameraMatrix) matrix.rows.push_back(Numbers(row));
  FileTable marker{{"X", "Y", "Z"}, {Numbers(result.markerPosition)}};
  return {pose, matrix, marker};
}

std::optional<std::string> SettingsFileContent::Find(const std::string& key) const {
  for (const auto& entry : entries) {
    if (entry.front() == key) return entry[1];
  }
  return std::nullopt;
}

bool ReadSettingsFile(const std::string& path, SettingsFileContent& content) {
  std::string bytes;
  DataFileError error;
  if (!ReadWholeFile(path, "parameter file", kMaxTableBytes, bytes, error)) return false;
  const std::string text = GbkToUtf8(bytes);
  std::vector<std::string> lines;
  for (std::string line : Split(text, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  if (lines.size() < 5 || lines.size() > kMaxTableRows + 100) return false;

  content = SettingsFileContent{};
  std::size_t next = 0;
  bool ended = false;
  while (next < lines.size() && !ended) {
    std::vector<std::string> parts = Split(lines[next++], ':');
    if (parts.size() < 2) return false;
    ended = parts.front() == "END";
    content.entries.push_back(std::move(parts));
  }
  if (!ended) return false;
  if (next < lines.size()) content.tableHeader = lines[next];
  // The first table's header line is not a row.
  if (next + 1 < lines.size()) content.rows.assign(lines.begin() + static_cast<std::ptrdiff_t>(next + 1), lines.end());
  return true;
}

}  // namespace TarnWorkflow
