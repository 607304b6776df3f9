// SPDX-License-Identifier: Apache-2.0
#include "CellExport.h"

#include "Text.h"

#include <tarn/RowConversions.h>

#include <Eigen/Geometry>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace TarnWorkflow {
namespace {

using TamoHandEye::RobotKind;

std::string Number(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value == 0.0 ? 0.0 : value);
  return text;
}

// The transform as a row of `kind` in its own convention (millimetres; degrees, radians for the rotation vector).
std::vector<double> RowOf(RobotKind kind, const std::array<double, 16>& m) {
  std::vector<std::vector<double>> matrix(4, std::vector<double>(4));
  for (std::size_t k = 0; k < 16; ++k) matrix[k / 4][k % 4] = m[k];
  TamoHandEye::AlgoParam units;
  units.IsRadian = kind == RobotKind::Ur;
  std::vector<double> row;
  if (TamoHandEye::MatrixToRobotRow(kind, "", units, matrix, row) != TamoHandEye::Success) {
    throw std::invalid_argument("the camera transform is not a rigid transform");
  }
  return row;
}

struct Frames {
  std::string parent, child;
};

Frames FramesOf(const ExportOptions& o, bool eyeToHand) {
  return {o.parent.empty() ? (eyeToHand ? "base_link" : "tool0") : o.parent,
          o.child.empty() ? "camera_optical_frame" : o.child};
}

// Translation in metres and the unit quaternion (x, y, z, w) of the transform.
struct Metric {
  Eigen::Vector3d t;
  Eigen::Quaterniond q;
  Eigen::Vector3d rpy;  // roll, pitch, yaw: R = Rz(yaw)·Ry(pitch)·Rx(roll), radians
};

Metric MetricOf(const std::array<double, 16>& m) {
  const std::vector<double> fixed = RowOf(RobotKind::Fanuc, m);  // W P R: the same fixed-axis angles, degrees
  Eigen::Matrix3d r;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) r(i, j) = m[static_cast<std::size_t>(4 * i + j)];
  }
  Metric out;
  out.t = Eigen::Vector3d(m[3], m[7], m[11]) / 1000.0;
  out.q = Eigen::Quaterniond(r).normalized();
  if (out.q.w() < 0.0) out.q.coeffs() *= -1.0;
  constexpr double kRadian = 3.14159265358979323846 / 180.0;
  out.rpy = Eigen::Vector3d(fixed[3], fixed[4], fixed[5]) * kRadian;
  return out;
}

void Comments(std::ostream& out, const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines) out << prefix << line << "\n";
}

std::string Ros2(const Metric& m, const Frames& f, const ExportOptions& o) {
  std::ostringstream out;
  Comments(out, o.comments, "# ");
  out << "# The camera's static transform: ros2 launch <this file>\n"
      << "from launch import LaunchDescription\nfrom launch_ros.actions import Node\n\n\n"
      << "def generate_launch_description():\n    return LaunchDescription([\n        Node(\n"
      << "            package='tf2_ros',\n            executable='static_transform_publisher',\n"
      << "            name='" << f.child << "_calibration',\n            arguments=[\n"
      << "                '--x', '" << Number(m.t.x(), 7) << "', '--y', '" << Number(m.t.y(), 7) << "', '--z', '"
      << Number(m.t.z(), 7) << "',\n                '--qx', '" << Number(m.q.x(), 9) << "', '--qy', '"
      << Number(m.q.y(), 9) << "', '--qz', '" << Number(m.q.z(), 9) << "', '--qw', '" << Number(m.q.w(), 9)
      << "',\n                '--frame-id', '" << f.parent << "', '--child-frame-id', '" << f.child
      << "',\n            ],\n        ),\n    ])\n";
  return out.str();
}

std::string Urdf(const Metric& m, const Frames& f, const ExportOptions& o) {
  std::ostringstream out;
  out << "<?xml version=\"1.0\"?>\n<!--\n";
  Comments(out, o.comments, "  ");
  out << "  The joint fixes the camera frame in its parent; copy it into the robot's description.\n-->\n"
      << "<robot name=\"" << f.child << "_calibration\">\n  <link name=\"" << f.parent << "\"/>\n  <link name=\""
      << f.child << "\"/>\n  <joint name=\"" << f.parent << "_to_" << f.child << "\" type=\"fixed\">\n"
      << "    <parent link=\"" << f.parent << "\"/>\n    <child link=\"" << f.child << "\"/>\n"
      << "    <origin xyz=\"" << Number(m.t.x(), 7) << " " << Number(m.t.y(), 7) << " " << Number(m.t.z(), 7)
      << "\" rpy=\"" << Number(m.rpy.x(), 9) << " " << Number(m.rpy.y(), 9) << " " << Number(m.rpy.z(), 9)
      << "\"/>\n  </joint>\n</robot>\n";
  return out.str();
}

std::string Yaml(const std::array<double, 16>& matrix, const Metric& m, const Frames& f, const ExportOptions& o) {
  std::ostringstream out;
  Comments(out, o.comments, "# ");
  out << "parent_frame: \"" << f.parent << "\"\nchild_frame: \"" << f.child << "\"\n"
      << "translation_m: {x: " << Number(m.t.x(), 7) << ", y: " << Number(m.t.y(), 7) << ", z: " << Number(m.t.z(), 7)
      << "}\nrotation_xyzw: {x: " << Number(m.q.x(), 9) << ", y: " << Number(m.q.y(), 9)
      << ", z: " << Number(m.q.z(), 9) << ", w: " << Number(m.q.w(), 9) << "}\nmatrix_mm:\n";
  for (int r = 0; r < 4; ++r) {
    out << "  - [";
    for (int c = 0; c < 4; ++c) out << (c > 0 ? ", " : "") << Number(matrix[static_cast<std::size_t>(4 * r + c)], 9);
    out << "]\n";
  }
  return out.str();
}

// FANUC: a TP program that writes the frame into a position register element by element, then sets UTOOL or
// UFRAME from it.
std::string Fanuc(const std::array<double, 16>& matrix, bool eyeToHand, const ExportOptions& o) {
  const std::vector<double> r = RowOf(RobotKind::Fanuc, matrix);
  const std::string frame = eyeToHand ? "UFRAME" : "UTOOL";
  std::ostringstream out;
  out << "/PROG  SET_CAMERA_" << (eyeToHand ? "UFRAME" : "UTOOL") << "\n/ATTR\nOWNER\t\t= MNEDITOR;\n"
      << "COMMENT\t\t= \"CAMERA FRAME\";\nPROTECT\t\t= READ_WRITE;\nDEFAULT_GROUP\t= 1,*,*,*,*;\n/MN\n";
  int line = 0;
  for (const std::string& c : WrapLines(o.comments, 28)) out << "  " << ++line << ":  ! " << c << " ;\n";
  out << "  " << ++line << ":  PR[50]=LPOS ;\n";
  for (std::size_t k = 0; k < 6; ++k) {
    out << "  " << ++line << ":  PR[50," << k + 1 << "]=" << Number(r[k], 4) << " ;\n";
  }
  out << "  " << ++line << ":  " << frame << "[" << o.number << "]=PR[50] ;\n/POS\n/END\n";
  return out.str();
}

std::string Kuka(const std::array<double, 16>& matrix, bool eyeToHand, const ExportOptions& o) {
  const std::vector<double> r = RowOf(RobotKind::Kuka, matrix);
  std::ostringstream out;
  out << "DEF SET_CAMERA_" << (eyeToHand ? "BASE" : "TOOL") << "( )\n";
  Comments(out, o.comments, "; ");
  out << (eyeToHand ? "BASE_DATA[" : "TOOL_DATA[") << o.number << "]={X " << Number(r[0], 4) << ", Y "
      << Number(r[1], 4) << ", Z " << Number(r[2], 4) << ", A " << Number(r[3], 4) << ", B " << Number(r[4], 4)
      << ", C " << Number(r[5], 4) << "}\nEND\n";
  return out.str();
}

std::string Abb(const std::array<double, 16>& matrix, bool eyeToHand, const ExportOptions& o) {
  const std::vector<double> r = RowOf(RobotKind::ABBQuat, matrix);
  const std::string pose = "[[" + Number(r[0], 4) + "," + Number(r[1], 4) + "," + Number(r[2], 4) + "],[" +
                           Number(r[3], 9) + "," + Number(r[4], 9) + "," + Number(r[5], 9) + "," + Number(r[6], 9) +
                           "]]";
  std::ostringstream out;
  out << "MODULE CameraFrame\n";
  Comments(out, o.comments, "  ! ");
  if (eyeToHand) {
    out << "  ! The fixed camera as a work object: its user frame in the base.\n"
        << "  PERS wobjdata wCamera" << o.number << " := [FALSE,TRUE,\"\"," << pose << ",[[0,0,0],[1,0,0,0]]];\n";
  } else {
    out << "  ! The camera as a tool: its frame in the flange. Set its mass and centre of gravity before use.\n"
        << "  PERS tooldata tCamera" << o.number << " := [TRUE," << pose << ",[1,[0,0,1],[1,0,0,0],0,0,0]];\n";
  }
  out << "ENDMODULE\n";
  return out.str();
}

std::string Ur(const std::array<double, 16>& matrix, bool eyeToHand, const ExportOptions& o) {
  const std::vector<double> r = RowOf(RobotKind::Ur, matrix);  // millimetres, rotation vector in radians
  const std::string pose = "p[" + Number(r[0] / 1000.0, 7) + ", " + Number(r[1] / 1000.0, 7) + ", " +
                           Number(r[2] / 1000.0, 7) + ", " + Number(r[3], 9) + ", " + Number(r[4], 9) + ", " +
                           Number(r[5], 9) + "]";
  std::ostringstream out;
  Comments(out, o.comments, "# ");
  if (eyeToHand) {
    out << "# The fixed camera's frame in the base: a point p seen by the camera is pose_trans(camera_frame, p)\n"
        << "global camera_frame = " << pose << "\n";
  } else {
    out << "# The camera as the tool centre point (its frame in the flange)\nset_tcp(" << pose << ")\n";
  }
  return out.str();
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

std::optional<ExportTarget> ExportTargetOf(const std::string& name) {
  const std::string key = Lower(name);
  if (key == "ros2") return ExportTarget::Ros2;
  if (key == "urdf") return ExportTarget::Urdf;
  if (key == "yaml") return ExportTarget::Yaml;
  if (key == "fanuc") return ExportTarget::Fanuc;
  if (key == "kuka") return ExportTarget::Kuka;
  if (key == "abb") return ExportTarget::Abb;
  if (key == "ur") return ExportTarget::Ur;
  return std::nullopt;
}

std::string ExportTargetNames() { return "ros2, urdf, yaml, fanuc, kuka, abb, ur"; }

std::string ExportTransform(ExportTarget target, const std::array<double, 16>& cameraMm, bool eyeToHand,
                            const ExportOptions& options) {
  const Frames frames = FramesOf(options, eyeToHand);
  switch (target) {
    case ExportTarget::Ros2: return Ros2(MetricOf(cameraMm), frames, options);
    case ExportTarget::Urdf: return Urdf(MetricOf(cameraMm), frames, options);
    case ExportTarget::Yaml: return Yaml(cameraMm, MetricOf(cameraMm), frames, options);
    case ExportTarget::Fanuc: return Fanuc(cameraMm, eyeToHand, options);
    case ExportTarget::Kuka: return Kuka(cameraMm, eyeToHand, options);
    case ExportTarget::Abb: return Abb(cameraMm, eyeToHand, options);
    case ExportTarget::Ur: return Ur(cameraMm, eyeToHand, options);
  }
  return {};
}

}  // namespace TarnWorkflow
