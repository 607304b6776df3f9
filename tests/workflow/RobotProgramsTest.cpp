// SPDX-License-Identifier: Apache-2.0
// Robot programs read back by readers written here, each from the controller's own description of its format (not
// from the writer): every pose comes back within 0.01 mm and 0.001°.

#include "RobotPrograms.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <random>
#include <sstream>

namespace {

using namespace TarnWorkflow;
using Eigen::AngleAxisd;
using Eigen::Matrix3d;
using Eigen::Matrix4d;
using Eigen::Vector3d;

constexpr double kDegree = 3.14159265358979323846 / 180.0;

Matrix3d Rx(double deg) { return AngleAxisd(deg * kDegree, Vector3d::UnitX()).toRotationMatrix(); }
Matrix3d Ry(double deg) { return AngleAxisd(deg * kDegree, Vector3d::UnitY()).toRotationMatrix(); }
Matrix3d Rz(double deg) { return AngleAxisd(deg * kDegree, Vector3d::UnitZ()).toRotationMatrix(); }

Matrix4d Pose(const Vector3d& t, const Matrix3d& r) {
  Matrix4d m = Matrix4d::Identity();
  m.topLeftCorner<3, 3>() = r;
  m.topRightCorner<3, 1>() = t;
  return m;
}

// Every number of a text, in order.
std::vector<double> NumbersIn(const std::string& text) {
  std::vector<double> out;
  const char* p = text.c_str();
  while (*p != '\0') {
    const bool starts = std::isdigit(static_cast<unsigned char>(*p)) != 0 ||
                        ((*p == '-' || *p == '+' || *p == '.') && std::isdigit(static_cast<unsigned char>(p[1])) != 0);
    if (!starts || (p > text.c_str() && std::isalpha(static_cast<unsigned char>(p[-1])) != 0)) {
      ++p;
      continue;
    }
    char* end = nullptr;
    out.push_back(std::strtod(p, &end));
    p = end;
  }
  return out;
}

// The text between each `open` and the next `close` after it.
std::vector<std::string> Between(const std::string& text, const std::string& open, const std::string& close) {
  std::vector<std::string> out;
  for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
    const std::size_t from = at + open.size();
    const std::size_t to = text.find(close, from);
    if (to == std::string::npos) break;
    out.push_back(text.substr(from, to - from));
  }
  return out;
}

// The numbers of each part of `text` between `open` and `close`.
std::vector<std::vector<double>> Matches(const std::string& text, const std::string& open, const std::string& close) {
  std::vector<std::vector<double>> out;
  for (const std::string& part : Between(text, open, close)) out.push_back(NumbersIn(part));
  return out;
}

// FANUC and YASKAWA: W P R (Rx Ry Rz) about fixed axes, R = Rz·Ry·Rx.
Matrix4d FixedXyz(const std::vector<double>& v) { return Pose({v[0], v[1], v[2]}, Rz(v[5]) * Ry(v[4]) * Rx(v[3])); }
// KUKA: A B C about moving axes z, y', x''.
Matrix4d Abc(const std::vector<double>& v) { return Pose({v[0], v[1], v[2]}, Rz(v[3]) * Ry(v[4]) * Rx(v[5])); }

std::vector<Matrix4d> ReadFanuc(const std::string& text) {
  std::vector<Matrix4d> out;
  // P[n]{ GP1: UF : 0, UT : 0, CONFIG : '…', X = … mm, Y = … mm, Z = … mm, W = … deg, P = … deg, R = … deg };
  for (const std::string& block : Between(text.substr(text.find("/POS")), "GP1:", "};")) {
    std::vector<double> v;
    for (const char* label : {"X =", "Y =", "Z =", "W =", "P =", "R ="}) {
      v.push_back(std::strtod(block.c_str() + block.find(label) + 3, nullptr));
    }
    out.push_back(FixedXyz(v));
  }
  return out;
}

std::vector<Matrix4d> ReadKuka(const std::string& text) {
  std::vector<Matrix4d> out;
  for (const auto& v : Matches(text, "LIN {FRAME:", "}")) out.push_back(Abc(v));
  return out;
}

std::vector<Matrix4d> ReadAbb(const std::string& text) {
  std::vector<Matrix4d> out;
  for (const auto& v : Matches(text, ":= [[", "],[9E")) {  // [[x,y,z],[q1,q2,q3,q4],[conf],[external axes]]
    const Eigen::Quaterniond q(v[3], v[4], v[5], v[6]);    // q1 is the scalar part
    out.push_back(Pose({v[0], v[1], v[2]}, q.normalized().toRotationMatrix()));
  }
  return out;
}

std::vector<Matrix4d> ReadUr(const std::string& text) {
  std::vector<Matrix4d> out;
  for (const auto& v : Matches(text, "movel(p[", "]")) {
    const Vector3d r(v[3], v[4], v[5]);  // rotation vector, radians; position in metres
    const Matrix3d rotation =
        r.norm() > 0.0 ? AngleAxisd(r.norm(), r.normalized()).toRotationMatrix() : Matrix3d::Identity();
    out.push_back(Pose(1000.0 * Vector3d(v[0], v[1], v[2]), rotation));
  }
  return out;
}

std::vector<Matrix4d> ReadYaskawa(const std::string& text) {
  std::vector<Matrix4d> out;
  const auto positions = Matches(text, "\nC", "\n");  // C00003=x,y,z,rx,ry,rz: the index, then the pose
  // Each MOVL names one of them.
  for (const auto& index : Matches(text, "MOVL C", " ")) {
    for (const auto& p : positions) {
      if (p.size() == 7 && p[0] == index.at(0)) out.push_back(FixedXyz({p[1], p[2], p[3], p[4], p[5], p[6]}));
    }
  }
  return out;
}

// The CSV: a header of names, then the type's rows (here FANUC's).
std::vector<Matrix4d> ReadCsv(const std::string& text) {
  std::vector<Matrix4d> out;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#' || line[0] == 'X') continue;
    out.push_back(FixedXyz(NumbersIn(line)));
  }
  return out;
}

TEST(RobotPrograms, EveryFormatReadsBackAsThePoses) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<std::array<double, 16>> flanges;
  std::vector<Matrix4d> poses;
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < 12; ++i) {
    const Vector3d t(800.0 + 400.0 * unit(rng), 300.0 * unit(rng), 500.0 + 200.0 * unit(rng));
    const Vector3d axis = Vector3d(unit(rng), unit(rng), unit(rng)).normalized();
    // Near gimbal lock once (P = 90°), and turns of up to 180° otherwise.
    const Matrix3d r = i == 5 ? Matrix3d(Ry(90.0) * Rx(20.0)) : AngleAxisd(3.1 * unit(rng), axis).toRotationMatrix();
    poses.push_back(Pose(t, r));
    std::array<double, 16> f{};
    for (int k = 0; k < 16; ++k) f[static_cast<std::size_t>(k)] = poses.back()(k / 4, k % 4);
    flanges.push_back(f);
    // The type's row, W P R from the matrix (as a controller would show it).
    const double p = std::asin(-r(2, 0)) / kDegree;
    const double w = std::atan2(r(2, 1), r(2, 2)) / kDegree;
    const double rr = std::atan2(r(1, 0), r(0, 0)) / kDegree;
    rows.push_back(std::abs(r(2, 0)) > 1.0 - 1e-12 ? std::vector<double>{t.x(), t.y(), t.z(), 20.0, 90.0, 0.0}
                                                   : std::vector<double>{t.x(), t.y(), t.z(), w, p, rr});
  }
  ProgramOptions options;
  options.comments = {"Calibration poses", "Taught pose fanuc: 1 2 3 4 5 6",
                      "Check reach and collisions before running"};
  const RobotType& fanuc = *FindRobotType("fanuc");
  const std::vector<std::pair<std::string, std::vector<Matrix4d> (*)(const std::string&)>> formats = {
      {"x.ls", ReadFanuc},  {"x.src", ReadKuka},    {"x.mod", ReadAbb},
      {"x.script", ReadUr}, {"X.JBI", ReadYaskawa}, {"x.csv", ReadCsv}};
  for (const auto& [file, read] : formats) {
    SCOPED_TRACE(file);
    const auto format = ProgramFormatOf(file.substr(file.find('.')));
    ASSERT_TRUE(format.has_value());
    const std::string text = WriteProgram(*format, flanges, fanuc, rows, options);
    EXPECT_NE(text.find("Check reach and collisions"), std::string::npos);
    const std::vector<Matrix4d> back = read(text);
    ASSERT_EQ(back.size(), poses.size()) << text;
    for (std::size_t i = 0; i < poses.size(); ++i) {
      const double shiftMm = (back[i].topRightCorner<3, 1>() - poses[i].topRightCorner<3, 1>()).norm();
      const double turnDeg =
          AngleAxisd(Matrix3d(back[i].topLeftCorner<3, 3>() * poses[i].topLeftCorner<3, 3>().transpose())).angle() /
          kDegree;
      EXPECT_LT(shiftMm, 0.01) << i;
      EXPECT_LT(turnDeg, 0.001) << i;
    }
  }
  EXPECT_FALSE(ProgramFormatOf(".txt").has_value());
  EXPECT_EQ(ProgramFormatOf("JBI"), ProgramFormat::YaskawaJbi);
}

}  // namespace
