// SPDX-License-Identifier: Apache-2.0
#pragma once

// A per-pixel test that depends on a pixel only through which side of some ellipses' levels it lies,
// asked a row at a time: at every pixel near a level's crossing of the row, and once for each stretch
// between those.

#include <Eigen/Core>

#include <algorithm>
#include <cmath>
#include <vector>

namespace TamoHandEye {
namespace Detect {

/// The level `level` of an ellipse's form (x − centre)ᵀ shape (x − centre), shape positive definite.
struct EllipseLevel {
  Eigen::Vector2d centre = Eigen::Vector2d::Zero();
  Eigen::Matrix2d shape = Eigen::Matrix2d::Identity();
  double level = 1.0;
};

/// Sets mask[c − c0] to test(c, r) for pixels c0 to c1 of row r, where the test's answer can change only
/// where one of `levels` is crossed. The test is asked at every pixel within two of a crossing, and once
/// for each stretch of pixels between: two pixels from its crossing, a form differs from its level by at
/// least four times shape₀₀, which is far beyond the rounding of any evaluation of it, so every pixel of
/// a stretch gets the answer the test gives it. A row whose levels cannot be bounded so is asked pixel by
/// pixel. `near` is scratch, kept by the caller.
template <class Test>
void ClassifyRow(int r, int c0, int c1, const EllipseLevel* levels, int count, const Test& test, unsigned char* mask,
                 std::vector<unsigned char>& near) {
  const int n = c1 - c0 + 1;
  if (n <= 0) return;
  near.assign(static_cast<std::size_t>(n), 0);
  bool everyPixel = false;
  const auto mark = [&](double x) {
    if (!std::isfinite(x)) {
      everyPixel = true;
      return;
    }
    const double lo = std::max(std::floor(x) - 2.0, static_cast<double>(c0));
    const double hi = std::min(std::ceil(x) + 2.0, static_cast<double>(c1));
    if (lo > hi) return;
    std::fill(near.begin() + (static_cast<int>(lo) - c0), near.begin() + (static_cast<int>(hi) - c0 + 1), 1);
  };
  for (int i = 0; i < count && !everyPixel; ++i) {
    const EllipseLevel& e = levels[i];
    // Along the row, form − level = a (u − mid)² − disc / a: its crossings are mid ± √disc / a, and where
    // disc ≤ 0 it is at least a (u − mid)², so a pixel two from mid is clear of the level as well.
    const double a = e.shape(0, 0);
    if (!(a > 1e-9 * (1.0 + std::abs(e.level)))) {
      everyPixel = true;
      break;
    }
    const double dy = r - e.centre.y();
    const double cross = 0.5 * (e.shape(0, 1) + e.shape(1, 0)) * dy;
    const double disc = cross * cross - a * (e.shape(1, 1) * dy * dy - e.level);
    const double mid = e.centre.x() - cross / a;
    const double half = disc > 0.0 ? std::sqrt(disc) / a : 0.0;
    mark(mid - half);
    mark(mid + half);
  }
  for (int i = 0; i < n;) {
    if (everyPixel || near[static_cast<std::size_t>(i)] != 0) {
      mask[i] = test(c0 + i, r) ? 1 : 0;
      ++i;
      continue;
    }
    const unsigned char side = test(c0 + i, r) ? 1 : 0;
    for (; i < n && near[static_cast<std::size_t>(i)] == 0; ++i) mask[i] = side;
  }
}

}  // namespace Detect
}  // namespace TamoHandEye
