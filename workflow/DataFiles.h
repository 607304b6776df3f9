#pragma once

// The robot data file (one pose per line, whitespace-separated numbers, exactly the robot type's row
// length; empty lines are skipped, and lines of white space alone too when asked) and the markers
// file (x y z in metres, optionally u v, per line; '#' starts a comment; blank lines are skipped). Lines
// may end in CR LF. Both hold a few hundred short lines: a line over 64 KiB or more than 100,000 rows
// means it is not such a file, and reading stops there.

#include <tarn/MarkerBoardResult.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace TarnWorkflow {

struct DataFileError {
  enum class Kind {
    None,
    CannotOpen,  ///< missing, not a regular file, or unreadable
    TooLarge,    ///< a line too long or too many rows
    NotNumber,   ///< a value is not a finite decimal number
    WrongCount,  ///< a line has the wrong number of values
    Empty,       ///< no rows at all
  };
  Kind kind = Kind::None;
  std::size_t line = 0;  ///< 1-based line of the fault, 0 when it is not one line's
  std::string message;   ///< the whole reason, for the command line: "robot.txt, line 3: ..."
};

/// Reads the rows of a robot data file for a type of `rowLength` values called `typeName`, skipping only
/// empty lines; `words`, when given, receives each value as the file writes it. False with `error` set (and the rows
/// unspecified) when the file cannot be used.
bool ReadRobotRows(const std::string& path, std::size_t rowLength, const std::string& typeName,
                   std::vector<std::vector<double>>& rows, DataFileError& error,
                   std::vector<std::vector<std::string>>* words = nullptr);

/// Which lines of a robot data file hold no pose: only empty ones (the desktop program's rule, under which
/// a line of white space is a line without values, refused), or also those of white space alone.
enum class BlankLines { OnlyEmptySkipped, WhiteSpaceSkipped };
/// As above, with the choice of which lines are skipped.
bool ReadRobotRows(const std::string& path, std::size_t rowLength, const std::string& typeName, BlankLines blank,
                   std::vector<std::vector<double>>& rows, DataFileError& error,
                   std::vector<std::vector<std::string>>* words = nullptr);
/// Calls `use` with each line of a text file (without its line end, CR LF accepted) and its 1-based number,
/// reading a bounded piece at a time: a line over 64 KiB is refused as soon as it is seen. `use` returns
/// false (with `error` set) to stop; `what` names the file in messages ("robot data file").
bool ForEachDataLine(const std::string& path, const std::string& what, DataFileError& error,
                     const std::function<bool(const std::string&, std::size_t)>& use);
/// Writes `content` to a temporary file in the target's folder and renames it over `path` once it is
/// complete and on disk (an earlier file stays whole when the write fails; its permissions are kept).
bool ReplaceFile(const std::string& path, const std::string& content);
/// Reads the marker points of a markers file (u and v are 0 where absent).
bool ReadMarkerPoints(const std::string& path, std::vector<TamoHandEye::MarkerBoardResult>& markers,
                      DataFileError& error);

}  // namespace TarnWorkflow
