// SPDX-License-Identifier: Apache-2.0
// The bound that rules candidate shots out against the reduction of the camera translation's variance computed
// from its definition, tr(C_tt) − tr((N + JᵀΣ⁻¹J)⁻¹_tt): never below it over random shots of both models (rows
// in metres and radians, noise correlated as the robot's makes it), also from the single-precision rows kept
// between picks; and equal to it when the shot and the solution inform the translation alone.

#include "solver/ReductionBound.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace TamoHandEye;

template <int P>
using Square = Eigen::Matrix<double, P, P>;

// The reduction from its definition.
template <int R, int P>
double Reduction(const Square<P>& information, const Eigen::Matrix<double, R, P>& j, const Square<R>& sigma) {
  const Square<P> before = information.inverse();
  const Square<P> after = (information + j.transpose() * sigma.inverse() * j).inverse();
  return before.template block<3, 3>(6, 6).trace() - after.template block<3, 3>(6, 6).trace();
}

template <int R, int P>
double Bound(const Square<P>& information, const KeptRows<R, P>& kept) {
  const Square<P> c = information.inverse();
  const Eigen::Matrix<double, P, 3> translation = c.template middleCols<3>(6);
  return ReductionBound(kept, translation, translation.norm(), Square<3>(c.template block<3, 3>(6, 6)));
}

// A random positive definite matrix: rows of the given scales, plus a little of the identity.
template <int P>
Square<P> RandomInformation(std::mt19937& random, const Eigen::Matrix<double, P, 1>& scale, int rows) {
  std::normal_distribution<double> normal;
  Square<P> n = 1e-3 * Square<P>::Identity();
  for (int r = 0; r < rows; ++r) {
    Eigen::Matrix<double, P, 1> row;
    for (int i = 0; i < P; ++i) row(i) = normal(random) * scale(i);
    n += row * row.transpose();
  }
  return n;
}

TEST(ReductionBound, NeverBelowTheReductionOfEitherModel) {
  std::mt19937 random(11);
  std::normal_distribution<double> normal;
  Eigen::Matrix<double, 12, 1> scale12;
  scale12 << 1, 1, 1, 0.5, 0.5, 0.5, 1, 1, 1, 0.3, 0.3, 0.3;
  int tight = 0;
  for (int trial = 0; trial < 300; ++trial) {
    // The joint model: 6 rows, a point (metres, noise ~0.5 mm) and a normal (radians, ~0.2°), correlated.
    const Square<12> information = RandomInformation<12>(random, 1e3 * scale12, 12 + trial % 60);
    JointRows rows;
    for (int r = 0; r < 6; ++r) {
      for (int i = 0; i < 12; ++i) rows.j(r, i) = normal(random) * scale12(i);
    }
    Eigen::Matrix<double, 6, 6> mix = Eigen::Matrix<double, 6, 6>::Identity();
    for (int r = 0; r < 6; ++r) mix(r, (r + 1) % 6) = 0.5 * normal(random);
    Eigen::Matrix<double, 6, 1> noise;
    noise << 5e-4, 5e-4, 2e-3, 3e-3, 3e-3, 3e-3;
    rows.c = noise.asDiagonal() * mix * mix.transpose() * noise.asDiagonal();
    const double exact = Reduction<6, 12>(information, rows.j, rows.c);
    const double bound = Bound<6, 12>(information, KeptRows<6, 12>(Whitened(rows)));
    ASSERT_GE(bound, exact * (1.0 - 1e-9)) << "trial " << trial;
    tight += bound < 1.5 * exact ? 1 : 0;
    // The points model: 3 rows of unit variance.
    const Eigen::Matrix<double, 9, 1> scale9 = scale12.head<9>();
    const Square<9> points = RandomInformation<9>(random, scale9, 9 + trial % 40);
    Eigen::Matrix<double, 3, 9> j;
    for (int r = 0; r < 3; ++r) {
      for (int i = 0; i < 9; ++i) j(r, i) = normal(random) * scale9(i);
    }
    const double exactPoints = Reduction<3, 9>(points, j, Square<3>::Identity());
    ASSERT_GE((Bound<3, 9>(points, KeptRows<3, 9>(Whitened(j)))), exactPoints * (1.0 - 1e-9)) << "trial " << trial;
  }
  // A bound that rules nothing out would be useless: most are within half of the reduction itself.
  EXPECT_GT(tight, 150);
  // No bound where the rows' covariance is not positive definite.
  JointRows singular;
  singular.c(4, 4) = 0.0;
  EXPECT_TRUE(Whitened(singular).hasNaN());
}

TEST(ReductionBound, ExactWhenOnlyTheTranslationIsInformed) {
  std::mt19937 random(5);
  std::normal_distribution<double> normal;
  for (int trial = 0; trial < 50; ++trial) {
    // The solution and the shot apart for the translation and the rest: the bound is the reduction itself.
    Square<9> information = RandomInformation<9>(random, Eigen::Matrix<double, 9, 1>::Constant(10.0), 12);
    information.block<6, 3>(0, 6).setZero();
    information.block<3, 6>(6, 0).setZero();
    Eigen::Matrix<double, 3, 9> j = Eigen::Matrix<double, 3, 9>::Zero();
    for (int r = 0; r < 3; ++r) {
      for (int i = 6; i < 9; ++i) j(r, i) = normal(random) * 10.0;
    }
    const double exact = Reduction<3, 9>(information, j, Square<3>::Identity());
    EXPECT_NEAR((Bound<3, 9>(information, KeptRows<3, 9>(Whitened(j)))), exact, 1e-5 * exact) << "trial " << trial;
  }
}

}  // namespace
