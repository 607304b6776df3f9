// SPDX-License-Identifier: Apache-2.0
// The calibration entry points end to end, on synthetic scenes with a known camera transform and marker.

#include <tarn/Output.h>
#include <tarn/SolveFinalResult.h>

#include "robot/IRobot.h"
#include "solver/EntryPath.h"
#include "solver/HandEyeKel.h"

#include "ElementaryRotations.h"
#include "HandEyeScene.h"

#include <Kel/Logger.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace TamoHandEye;
using Eigen::Matrix3d;
using Eigen::Matrix4d;
using Eigen::Vector3d;
using TarnSim::RowFormat;
using TarnSim::Scene;
using TarnSim::SceneOptions;

using EntryPoint =
    std::function<ErrorCode(const std::vector<MarkerBoardResult>&, const RobotRows&, const AlgoParam&, FinalResult&)>;

constexpr double kExactMetres = 1e-9;  // clean data: Z and the marker recovered to rounding
constexpr double kExactRotation = 1e-9;

Matrix4d ResultMatrix(const FinalResult& r) {
  Matrix4d m;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j)
      m(i, j) = r.cameraMatrix.at(static_cast<std::size_t>(i)).at(static_cast<std::size_t>(j));
  }
  return m;
}

// Compares the result with the scene's truth; `unit` is the length unit of the matrix and marker (1000: mm).
testing::AssertionResult RecoversTruth(const FinalResult& r, const Scene& scene, double unit) {
  if (r.cameraMatrix.size() != 4 || r.markerPosition.size() != 3) return testing::AssertionFailure() << "shape";
  const Matrix4d m = ResultMatrix(r);
  const double rotation = (m.topLeftCorner<3, 3>() - scene.camera.linear()).cwiseAbs().maxCoeff();
  const double translation = (m.topRightCorner<3, 1>() / unit - scene.camera.translation()).cwiseAbs().maxCoeff();
  const Vector3d marker(r.markerPosition[0], r.markerPosition[1], r.markerPosition[2]);
  const double markerError = (marker / unit - scene.marker).cwiseAbs().maxCoeff();
  const bool lastRow = m.row(3) == Eigen::RowVector4d(0, 0, 0, 1);
  if (rotation <= kExactRotation && translation <= kExactMetres && markerError <= kExactMetres && lastRow) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure() << "rotation " << rotation << ", translation " << translation << " m, marker "
                                     << markerError << " m";
}

struct Convention {
  std::string name;
  EntryPoint entry;
  RowFormat format;
  bool meter, radian;
  // The camera rotation as the camera pose row states it, rebuilt independently.
  std::function<Matrix3d(const std::vector<double>&)> rotationOfRow;
  double rowLength;  // translation unit of the camera pose row
};

std::vector<Convention> Conventions() {
  using TarnTest::AxisRotation;
  using TarnTest::Degrees;
  const auto fanuc = [](const std::vector<double>& r) {
    return Matrix3d(AxisRotation('z', Degrees(r[5])) * AxisRotation('y', Degrees(r[4])) *
                    AxisRotation('x', Degrees(r[3])));
  };
  const auto kuka = [](const std::vector<double>& r) {
    return Matrix3d(AxisRotation('z', Degrees(r[3])) * AxisRotation('y', Degrees(r[4])) *
                    AxisRotation('x', Degrees(r[5])));
  };
  const auto abb = [](const std::vector<double>& r) { return TarnTest::QuaternionRotation({r[4], r[5], r[6], r[3]}); };
  const auto xyzw = [](const std::vector<double>& r) { return TarnTest::QuaternionRotation({r[3], r[4], r[5], r[6]}); };
  const auto urRadian = [](const std::vector<double>& r) {
    const Vector3d v(r[3], r[4], r[5]);
    return Matrix3d(Eigen::AngleAxisd(v.norm(), v.normalized()).toRotationMatrix());
  };
  const auto urDegree = [](const std::vector<double>& r) {
    const Vector3d v = Vector3d(r[3], r[4], r[5]) * 3.14159265358979323846 / 180.0;
    return Matrix3d(Eigen::AngleAxisd(v.norm(), v.normalized()).toRotationMatrix());
  };
  return {
      {"FANUC", FanucSolveFinalResult, RowFormat::Fanuc, false, false, fanuc, 1000},
      {"FANUC flags ignored", FanucSolveFinalResult, RowFormat::Fanuc, false, false, fanuc, 1000},
      {"KUKA", KukaSolveFinalResult, RowFormat::Kuka, false, false, kuka, 1000},
      {"ABB quaternion", ABBQuatSolveFinalResult, RowFormat::AbbQuat, false, false, abb, 1000},
      {"UR metres radians", UrSolveFinalResult, RowFormat::Ur, true, true, urRadian, 1},
      {"UR millimetres degrees", UrSolveFinalResult, RowFormat::Ur, false, false, urDegree, 1000},
      {"generic rzyx", Common3SolveFinalResult, RowFormat::Kuka, false, false, kuka, 1000},
      {"generic rzyx metres radians", Common3SolveFinalResult, RowFormat::Kuka, true, true,
       [](const std::vector<double>& r) {
         return Matrix3d(AxisRotation('z', r[3]) * AxisRotation('y', r[4]) * AxisRotation('x', r[5]));
       },
       1},
      {"generic xyzw", Common4SolveFinalResult, RowFormat::Xyzw, false, false, xyzw, 1000},
      {"generic wxyz metres", Common4SolveFinalResult, RowFormat::AbbQuat, true, false, abb, 1},
  };
}

class CleanScene : public testing::TestWithParam<std::tuple<Convention, bool>> {
 protected:
  void SetUp() override { IRobot::SetPoseSearchSeed(7); }
  void TearDown() override { IRobot::SetPoseSearchSeed(std::nullopt); }
};

TEST_P(CleanScene, RecoversCameraAndMarker) {
  const auto& [c, eyeToHand] = GetParam();
  SceneOptions options;
  options.eyeToHand = eyeToHand;
  const Scene scene = TarnSim::MakeScene(options);

  for (const bool exhaust : {false, true}) {
    AlgoParam param;
    param.HandEyeType = eyeToHand ? 1 : 0;
    // FANUC, KUKA and ABB rows are millimetres and degrees whatever the flags say.
    param.IsMeter = c.meter || c.name == "FANUC flags ignored";
    param.IsRadian = c.radian || c.name == "FANUC flags ignored";
    param.Exhaust = exhaust;
    param.RansacDist = 0.002;
    FinalResult result;
    ASSERT_EQ(c.entry(scene.Markers(), TarnSim::RobotRows(scene, c.format, c.meter, c.radian), param, result), Success)
        << c.name;

    const double unit = param.IsMeter ? 1.0 : 1000.0;
    EXPECT_TRUE(RecoversTruth(result, scene, unit)) << c.name << " exhaust " << exhaust;
    ASSERT_EQ(result.residuals.size(), scene.points.size());
    EXPECT_LT(result.rmsError, 1e-6);
    EXPECT_LT(result.maxError, 1e-6);
    EXPECT_EQ(result.mask, exhaust ? std::vector<int>(scene.points.size(), 255) : std::vector<int>{});

    // The camera pose row is in the robot's own convention and units.
    const auto& row = result.cameraPose;
    ASSERT_EQ(row.size(), c.format == RowFormat::AbbQuat || c.format == RowFormat::Xyzw ? 7u : 6u);
    EXPECT_LT((c.rotationOfRow(row) - scene.camera.linear()).cwiseAbs().maxCoeff(), kExactRotation) << c.name;
    EXPECT_LT((Vector3d(row[0], row[1], row[2]) / c.rowLength - scene.camera.translation()).cwiseAbs().maxCoeff(),
              kExactMetres);
  }
}

INSTANTIATE_TEST_SUITE_P(Conventions, CleanScene, testing::Combine(testing::ValuesIn(Conventions()), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<Convention, bool>>& p) {
                           std::string name =
                               std::get<0>(p.param).name + (std::get<1>(p.param) ? " eye to hand" : " eye in hand");
                           for (char& ch : name) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

// ---------------------------------------------------------------------------------------------------
// Input checks and failures
// ---------------------------------------------------------------------------------------------------

FinalResult Sentinel() {
  FinalResult r;
  r.cameraPose = {1, 2, 3};
  r.rmsError = 42.0;
  r.mask = {7};
  return r;
}

void ExpectUntouched(const FinalResult& r) {
  EXPECT_EQ(r.cameraPose, (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(r.rmsError, 42.0);
  EXPECT_EQ(r.mask, std::vector<int>{7});
}

TEST(SolveFinalResult, InputChecksInOrder) {
  const Scene scene = TarnSim::MakeScene({});
  const auto markers = scene.Markers();
  const auto fanucRows = TarnSim::RobotRows(scene, RowFormat::Fanuc);
  const auto quaternionRows = TarnSim::RobotRows(scene, RowFormat::AbbQuat);
  const AlgoParam param;
  FinalResult result = Sentinel();

  EXPECT_EQ(FanucSolveFinalResult({}, fanucRows, param, result), Err_Solve_Data_Empty);
  EXPECT_EQ(FanucSolveFinalResult(markers, {}, param, result), Err_Solve_Data_Empty);
  // A count mismatch is reported even when a row also has the wrong length.
  auto fewer = fanucRows;
  fewer.pop_back();
  fewer[0].push_back(1.0);
  EXPECT_EQ(FanucSolveFinalResult(markers, fewer, param, result), Err_Solve_Count_Mismatch);
  auto oneLong = fanucRows;
  oneLong[5].push_back(0.0);
  EXPECT_EQ(FanucSolveFinalResult(markers, oneLong, param, result), Err_Solve_RobotType_Mismatch);
  EXPECT_EQ(Common4SolveFinalResult(markers, fanucRows, param, result), Err_Solve_RobotType_Mismatch);
  EXPECT_EQ(ABBQuatSolveFinalResult(markers, fanucRows, param, result), Err_Solve_RobotType_Mismatch);
  EXPECT_EQ(UrSolveFinalResult(markers, quaternionRows, param, result), Err_Solve_RobotType_Mismatch);
  EXPECT_EQ(Common3SolveFinalResult(markers, quaternionRows, param, result), Err_Solve_RobotType_Mismatch);
  ExpectUntouched(result);
}

TEST(SolveFinalResult, NonFiniteValuesFailBeforeAnySolve) {
  const Scene scene = TarnSim::MakeScene({});
  FinalResult result = Sentinel();
  auto markers = scene.Markers();
  markers[2].y = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(FanucSolveFinalResult(markers, TarnSim::RobotRows(scene, RowFormat::Fanuc), {}, result), Err_Solve_Fail);
  auto rows = TarnSim::RobotRows(scene, RowFormat::Fanuc);
  rows[4][5] = std::numeric_limits<double>::infinity();
  EXPECT_EQ(FanucSolveFinalResult(scene.Markers(), rows, {}, result), Err_Solve_Fail);
  // Huge but finite values overflow inside the solve: still a clean failure, never a crash.
  rows = TarnSim::RobotRows(scene, RowFormat::Fanuc);
  for (auto& row : rows) row[0] = 1e300;
  EXPECT_EQ(FanucSolveFinalResult(scene.Markers(), rows, {}, result), Err_Solve_Fail);
  ExpectUntouched(result);
}

TEST(SolveFinalResult, DegenerateMotionAndTooFewPosesFail) {
  for (const auto motion : {TarnSim::Motion::TranslationOnly, TarnSim::Motion::SingleAxis}) {
    SceneOptions options;
    options.motion = motion;
    const Scene scene = TarnSim::MakeScene(options);
    FinalResult result = Sentinel();
    EXPECT_EQ(KukaSolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Kuka), {}, result),
              Err_Solve_Fail);
    if (motion == TarnSim::Motion::TranslationOnly) {
      // Equal angles give one rotation under every generic convention: each candidate fails, and the
      // search reports the last one's failure.
      EXPECT_EQ(Common3SolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Kuka), {}, result),
                Err_Solve_Fail);
    }
    ExpectUntouched(result);
  }
  SceneOptions four;
  four.poses = 4;
  const Scene scene = TarnSim::MakeScene(four);
  FinalResult result = Sentinel();
  EXPECT_EQ(FanucSolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Fanuc), {}, result),
            Err_Solve_Fail);
  ExpectUntouched(result);
}

// Rotations about one axis, read under a wrong generic convention, turn into rotations about varied axes
// that a solve can fit, badly (a camera hundreds of millimetres off): the candidate under which the set is
// ill-conditioned says the set is degenerate, and the generic types fail as the vendor types do.
TEST(SolveFinalResult, GenericTypesFailOnRotationsAboutOneAxis) {
  for (const bool eyeToHand : {false, true}) {
    for (const double noise : {0.0, 0.0003}) {
      SceneOptions options;
      options.motion = TarnSim::Motion::SingleAxis;
      options.eyeToHand = eyeToHand;
      options.pointNoise = noise;
      const Scene scene = TarnSim::MakeScene(options);
      AlgoParam param;
      param.HandEyeType = eyeToHand ? 1 : 0;
      FinalResult result = Sentinel();
      EXPECT_EQ(KukaSolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Kuka), param, result),
                Err_Solve_Fail);
      EXPECT_EQ(Common3SolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Kuka), param, result),
                Err_Solve_Fail)
          << "eye to hand " << eyeToHand << ", noise " << noise << ", camera row "
          << ::testing::PrintToString(result.cameraPose);
      EXPECT_EQ(Common4SolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Xyzw), param, result),
                Err_Solve_Fail);
      ExpectUntouched(result);
    }
  }
}

// Rows whose middle angle is 0 on every pose rotate about two axes under their own convention (Rz·Rx) but
// about one under a repeated-axis reading (Rz·Rz): that reading's degeneracy is no verdict on the set,
// which its own convention fits.
TEST(SolveFinalResult, GenericTypesSolveRowsThatOnlyAnotherReadingMakesDegenerate) {
  constexpr double kPi = 3.14159265358979323846;
  const Scene truth = TarnSim::MakeScene({});
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<MarkerBoardResult> markers;
  RobotRows rows;
  for (int i = 0; i < 12; ++i) {
    const double a = 0.6 * unit(rng), c = kPi + 0.5 * unit(rng);
    Eigen::Isometry3d flange = Eigen::Isometry3d::Identity();
    flange.linear() = Matrix3d(TarnTest::AxisRotation('z', a) * TarnTest::AxisRotation('x', c));
    flange.translation() = truth.marker + Vector3d(0.1 * unit(rng), 0.1 * unit(rng), 0.5 + 0.05 * unit(rng));
    const Vector3d point = (flange * truth.camera).inverse() * truth.marker;
    markers.push_back({point.x(), point.y(), point.z(), 0.0, 0.0});
    const Vector3d t = flange.translation() * 1000.0;
    rows.push_back({t.x(), t.y(), t.z(), a * 180.0 / kPi, 0.0, c * 180.0 / kPi});
  }
  FinalResult result;
  ASSERT_EQ(Common3SolveFinalResult(markers, rows, {}, result), Success);
  EXPECT_LT(result.rmsError, 1e-6);
  EXPECT_LT((Vector3d(result.cameraMatrix[0][3], result.cameraMatrix[1][3], result.cameraMatrix[2][3]) / 1000.0 -
             truth.camera.translation())
                .norm(),
            1e-6);
}

TEST(SolveFinalResult, HandEyeTypeOtherThanZeroIsEyeToHand) {
  SceneOptions options;
  options.eyeToHand = true;
  const Scene scene = TarnSim::MakeScene(options);
  AlgoParam param;
  param.HandEyeType = 2;
  FinalResult result;
  ASSERT_EQ(FanucSolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Fanuc), param, result),
            Success);
  EXPECT_TRUE(RecoversTruth(result, scene, 1000.0));
}

TEST(SolveFinalResult, PrintsItsOneLineUntilTheProgramTurnsTheTextsOff) {
  const Scene scene = TarnSim::MakeScene(SceneOptions{});
  const RobotRows rows = TarnSim::RobotRows(scene, RowFormat::Fanuc);
  FinalResult result;
  // On by default: the documented line and nothing else (no log record about the marker points).
  testing::internal::CaptureStdout();
  ASSERT_EQ(FanucSolveFinalResult(scene.Markers(), rows, AlgoParam{}, result), Success);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "type:0\n");
  SetStandardOutputTexts(false);
  testing::internal::CaptureStdout();
  ASSERT_EQ(FanucSolveFinalResult(scene.Markers(), rows, AlgoParam{}, result), Success);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  SetStandardOutputTexts(true);
}

// ---------------------------------------------------------------------------------------------------
// The pose search
// ---------------------------------------------------------------------------------------------------

class PoseSearch : public testing::Test {
 protected:
  void SetUp() override { IRobot::SetPoseSearchSeed(3); }
  void TearDown() override { IRobot::SetPoseSearchSeed(std::nullopt); }
};

TEST_F(PoseSearch, PlantedOutliersAreDroppedAndTheMaskSaysWhich) {
  SceneOptions options;
  options.poses = 15;
  options.pointNoise = 0.0002;
  options.outliers = {2, 9};
  options.outlierOffset = 0.03;
  const Scene scene = TarnSim::MakeScene(options);
  AlgoParam param;
  param.Exhaust = true;
  param.RansacDist = 0.003;
  FinalResult result;
  ASSERT_EQ(FanucSolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Fanuc), param, result),
            Success);

  std::vector<int> expected(15, 255);
  expected[2] = expected[9] = 0;
  EXPECT_EQ(result.mask, expected);
  ASSERT_EQ(result.residuals.size(), 15u);
  EXPECT_GT(result.residuals[2].distance, 10.0);  // still reported, against the final solution
  EXPECT_GT(result.residuals[9].distance, 10.0);

  // RMS and maximum over the poses that took part only.
  double sumSq = 0.0, maxDistance = 0.0;
  for (std::size_t i = 0; i < 15; ++i) {
    const auto& r = result.residuals[i];
    EXPECT_NEAR(r.distance, std::sqrt(r.dx * r.dx + r.dy * r.dy + r.dz * r.dz), 1e-9);
    if (expected[i] == 0) continue;
    sumSq += r.distance * r.distance;
    maxDistance = std::max(maxDistance, r.distance);
  }
  EXPECT_NEAR(result.rmsError, std::sqrt(sumSq / 13.0), 1e-9);
  EXPECT_NEAR(result.maxError, maxDistance, 1e-9);
  EXPECT_LT(result.rmsError, 1.0);

  // Without the search the outliers spoil the fit.
  param.Exhaust = false;
  FinalResult all;
  ASSERT_EQ(FanucSolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Fanuc), param, all), Success);
  EXPECT_TRUE(all.mask.empty());
  EXPECT_GT(all.rmsError, 3.0 * result.rmsError);
}

TEST_F(PoseSearch, NoInlierDistanceMeansNoConsensus) {
  const Scene scene = TarnSim::MakeScene({});
  AlgoParam param;
  param.Exhaust = true;
  param.RansacDist = 0.0;
  FinalResult result = Sentinel();
  EXPECT_EQ(FanucSolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Fanuc), param, result),
            Err_Solve_Fail);
  ExpectUntouched(result);
}

TEST_F(PoseSearch, FivePosesSkipTheSearch) {
  SceneOptions options;
  options.poses = 5;
  const Scene scene = TarnSim::MakeScene(options);
  AlgoParam param;
  param.Exhaust = true;
  param.RansacDist = 0.0;  // would find no consensus if the search ran
  FinalResult result;
  ASSERT_EQ(FanucSolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Fanuc), param, result),
            Success);
  EXPECT_TRUE(result.mask.empty());
  EXPECT_TRUE(RecoversTruth(result, scene, 1000.0));
}

// ---------------------------------------------------------------------------------------------------
// The generic conventions choose the convention that fits, not the first that converges
// ---------------------------------------------------------------------------------------------------

TEST(ConventionSearch, NoisyKukaRowsAreReadAsRzyxNotAsTheFirstKey) {
  SceneOptions options;
  options.poses = 15;
  options.pointNoise = 0.0003;
  options.robotRotationNoise = 0.0002;
  const Scene scene = TarnSim::MakeScene(options);
  const auto rows = TarnSim::RobotRows(scene, RowFormat::Kuka);

  FinalResult generic, kuka;
  ASSERT_EQ(Common3SolveFinalResult(scene.Markers(), rows, {}, generic), Success);
  ASSERT_EQ(KukaSolveFinalResult(scene.Markers(), rows, {}, kuka), Success);
  // The same calibration as the KUKA entry point: same fit, same camera pose row.
  EXPECT_NEAR(generic.rmsError, kuka.rmsError, 1e-9);
  ASSERT_EQ(generic.cameraPose.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_NEAR(generic.cameraPose[i], kuka.cameraPose[i], 1e-6) << i;
  EXPECT_LT(generic.rmsError, 2.0);
}

TEST(ConventionSearch, ScalarLastQuaternionsAreReadAsXyzw) {
  SceneOptions options;
  options.pointNoise = 0.0003;
  const Scene scene = TarnSim::MakeScene(options);
  FinalResult result;
  ASSERT_EQ(Common4SolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Xyzw), {}, result), Success);
  const auto& row = result.cameraPose;
  ASSERT_EQ(row.size(), 7u);
  const Matrix3d stated = TarnTest::QuaternionRotation({row[3], row[4], row[5], row[6]});
  EXPECT_LT((stated - scene.camera.linear()).cwiseAbs().maxCoeff(), 0.01);
}

// The relaxed linear fits bound every solution from below: no solve over a set of poses fits it better,
// and noise-free poses are fitted exactly.
TEST(ConventionSearch, RelaxedCostsBoundEverySolve) {
  for (const bool eyeToHand : {false, true}) {
    for (const double noise : {0.0, 0.001}) {
      SceneOptions options;
      options.poses = 9;
      options.eyeToHand = eyeToHand;
      options.pointNoise = noise;
      options.outliers = {3};
      const Scene scene = TarnSim::MakeScene(options);
      std::vector<Kel::SE3d> robot, markers;
      for (std::size_t i = 0; i < scene.flange.size(); ++i) {
        robot.emplace_back(scene.flange[i].translation(), Kel::SO3d(Eigen::Quaterniond(scene.flange[i].linear())));
        markers.emplace_back(scene.points[i], Kel::SO3d(Eigen::Quaterniond::Identity()));
      }
      const int type = eyeToHand ? 1 : 0;
      const HandEyeKel::RelaxedFit fit = HandEyeKel::FitRelaxed(type, robot, markers);
      std::vector<double> costs{fit.cost};  // [0] over all poses, [1 + j] over all but pose j
      const std::vector<double> leaving = fit.LeavingOut();
      costs.insert(costs.end(), leaving.begin(), leaving.end());
      ASSERT_EQ(costs.size(), robot.size() + 1);
      for (std::size_t left = 0; left <= robot.size(); ++left) {
        std::vector<int> mask(robot.size(), 255);
        if (left > 0) mask[left - 1] = 0;  // 0: all poses; j + 1: all but pose j
        HandEyeKel solver(type);
        ASSERT_EQ(solver.Solve(robot, markers, mask), 0);
        double maxError = 0.0, rms = 0.0;
        solver.GetErrors(maxError, rms);
        const double used = static_cast<double>(robot.size() - (left > 0 ? 1 : 0));
        EXPECT_LE(costs[left], used * rms * rms * (1.0 + 1e-9) + 1e-24) << left;
        EXPECT_GE(costs[left], 0.0);
        // Without noise, dropping the planted outlier leaves poses that fit exactly.
        if (noise == 0.0 && left == 4) {
          EXPECT_LT(costs[left], 1e-20);
        }
        if (left != 4) {
          EXPECT_GT(costs[left], 1e-4);  // the 50 mm outlier is in the set
        }
      }
    }
  }
}

// The generic kinds may leave out readings that cannot be chosen: over scenes that make the readings
// compete (near-identical conventions at small rotations, outliers, noise, wrong rows, degenerate
// motion), the outcome is the one of solving every reading, bit for bit, and readings were left out.
// The bounds over all but one or two poses, downdated from the fit over all of them, are the fits made
// afresh over those poses (a 5 mm outlier and real-camera noise among them).
TEST(ConventionSearch, DowndatedRelaxedFitsAreTheFitsWithoutThePoses) {
  SceneOptions options;
  options.poses = 10;
  options.pointNoise = 0.0005;
  options.depthNoise = 0.0015;
  options.outliers = {6};
  options.outlierOffset = 0.005;
  const Scene scene = TarnSim::MakeScene(options);
  std::vector<Kel::SE3d> robot, markers;
  for (std::size_t i = 0; i < scene.flange.size(); ++i) {
    robot.emplace_back(scene.flange[i].translation(), Kel::SO3d(Eigen::Quaterniond(scene.flange[i].linear())));
    markers.emplace_back(scene.points[i], Kel::SO3d(Eigen::Quaterniond::Identity()));
  }
  const auto without = [&](std::vector<std::size_t> left) {
    std::vector<Kel::SE3d> r, m;
    for (std::size_t i = 0; i < robot.size(); ++i) {
      if (std::find(left.begin(), left.end(), i) != left.end()) continue;
      r.push_back(robot[i]);
      m.push_back(markers[i]);
    }
    return HandEyeKel::FitRelaxed(0, r, m).cost;
  };
  const HandEyeKel::RelaxedFit fit = HandEyeKel::FitRelaxed(0, robot, markers);
  const std::vector<double> leaving = fit.LeavingOut();
  ASSERT_EQ(leaving.size(), robot.size());
  double least = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < robot.size(); ++i) {
    EXPECT_NEAR(leaving[i], without({i}), 1e-9 * fit.cost) << i;
    for (std::size_t j = i + 1; j < robot.size(); ++j) least = std::min(least, without({i, j}));
  }
  EXPECT_NEAR(fit.LeastLeavingTwoOut(), least, 1e-9 * fit.cost);
  // Leaving the outlier out lowers the bound most.
  EXPECT_EQ(std::min_element(leaving.begin(), leaving.end()) - leaving.begin(), 6);
  EXPECT_LT(leaving[6], 0.5 * fit.cost);
}

TEST(ConventionSearch, LeavingOutReadingsThatCannotWinChangesNothing) {
  struct Case {
    RobotKind kind;
    RowFormat format;
    SceneOptions scene;
    double distance;
    bool reversed;
  };
  std::vector<Case> cases;
  for (const bool eyeToHand : {false, true}) {
    for (const std::vector<int>& outliers : {std::vector<int>{}, std::vector<int>{4}, std::vector<int>{2, 9}}) {
      for (const double spread : {30.0, 4.0}) {
        SceneOptions o;
        o.poses = outliers.size() == 2 ? 14 : 20;
        o.eyeToHand = eyeToHand;
        o.outliers = outliers;
        o.rotationSpreadDeg = spread;
        o.pointNoise = spread < 10.0 ? 0.002 : 0.0003;
        o.seed = static_cast<unsigned>(3 + outliers.size() + (eyeToHand ? 10 : 0));
        cases.push_back({RobotKind::Common3, RowFormat::Kuka, o, 0.003, false});
        cases.push_back({RobotKind::Common3, RowFormat::Fanuc, o, 0.001, false});
        cases.push_back({RobotKind::Common4, eyeToHand ? RowFormat::Xyzw : RowFormat::AbbQuat, o, 0.003, false});
      }
    }
  }
  SceneOptions clean;  // noise-free: readings that coincide tie exactly
  clean.rotationSpreadDeg = 2.0;
  cases.push_back({RobotKind::Common3, RowFormat::Kuka, clean, 0.003, false});
  SceneOptions many;  // beyond the poses for which leaving two out is bounded
  many.poses = 70;
  many.pointNoise = 0.0003;
  many.outliers = {5};
  cases.push_back({RobotKind::Common3, RowFormat::Kuka, many, 0.003, false});
  SceneOptions wrong;
  wrong.pointNoise = 0.0003;
  cases.push_back({RobotKind::Common3, RowFormat::Kuka, wrong, 0.003, true});
  SceneOptions axis;
  axis.motion = TarnSim::Motion::SingleAxis;
  cases.push_back({RobotKind::Common3, RowFormat::Kuka, axis, 0.003, false});

  std::size_t leftOut = 0;
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const Case& c = cases[k];
    const Scene scene = TarnSim::MakeScene(c.scene);
    std::vector<std::vector<double>> rows = TarnSim::RobotRows(scene, c.format);
    if (c.reversed) {
      for (auto& row : rows) std::reverse(row.begin() + 3, row.end());
    }
    AlgoParam param;
    param.HandEyeType = c.scene.eyeToHand ? 1 : 0;
    param.Exhaust = k % 4 != 3;  // and every fourth without the pose search
    param.RansacDist = c.distance;
    FinalResult screened, every;
    EntryRun screenedRun, everyRun;
    everyRun.everyConvention = true;
    const ErrorCode a = RunEntryPoint(c.kind, scene.Markers(), rows, param, 11u, screened, &screenedRun);
    const ErrorCode b = RunEntryPoint(c.kind, scene.Markers(), rows, param, 11u, every, &everyRun);
    ASSERT_EQ(a, b) << "case " << k;
    ASSERT_TRUE(screenedRun.robot && everyRun.robot);
    EXPECT_EQ(screenedRun.status, everyRun.status) << "case " << k;
    for (const auto& fit : screenedRun.record.conventionFits) leftOut += fit.status == ConventionFit::kNotTried;
    if (a != Success) continue;
    EXPECT_EQ(ConventionUsed(c.kind, *screenedRun.robot->robot), ConventionUsed(c.kind, *everyRun.robot->robot))
        << "case " << k;
    EXPECT_EQ(screened.mask, every.mask) << "case " << k;
    EXPECT_EQ(screened.cameraPose, every.cameraPose) << "case " << k;
    EXPECT_EQ(screened.cameraMatrix, every.cameraMatrix) << "case " << k;
    EXPECT_EQ(screened.markerPosition, every.markerPosition) << "case " << k;
    EXPECT_EQ(screened.rmsError, every.rmsError) << "case " << k;
    EXPECT_EQ(screened.maxError, every.maxError) << "case " << k;
    ASSERT_EQ(screened.residuals.size(), every.residuals.size());
    for (std::size_t i = 0; i < every.residuals.size(); ++i) {
      EXPECT_EQ(screened.residuals[i].distance, every.residuals[i].distance) << "case " << k << " pose " << i;
    }
  }
  // Every reading but one, wherever the best keeps all poses or all but one or two (fifteen of the scenes,
  // the 70 poses' among them).
  EXPECT_GE(leftOut, 15u * 24u);
}

TEST(SolveFinalResult, SolvingSwitchesTheLibraryLoggerOff) {
  const auto kel = Kel::Logger::Get("Kel");
  ASSERT_NE(kel, nullptr);
  kel->SetLevel(2);
  const Scene scene = TarnSim::MakeScene({});
  FinalResult result;
  ASSERT_EQ(FanucSolveFinalResult(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Fanuc), {}, result), Success);
  EXPECT_EQ(kel->GetLevel(), 6);
  EXPECT_FALSE(kel->ShouldLog(5));
}

}  // namespace
