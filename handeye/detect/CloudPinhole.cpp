// SPDX-License-Identifier: Apache-2.0
#include "detect/CloudPinhole.h"

#include "detect/PlyReader.h"
#include "detect/ShotFiles.h"

#include <Eigen/Cholesky>
#include <Eigen/LU>

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <vector>

namespace TamoHandEye {
namespace Detect {
namespace {

constexpr int kStep = kPinholeRowStep;  // every 4th row and column
constexpr double kOffPx = 0.5;          // a point further off the fit is not the camera's ray
constexpr std::size_t kLeast = 100;     // points

struct RayPoint {
  double u, v, x, y;  // pixel, and X/Z, Y/Z
};

// u = f·x + c by least squares over the points `keep` allows; false when it is not determined.
bool FitLine(const std::vector<RayPoint>& points, const std::vector<bool>& keep, bool columns, double& f, double& c) {
  Eigen::Matrix2d normal = Eigen::Matrix2d::Zero();
  Eigen::Vector2d right = Eigen::Vector2d::Zero();
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (!keep[i]) continue;
    const Eigen::Vector2d a(columns ? points[i].x : points[i].y, 1.0);
    normal += a * a.transpose();
    right += a * (columns ? points[i].u : points[i].v);
  }
  const Eigen::LDLT<Eigen::Matrix2d> ldlt(normal);
  if (ldlt.info() != Eigen::Success || !(std::abs(normal.determinant()) > 1e-12 * normal.squaredNorm())) return false;
  const Eigen::Vector2d solution = ldlt.solve(right);
  f = solution(0);
  c = solution(1);
  return std::isfinite(f) && std::isfinite(c) && f > 0.0;
}

// The fit over the sampled points of rows × cols; `point(r, c)` gives a point or false.
template <typename PointAt>
bool Fit(int rows, int cols, PointAt&& point, CameraPinhole& pinhole) {
  std::vector<RayPoint> points;
  double uMin = cols, uMax = -1, vMin = rows, vMax = -1;
  for (int r = 0; r < rows; r += kStep) {
    for (int c = 0; c < cols; c += kStep) {
      double x = 0.0, y = 0.0, z = 0.0;
      if (!point(r, c, x, y, z) || !(z > 0.0) || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) continue;
      points.push_back({static_cast<double>(c), static_cast<double>(r), x / z, y / z});
      uMin = std::min(uMin, static_cast<double>(c));
      uMax = std::max(uMax, static_cast<double>(c));
      vMin = std::min(vMin, static_cast<double>(r));
      vMax = std::max(vMax, static_cast<double>(r));
    }
  }
  if (points.size() < kLeast || uMax - uMin < 0.1 * cols || vMax - vMin < 0.1 * rows) return false;
  std::vector<bool> keep(points.size(), true);
  CameraPinhole p;
  p.width = cols;
  p.height = rows;
  for (int pass = 0; pass < 2; ++pass) {
    if (!FitLine(points, keep, true, p.fx, p.cx) || !FitLine(points, keep, false, p.fy, p.cy)) return false;
    double squares = 0.0;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
      const double du = p.fx * points[i].x + p.cx - points[i].u;
      const double dv = p.fy * points[i].y + p.cy - points[i].v;
      const double off = std::hypot(du, dv);
      keep[i] = off <= kOffPx;
      if (keep[i]) {
        squares += off * off;
        ++kept;
      }
    }
    if (kept < kLeast) return false;
    if (pass == 1 && std::sqrt(squares / static_cast<double>(kept)) > kOffPx) return false;
  }
  pinhole = p;
  return true;
}

}  // namespace

bool PinholeOfCloud(const cv::Mat& cloud, CameraPinhole& pinhole) {
  try {
    if (cloud.empty() || cloud.dims != 2 || (cloud.type() != CV_64FC3 && cloud.type() != CV_32FC3)) return false;
    const bool doubles = cloud.type() == CV_64FC3;
    return Fit(
        cloud.rows, cloud.cols,
        [&](int r, int c, double& x, double& y, double& z) {
          if (doubles) {
            const cv::Vec3d& p = cloud.at<cv::Vec3d>(r, c);
            x = p[0], y = p[1], z = p[2];
          } else {
            const cv::Vec3f& p = cloud.at<cv::Vec3f>(r, c);
            x = static_cast<double>(p[0]), y = static_cast<double>(p[1]), z = static_cast<double>(p[2]);
          }
          return true;
        },
        pinhole);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace Detect
}  // namespace TamoHandEye
