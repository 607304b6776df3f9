// SPDX-License-Identifier: Apache-2.0
#include "RobotPrograms.h"

#include "Text.h"

#include <tarn/RowConversions.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <stdexcept>

namespace TarnWorkflow {
namespace {

using TamoHandEye::RobotKind;

constexpr double kFullSpeedMmPerS = 1000.0;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

std::string Number(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value == 0.0 ? 0.0 : value);  // no "-0.0000"
  return text;
}

// The pose as a row of `kind` (its own convention; millimetres, degrees or radians as the kind has them).
std::vector<double> RowOf(RobotKind kind, const std::array<double, 16>& flange) {
  std::vector<std::vector<double>> matrix(4, std::vector<double>(4));
  for (std::size_t k = 0; k < 16; ++k) matrix[k / 4][k % 4] = flange[k];
  TamoHandEye::AlgoParam units;  // millimetres; degrees, but radians for the rotation vector
  units.IsRadian = kind == RobotKind::Ur;
  std::vector<double> row;
  if (TamoHandEye::MatrixToRobotRow(kind, "", units, matrix, row) != TamoHandEye::Success) {
    throw std::runtime_error("a planned pose is not a rigid transform");
  }
  return row;
}

std::string Speed(const ProgramOptions& o) { return Number(o.speedPercent / 100.0 * kFullSpeedMmPerS, 1); }

std::string Fanuc(const std::vector<std::array<double, 16>>& flanges, const ProgramOptions& o) {
  const std::string config = o.configuration.empty() ? "N U T, 0, 0, 0" : o.configuration;
  std::ostringstream out;
  out << "/PROG  " << Upper(o.name) << "\n/ATTR\nOWNER\t\t= MNEDITOR;\nCOMMENT\t\t= \"TARN CALIBRATION\";\n"
      << "PROTECT\t\t= READ_WRITE;\nTCD:  STACK_SIZE\t= 0,\n      TASK_PRIORITY\t= 50,\n      TIME_SLICE\t= 0,\n"
      << "      BUSY_LAMP_OFF\t= 0,\n      ABORT_REQUEST\t= 0,\n      PAUSE_REQUEST\t= 0;\n"
      << "DEFAULT_GROUP\t= 1,*,*,*,*;\nCONTROL_CODE\t= 00000000 00000000;\n/MN\n";
  int line = 0;
  for (const std::string& c : WrapLines(o.comments, 28)) out << "  " << ++line << ":  ! " << c << " ;\n";
  for (std::size_t i = 0; i < flanges.size(); ++i) {
    out << "  " << ++line << ":L P[" << i + 1 << "] " << Speed(o) << "mm/sec FINE    ;\n";
    out << "  " << ++line << ":  ! Shot " << i + 1 << ": take it, then resume ;\n";
    out << "  " << ++line << ":  PAUSE ;\n";
  }
  out << "/POS\n";
  for (std::size_t i = 0; i < flanges.size(); ++i) {
    const std::vector<double> r = RowOf(RobotKind::Fanuc, flanges[i]);
    out << "P[" << i + 1 << "]{\n   GP1:\n\tUF : 0, UT : 0,\t\tCONFIG : '" << config << "',\n"
        << "\tX = " << Number(r[0], 4) << "  mm,\tY = " << Number(r[1], 4) << "  mm,\tZ = " << Number(r[2], 4)
        << "  mm,\n\tW = " << Number(r[3], 4) << " deg,\tP = " << Number(r[4], 4) << " deg,\tR = " << Number(r[5], 4)
        << " deg\n};\n";
  }
  out << "/END\n";
  return out.str();
}

std::string Kuka(const std::vector<std::array<double, 16>>& flanges, const ProgramOptions& o) {
  std::ostringstream out;
  out << "&ACCESS RVP\n&REL 1\nDEF " << o.name << "( )\n";
  for (const std::string& c : o.comments) out << "; " << c << "\n";
  out << "BAS(#INITMOV, 0)\n$VEL.CP = " << Number(o.speedPercent / 100.0 * kFullSpeedMmPerS / 1000.0, 3) << "\n";
  for (std::size_t i = 0; i < flanges.size(); ++i) {
    const std::vector<double> r = RowOf(RobotKind::Kuka, flanges[i]);
    out << "; Shot " << i + 1 << "\nLIN {FRAME: X " << Number(r[0], 4) << ", Y " << Number(r[1], 4) << ", Z "
        << Number(r[2], 4) << ", A " << Number(r[3], 4) << ", B " << Number(r[4], 4) << ", C " << Number(r[5], 4)
        << "}\nHALT ; take the shot, then start again\n";
  }
  out << "END\n";
  return out.str();
}

std::string Abb(const std::vector<std::array<double, 16>>& flanges, const ProgramOptions& o) {
  const std::string config = o.configuration.empty() ? "0,0,0,0" : o.configuration;
  std::ostringstream out;
  out << "MODULE " << o.name << "\n";
  for (const std::string& c : o.comments) out << "  ! " << c << "\n";
  for (std::size_t i = 0; i < flanges.size(); ++i) {
    const std::vector<double> r = RowOf(RobotKind::ABBQuat, flanges[i]);
    out << "  CONST robtarget Shot" << i + 1 << " := [[" << Number(r[0], 4) << "," << Number(r[1], 4) << ","
        << Number(r[2], 4) << "],[" << Number(r[3], 8) << "," << Number(r[4], 8) << "," << Number(r[5], 8) << ","
        << Number(r[6], 8) << "],[" << config << "],[9E+09,9E+09,9E+09,9E+09,9E+09,9E+09]];\n";
  }
  out << "  CONST speeddata Slow := [" << Speed(o) << ",500,5000,1000];\n  PROC main()\n";
  for (std::size_t i = 0; i < flanges.size(); ++i) {
    out << "    MoveL Shot" << i + 1 << ", Slow, fine, tool0\\WObj:=wobj0;\n"
        << "    TPWrite \"Take shot " << i + 1 << ", then start again\";\n    Stop;\n";
  }
  out << "  ENDPROC\nENDMODULE\n";
  return out.str();
}

std::string Ur(const std::vector<std::array<double, 16>>& flanges, const ProgramOptions& o) {
  std::ostringstream out;
  out << "def " << Lower(o.name) << "():\n";
  for (const std::string& c : o.comments) out << "  # " << c << "\n";
  const std::string speed = Number(o.speedPercent / 100.0 * kFullSpeedMmPerS / 1000.0, 3);
  for (std::size_t i = 0; i < flanges.size(); ++i) {
    const std::vector<double> r = RowOf(RobotKind::Ur, flanges[i]);  // millimetres, radians
    out << "  movel(p[" << Number(r[0] / 1000.0, 6) << ", " << Number(r[1] / 1000.0, 6) << ", "
        << Number(r[2] / 1000.0, 6) << ", " << Number(r[3], 7) << ", " << Number(r[4], 7) << ", " << Number(r[5], 7)
        << "], a=0.2, v=" << speed << ")\n"
        << "  popup(\"Take shot " << i + 1 << ", then continue\", title=\"Calibration\", blocking=True)\n";
  }
  out << "end\n";
  return out.str();
}

std::string Yaskawa(const std::vector<std::array<double, 16>>& flanges, const ProgramOptions& o) {
  const std::string config = o.configuration.empty() ? "0,0,0,0,0,0,0,0" : o.configuration;
  std::ostringstream out;
  out << "/JOB\n//NAME " << Upper(o.name) << "\n//POS\n///NPOS " << flanges.size()
      << ",0,0,0,0,0\n///TOOL 0\n///POSTYPE ROBOT\n///RECTAN\n///RCONF " << config << "\n";
  for (std::size_t i = 0; i < flanges.size(); ++i) {
    const std::vector<double> r = RowOf(RobotKind::Fanuc, flanges[i]);  // Rx Ry Rz about fixed axes, as W P R
    char name[16];
    std::snprintf(name, sizeof name, "C%05d", static_cast<int>(i % 100000));
    out << name << "=" << Number(r[0], 3) << "," << Number(r[1], 3) << "," << Number(r[2], 3) << "," << Number(r[3], 4)
        << "," << Number(r[4], 4) << "," << Number(r[5], 4) << "\n";
  }
  const std::time_t now = std::time(nullptr);
  char date[32] = "2000/01/01 00:00";
  if (const std::tm* local = std::localtime(&now)) std::strftime(date, sizeof date, "%Y/%m/%d %H:%M", local);
  out << "//INST\n///DATE " << date << "\n///COMM TARN CALIBRATION\n///ATTR SC,RW\n///GROUP1 RB1\nNOP\n";
  for (const std::string& c : WrapLines(o.comments, 30)) out << "'" << c << "\n";
  for (std::size_t i = 0; i < flanges.size(); ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "C%05d", static_cast<int>(i % 100000));
    out << "'Shot " << i + 1 << "\nMOVL " << name << " V=" << Speed(o) << "\nPAUSE\n";
  }
  out << "END\n";
  return out.str();
}

std::string Csv(const RobotType& type, const std::vector<std::vector<double>>& rows, const ProgramOptions& o) {
  std::ostringstream out;
  for (const std::string& c : o.comments) out << "# " << c << "\n";
  const std::vector<std::string> names = type.ColumnNames();
  for (std::size_t k = 0; k < names.size(); ++k) out << (k > 0 ? "," : "") << names[k];
  out << "\n";
  for (const std::vector<double>& row : rows) {
    for (std::size_t k = 0; k < row.size(); ++k) out << (k > 0 ? "," : "") << Number(row[k], 6);
    out << "\n";
  }
  return out.str();
}

}  // namespace

std::optional<ProgramFormat> ProgramFormatOf(const std::string& extensionOrName) {
  std::string key = Lower(extensionOrName);
  if (!key.empty() && key.front() == '.') key.erase(0, 1);
  if (key == "ls" || key == "fanuc") return ProgramFormat::FanucLs;
  if (key == "src" || key == "kuka") return ProgramFormat::KukaSrc;
  if (key == "mod" || key == "abb") return ProgramFormat::AbbMod;
  if (key == "script" || key == "ur") return ProgramFormat::UrScript;
  if (key == "jbi" || key == "yaskawa") return ProgramFormat::YaskawaJbi;
  if (key == "csv") return ProgramFormat::Csv;
  return std::nullopt;
}

std::string ProgramFormatNames() { return "ls (FANUC), src (KUKA), mod (ABB), script (UR), JBI (YASKAWA), csv"; }

std::string WriteProgram(ProgramFormat format, const std::vector<std::array<double, 16>>& flanges,
                         const RobotType& type, const std::vector<std::vector<double>>& rows,
                         const ProgramOptions& options) {
  switch (format) {
    case ProgramFormat::FanucLs: return Fanuc(flanges, options);
    case ProgramFormat::KukaSrc: return Kuka(flanges, options);
    case ProgramFormat::AbbMod: return Abb(flanges, options);
    case ProgramFormat::UrScript: return Ur(flanges, options);
    case ProgramFormat::YaskawaJbi: return Yaskawa(flanges, options);
    case ProgramFormat::Csv: return Csv(type, rows, options);
  }
  return {};
}

std::vector<std::string> PlanComments(const TamoHandEye::PosePlan& plan, const RobotType& type) {
  std::vector<std::string> lines{plan.firstStage ? "Calibration poses, first stage (tarn plan)"
                                                 : "Calibration poses (tarn plan)"};
  std::string taught = "Taught pose " + type.name + ":";
  if (!plan.poses.empty()) {
    for (const double v : plan.poses.front().row) taught += " " + Fixed(v, 3);
  }
  lines.push_back(taught);
  if (plan.firstStage) {
    lines.push_back("Take a shot at each pose, then plan again with them");
  } else {
    lines.push_back("Expected camera sigma after all: " + Fixed(plan.sigmaMm, 3) + " mm, " + Fixed(plan.sigmaDeg, 4) +
                    " deg (at " + Fixed(plan.noiseMm, 2) + " mm shot noise)");
  }
  lines.push_back("Check reach and collisions before running");
  return lines;
}

}  // namespace TarnWorkflow
