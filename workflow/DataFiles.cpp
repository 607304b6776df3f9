#include "DataFiles.h"

#include "Text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace TarnWorkflow {
namespace {

namespace fs = std::filesystem;
using Kind = DataFileError::Kind;

constexpr std::size_t kMaxLineLength = 1 << 16;

bool Fail(DataFileError& error, Kind kind, std::size_t line, const std::string& message) {
  error = DataFileError{kind, line, message};
  return false;
}

}  // namespace

bool ForEachDataLine(const std::string& path, const std::string& what, DataFileError& error,
                     const std::function<bool(const std::string&, std::size_t)>& use) {
  std::error_code statusError;
  const fs::file_status status = fs::status(path, statusError);
  if (!fs::exists(status))
    return Fail(error, Kind::CannotOpen, 0, "cannot open the " + what + " " + path + ": it does not exist");
  if (!fs::is_regular_file(status))
    return Fail(error, Kind::CannotOpen, 0, "the " + what + " " + path + " is not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, Kind::CannotOpen, 0, "cannot open the " + what + " " + path);
  std::string line;
  std::size_t number = 1;
  std::vector<char> buffer(1 << 16);
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    const auto got = static_cast<std::size_t>(in.gcount());
    for (std::size_t i = 0; i < got; ++i) {
      if (buffer[i] == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!use(line, number++)) return false;
        line.clear();
      } else if (line.size() >= kMaxLineLength) {
        return Fail(error, Kind::TooLarge, number,
                    path + ", line " + std::to_string(number) + " is longer than " + std::to_string(kMaxLineLength) +
                        " characters: is this a " + what + "?");
      } else {
        line += buffer[i];
      }
    }
  }
  if (in.bad()) return Fail(error, Kind::CannotOpen, 0, "cannot read the " + what + " " + path);
  return line.empty() || use(line, number);
}

bool ReplaceFile(const std::string& path, const std::string& content) {
  const std::filesystem::path target(path);
  if (target.filename().empty()) return false;
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  std::string name = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  // The permissions of the file it replaces, or those of a new file.
  struct stat existing {};
  mode_t mode = 0;
  if (::stat(path.c_str(), &existing) == 0) {
    mode = existing.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  bool ok = ::fchmod(fd, mode) == 0;
  for (std::size_t done = 0; ok && done < content.size();) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(name.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(name.c_str());
  return ok;
}

}  // namespace TarnWorkflow
