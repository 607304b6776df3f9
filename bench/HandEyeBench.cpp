// SPDX-License-Identifier: Apache-2.0
// Time of one calibration through the entry points, 20 poses, on a synthetic scene with 0.3 mm point
// noise.
//   make build && build/bench/handeye_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// The pose search costs at most 100 sample solves plus two final ones; "NoConsensus" forces all 100
// (no pose is ever an inlier), the worst case. The generic three-angle entry point runs the whole
// calibration once per candidate convention (25).
//
// "Report*" runs the same calibration through the calibration report (uncertainty, leave-one-out, pose set,
// warnings, and the set-up check, which solves every alternative reading whatever the fit): beside
// "FanucNoSearch" its own cost shows, and beside "ReportFanucNoSetupCheck" the set-up check's. "…SetupCheck"
// gives it a poor fit (KUKA rows read as FANUC, or generic rows in reverse order); "ReportCommon3Clean" is a
// good generic set (25 conventions per reading). "ReportFanucSearchFromData" searches without a distance.
// "Check*" checks five new shots against a saved calibration, with and without its covariance.
//
// "ReportCommon3Search…" is the generic three-angle report with the pose search, one or two 50 mm outliers.
// "ReportPoses" is the report at 20, 200 and 2,000 poses (and the fitted growth).
// "Suggest" proposes three next poses (a calibration, then every candidate scored for each of the three)
// for 6, 20 and 200 poses taken; beside "FanucNoSearchPoses" the candidates' own cost shows.

#include <tarn/CalibrationCheck.h>
#include <tarn/CalibrationReport.h>
#include <tarn/PoseSuggestion.h>
#include <tarn/SolveFinalResult.h>

#include "HandEyeScene.h"

#include <benchmark/benchmark.h>

#include "QuietBenchmarkMain.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>

namespace {

using namespace TamoHandEye;

struct Data {
  std::vector<MarkerBoardResult> markers;
  RobotRows fanuc;
  RobotRows kuka;
  RobotRows kukaReversed;
  std::vector<MarkerBoardResult> cleanMarkers;  ///< the same poses without the outlier
  RobotRows cleanFanuc;
  RobotRows cleanKuka;
};

const Data& Scene20() {
  static const Data data = [] {
    TarnSim::SceneOptions options;
    options.poses = 20;
    options.pointNoise = 0.0003;
    options.outliers = {4};
    const TarnSim::Scene scene = TarnSim::MakeScene(options);
    RobotRows kuka = TarnSim::RobotRows(scene, TarnSim::RowFormat::Kuka);
    options.outliers.clear();
    const TarnSim::Scene clean = TarnSim::MakeScene(options);
    return Data{scene.Markers(),
                TarnSim::RobotRows(scene, TarnSim::RowFormat::Fanuc),
                kuka,
                RobotRows(kuka.rbegin(), kuka.rend()),
                clean.Markers(),
                TarnSim::RobotRows(clean, TarnSim::RowFormat::Fanuc),
                TarnSim::RobotRows(clean, TarnSim::RowFormat::Kuka)};
  }();
  return data;
}

void Run(benchmark::State& state,
         ErrorCode (*entry)(const std::vector<MarkerBoardResult>&, const RobotRows&, const AlgoParam&, FinalResult&),
         const RobotRows& rows, bool exhaust, double ransacDist) {
  AlgoParam param;
  param.Exhaust = exhaust;
  param.RansacDist = ransacDist;
  const Data& data = Scene20();
  for (auto _ : state) {
    FinalResult result;
    const ErrorCode code = entry(data.markers, rows, param, result);
    benchmark::DoNotOptimize(code);
    benchmark::DoNotOptimize(result.rmsError);
  }
}

void FanucNoSearch(benchmark::State& state) { Run(state, FanucSolveFinalResult, Scene20().fanuc, false, 0.0); }
void FanucSearch(benchmark::State& state) { Run(state, FanucSolveFinalResult, Scene20().fanuc, true, 0.003); }
void FanucSearchNoConsensus(benchmark::State& state) { Run(state, FanucSolveFinalResult, Scene20().fanuc, true, 0.0); }
void Common3Search(benchmark::State& state) { Run(state, Common3SolveFinalResult, Scene20().kuka, true, 0.003); }
void Common3SearchNoConsensus(benchmark::State& state) {
  Run(state, Common3SolveFinalResult, Scene20().kuka, true, 0.0);
}

void Report(benchmark::State& state, RobotKind kind, const RobotRows& rows, bool setupCheck,
            const std::vector<MarkerBoardResult>& markers = Scene20().markers, const AlgoParam& param = {}) {
  ReportOptions options;
  options.setupCheck = setupCheck;
  for (auto _ : state) {
    CalibrationReport report;
    const ErrorCode code = SolveCalibrationReport(markers, rows, param, kind, options, report);
    benchmark::DoNotOptimize(code);
    benchmark::DoNotOptimize(report.uncertainty.translationNormMm);
  }
}

void ReportFanuc(benchmark::State& state) {
  Report(state, RobotKind::Fanuc, Scene20().cleanFanuc, true, Scene20().cleanMarkers);
}
void ReportFanucOutlier(benchmark::State& state) { Report(state, RobotKind::Fanuc, Scene20().fanuc, false); }
void ReportFanucOutlierSetupCheck(benchmark::State& state) { Report(state, RobotKind::Fanuc, Scene20().fanuc, true); }
void ReportFanucSetupCheck(benchmark::State& state) { Report(state, RobotKind::Fanuc, Scene20().kuka, true); }
void ReportFanucPoorFitNoSetupCheck(benchmark::State& state) { Report(state, RobotKind::Fanuc, Scene20().kuka, false); }
void ReportCommon3SetupCheck(benchmark::State& state) {
  Report(state, RobotKind::Common3, Scene20().kukaReversed, true);
}
void ReportFanucNoSetupCheck(benchmark::State& state) {
  Report(state, RobotKind::Fanuc, Scene20().cleanFanuc, false, Scene20().cleanMarkers);
}
void ReportCommon3Clean(benchmark::State& state) {
  Report(state, RobotKind::Common3, Scene20().cleanKuka, true, Scene20().cleanMarkers);
}
// The pose search without a distance: a first solve gives it from the data's noise.
void ReportFanucSearchFromData(benchmark::State& state) {
  AlgoParam param;
  param.Exhaust = true;
  Report(state, RobotKind::Fanuc, Scene20().fanuc, true, Scene20().markers, param);
}

// Five new shots checked against a calibration saved with its covariance (the verdict that knows what the
// shots can see, with how many more shots would see 1 mm) and without it (the RMS limit).
void Check(benchmark::State& state, bool covariance) {
  const Data& data = Scene20();
  CalibrationReport report;
  SolveCalibrationReport(data.cleanMarkers, data.cleanFanuc, AlgoParam{}, RobotKind::Fanuc, {}, report);
  SavedCalibration saved;
  saved.cameraMatrix = report.result.cameraMatrix;
  saved.markerPosition = report.result.markerPosition;
  saved.rmsErrorMm = report.result.rmsError;
  saved.leaveOneOutMm = report.leaveOneOutMm;
  if (covariance) saved.covariance = report.covariance;
  const std::vector<MarkerBoardResult> markers(data.cleanMarkers.begin(), data.cleanMarkers.begin() + 5);
  const RobotRows rows(data.cleanFanuc.begin(), data.cleanFanuc.begin() + 5);
  for (auto _ : state) {
    CalibrationCheck check;
    benchmark::DoNotOptimize(CheckCalibration(markers, rows, AlgoParam{}, RobotKind::Fanuc, saved, {}, check));
  }
}
void CheckWithCovariance(benchmark::State& state) { Check(state, true); }
void CheckByLimit(benchmark::State& state) { Check(state, false); }

// A scene of the benchmark's argument in poses: its markers and FANUC rows.
std::pair<std::vector<MarkerBoardResult>, RobotRows> ScenePoses(const benchmark::State& state) {
  TarnSim::SceneOptions options;
  options.poses = static_cast<int>(state.range(0));
  options.pointNoise = 0.0003;
  const TarnSim::Scene scene = TarnSim::MakeScene(options);
  return {scene.Markers(), TarnSim::RobotRows(scene, TarnSim::RowFormat::Fanuc)};
}

// One solve without the search as the pose count grows: the time should grow as the count does.
void FanucNoSearchPoses(benchmark::State& state) {
  const auto [markers, rows] = ScenePoses(state);
  for (auto _ : state) {
    FinalResult result;
    benchmark::DoNotOptimize(FanucSolveFinalResult(markers, rows, AlgoParam{}, result));
  }
  state.SetComplexityN(state.range(0));
}

// The whole report (default options) as the pose count grows: it should grow as the count does.
void ReportPoses(benchmark::State& state) {
  const auto [markers, rows] = ScenePoses(state);
  Report(state, RobotKind::Fanuc, rows, true, markers);
  state.SetComplexityN(state.range(0));
}
void ReportPosesNoSetupCheck(benchmark::State& state) {
  const auto [markers, rows] = ScenePoses(state);
  Report(state, RobotKind::Fanuc, rows, false, markers);
  state.SetComplexityN(state.range(0));
}

// The generic three-angle report with the pose search from the data's noise, as `tarn calibrate --robot
// generic3 --ransac` runs it: the argument's poses, 0.3 mm noise and 50 mm outliers, two at 20 poses
// ("…Two") or one.
void ReportCommon3Search(benchmark::State& state, std::vector<int> outliers) {
  TarnSim::SceneOptions options;
  options.poses = static_cast<int>(state.range(0));
  options.pointNoise = 0.0003;
  options.outliers = std::move(outliers);
  const TarnSim::Scene scene = TarnSim::MakeScene(options);
  AlgoParam param;
  param.Exhaust = true;
  Report(state, RobotKind::Common3, TarnSim::RobotRows(scene, TarnSim::RowFormat::Kuka), true, scene.Markers(), param);
}
void ReportCommon3SearchTwo(benchmark::State& state) { ReportCommon3Search(state, {4, 11}); }
void ReportCommon3SearchOne(benchmark::State& state) { ReportCommon3Search(state, {4}); }

void Suggest(benchmark::State& state) {
  const auto [markers, rows] = ScenePoses(state);
  for (auto _ : state) {
    PoseSuggestions suggestions;
    benchmark::DoNotOptimize(
        SuggestNextPoses(markers, rows, AlgoParam{}, RobotKind::Fanuc, SuggestOptions{}, suggestions));
  }
}

BENCHMARK(FanucNoSearch)->Unit(benchmark::kMicrosecond);
BENCHMARK(Suggest)->Arg(6)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(FanucNoSearchPoses)->Arg(20)->Arg(200)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReportFanuc)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReportPoses)->Arg(20)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
BENCHMARK(ReportPosesNoSetupCheck)
    ->Arg(20)
    ->Arg(200)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(ReportFanucNoSetupCheck)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReportCommon3Clean)->Unit(benchmark::kMillisecond);
BENCHMARK(ReportFanucSearchFromData)->Unit(benchmark::kMillisecond);
BENCHMARK(CheckWithCovariance)->Unit(benchmark::kMicrosecond);
BENCHMARK(CheckByLimit)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReportFanucOutlier)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReportFanucOutlierSetupCheck)->Unit(benchmark::kMillisecond);
BENCHMARK(ReportFanucPoorFitNoSetupCheck)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReportFanucSetupCheck)->Unit(benchmark::kMillisecond);
BENCHMARK(ReportCommon3SetupCheck)->Unit(benchmark::kMillisecond);
BENCHMARK(FanucSearch)->Unit(benchmark::kMicrosecond);
BENCHMARK(FanucSearchNoConsensus)->Unit(benchmark::kMicrosecond);
BENCHMARK(Common3Search)->Unit(benchmark::kMillisecond);
BENCHMARK(ReportCommon3SearchTwo)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(ReportCommon3SearchOne)->Arg(20)->Arg(32)->Arg(48)->Arg(64)->Arg(80)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(Common3SearchNoConsensus)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return RunBenchmarksQuietly(argc, argv, nullptr); }
