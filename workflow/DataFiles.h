// SPDX-License-Identifier: Apache-2.0
#pragma once

// What every data file reader shares: its errors, reading a text file line by line within bounds (a line
// over 64 KiB means it is not a data file, and reading stops there; lines may end in CR LF), reading a
// small file whole within a size bound, and replacing a file whole. Every reader refuses at once, without
// waiting, a path that is not a regular file (a FIFO, a device, a folder). The tables themselves are read
// by Tables.h.

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

/// The most rows a table may have.
constexpr std::size_t kMaxTableRows = 100000;
/// The most bytes a table read line by line may have (100,000 rows of a few hundred characters).
constexpr std::size_t kMaxTableBytes = std::size_t{64} << 20;
/// The most bytes a result or settings file read whole may have.
constexpr std::size_t kMaxResultBytes = std::size_t{16} << 20;

/// Reads the whole of the regular file `path` into `bytes`. Refused, with the reason in `error`: a path
/// that does not exist, is not a regular file, cannot be read, or holds more than `maxBytes`; `what`
/// names the file in messages ("result file").
bool ReadWholeFile(const std::string& path, const std::string& what, std::size_t maxBytes, std::string& bytes,
                   DataFileError& error);

/// Calls `use` with each line of a text file (without its line end, CR LF accepted, and without a UTF-8
/// byte-order mark at the start) and its 1-based number,
/// reading a bounded piece at a time: a line over 64 KiB, or a file over kMaxTableBytes, is refused as
/// soon as it is seen. `use` returns
/// false (with `error` set) to stop; `what` names the file in messages ("robot data file").
bool ForEachDataLine(const std::string& path, const std::string& what, DataFileError& error,
                     const std::function<bool(const std::string&, std::size_t)>& use);
/// Writes `content` to a temporary file in the target's folder and renames it over `path` once it is
/// complete and on disk (an earlier file stays whole when the write fails; its permissions are kept).
/// A symbolic link is followed: its target is replaced, the link stays. A character device or a FIFO
/// (`/dev/stdout`, a pipe) is written to directly; any other path that is not a regular file (a folder,
/// a block device, a socket) is refused, and so is a file without write permission, even for root.
/// Temporary files are named ".NAME.tarn-PID-XXXXXX"; those that a process no longer running left
/// beside NAME are removed. False, with the reason in `reason` when given, when nothing was written.
bool ReplaceFile(const std::string& path, const std::string& content, std::string* reason = nullptr);
}  // namespace TarnWorkflow
