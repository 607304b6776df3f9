// SPDX-License-Identifier: Apache-2.0
// Time of the solve with the board's normals beside the point solve it starts from, over the pose count, and of
// the whole report under each model.
//   make build && build/bench/joint_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// "PointSolve/n" is the point model's linear estimate and refinement; "JointSolve/n" the joint solve from its
// result (point noise 0.05 mm across and 0.3 mm along the line of sight, normal 0.01°, robot 0.03 mm / 0.005°
// stated). "Report/n/0" the report without the set-up check under the point model, "Report/n/1" with normals;
// "Suggest/n/0" three suggestions scored by the points, "Suggest/n/1" by what the normals add too; "Check/0" five new
// shots checked against a saved calibration by their points, "Check/1" by their normals too.

#include <tarn/CalibrationCheck.h>
#include <tarn/CalibrationReport.h>
#include <tarn/PoseSuggestion.h>

#include "solver/HandEyeKel.h"
#include "solver/JointSolve.h"

#include "HandEyeScene.h"

#include <benchmark/benchmark.h>

#include "QuietBenchmarkMain.h"

#include <vector>

namespace {

using namespace TamoHandEye;

constexpr double kDegree = 3.14159265358979323846 / 180.0;

struct Data {
  TarnSim::Scene scene;
  std::vector<Kel::SE3d> robot, markers;
  std::vector<JointShot> shots;
  std::vector<ShotPlane> planes;
};

Data MakeData(int poses) {
  TarnSim::SceneOptions o;
  o.poses = poses;
  o.pointNoise = 0.00005;
  o.depthNoise = 0.0003;
  o.normalNoise = 0.01 * kDegree;
  o.robotTranslationNoise = 0.00003;
  o.robotRotationNoise = 0.005 * kDegree;
  Data d;
  d.scene = TarnSim::MakeScene(o);
  for (std::size_t i = 0; i < d.scene.points.size(); ++i) {
    const Eigen::Isometry3d& f = d.scene.flange[i];
    d.robot.emplace_back(f.translation(), Kel::SO3d(Eigen::Quaterniond(f.linear()).normalized()));
    d.markers.emplace_back(d.scene.points[i], Kel::SO3d());
    JointShot s;
    s.point = d.scene.points[i];
    const Eigen::Vector3d sight = s.point.normalized();
    s.pointCovariance = 0.00005 * 0.00005 * Eigen::Matrix3d::Identity() + 0.0003 * 0.0003 * sight * sight.transpose();
    s.hasNormal = true;
    s.normal = d.scene.normals[i];
    const Eigen::Vector3d a1 = s.normal.cross(Eigen::Vector3d::UnitY()).normalized();
    s.normalAxes << a1, s.normal.cross(a1);
    s.normalCovariance = std::pow(0.01 * kDegree, 2) * Eigen::Matrix2d::Identity();
    d.shots.push_back(s);
    ShotPlane p;
    p.hasNormal = true;
    for (int k = 0; k < 3; ++k) {
      p.normal[std::size_t(k)] = s.normal(k);
      p.normalAxes[std::size_t(k)] = a1(k);
      p.normalAxes[std::size_t(3 + k)] = s.normal.cross(a1)(k);
      for (int c = 0; c < 3; ++c) p.centreCovariance[std::size_t(3 * k + c)] = s.pointCovariance(k, c);
    }
    p.normalCovariance = {std::pow(0.01 * kDegree, 2), 0.0, 0.0, std::pow(0.01 * kDegree, 2)};
    d.planes.push_back(p);
  }
  return d;
}

void PointSolve(benchmark::State& state) {
  const Data d = MakeData(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    HandEyeKel solver(0);
    benchmark::DoNotOptimize(solver.Solve(d.robot, d.markers, {}));
  }
}

void JointSolve(benchmark::State& state) {
  const Data d = MakeData(static_cast<int>(state.range(0)));
  HandEyeKel point(0);
  point.Solve(d.robot, d.markers, {});
  JointOptions options;
  options.robotNoiseM = 0.00003;
  options.robotNoiseRad = 0.005 * kDegree;
  const std::vector<int> mask;
  const JointProblem problem{false, d.robot, d.shots, mask, options};
  int iterations = 0;
  for (auto _ : state) {
    const JointSolution s = SolveJoint(problem, point.GetMarkerToBase(), point.GetCameraToFlange());
    if (!s.solved) state.SkipWithError("not solved");
    iterations = s.iterations;
    benchmark::DoNotOptimize(s.camera);
  }
  state.counters["iterations"] = iterations;
}

void Report(benchmark::State& state) {
  const Data d = MakeData(static_cast<int>(state.range(0)));
  const auto rows = TarnSim::RobotRows(d.scene, TarnSim::RowFormat::Fanuc);
  ReportOptions options;
  options.setupCheck = false;
  options.robotNoiseMm = 0.03;
  options.robotNoiseDeg = 0.005;
  if (state.range(1) != 0) options.shots = d.planes;
  for (auto _ : state) {
    CalibrationReport report;
    SolveCalibrationReport(d.scene.Markers(), rows, AlgoParam{}, RobotKind::Fanuc, options, report);
    benchmark::DoNotOptimize(report.result.rmsError);
  }
}

void Suggest(benchmark::State& state) {
  const Data d = MakeData(static_cast<int>(state.range(0)));
  const auto rows = TarnSim::RobotRows(d.scene, TarnSim::RowFormat::Fanuc);
  SuggestOptions options;
  options.robotNoiseMm = 0.03;
  options.robotNoiseDeg = 0.005;
  if (state.range(1) != 0) options.shots = d.planes;
  for (auto _ : state) {
    PoseSuggestions next;
    SuggestNextPoses(d.scene.Markers(), rows, AlgoParam{}, RobotKind::Fanuc, options, next);
    benchmark::DoNotOptimize(next.sigmaMm);
  }
}

// Five new shots (the scene's last) checked against the calibration of the others, saved with its covariance and,
// for /1, its board plane, the shots' normals judged too.
void Check(benchmark::State& state) {
  const Data d = MakeData(25);
  const auto rows = TarnSim::RobotRows(d.scene, TarnSim::RowFormat::Fanuc);
  const auto markers = d.scene.Markers();
  const std::vector<MarkerBoardResult> first(markers.begin(), markers.begin() + 20);
  ReportOptions options;
  options.setupCheck = false;
  options.shots.assign(d.planes.begin(), d.planes.begin() + 20);
  CalibrationReport report;
  SolveCalibrationReport(first, RobotRows(rows.begin(), rows.begin() + 20), AlgoParam{}, RobotKind::Fanuc, options,
                         report);
  SavedCalibration saved;
  saved.cameraMatrix = report.result.cameraMatrix;
  saved.markerPosition = report.result.markerPosition;
  saved.rmsErrorMm = report.result.rmsError;
  saved.covariance = report.covariance;
  if (state.range(0) != 0) {
    saved.model = report.model;
    saved.board = report.board;
  }
  const std::vector<MarkerBoardResult> shots(markers.begin() + 20, markers.end());
  const std::vector<ShotPlane> planes(d.planes.begin() + 20, d.planes.end());
  const RobotRows shotRows(rows.begin() + 20, rows.end());
  for (auto _ : state) {
    CalibrationCheck check;
    CheckCalibration(shots, planes, shotRows, AlgoParam{}, RobotKind::Fanuc, saved, {}, check);
    if (check.shotsWithNormal != (state.range(0) != 0 ? 5 : 0)) state.SkipWithError("normals not judged as asked");
    benchmark::DoNotOptimize(check.pValue);
  }
}

BENCHMARK(PointSolve)->Arg(10)->Arg(20)->Arg(40)->Arg(80)->Arg(160)->Unit(benchmark::kMicrosecond);
BENCHMARK(JointSolve)->Arg(10)->Arg(20)->Arg(40)->Arg(80)->Arg(160)->Unit(benchmark::kMicrosecond);
BENCHMARK(Report)->Args({20, 0})->Args({20, 1})->Args({160, 0})->Args({160, 1})->Unit(benchmark::kMicrosecond);
BENCHMARK(Suggest)->Args({20, 0})->Args({20, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(Check)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return RunBenchmarksQuietly(argc, argv); }
