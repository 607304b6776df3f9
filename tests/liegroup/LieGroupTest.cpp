// SPDX-License-Identifier: Apache-2.0
// Properties of SO3, SO3Tangent and SE3 over a curated set of elements (identity, tiny, random, near pi,
// exactly pi), checked against constructions made independently with Eigen.

#include <LieGroup/SE3.h>
#include <LieGroup/SO3.h>
#include <LieGroup/SO3Tangent.h>

#include "CapturingSink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unsupported/Eigen/MatrixFunctions>
#include "Matchers.h"

#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

// Every member of the group templates must compile, even those no test calls.
template class Kel::SO3<double>;
template class Kel::SO3Base<Kel::SO3<double>>;
template class Kel::SO3Base<Eigen::Map<Kel::SO3<double>>>;
template class Kel::SO3Tangent<double>;
template class Kel::SO3TangentBase<Kel::SO3Tangent<double>>;
template class Kel::SE3<double>;
template class Kel::LieGroupBase<Kel::SE3<double>>;
template class Kel::LieGroupBase<Eigen::Map<Kel::SE3<double>>>;

namespace {

using Eigen::Matrix3d;
using Eigen::Matrix4d;
using Eigen::Vector3d;
using Kel::SE3d;
using Kel::SO3d;
using Kel::SO3Tangentd;

// Conversions are exact up to a few ulps of the operands; near pi the rotation axis is ill-conditioned.
constexpr double kTolerance = 1e-12;
constexpr double kLooseTolerance = 1e-9;
constexpr double kPi = 3.14159265358979323846;

struct Element {
  std::string name;
  Vector3d omega;  // rotation vector
  Vector3d t;
};

void PrintTo(const Element& e, std::ostream* os) { *os << e.name; }

std::vector<Element> Elements() {
  std::vector<Element> elements = {
      {"identity", Vector3d::Zero(), Vector3d::Zero()},
      {"tiny", Vector3d(1e-9, -2e-9, 5e-10), Vector3d(1e-9, 0, -1e-9)},
      {"below series threshold", Vector3d(3e-5, 4e-5, 0), Vector3d(0.1, 0.2, 0.3)},
      {"near pi", Vector3d(1, 2, -2).normalized() * (kPi - 1e-6), Vector3d(-0.4, 1.5, 0.2)},
      {"exactly pi", Vector3d(0, 0, kPi), Vector3d(1, 0, 0)},
  };
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_real_distribution<double> angle(0.0, kPi);
  for (int i = 0; i < 20; ++i) {
    const Vector3d axis = Vector3d(unit(rng), unit(rng), unit(rng)).normalized();
    elements.push_back(
        {"random " + std::to_string(i), axis * angle(rng), Vector3d(unit(rng), unit(rng), unit(rng)) * 2.0});
  }
  return elements;
}

// The rotation built without the group code: Eigen's angle-axis.
Matrix3d EigenRotation(const Vector3d& omega) {
  const double angle = omega.norm();
  if (angle == 0.0) return Matrix3d::Identity();
  return Eigen::AngleAxisd(angle, omega / angle).toRotationMatrix();
}

// Same rotation whatever the quaternion's sign.
testing::AssertionResult SameRotation(const SO3d& a, const SO3d& b, double tol) {
  const double d = std::min((a.Coeffs() - b.Coeffs()).norm(), (a.Coeffs() + b.Coeffs()).norm());
  if (d <= tol) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "quaternions differ by " << d << ": " << a.Coeffs().transpose() << " vs "
                                     << b.Coeffs().transpose();
}

using TarnTest::MatrixNear;

class GroupProperties : public testing::TestWithParam<Element> {};

TEST_P(GroupProperties, ExpMatchesAngleAxisAndLogInvertsIt) {
  const Element& e = GetParam();
  const SO3d r = SO3Tangentd(e.omega).Exp();
  EXPECT_NEAR(r.Coeffs().norm(), 1.0, kTolerance);
  EXPECT_TRUE(MatrixNear(r.RotationMatrix(), EigenRotation(e.omega), kTolerance));
  EXPECT_TRUE(SameRotation(r.Log().Exp(), r, kTolerance));
  if (e.omega.norm() < kPi - 1e-3) {
    EXPECT_TRUE(MatrixNear(r.Log().Coeffs(), e.omega, kTolerance));
  } else {
    // Near pi only the rotation is unique; the vector may flip to -ω.
    EXPECT_NEAR(r.Log().Angle(), e.omega.norm(), kLooseTolerance);
  }
  // -q is the same rotation and has the same logarithm.
  const SO3d negated(-r.Coeffs());
  EXPECT_TRUE(SameRotation(negated.Log().Exp(), r, kTolerance));
  EXPECT_LE(negated.Log().Angle(), kPi + kTolerance);
}

TEST_P(GroupProperties, CompositionWithTheInverseIsTheIdentity) {
  const Element& e = GetParam();
  const SO3d r = SO3Tangentd(e.omega).Exp();
  EXPECT_TRUE(SameRotation(r * r.Inverse(), SO3d::Identity(), kTolerance));
  EXPECT_TRUE(SameRotation(r.Inverse() * r, SO3d::Identity(), kTolerance));

  const SE3d t(e.t, r);
  EXPECT_TRUE(MatrixNear((t * t.Inverse()).Matrix(), Matrix4d::Identity(), kTolerance * 10));
  EXPECT_TRUE(MatrixNear((t.Inverse() * t).Matrix(), Matrix4d::Identity(), kTolerance * 10));
  EXPECT_TRUE(MatrixNear(t.Inverse().Matrix(), t.Matrix().inverse(), kTolerance * 10));
}

TEST_P(GroupProperties, HomogeneousMatrixMatchesEigenTransform) {
  const Element& e = GetParam();
  const SE3d t(e.t, SO3Tangentd(e.omega).Exp());
  Eigen::Isometry3d expected = Eigen::Isometry3d::Identity();
  expected.linear() = EigenRotation(e.omega);
  expected.translation() = e.t;
  EXPECT_TRUE(MatrixNear(t.Matrix(), expected.matrix(), kTolerance));

  const Vector3d p(0.3, -1.2, 2.5);
  EXPECT_TRUE(MatrixNear(t.Act(p), expected * p, kTolerance * 10));

  // Composition agrees with the product of the matrices.
  const SE3d other(Vector3d(0.5, -0.25, 1.0), SO3Tangentd(0.3, -0.2, 0.9).Exp());
  EXPECT_TRUE(MatrixNear((t * other).Matrix(), t.Matrix() * other.Matrix(), kTolerance * 10));
  EXPECT_TRUE(MatrixNear((other * t).Matrix(), other.Matrix() * t.Matrix(), kTolerance * 10));
}

// SE3::Exp against the matrix exponential of the twist [hat(ω) ρ; 0 0].
TEST_P(GroupProperties, Se3ExpIsTheMatrixExponentialAndLogInvertsIt) {
  const Element& e = GetParam();
  Eigen::Matrix<double, 6, 1> tangent;
  tangent << e.t, e.omega;
  Matrix4d twist = Matrix4d::Zero();
  twist.topLeftCorner<3, 3>() = SO3Tangentd::Hat(e.omega);
  twist.topRightCorner<3, 1>() = e.t;
  const Matrix4d expected = twist.exp();

  const SE3d t = SE3d::Exp(tangent);
  EXPECT_TRUE(MatrixNear(t.Matrix(), expected, kLooseTolerance));
  // Exp(Log(T)) returns T.
  EXPECT_TRUE(MatrixNear(SE3d::Exp(t.Log()).Matrix(), t.Matrix(), kLooseTolerance));
  if (e.omega.norm() < kPi - 1e-3) {
    EXPECT_TRUE(MatrixNear(t.Log(), tangent, kLooseTolerance));
  }
}

// The left Jacobian maps a small change of ω to the rotation change applied on the left:
// Exp(ω + δ) ≈ Exp(J_l(ω)·δ) · Exp(ω).
TEST_P(GroupProperties, LeftJacobianMatchesFiniteDifferences) {
  const Element& e = GetParam();
  if (e.omega.norm() > kPi - 1e-3) GTEST_SKIP() << "the Jacobian is singular at pi";
  const SO3Tangentd w(e.omega);
  const Matrix3d jl = w.LeftJacobian();
  EXPECT_TRUE(MatrixNear(jl * w.LeftJacobianInverse(), Matrix3d::Identity(), kLooseTolerance));
  constexpr double h = 1e-6;
  for (int k = 0; k < 3; ++k) {
    const Vector3d delta = Vector3d::Unit(k) * h;
    const SO3d perturbed = SO3Tangentd(Vector3d(e.omega + delta)).Exp();
    const Vector3d left = (perturbed * w.Exp().Inverse()).Log().Coeffs() / h;
    EXPECT_TRUE(MatrixNear(left, jl.col(k), 1e-5)) << "column " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Elements, GroupProperties, testing::ValuesIn(Elements()),
                         [](const testing::TestParamInfo<Element>& param) {
                           std::string name = param.param.name;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

// ---------------------------------------------------------------------------------------------------
// Edge cases and diagnostics
// ---------------------------------------------------------------------------------------------------

class GroupDiagnostics : public testing::Test {
 protected:
  void SetUp() override {
    kel = Kel::Logger::Get("Kel");
    ASSERT_NE(kel, nullptr);
    previousLevel = kel->GetLevel();
    kel->SetLevel(2);
  }
  void TearDown() override { kel->SetLevel(previousLevel); }

  std::shared_ptr<Kel::Logger> kel;
  int previousLevel = 2;
};

TEST_F(GroupDiagnostics, NormalizeWarnsOnlyForAQuaternionWithoutRotation) {
  TarnTest::ScopedCapture capture("Kel");
  ASSERT_TRUE(capture.Attached());

  SO3d zero(0, 0, 0, 0);
  zero.Normalize();
  EXPECT_EQ(zero.Coeffs(), SO3d::Identity().Coeffs());
  ASSERT_EQ(capture.Entries().size(), 1u);
  const auto entry = capture.Entries()[0];
  EXPECT_EQ(entry.level, spdlog::level::warn);
  EXPECT_THAT(entry.text, testing::MatchesRegex(".*LieGroup/SO3\\.h:[0-9]+ : .*Normalize.* : "
                                                "Current data \\[0, 0, 0, 0\\] is invalid, set to Identity element"));

  SO3d scaled(0, 0, 0, 2);
  scaled.Normalize();
  EXPECT_EQ(scaled.Coeffs(), SO3d::Identity().Coeffs());
  EXPECT_EQ(capture.Entries().size(), 1u);

  SO3d tiny(1e-9, 0, 0, 0);
  tiny.Normalize();
  EXPECT_EQ(tiny.Coeffs(), SO3d::Identity().Coeffs());
  EXPECT_EQ(capture.Entries().size(), 2u);

  SO3d unnormalised(1, 2, 3, 4);
  unnormalised.Normalize();
  EXPECT_NEAR(unnormalised.Coeffs().norm(), 1.0, kTolerance);
  EXPECT_NEAR(unnormalised.X() / unnormalised.W(), 0.25, kTolerance);
}

TEST_F(GroupDiagnostics, LogAndExpAtTheSmallAngleEdges) {
  EXPECT_EQ(SO3Tangentd().Exp().Coeffs(), SO3d::Identity().Coeffs());
  EXPECT_EQ(SO3d::Identity().Log().Coeffs(), Vector3d::Zero());
  EXPECT_EQ(SO3d(0, 0, 0, -1).Log().Coeffs(), Vector3d::Zero());
  const SO3Tangentd half_turn = SO3d(0, 1, 0, 0).Log();
  EXPECT_NEAR(half_turn.Angle(), kPi, kTolerance);
  EXPECT_NEAR(std::abs(half_turn.Coeffs().y()), kPi, kTolerance);
  EXPECT_NEAR(SO3d(0, -1, 0, 0).Log().Angle(), kPi, kTolerance);
}

TEST_F(GroupDiagnostics, FailedChecksLogAnErrorAndThrow) {
  TarnTest::ScopedCapture capture("Kel");
  const auto expectThrow = [](auto&& f, const char* message) {
    try {
      f();
      ADD_FAILURE() << "did not throw " << message;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), message);
    }
  };
  expectThrow([] { SO3d(0, 0, 0, 0).Log(); }, "Quaternion should be normalized!");
  expectThrow([] { SO3Tangentd(std::nan(""), 0, 0).Exp(); }, "SO3::Exp failed!");
  SE3d t;
  expectThrow([&] { t[7] = 1.0; }, "Index out of range");
  expectThrow([&] { return static_cast<const SE3d&>(t)[-1]; }, "Index out of range");

  const auto entries = capture.Entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].level, spdlog::level::err);
  EXPECT_THAT(entries[0].text,
              testing::MatchesRegex(".*LieGroup/SO3\\.h:[0-9]+ : .*Log.* : Quaternion should be normalized!"));
  EXPECT_THAT(entries[1].text, testing::MatchesRegex(".*LieGroup/SO3Tangent\\.h:[0-9]+ : .*Exp.* : SO3::Exp failed!"));
  EXPECT_THAT(entries[2].text, testing::MatchesRegex(".*LieGroup/LieGroupBase\\.h:[0-9]+ : .* : Index out of range"));

  // Switched off, the checks stay silent but still throw.
  kel->SetLevel(6);
  expectThrow([] { SO3d(0, 0, 0, 0).Log(); }, "Quaternion should be normalized!");
  EXPECT_EQ(capture.Entries().size(), 4u);
}

TEST(Se3, CoefficientsAreTranslationThenQuaternion) {
  const SO3d r = SO3Tangentd(0.1, 0.2, 0.3).Exp();
  SE3d t(Vector3d(1, 2, 3), r);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(t[i], i + 1.0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(t[3 + i], r.Coeffs()(i));
  t[0] = 9.0;
  EXPECT_EQ(t.Translation().x(), 9.0);
  EXPECT_EQ(SE3d().Coeffs(), (Eigen::Matrix<double, 7, 1>() << 0, 0, 0, 0, 0, 0, 1).finished());
}

}  // namespace
