// SPDX-License-Identifier: Apache-2.0
#include "robot/RotationConversions.h"
#include <tarn/Output.h>

#include "api/LibraryLogger.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <unordered_map>

namespace TamoHandEye {
namespace {

// Successor of axis n (x -> y -> z -> x); the fourth entry allows an index of 3.
constexpr std::array<int, 4> NextAxis = {1, 2, 0, 1};

// Machine epsilon: the threshold of the axis-angle conversions.
constexpr double kMachineEpsilon = 2.220446049250313e-16;

const std::array<std::string, 24> kAxesKeys = {"sxyz", "sxyx", "sxzy", "sxzx", "syzx", "syzy", "syxz", "syxy",
                                               "szxy", "szxz", "szyx", "szyz", "rzyx", "rxyx", "ryzx", "rxzx",
                                               "rxzy", "ryzy", "rzxy", "ryxy", "ryxz", "rzxz", "rxyz", "rzyz"};

// A rotating-frame key is the static-frame key of the reversed axis order with the first and third
// angle exchanged (frame 1): its first axis is that of its last letter.
const std::unordered_map<std::string, AxesTuple> AxesTable = {
    {"sxyz", {0, 0, 0, 0}}, {"sxyx", {0, 0, 1, 0}}, {"sxzy", {0, 1, 0, 0}}, {"sxzx", {0, 1, 1, 0}},
    {"syzx", {1, 0, 0, 0}}, {"syzy", {1, 0, 1, 0}}, {"syxz", {1, 1, 0, 0}}, {"syxy", {1, 1, 1, 0}},
    {"szxy", {2, 0, 0, 0}}, {"szxz", {2, 0, 1, 0}}, {"szyx", {2, 1, 0, 0}}, {"szyz", {2, 1, 1, 0}},
    {"rzyx", {0, 0, 0, 1}}, {"rxyx", {0, 0, 1, 1}}, {"ryzx", {0, 1, 0, 1}}, {"rxzx", {0, 1, 1, 1}},
    {"rxzy", {1, 0, 0, 1}}, {"ryzy", {1, 0, 1, 1}}, {"rzxy", {1, 1, 0, 1}}, {"ryxy", {1, 1, 1, 1}},
    {"ryxz", {2, 0, 0, 1}}, {"rzxz", {2, 0, 1, 1}}, {"rxyz", {2, 1, 0, 1}}, {"rzyz", {2, 1, 1, 1}}};

// The row of a key given in any case; reports an unknown key (as the caller spelled it) on standard output.
// The last key found is kept by each thread: a set of rows is converted under one key.
const AxesTuple* LookUp(const std::string& axes) {
  thread_local std::string lastKey;
  thread_local const AxesTuple* lastRow = nullptr;
  if (lastRow != nullptr && axes == lastKey) return lastRow;
  std::string lower = axes;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const AxesTuple* row = FindAxes(lower);
  if (row == nullptr && StandardOutputTexts()) {
    std::printf("Unknown axes type: %s", axes.c_str());
    std::fflush(stdout);
  }
  if (row != nullptr) {
    lastKey = axes;
    lastRow = row;
  }
  return row;
}

std::size_t Index(int i) { return static_cast<std::size_t>(i); }

}  // namespace

const std::array<std::string, 24>& AxesKeys() { return kAxesKeys; }

const AxesTuple* FindAxes(const std::string& key) {
  const auto it = AxesTable.find(key);
  return it == AxesTable.end() ? nullptr : &it->second;
}

Eigen::Vector4d QuaternionFromEuler(double ai, double aj, double ak, const std::string& axes) {
  const AxesTuple* row = LookUp(axes);
  if (row == nullptr) return Eigen::Vector4d::Zero();
  const int parity = row->parity;

  const int i = row->firstAxis + 1;
  const int j = NextAxis[Index(i + parity - 1)] + 1;
  const int k = NextAxis[Index(i - parity)] + 1;

  if (row->frame == 1) std::swap(ai, ak);
  if (parity == 1) aj = -aj;

  ai /= 2.0;
  aj /= 2.0;
  ak /= 2.0;
  const double ci = std::cos(ai), si = std::sin(ai);
  const double cj = std::cos(aj), sj = std::sin(aj);
  const double ck = std::cos(ak), sk = std::sin(ak);
  const double cc = ci * ck, cs = ci * sk, sc = si * ck, ss = si * sk;

  // q[0] = w, q[1..3] = x, y, z.
  std::array<double, 4> q{};
  if (row->repetition == 1) {
    q[0] = cj * (cc - ss);
    q[Index(i)] = cj * (cs + sc);
    q[Index(j)] = sj * (cc + ss);
    q[Index(k)] = sj * (cs - sc);
  } else {
    q[0] = cj * cc + sj * ss;
    q[Index(i)] = cj * sc - sj * cs;
    q[Index(j)] = cj * ss + sj * cc;
    q[Index(k)] = cj * cs - sj * sc;
  }
  if (parity == 1) q[Index(j)] *= -1.0;
  return Eigen::Vector4d(q[1], q[2], q[3], q[0]);
}

Eigen::Vector3d EulerFromMatrix(const Eigen::Matrix3d& m, const std::string& axes) {
  const AxesTuple* row = LookUp(axes);
  if (row == nullptr) return Eigen::Vector3d::Zero();
  const int parity = row->parity;

  const Eigen::Index i = row->firstAxis;
  const Eigen::Index j = NextAxis[Index(row->firstAxis + parity)];
  const Eigen::Index k = NextAxis[Index(row->firstAxis - parity + 1)];

  double ax, ay, az;
  if (row->repetition == 1) {
    const double sy = std::sqrt(m(i, j) * m(i, j) + m(i, k) * m(i, k));
    if (sy > EPS) {
      ax = std::atan2(m(i, j), m(i, k));
      ay = std::atan2(sy, m(i, i));
      az = std::atan2(m(j, i), -m(k, i));
    } else {
      ax = std::atan2(-m(j, k), m(j, j));
      ay = std::atan2(sy, m(i, i));
      az = 0.0;
    }
  } else {
    const double cy = std::sqrt(m(i, i) * m(i, i) + m(j, i) * m(j, i));
    if (cy > EPS) {
      ax = std::atan2(m(k, j), m(k, k));
      ay = std::atan2(-m(k, i), cy);
      az = std::atan2(m(j, i), m(i, i));
    } else {
      ax = std::atan2(-m(j, k), m(j, j));
      ay = std::atan2(-m(k, i), cy);
      az = 0.0;
    }
  }
  if (parity == 1) {
    ax = -ax;
    ay = -ay;
    az = -az;
  }
  if (row->frame == 1) std::swap(ax, az);
  return Eigen::Vector3d(ax, ay, az);
}

Eigen::Vector3d EulerFromQuaternion(const Eigen::Vector4d& xyzw, const std::string& axes) {
  return EulerFromMatrix(QuaternionToMatrix(xyzw), axes);
}

Eigen::Matrix3d QuaternionToMatrix(const Eigen::Vector4d& xyzw) {
  const double n = xyzw.squaredNorm();
  if (n < EPS) return Eigen::Matrix3d::Identity();
  const Eigen::Vector4d q = xyzw * std::sqrt(2.0 / n);
  const double x = q(0), y = q(1), z = q(2), w = q(3);
  Eigen::Matrix3d m;
  m << 1.0 - y * y - z * z, x * y - z * w, x * z + y * w,  //
      x * y + z * w, 1.0 - x * x - z * z, y * z - x * w,   //
      x * z - y * w, y * z + x * w, 1.0 - x * x - y * y;
  return m;
}

Eigen::Vector4d QuaternionAboutAxis(double angle, const Eigen::Vector3d& axis) {
  const double length = axis.norm();
  Eigen::Vector3d v = axis;
  if (length > kMachineEpsilon) v *= std::sin(angle / 2.0) / length;
  return Eigen::Vector4d(v.x(), v.y(), v.z(), std::cos(angle / 2.0));
}

Eigen::Vector3d RotationVectorFromQuaternion(const Eigen::Vector4d& xyzw) {
  const double w = xyzw(3);
  const double theta = 2.0 * std::acos(w);
  const double s = std::sqrt(1.0 - w * w);
  if (s > kMachineEpsilon) return xyzw.head<3>() / s * theta;
  return Eigen::Vector3d::Zero();  // no rotation, or |w| at or beyond 1 through rounding
}

}  // namespace TamoHandEye
