// SPDX-License-Identifier: Apache-2.0
// The point-pose equation solver on scenes with a known answer.

#include <Kel/PointPoseSolver.h>

#include "HandEyeScene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using Kel::SE3d;
using TarnSim::Motion;
using TarnSim::SceneOptions;

constexpr double kExact = 1e-9;  // exact data: only rounding is left

struct Lists {
  std::vector<SE3d> A, B;
};

SE3d FromIsometry(const Eigen::Isometry3d& iso) {
  return SE3d(iso.translation(), Kel::SO3d(Eigen::Quaterniond(iso.linear())));
}

// A_i = flange_from_base (eye-in-hand), B_i = the measured point.
Lists EquationLists(const TarnSim::Scene& scene) {
  Lists lists;
  for (std::size_t i = 0; i < scene.flange.size(); ++i) {
    lists.A.push_back(FromIsometry(scene.eyeToHand ? scene.flange[i] : scene.flange[i].inverse()));
    lists.B.push_back(SE3d(scene.points[i], Kel::SO3d()));
  }
  return lists;
}

testing::AssertionResult MatchesScene(const SE3d& X, const SE3d& Z, const TarnSim::Scene& scene, double tol) {
  const double rotation = (Z.Rotation().RotationMatrix() - scene.camera.linear()).cwiseAbs().maxCoeff();
  const double translation = (Z.Translation() - scene.camera.translation()).cwiseAbs().maxCoeff();
  const double marker = (X.Translation() - scene.marker).cwiseAbs().maxCoeff();
  if (rotation <= tol && translation <= tol && marker <= tol) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "rotation " << rotation << ", camera translation " << translation << ", marker "
                                     << marker;
}

TEST(PointPoseSolver, ExactDataIsRecoveredByTheEstimateAndTheRefinement) {
  for (const bool eyeToHand : {false, true}) {
    SceneOptions options;
    options.eyeToHand = eyeToHand;
    const auto scene = TarnSim::MakeScene(options);
    const Lists l = EquationLists(scene);

    const auto [X0, Z0, rms] = Kel::SolveAxpZbpKron(l.A, l.B);
    EXPECT_LT(rms, 1e-12);
    EXPECT_TRUE(MatchesScene(X0, Z0, scene, kExact)) << "linear estimate, eye-to-hand " << eyeToHand;

    // The refinement reaches the truth from a start far away.
    SE3d X, Z;
    const SE3d farX(Eigen::Vector3d(0, 0, 0), Kel::SO3d());
    const SE3d farZ(Eigen::Vector3d(0.3, 0.2, -0.1), Kel::SO3Tangentd(0.4, -0.3, 0.2).Exp() * Z0.Rotation());
    ASSERT_TRUE(Kel::SolveAXpZBpinNumerical(l.A, l.B, farX, farZ, X, Z, 1e-5));
    EXPECT_TRUE(MatchesScene(X, Z, scene, kExact)) << "refined, eye-to-hand " << eyeToHand;
  }
}

TEST(PointPoseSolver, BlockSystemHoldsAtTheTruth) {
  const auto scene = TarnSim::MakeScene({});
  const Lists l = EquationLists(scene);
  const auto [m, rhs] = Kel::GenerateBlockAxpZbp(l.A, l.B);
  ASSERT_EQ(m.rows(), 3 * static_cast<Eigen::Index>(l.A.size()));
  ASSERT_EQ(m.cols(), 15);
  ASSERT_EQ(rhs.rows(), m.rows());
  Eigen::Matrix<double, 15, 1> theta;
  const Eigen::Matrix3d rz = scene.camera.linear();
  theta.head<9>() = Eigen::Map<const Eigen::Matrix<double, 9, 1>>(rz.data());
  theta.segment<3>(9) = scene.camera.translation();
  theta.tail<3>() = scene.marker;
  EXPECT_LT((m * theta - rhs).cwiseAbs().maxCoeff(), 1e-12);
}

TEST(PointPoseSolver, DegenerateOrInvalidProblemsFailWithoutTouchingTheOutput) {
  const auto check = [](const Lists& l, const char* what) {
    const auto [X0, Z0, rms] = Kel::SolveAxpZbpKron(l.A, l.B);
    (void)rms;
    const SE3d before(Eigen::Vector3d(1, 2, 3), Kel::SO3d());
    SE3d X = before, Z = before;
    EXPECT_FALSE(Kel::SolveAXpZBpinNumerical(l.A, l.B, X0, Z0, X, Z, 1e-5)) << what;
    EXPECT_EQ(X.Coeffs(), before.Coeffs()) << what;
    EXPECT_EQ(Z.Coeffs(), before.Coeffs()) << what;
  };

  SceneOptions few;
  few.poses = 4;
  check(EquationLists(TarnSim::MakeScene(few)), "four poses");

  for (const bool eyeToHand : {false, true}) {
    SceneOptions translation;
    translation.motion = Motion::TranslationOnly;
    translation.eyeToHand = eyeToHand;
    check(EquationLists(TarnSim::MakeScene(translation)), "pure translations");

    SceneOptions oneAxis;
    oneAxis.motion = Motion::SingleAxis;
    oneAxis.eyeToHand = eyeToHand;
    check(EquationLists(TarnSim::MakeScene(oneAxis)), "rotations about one axis");
  }

  Lists nan = EquationLists(TarnSim::MakeScene({}));
  nan.B[3] = SE3d(Eigen::Vector3d(std::numeric_limits<double>::quiet_NaN(), 0, 0.5), Kel::SO3d());
  check(nan, "NaN point");
  Lists inf = EquationLists(TarnSim::MakeScene({}));
  inf.A[0][1] = std::numeric_limits<double>::infinity();
  check(inf, "infinite pose");

  Lists unequal = EquationLists(TarnSim::MakeScene({}));
  unequal.B.pop_back();
  SE3d X, Z;
  EXPECT_FALSE(Kel::SolveAXpZBpinNumerical(unequal.A, unequal.B, SE3d(), SE3d(), X, Z, 1e-5));
  EXPECT_NO_THROW(Kel::SolveAxpZbpKron({}, {}));
}

}  // namespace
