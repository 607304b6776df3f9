#include "ResultFile.h"

#include "RobotTypes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace TarnCli {
namespace {

// Texts in GB2312, the file's encoding (every other text of a result file is ASCII): "列", and the desktop
// program's marker box entries "同心圆" and "同心圆(平面拟合)".
const std::string kColumn = "\xC1\xD0";
const std::string kCentroidMarker = "\xCD\xAC\xD0\xC4\xD4\xB2";
const std::string kFittedMarker = kCentroidMarker + "(\xC6\xBD\xC3\xE6\xC4\xE2\xBA\xCF)";

void Table(std::ostream& out, const std::vector<std::string>& headers, const std::vector<std::vector<double>>& rows) {
  for (const std::string& h : headers) out << h << ",";
  out << "\n";
  for (const auto& row : rows) {
    for (const double v : row) out << FormatNumber(v) << ",";
    out << "\n";
  }
  out << "\n";
}

// Writes `content` to a temporary file of a name no one else uses, in the target's folder, and renames
// it over `path` once it is complete and on disk: a failed write leaves an earlier file whole, and two
// saves at once leave one of the two files, never a mix.
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

}  // namespace

std::string FormatNumber(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

bool WriteResultFile(const std::string& path, const RobotType& robot, const TamoHandEye::AlgoParam& param,
                     const TamoHandEye::FinalResult& result, std::optional<bool> fittedCentre) {
  std::ostringstream out;
  out << "HandEyeType:" << (param.HandEyeType != 0 ? 1 : 0) << "\n"
      << "RobotType:" << robot.catalogue << "\n"
      << "IsMeter:" << (param.IsMeter ? 1 : 0) << "\n"
      << "IsRadian:" << (param.IsRadian ? 1 : 0) << "\n"
      << "Exhaust:" << (param.Exhaust ? 1 : 0) << "\n"
      << "RansacDist:" << FormatNumber(param.RansacDist) << "\n";
  if (fittedCentre) out << "MarkerType:" << (*fittedCentre ? kFittedMarker : kCentroidMarker) << "\n";
  out << "END:\n";
  std::vector<std::string> poseHeaders{"X", "Y", "Z", "R1", "R2", "R3"};
  if (result.cameraPose.size() == 7) poseHeaders.push_back("R4");
  Table(out, poseHeaders, {result.cameraPose});
  Table(out, {kColumn + "1", kColumn + "2", kColumn + "3", kColumn + "4"}, result.cameraMatrix);
  Table(out, {"X", "Y", "Z"}, {result.markerPosition});
  return ReplaceFile(path, out.str());
}

}  // namespace TarnCli
