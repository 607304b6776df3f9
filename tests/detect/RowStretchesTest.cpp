// SPDX-License-Identifier: Apache-2.0
// A test asked once per stretch between ellipse levels' crossings gives every pixel the answer it gives
// pixel by pixel: nested rings as a marker's boundaries, thin and tilted ellipses, rows tangent to a level
// at a pixel, levels of zero, stretches cut by the row's ends.

#include "detect/RowStretches.h"

#include <gtest/gtest.h>
#include <Eigen/Geometry>

#include <cmath>
#include <random>
#include <vector>

namespace {

using TamoHandEye::Detect::ClassifyRow;
using TamoHandEye::Detect::EllipseLevel;

// Which side of each level pixel (u, v) lies on, as the form is evaluated where it is used.
int Sides(const std::vector<EllipseLevel>& levels, int u, int v) {
  int sides = 0;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const Eigen::Vector2d d(u - levels[i].centre.x(), v - levels[i].centre.y());
    if (d.dot(levels[i].shape * d) <= levels[i].level) sides |= 1 << i;
  }
  return sides;
}

EllipseLevel Level(double cx, double cy, double a, double b, double angle, double level) {
  const Eigen::Matrix2d rotation = Eigen::Rotation2Dd(angle).toRotationMatrix();
  const Eigen::Matrix2d shape =
      rotation * Eigen::Vector2d(1.0 / (a * a), 1.0 / (b * b)).asDiagonal() * rotation.transpose();
  return EllipseLevel{Eigen::Vector2d(cx, cy), shape, level};
}

TEST(RowStretches, EveryPixelAsAskedAlone) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<unsigned char> mask, near;
  long checked = 0, asked = 0;
  for (int scene = 0; scene < 120; ++scene) {
    std::vector<EllipseLevel> levels;
    if (scene % 3 == 0) {
      // Circles of whole radii about a pixel: rows tangent to them at a pixel, and a level of zero.
      const double cx = 100.0 + std::floor(200.0 * unit(random)), cy = 100.0 + std::floor(200.0 * unit(random));
      for (const double radius : {60.0, 41.0, 25.0, 9.0}) levels.push_back(Level(cx, cy, radius, radius, 0.0, 1.0));
      levels.push_back(Level(cx, cy, 30.0, 30.0, 0.0, 0.0));
    } else {
      const double cx = 400.0 * unit(random), cy = 400.0 * unit(random), angle = 3.2 * unit(random);
      const double a = 2.0 + 150.0 * unit(random), b = a * (0.05 + 0.95 * unit(random));
      for (const double scale : {1.3, 1.02, 0.98, 0.7, 0.45, 0.2}) {
        levels.push_back(Level(cx, cy, a, b, angle, scale * scale * (0.9 + 0.2 * unit(random))));
      }
    }
    const auto test = [&](int u, int v) { return Sides(levels, u, v) % 3 == 1 || Sides(levels, u, v) == 0; };
    const int c0 = static_cast<int>(50.0 * unit(random)), c1 = 350 + static_cast<int>(100.0 * unit(random));
    mask.assign(static_cast<std::size_t>(c1 - c0 + 1), 2);
    for (int r = -10; r < 460; ++r) {
      int calls = 0;
      const auto counted = [&](int u, int v) {
        ++calls;
        return test(u, v);
      };
      ClassifyRow(r, c0, c1, levels.data(), static_cast<int>(levels.size()), counted, mask.data(), near);
      for (int c = c0; c <= c1; ++c) {
        ASSERT_EQ(mask[static_cast<std::size_t>(c - c0)], test(c, r) ? 1 : 0)
            << "scene " << scene << " row " << r << " column " << c;
      }
      checked += c1 - c0 + 1;
      asked += calls;
    }
  }
  // The point of it: far fewer questions than pixels.
  EXPECT_LT(asked, checked / 4);
}

TEST(RowStretches, AsksEveryPixelWhenALevelCannotBeBounded) {
  std::vector<EllipseLevel> levels = {EllipseLevel{Eigen::Vector2d(5.0, 5.0), Eigen::Matrix2d::Zero(), 1.0}};
  std::vector<unsigned char> mask(21), near;
  int calls = 0;
  ClassifyRow(
      5, 0, 20, levels.data(), 1,
      [&](int u, int) {
        ++calls;
        return u % 2 == 0;
      },
      mask.data(), near);
  EXPECT_EQ(calls, 21);
  for (int c = 0; c <= 20; ++c) EXPECT_EQ(mask[static_cast<std::size_t>(c)], c % 2 == 0 ? 1 : 0);
}

}  // namespace
