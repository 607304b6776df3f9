// SPDX-License-Identifier: Apache-2.0
// A camera transform handed to the cell, read back by readers written here from each format's own description:
// the transform comes back within 0.01 mm and 0.001°, as a tool frame eye-in-hand and a user frame eye-to-hand.

#include "CellExport.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <cctype>
#include <cstdlib>
#include <map>
#include <random>

namespace {

using namespace TarnWorkflow;
using Eigen::AngleAxisd;
using Eigen::Matrix3d;
using Eigen::Matrix4d;
using Eigen::Vector3d;

constexpr double kDegree = 3.14159265358979323846 / 180.0;

// The numbers between the first `open` and the next `close` after it.
std::vector<double> Captured(const std::string& text, const std::string& open, const std::string& close) {
  const std::size_t at = text.find(open);
  if (at == std::string::npos) return {};
  const std::size_t from = at + open.size();
  const std::string inside = text.substr(from, text.find(close, from) - from);
  std::vector<double> out;
  const char* p = inside.c_str();
  while (*p != '\0') {
    const bool starts = std::isdigit(static_cast<unsigned char>(*p)) != 0 ||
                        ((*p == '-' || *p == '.') && std::isdigit(static_cast<unsigned char>(p[1])) != 0);
    if (!starts) {
      ++p;
      continue;
    }
    char* end = nullptr;
    out.push_back(std::strtod(p, &end));
    p = end;
  }
  return out;
}

Matrix4d Pose(const Vector3d& t, const Matrix3d& r) {
  Matrix4d m = Matrix4d::Identity();
  m.topLeftCorner<3, 3>() = r;
  m.topRightCorner<3, 1>() = t;
  return m;
}
Matrix3d Z(double rad) { return AngleAxisd(rad, Vector3d::UnitZ()).toRotationMatrix(); }
Matrix3d Y(double rad) { return AngleAxisd(rad, Vector3d::UnitY()).toRotationMatrix(); }
Matrix3d X(double rad) { return AngleAxisd(rad, Vector3d::UnitX()).toRotationMatrix(); }

// Each reader gives the transform in millimetres.
Matrix4d ReadRos2(const std::string& t) {
  std::vector<double> v;
  for (const char* key : {"x", "y", "z", "qx", "qy", "qz", "qw"}) {
    v.push_back(Captured(t, std::string("'--") + key + "', '", "'").at(0));
  }
  return Pose(1000.0 * Vector3d(v[0], v[1], v[2]), Eigen::Quaterniond(v[6], v[3], v[4], v[5]).toRotationMatrix());
}
Matrix4d ReadUrdf(const std::string& t) {
  const auto xyz = Captured(t, "xyz=\"", "\"");
  const auto rpy = Captured(t, "rpy=\"", "\"");
  return Pose(1000.0 * Vector3d(xyz[0], xyz[1], xyz[2]), Z(rpy[2]) * Y(rpy[1]) * X(rpy[0]));
}
Matrix4d ReadYaml(const std::string& t) {
  const auto p = Captured(t, "translation_m: {", "}");
  const auto q = Captured(t, "rotation_xyzw: {", "}");
  return Pose(1000.0 * Vector3d(p[0], p[1], p[2]), Eigen::Quaterniond(q[3], q[0], q[1], q[2]).toRotationMatrix());
}
Matrix4d ReadFanuc(const std::string& t) {
  std::vector<double> v;
  for (int k = 1; k <= 6; ++k) v.push_back(Captured(t, "PR[50," + std::to_string(k) + "]=", " ;").at(0));
  return Pose({v[0], v[1], v[2]}, Z(v[5] * kDegree) * Y(v[4] * kDegree) * X(v[3] * kDegree));
}
Matrix4d ReadKuka(const std::string& t) {
  const auto v = Captured(t, "_DATA[1]={", "}");
  return Pose({v[0], v[1], v[2]}, Z(v[3] * kDegree) * Y(v[4] * kDegree) * X(v[5] * kDegree));
}
Matrix4d ReadAbb(const std::string& t) {
  const auto v = Captured(t, ",[[", "]]");  // [[x,y,z],[q1,q2,q3,q4]]
  return Pose({v[0], v[1], v[2]}, Eigen::Quaterniond(v[3], v[4], v[5], v[6]).toRotationMatrix());
}
Matrix4d ReadUr(const std::string& t) {
  const auto v = Captured(t, "p[", "]");
  const Vector3d r(v[3], v[4], v[5]);
  return Pose(1000.0 * Vector3d(v[0], v[1], v[2]), AngleAxisd(r.norm(), r.normalized()).toRotationMatrix());
}

TEST(CellExport, EveryTargetReadsBackAsTheTransform) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const std::vector<std::pair<std::string, Matrix4d (*)(const std::string&)>> targets = {
      {"ros2", ReadRos2}, {"urdf", ReadUrdf}, {"yaml", ReadYaml}, {"fanuc", ReadFanuc},
      {"kuka", ReadKuka}, {"abb", ReadAbb},   {"ur", ReadUr}};
  for (const bool eyeToHand : {false, true}) {
    for (int draw = 0; draw < 4; ++draw) {
      const Vector3d axis = Vector3d(unit(rng), unit(rng), unit(rng)).normalized();
      const Matrix4d camera = Pose(Vector3d(unit(rng), unit(rng), unit(rng)) * (eyeToHand ? 1500.0 : 150.0),
                                   AngleAxisd(3.0 * unit(rng), axis).toRotationMatrix());
      std::array<double, 16> m{};
      for (int k = 0; k < 16; ++k) m[static_cast<std::size_t>(k)] = camera(k / 4, k % 4);
      ExportOptions options;
      options.comments = {"Camera transform (tarn export)"};
      for (const auto& [name, read] : targets) {
        SCOPED_TRACE(name + (eyeToHand ? " eye-to-hand" : " eye-in-hand"));
        const std::string text = ExportTransform(*ExportTargetOf(name), m, eyeToHand, options);
        const Matrix4d back = read(text);
        EXPECT_LT((back.topRightCorner<3, 1>() - camera.topRightCorner<3, 1>()).norm(), 0.01) << text;
        const Matrix3d turn = back.topLeftCorner<3, 3>() * camera.topLeftCorner<3, 3>().transpose();
        EXPECT_LT(AngleAxisd(turn).angle() / kDegree, 0.001) << text;
        const std::map<std::string, std::string> frameWord = {
            {"fanuc", eyeToHand ? "UFRAME[1]=PR[50]" : "UTOOL[1]=PR[50]"},
            {"kuka", eyeToHand ? "BASE_DATA[1]" : "TOOL_DATA[1]"},
            {"abb", eyeToHand ? "wobjdata" : "tooldata"},
            {"ur", eyeToHand ? "camera_frame" : "set_tcp"}};
        if (frameWord.count(name) > 0) {
          EXPECT_NE(text.find(frameWord.at(name)), std::string::npos);
        }
        if (name == "ros2") {
          EXPECT_NE(text.find(eyeToHand ? "'--frame-id', 'base_link'" : "'--frame-id', 'tool0'"), std::string::npos);
        }
      }
    }
  }
  EXPECT_FALSE(ExportTargetOf("sdf").has_value());
  std::array<double, 16> notRigid{};
  notRigid[0] = 2.0;
  EXPECT_THROW(ExportTransform(ExportTarget::Kuka, notRigid, false, {}), std::invalid_argument);
}

}  // namespace
