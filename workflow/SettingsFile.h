// SPDX-License-Identifier: Apache-2.0
#pragma once

// The parameter and result file: a settings block ("Key:value" lines ending with "END:"), then tables,
// each as a header line, one line per row and an empty line, every cell followed by ","; in GBK (which
// GB2312 text is), lines ending in a line feed. The desktop program writes its parameter table or its
// result tables into it and reads parameter tables back; the command line writes results.

#include <tarn/CalibrationReport.h>
#include <tarn/FinalResult.h>

#include <optional>
#include <string>
#include <vector>

namespace TarnWorkflow {

struct FileSettings {
  int handEyeType = 0;    ///< 0 eye-in-hand, 1 eye-to-hand
  std::string robotType;  ///< the robot type's display text
  bool isMeter = false;
  bool isRadian = false;
  bool exhaust = false;
  double ransacDist = 0.0;
  /// How the markers were found, as the marker list names it ("同心圆" or "同心圆(平面拟合)"); no entry
  /// when it is not known.
  std::optional<std::string> markerType;
  /// A result's covariance, for checking it later against new shots: an entry "Covariance:" of the residual
  /// σ (mm), its degrees of freedom, the 81 values row by row and a shot's noise σ along the line of sight and across
  /// it, separated by spaces (readers that do not know it skip it); no entry when not known.
  std::optional<TamoHandEye::CalibrationCovariance> covariance;
  /// A result's RMS residual (mm, whatever the unit of its translations): an entry "RmsError:", from which
  /// a later check sets its limit when there is no covariance, and refuses a result that did not fit; no
  /// entry when not known.
  std::optional<double> rmsErrorMm;
  /// A result solved with the board's normals: an entry "Board:" of its model ("point+normal" or "point+rotation"),
  /// the board normal (3), its covariance (9), its covariance with the covariance's parameters (27), one shot's
  /// normal σ (deg) and its degrees of freedom, separated by spaces; a later check judges new shots' normals by it.
  std::optional<std::pair<std::string, TamoHandEye::BoardPlane>> board;
};

/// The covariance entry's value, and back (false when it is not one).
std::string CovarianceEntry(const TamoHandEye::CalibrationCovariance& covariance);
bool ParseCovarianceEntry(const std::string& text, TamoHandEye::CalibrationCovariance& covariance);
/// The board entry's value, and back (false when it is not one).
std::string BoardEntry(const std::string& model, const TamoHandEye::BoardPlane& board);
bool ParseBoardEntry(const std::string& text, std::string& model, TamoHandEye::BoardPlane& board);

/// A table as the file holds it: texts, UTF-8.
struct FileTable {
  std::vector<std::string> headers;
  std::vector<std::vector<std::string>> rows;
};

/// The marker list's two entries: the centroids' centre and the centre fitted on the board plane.
const std::string& CentroidMarkerText();
const std::string& FittedMarkerText();

/// The file's text (UTF-8) for `settings` and `tables`.
std::string SettingsFileText(const FileSettings& settings, const std::vector<FileTable>& tables);
/// Writes that text in GBK to a temporary file of a unique name in the target's folder, renamed over
/// `path` once complete and on disk: a failed write leaves an earlier file whole, and two saves at once
/// leave one of the two files, never a mix. False when the file could not be written (why in `reason`, as
/// ReplaceFile says).
bool WriteSettingsFile(const std::string& path, const FileSettings& settings, const std::vector<FileTable>& tables,
                       std::string* reason = nullptr);

/// A result's three tables: the camera pose row (X Y Z R1 R2 R3 [R4]), the camera matrix (列1 … 列4) and
/// the marker position (X Y Z), numbers with up to 6 significant digits.
std::vector<FileTable> ResultTables(const TamoHandEye::FinalResult& result);

/// What a read found (UTF-8): the settings entries (each "Key:value" line split at ":", up to "END"), and
/// the lines after the first table's header, blank lines left out.
struct SettingsFileContent {
  std::vector<std::vector<std::string>> entries;
  std::string tableHeader;  ///< the first table's header line; empty when the file has no table
  std::vector<std::string> rows;
  /// The value of the first entry named `key`, or nothing.
  std::optional<std::string> Find(const std::string& key) const;
};

/// False when the file cannot be read, has fewer than 5 non-blank lines, a settings line without ":",
/// or no "END" entry.
bool ReadSettingsFile(const std::string& path, SettingsFileContent& content);

}  // namespace TarnWorkflow
