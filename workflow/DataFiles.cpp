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
constexpr std::size_t kMaxRows = 100000;

bool Fail(DataFileError& error, Kind kind, std::size_t line, const std::string& message) {
  error = DataFileError{kind, line, message};
  return false;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream stream(line);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

// The numbers of `words`; false (with `error`) at the first that is not a finite decimal.
bool ParseNumbers(const std::vector<std::string>& words, std::size_t number, const std::string& path,
                  std::vector<double>& values, DataFileError& error) {
  values.clear();
  for (const std::string& word : words) {
    double v = 0.0;
    if (!ParseDecimal(word, v) || !std::isfinite(v)) {
      return Fail(error, Kind::NotNumber, number,
                  path + ", line " + std::to_string(number) + ": \"" + word + "\" is not a number");
    }
    values.push_back(v);
  }
  return true;
}

bool RoomForRow(std::size_t rows, std::size_t number, const std::string& path, DataFileError& error) {
  if (rows < kMaxRows) return true;
  return Fail(error, Kind::TooLarge, number,
              path + " holds more than " + std::to_string(kMaxRows) + " rows: is this the right file?");
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

bool ReadRobotRows(const std::string& path, std::size_t rowLength, const std::string& typeName,
                   std::vector<std::vector<double>>& rows, DataFileError& error,
                   std::vector<std::vector<std::string>>* words) {
  return ReadRobotRows(path, rowLength, typeName, BlankLines::OnlyEmptySkipped, rows, error, words);
}

bool ReadRobotRows(const std::string& path, std::size_t rowLength, const std::string& typeName, BlankLines blank,
                   std::vector<std::vector<double>>& rows, DataFileError& error,
                   std::vector<std::vector<std::string>>* words) {
  rows.clear();
  if (words != nullptr) words->clear();
  std::vector<double> values;
  const bool read = ForEachDataLine(path, "robot data file", error, [&](const std::string& line, std::size_t number) {
    const std::vector<std::string> texts = Words(line);
    if (line.empty() || (texts.empty() && blank == BlankLines::WhiteSpaceSkipped)) return true;
    if (texts.size() != rowLength) {
      return Fail(error, Kind::WrongCount, number,
                  path + ", line " + std::to_string(number) + ": " + std::to_string(texts.size()) + " values, but a " +
                      typeName + " row has " + std::to_string(rowLength));
    }
    if (!ParseNumbers(texts, number, path, values, error)) return false;
    if (!RoomForRow(rows.size(), number, path, error)) return false;
    rows.push_back(values);
    if (words != nullptr) words->push_back(texts);
    return true;
  });
  if (!read) return false;
  if (rows.empty()) return Fail(error, Kind::Empty, 0, "the robot data file is empty: " + path);
  return true;
}

bool ReadMarkerPoints(const std::string& path, std::vector<TamoHandEye::MarkerBoardResult>& markers,
                      DataFileError& error) {
  markers.clear();
  std::vector<double> v;
  const bool read = ForEachDataLine(path, "markers file", error, [&](const std::string& text, std::size_t number) {
    if (!ParseNumbers(Words(text.substr(0, text.find('#'))), number, path, v, error)) return false;
    if (v.empty()) return true;
    if (v.size() != 3 && v.size() != 5) {
      return Fail(error, Kind::WrongCount, number,
                  path + ", line " + std::to_string(number) + ": expected x y z [u v], found " +
                      std::to_string(v.size()) + " values");
    }
    if (!RoomForRow(markers.size(), number, path, error)) return false;
    markers.push_back({v[0], v[1], v[2], v.size() == 5 ? v[3] : 0.0, v.size() == 5 ? v[4] : 0.0});
    return true;
  });
  if (!read) return false;
  if (markers.empty()) return Fail(error, Kind::Empty, 0, "the markers file is empty: " + path);
  return true;
}

}  // namespace TarnWorkflow
