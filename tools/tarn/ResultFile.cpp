#include "ResultFile.h"

#include "RobotTypes.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace TarnCli {
namespace {

// "列" in GB2312, the file's encoding (every other text of a result file is ASCII).
const std::string kColumn = "\xC1\xD0";

void Table(std::ostream& out, const std::vector<std::string>& headers, const std::vector<std::vector<double>>& rows) {
  for (const std::string& h : headers) out << h << ",";
  out << "\n";
  for (const auto& row : rows) {
    for (const double v : row) out << FormatNumber(v) << ",";
    out << "\n";
  }
  out << "\n";
}

}  // namespace

std::string FormatNumber(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

bool WriteResultFile(const std::string& path, const RobotType& robot, const TamoHandEye::AlgoParam& param,
                     const TamoHandEye::FinalResult& result) {
  const std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << "HandEyeType:" << (param.HandEyeType != 0 ? 1 : 0) << "\n"
        << "RobotType:" << robot.catalogue << "\n"
        << "IsMeter:" << (param.IsMeter ? 1 : 0) << "\n"
        << "IsRadian:" << (param.IsRadian ? 1 : 0) << "\n"
        << "Exhaust:" << (param.Exhaust ? 1 : 0) << "\n"
        << "RansacDist:" << FormatNumber(param.RansacDist) << "\n"
        << "END:\n";
    std::vector<std::string> poseHeaders{"X", "Y", "Z", "R1", "R2", "R3"};
    if (result.cameraPose.size() == 7) poseHeaders.push_back("R4");
    Table(out, poseHeaders, {result.cameraPose});
    Table(out, {kColumn + "1", kColumn + "2", kColumn + "3", kColumn + "4"}, result.cameraMatrix);
    Table(out, {"X", "Y", "Z"}, {result.markerPosition});
    out.flush();
    if (!out) {
      out.close();
      std::remove(temporary.c_str());
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace TarnCli
