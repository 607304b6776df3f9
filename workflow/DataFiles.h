#pragma once

// What every data file reader shares: its errors, reading a text file line by line within bounds (a line
// over 64 KiB means it is not a data file, and reading stops there; lines may end in CR LF), and replacing
// a file whole. The tables themselves are read by Tables.h.

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

/// Calls `use` with each line of a text file (without its line end, CR LF accepted) and its 1-based number,
/// reading a bounded piece at a time: a line over 64 KiB is refused as soon as it is seen. `use` returns
/// false (with `error` set) to stop; `what` names the file in messages ("robot data file").
bool ForEachDataLine(const std::string& path, const std::string& what, DataFileError& error,
                     const std::function<bool(const std::string&, std::size_t)>& use);
/// Writes `content` to a temporary file in the target's folder and renames it over `path` once it is
/// complete and on disk (an earlier file stays whole when the write fails; its permissions are kept).
bool ReplaceFile(const std::string& path, const std::string& content);
}  // namespace TarnWorkflow
