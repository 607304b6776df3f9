// SPDX-License-Identifier: Apache-2.0
#include "detect/ImageModel.h"

#include <Eigen/LU>

#include <cmath>

namespace TamoHandEye {
namespace Detect {

ImageModel::ImageModel(const ImageIntrinsics& intrinsics) : k(intrinsics) {
  const double a = k.turnDeg * 3.14159265358979323846 / 180.0;
  turn << std::cos(a), -std::sin(a), std::sin(a), std::cos(a);
}

Eigen::Vector2d ImageModel::Distort(const Eigen::Vector2d& x) const {
  const double r2 = x.squaredNorm();
  const double radial = 1.0 + r2 * (k.k1 + r2 * (k.k2 + r2 * k.k3));
  return {x.x() * radial + 2.0 * k.p1 * x.x() * x.y() + k.p2 * (r2 + 2.0 * x.x() * x.x()),
          x.y() * radial + k.p1 * (r2 + 2.0 * x.y() * x.y()) + 2.0 * k.p2 * x.x() * x.y()};
}

bool ImageModel::ToGrid(const Eigen::Vector2d& image, Eigen::Vector2d& grid) const {
  // Normalised distorted coordinates, then Newton's method on Distort(x) = target from x = target.
  const double y = (image.y() - k.cy) / k.fy;
  const Eigen::Vector2d target((image.x() - k.cx - k.skew * y) / k.fx, y);
  Eigen::Vector2d x = target;
  bool converged = false;
  for (int step = 0; step < 20 && !converged; ++step) {
    const Eigen::Vector2d error = Distort(x) - target;
    const double r2 = x.squaredNorm();
    const double radial = 1.0 + r2 * (k.k1 + r2 * (k.k2 + r2 * k.k3));
    const double dRadial = 2.0 * (k.k1 + r2 * (2.0 * k.k2 + 3.0 * r2 * k.k3));  // d radial / d(r²) · 2
    Eigen::Matrix2d jacobian;
    jacobian(0, 0) = radial + x.x() * dRadial * x.x() + 2.0 * k.p1 * x.y() + 6.0 * k.p2 * x.x();
    jacobian(0, 1) = x.x() * dRadial * x.y() + 2.0 * k.p1 * x.x() + 2.0 * k.p2 * x.y();
    jacobian(1, 0) = x.y() * dRadial * x.x() + 2.0 * k.p1 * x.x() + 2.0 * k.p2 * x.y();
    jacobian(1, 1) = radial + x.y() * dRadial * x.y() + 6.0 * k.p1 * x.y() + 2.0 * k.p2 * x.x();
    if (!(std::abs(jacobian.determinant()) > 1e-12)) return false;
    const Eigen::Vector2d delta = jacobian.inverse() * error;
    x -= delta;
    converged = delta.norm() < 1e-12;
  }
  if (!converged || !x.allFinite()) return false;
  const Eigen::Vector2d centre(k.cx, k.cy);
  const Eigen::Vector2d ideal(k.fx * x.x() + k.skew * x.y() + k.cx, k.fy * x.y() + k.cy);
  grid = centre + turn.transpose() * (ideal - centre - Eigen::Vector2d(k.shiftUPx, k.shiftVPx));
  return true;
}

Eigen::Vector2d ImageModel::ToImage(const Eigen::Vector2d& grid) const {
  const Eigen::Vector2d centre(k.cx, k.cy);
  const Eigen::Vector2d ideal = centre + turn * (grid - centre) + Eigen::Vector2d(k.shiftUPx, k.shiftVPx);
  const double y = (ideal.y() - k.cy) / k.fy;
  const Eigen::Vector2d d = Distort(Eigen::Vector2d((ideal.x() - k.cx - k.skew * y) / k.fx, y));
  return {k.fx * d.x() + k.skew * d.y() + k.cx, k.fy * d.y() + k.cy};
}

}  // namespace Detect
}  // namespace TamoHandEye
