// SPDX-License-Identifier: Apache-2.0
#include "DataFiles.h"

#include "Text.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace TarnWorkflow {
namespace {

namespace fs = std::filesystem;
using Kind = DataFileError::Kind;

constexpr std::size_t kMaxLineLength = 1 << 16;
constexpr const char* kByteOrderMark = "\xEF\xBB\xBF";  // UTF-8's, which some editors begin a file with

bool Fail(DataFileError& error, Kind kind, std::size_t line, const std::string& message) {
  error = DataFileError{kind, line, message};
  return false;
}

// A descriptor closed when it goes out of scope.
struct Descriptor {
  int fd = -1;
  Descriptor() = default;
  explicit Descriptor(int descriptor) : fd(descriptor) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

std::string SystemMessage(int code) { return std::generic_category().message(code); }

std::string Megabytes(std::size_t bytes) { return std::to_string((bytes + (std::size_t{1} << 20) - 1) >> 20) + " MB"; }

// Opens `path` for reading. The open does not wait (an ordinary open of a FIFO waits for a writer), and
// what is not a regular file, or is larger than `maxBytes`, is refused.
bool OpenRegular(const std::string& path, const std::string& what, std::size_t maxBytes, Descriptor& file,
                 DataFileError& error) {
  file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file.fd < 0) {
    const int code = errno;
    return Fail(error, Kind::CannotOpen, 0,
                "cannot open the " + what + " " + path + ": " +
                    (code == ENOENT ? std::string("it does not exist") : SystemMessage(code)));
  }
  struct stat status {};
  if (::fstat(file.fd, &status) != 0) {
    return Fail(error, Kind::CannotOpen, 0, "cannot read the " + what + " " + path + ": " + SystemMessage(errno));
  }
  if (!S_ISREG(status.st_mode)) {
    const char* kind = S_ISDIR(status.st_mode)    ? " (it is a folder)"
                       : S_ISFIFO(status.st_mode) ? " (it is a pipe)"
                       : S_ISCHR(status.st_mode)  ? " (it is a device)"
                                                  : "";
    return Fail(error, Kind::CannotOpen, 0, "the " + what + " " + path + " is not a regular file" + kind);
  }
  if (static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
    return Fail(error, Kind::TooLarge, 0,
                path + " holds " + Megabytes(static_cast<std::size_t>(status.st_size)) + ", more than a " + what +
                    " may (" + Megabytes(maxBytes) + "): is this the right file?");
  }
  return true;
}

// Reads up to `size` bytes, retrying when interrupted; -1 on a read error.
ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

// Calls `piece` with each piece of the regular file `path` as it is read, the whole within `maxBytes`
// (a file that grows while it is read included); `piece` returns false (with `error` set) to stop.
bool ForEachPiece(const std::string& path, const std::string& what, std::size_t maxBytes, DataFileError& error,
                  const std::function<bool(const char*, std::size_t)>& piece) {
  Descriptor file;
  if (!OpenRegular(path, what, maxBytes, file, error)) return false;
  std::size_t total = 0;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = ReadSome(file.fd, buffer.data(), buffer.size());
    if (n < 0)
      return Fail(error, Kind::CannotOpen, 0, "cannot read the " + what + " " + path + ": " + SystemMessage(errno));
    if (n == 0) return true;
    total += static_cast<std::size_t>(n);
    if (total > maxBytes) {
      return Fail(error, Kind::TooLarge, 0,
                  path + " holds more than a " + what + " may (" + Megabytes(maxBytes) + "): is this the right file?");
    }
    if (!piece(buffer.data(), static_cast<std::size_t>(n))) return false;
  }
}

}  // namespace

bool ReadWholeFile(const std::string& path, const std::string& what, std::size_t maxBytes, std::string& bytes,
                   DataFileError& error) {
  std::string read;
  if (!ForEachPiece(path, what, maxBytes, error, [&read](const char* data, std::size_t size) {
        read.append(data, size);
        return true;
      })) {
    return false;
  }
  bytes = std::move(read);
  return true;
}

bool ForEachDataLine(const std::string& path, const std::string& what, DataFileError& error,
                     const std::function<bool(const std::string&, std::size_t)>& use) {
  std::string line;
  std::size_t number = 1;
  const bool read = ForEachPiece(path, what, kMaxTableBytes, error, [&](const char* buffer, std::size_t got) {
    for (std::size_t i = 0; i < got; ++i) {
      if (buffer[i] == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (number == 1 && line.rfind(kByteOrderMark, 0) == 0) line.erase(0, 3);
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
    return true;
  });
  if (!read) return false;
  if (number == 1 && line.rfind(kByteOrderMark, 0) == 0) line.erase(0, 3);
  return line.empty() || use(line, number);
}

namespace {

bool Refuse(std::string* reason, const std::string& why) {
  if (reason != nullptr) *reason = why;
  return false;
}

// The process's file mode creation mask, read without changing it (umask() would, for every thread).
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
  }
  return 022;
}

// Writes all of `content` to `fd`; false on an error.
bool WriteAll(int fd, const std::string& content) {
  for (std::size_t done = 0; done < content.size();) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A character device or a FIFO, written to as it is (a FIFO nobody reads is refused rather than waited on).
bool WriteDirectly(const std::string& path, const std::string& content, bool fifo, std::string* reason) {
  Descriptor out(::open(path.c_str(), O_WRONLY | O_CLOEXEC | (fifo ? O_NONBLOCK : 0)));
  if (out.fd < 0) {
    const int code = errno;
    return Refuse(reason,
                  "cannot write " + path + ": " +
                      (fifo && code == ENXIO ? std::string("nothing reads from the pipe") : SystemMessage(code)));
  }
  if (fifo) ::fcntl(out.fd, F_SETFL, ::fcntl(out.fd, F_GETFL) & ~O_NONBLOCK);
  if (!WriteAll(out.fd, content)) return Refuse(reason, "cannot write " + path + ": " + SystemMessage(errno));
  return true;
}

// The file a path names once its symbolic links are followed; the path itself when it names nothing yet
// (a link to a file still to be made leads to that file's name).
bool FollowLinks(const std::string& path, std::string& target, std::string* reason) {
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    target = real;
    std::free(real);
    return true;
  }
  target = path;
  for (int hops = 0;; ++hops) {
    struct stat link {};
    if (::lstat(target.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return true;
    std::error_code error;
    const fs::path to = fs::read_symlink(target, error);
    if (error || hops == 40) return Refuse(reason, "cannot follow the link " + path);
    target = (to.is_absolute() ? to : fs::path(target).parent_path() / to).string();
  }
}

constexpr const char* kTemporaryMark = ".tarn-";

// Removes the temporary files of `name` in `folder` that a process no longer running left there.
void RemoveStaleTemporaries(const fs::path& folder, const std::string& name) {
  const std::string prefix = "." + name + kTemporaryMark;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string entry = it->path().filename().string();
    if (entry.rfind(prefix, 0) != 0) continue;
    char* after = nullptr;
    const long pid = std::strtol(entry.c_str() + prefix.size(), &after, 10);
    if (pid <= 0 || after == nullptr || *after != '-') continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    std::error_code ignored;
    if (fs::is_regular_file(fs::symlink_status(it->path(), ignored))) fs::remove(it->path(), ignored);
  }
}

}  // namespace

bool ReplaceFile(const std::string& path, const std::string& content, std::string* reason) {
  if (path.empty()) return Refuse(reason, "no file name given");
  struct stat existing {};
  const bool exists = ::stat(path.c_str(), &existing) == 0;
  if (!exists && errno != ENOENT) return Refuse(reason, "cannot write " + path + ": " + SystemMessage(errno));
  if (exists) {
    if (S_ISCHR(existing.st_mode) || S_ISFIFO(existing.st_mode)) {
      return WriteDirectly(path, content, S_ISFIFO(existing.st_mode), reason);
    }
    if (S_ISDIR(existing.st_mode)) return Refuse(reason, "cannot write " + path + ": it is a folder");
    if (!S_ISREG(existing.st_mode)) return Refuse(reason, "cannot write " + path + ": it is not a regular file");
    if ((existing.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) {
      return Refuse(reason, "cannot write " + path + ": the file is read-only");
    }
  }
  std::string resolved;
  if (!FollowLinks(path, resolved, reason)) return false;
  const fs::path target(resolved);
  if (target.filename().empty()) return Refuse(reason, "cannot write " + path + ": it names a folder");
  const fs::path folder = target.has_parent_path() ? target.parent_path() : ".";
  const std::string name = target.filename().string();
  RemoveStaleTemporaries(folder, name);
  std::string temporary = (folder / ("." + name + kTemporaryMark + std::to_string(::getpid()) + "-XXXXXX")).string();
  Descriptor out(::mkstemp(temporary.data()));
  if (out.fd < 0) return Refuse(reason, "cannot write in " + folder.string() + ": " + SystemMessage(errno));
  // The permissions of the file it replaces, or those of a new file.
  const mode_t mode = exists ? existing.st_mode & 07777 : 0666 & ~CurrentUmask();
  int code = 0;
  if (::fchmod(out.fd, mode) != 0 || !WriteAll(out.fd, content) || ::fsync(out.fd) != 0) code = errno;
  if (::close(std::exchange(out.fd, -1)) != 0 && code == 0) code = errno;
  if (code == 0 && ::rename(temporary.c_str(), resolved.c_str()) != 0) code = errno;
  if (code != 0) {
    ::unlink(temporary.c_str());
    return Refuse(reason, "cannot write " + path + ": " + SystemMessage(code));
  }
  return true;
}

}  // namespace TarnWorkflow
