#pragma once

// The robot data file (one pose per line, whitespace-separated numbers, exactly the robot type's row
// length) and the markers file (x y z in metres, optionally u v, per line; '#' starts a comment). Blank
// lines are skipped. Both hold a few hundred short lines: a line over 64 KiB or more than 100,000 rows
// means it is not such a file, and reading stops there.

#include <tarn/MarkerBoardResult.h>

#include <cstddef>
#include <string>
#include <vector>

namespace TarnWorkflow {

struct DataFileError {
  enum class Kind {
    None,
    CannotOpen,   ///< missing, not a regular file, or unreadable
    TooLarge,     ///< a line too long or too many rows
    NotNumber,    ///< a value is not a finite decimal number
    WrongCount,   ///< a line has the wrong number of values
    Empty,        ///< no rows at all
  };
  Kind kind = Kind::None;
  std::size_t line = 0;  ///< 1-based line of the fault, 0 when it is not one line's
  std::string message;   ///< the whole reason, for the command line: "robot.txt, line 3: ..."
};

/// Reads the rows of a robot data file for a type of `rowLength` values called `typeName`. False with
/// `error` set (and `rows` unspecified) when the file cannot be used.
bool ReadRobotRows(const std::string& path, std::size_t rowLength, const std::string& typeName,
                   std::vector<std::vector<double>>& rows, DataFileError& error);
/// Reads the marker points of a markers file (u and v are 0 where absent).
bool ReadMarkerPoints(const std::string& path, std::vector<TamoHandEye::MarkerBoardResult>& markers,
                      DataFileError& error);

}  // namespace TarnWorkflow
