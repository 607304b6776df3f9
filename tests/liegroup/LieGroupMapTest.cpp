// SPDX-License-Identifier: Apache-2.0
// Views over existing memory behave exactly like owning values, and write through to that memory.

#include <LieGroup/SE3.h>
#include <LieGroup/SO3.h>
#include <LieGroup/SO3Tangent.h>

#include <gtest/gtest.h>

#include <array>

namespace {

using Eigen::Vector3d;
using Kel::SE3d;
using Kel::SO3d;
using Kel::SO3Tangentd;

constexpr double kTolerance = 1e-12;

TEST(LieGroupMap, ViewsComputeWhatValuesCompute) {
  const SE3d a(Vector3d(0.2, -1.0, 3.0), SO3Tangentd(0.4, -0.1, 1.2).Exp());
  const SE3d b(Vector3d(-0.7, 0.3, 0.1), SO3Tangentd(-1.1, 0.5, 0.2).Exp());
  std::array<double, 7> bufA{}, bufB{};
  Eigen::Map<SE3d> viewA(bufA.data());
  viewA = a;
  Eigen::Map<const SE3d> viewB(bufB.data());
  Eigen::Map<SE3d>(bufB.data()) = b;

  EXPECT_TRUE((viewA * viewB).Coeffs().isApprox((a * b).Coeffs(), kTolerance));
  EXPECT_TRUE((viewA * b).Coeffs().isApprox((a * b).Coeffs(), kTolerance));
  EXPECT_TRUE(viewB.Inverse().Coeffs().isApprox(b.Inverse().Coeffs(), kTolerance));
  EXPECT_TRUE(viewB.Log().isApprox(b.Log(), kTolerance));
  EXPECT_TRUE(viewB.Matrix().isApprox(b.Matrix(), kTolerance));
  EXPECT_EQ(viewB[4], b[4]);

  const SE3d copied = viewB;  // a view converts to an owning value
  EXPECT_EQ(copied.Coeffs(), b.Coeffs());
}

TEST(LieGroupMap, RotationInsideATransformNormalisesInPlace) {
  std::array<double, 7> buffer{1.0, 2.0, 3.0, 0.0, 0.0, 3.0, 4.0};
  Eigen::Map<SE3d> transform(buffer.data());
  transform.Rotation().Normalize();
  EXPECT_EQ(buffer[0], 1.0);  // translation untouched
  EXPECT_NEAR(buffer[5], 0.6, kTolerance);
  EXPECT_NEAR(buffer[6], 0.8, kTolerance);

  // An owning SE3's rotation is a view as well.
  SE3d owned((Eigen::Matrix<double, 7, 1>() << 0, 0, 0, 0, 2, 0, 0).finished());
  owned.Rotation().Normalize();
  EXPECT_NEAR(owned[4], 1.0, kTolerance);
}

TEST(LieGroupMap, So3AndTangentViews) {
  std::array<double, 4> q{0.0, 0.0, 0.0, 1.0};
  Eigen::Map<SO3d> rotation(q.data());
  const SO3d turn = SO3Tangentd(0.0, 0.0, 0.5).Exp();
  rotation = rotation * turn;
  EXPECT_NEAR(q[2], std::sin(0.25), kTolerance);
  EXPECT_NEAR(q[3], std::cos(0.25), kTolerance);

  const Eigen::Map<const SO3d> constView(q.data());
  EXPECT_NEAR(constView.Log().Coeffs().z(), 0.5, kTolerance);
  EXPECT_TRUE(constView.RotationMatrix().isApprox(turn.RotationMatrix(), kTolerance));

  std::array<double, 3> w{0.0, 0.3, 0.0};
  const Eigen::Map<const SO3Tangentd> tangent(w.data());
  EXPECT_TRUE(tangent.Exp().Coeffs().isApprox(SO3Tangentd(0.0, 0.3, 0.0).Exp().Coeffs(), kTolerance));
  Eigen::Map<SO3Tangentd> writable(w.data());
  writable = SO3Tangentd(1.0, 2.0, 3.0);
  EXPECT_EQ(w[2], 3.0);
}

}  // namespace
