// SPDX-License-Identifier: Apache-2.0
// Integrators run one calibration per camera in parallel: every exported function may be called from
// several threads at once, each call independent of the others, with the result a single thread gets.
// Built and run under ThreadSanitizer as well (make tsan-test).

#include <Kel/Logger.h>
#include <tarn/CalibrationCheck.h>
#include <tarn/CalibrationReport.h>
#include <tarn/FittedMarkerDetect.h>
#include <tarn/MarkerDetect.h>
#include <tarn/Output.h>
#include <tarn/PoseSuggestion.h>
#include <tarn/SolveFinalResult.h>

#include "HandEyeScene.h"
#include "MarkerRenderer.h"

#include "ProcessTempFiles.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace TamoHandEye;
using TarnSim::RowFormat;

constexpr int kThreads = 8;
constexpr int kRounds = 3;

// Everything a call produced, flattened, so that two runs compare bit for bit.
struct Outcome {
  int code = -1;
  std::vector<double> values;
  bool operator==(const Outcome& o) const {
    return code == o.code && values.size() == o.values.size() &&
           std::memcmp(values.data(), o.values.data(), values.size() * sizeof(double)) == 0;
  }
};

Outcome Flatten(ErrorCode code, const FinalResult& r) {
  Outcome o{static_cast<int>(code), {}};
  o.values = r.cameraPose;
  for (const auto& row : r.cameraMatrix) o.values.insert(o.values.end(), row.begin(), row.end());
  o.values.insert(o.values.end(), r.markerPosition.begin(), r.markerPosition.end());
  o.values.push_back(r.rmsError);
  o.values.push_back(r.maxError);
  for (const PoseResidual& p : r.residuals) o.values.insert(o.values.end(), {p.distance, p.dx, p.dy, p.dz});
  for (const int m : r.mask) o.values.push_back(m);
  return o;
}

Outcome Flatten(ErrorCode code, const MarkerBoardResult& m) {
  return Outcome{static_cast<int>(code), {m.x, m.y, m.z, m.u, m.v}};
}

using Job = std::function<Outcome()>;

std::vector<Job> Jobs() {
  std::vector<Job> jobs;
  // The six solve entry points on noisy scenes of both set-ups.
  TarnSim::SceneOptions options;
  options.poses = 15;
  options.pointNoise = 0.0003;
  const TarnSim::Scene inHand = TarnSim::MakeScene(options);
  options.eyeToHand = true;
  options.seed = 2;
  const TarnSim::Scene toHand = TarnSim::MakeScene(options);
  struct Solve {
    const TarnSim::Scene* scene;
    RowFormat format;
    ErrorCode (*entry)(const std::vector<MarkerBoardResult>&, const std::vector<std::vector<double>>&, const AlgoParam&,
                       FinalResult&);
  };
  for (const Solve& s :
       {Solve{&inHand, RowFormat::Fanuc, FanucSolveFinalResult}, Solve{&toHand, RowFormat::Kuka, KukaSolveFinalResult},
        Solve{&inHand, RowFormat::AbbQuat, ABBQuatSolveFinalResult}, Solve{&toHand, RowFormat::Ur, UrSolveFinalResult},
        Solve{&inHand, RowFormat::Kuka, Common3SolveFinalResult},
        Solve{&toHand, RowFormat::Xyzw, Common4SolveFinalResult}}) {
    const auto markers = s.scene->Markers();
    const auto rows = TarnSim::RobotRows(*s.scene, s.format, false, s.format == RowFormat::Ur);
    AlgoParam param;
    param.HandEyeType = s.scene->eyeToHand ? 1 : 0;
    param.IsRadian = s.format == RowFormat::Ur;
    jobs.push_back([=] {
      FinalResult result;
      const ErrorCode code = s.entry(markers, rows, param, result);
      return Flatten(code, result);
    });
  }

  // Detection through both forms and both namespaces, a success and a failure after every attempt.
  TarnSim::ShotOptions shot;
  shot.width = 480;
  shot.height = 360;
  shot.focal = 520;
  shot.blurSigma = 0.7;
  const TarnSim::Shot clean = TarnSim::RenderShot(shot);
  shot.markers = {Eigen::Vector2d(-0.06, 0.0), Eigen::Vector2d(0.07, 0.02)};
  const TarnSim::Shot two = TarnSim::RenderShot(shot);
  const std::string stem = TarnTest::ProcessTempPath("concurrent");
  cv::imwrite(stem + ".png", clean.image);
  TarnSim::WritePly(stem + ".ply", clean.cloud);
  jobs.push_back([=] {
    MarkerBoardResult m{};
    return Flatten(SolveMarkerBoardResults(clean.image, clean.cloud, m), m);
  });
  jobs.push_back([=] {
    MarkerBoardResult m{};
    return Flatten(SolveMarkerBoardResults(stem + ".png", stem + ".ply", m), m);
  });
  jobs.push_back([=] {
    Detect::MarkerBoardResult m{};
    const Detect::ErrorCode code = Detect::SolveMarkerBoardResults(two.image, two.cloud, m);
    return Outcome{static_cast<int>(code), {m.x, m.y, m.z, m.u, m.v}};
  });
  jobs.push_back([=] {
    Detect::MarkerBoardResult m{};
    const Detect::ErrorCode code = Detect::SolveMarkerBoardResults(stem + ".png", stem + ".ply", m);
    return Outcome{static_cast<int>(code), {m.x, m.y, m.z, m.u, m.v}};
  });
  jobs.push_back([=] {
    MarkerBoardResult m{};
    MarkerFitQuality q;
    const ErrorCode code = SolveFittedMarkerResults(stem + ".png", stem + ".ply", m, q);
    return Outcome{static_cast<int>(code), {m.x, m.y, m.z, m.u, m.v, q.ratioDeviation, q.planeRmsMm}};
  });
  jobs.push_back([=] {
    MarkerPlaneResult p;
    MarkerFitQuality q;
    ImageIntrinsics k;
    k.fx = k.fy = 1000.0;
    k.cx = 100.0;
    k.cy = 80.0;
    k.k1 = 0.01;
    const ErrorCode code = SolveFittedMarkerPlane(stem + ".png", stem + ".ply", p, q, &k);
    return Outcome{static_cast<int>(code), {p.x, p.y, p.z, p.nx, p.ny, p.nz, p.centreCovariance[8]}};
  });
  jobs.push_back([=] {
    const ShotFileProblem problem = DescribeShotFiles(stem + ".png", stem + "-missing.ply");
    return Outcome{static_cast<int>(problem.file), {static_cast<double>(problem.reason.size())}};
  });
  // The calibration report with the pose search (seeded) and, on reversed rows, the set-up check.
  for (const bool reversed : {false, true}) {
    const auto markers = inHand.Markers();
    auto rows = TarnSim::RobotRows(inHand, RowFormat::Kuka);
    if (reversed) std::reverse(rows.begin(), rows.end());
    AlgoParam param;
    param.Exhaust = !reversed;
    param.RansacDist = 0.002;
    jobs.push_back([=] {
      CalibrationReport report;
      const ErrorCode code = SolveCalibrationReport(markers, rows, param, RobotKind::Common3, ReportOptions{}, report);
      Outcome o = Flatten(code, report.result);
      o.values.insert(o.values.end(), report.leaveOneOutMm.begin(), report.leaveOneOutMm.end());
      o.values.push_back(report.uncertainty.translationNormMm);
      o.values.push_back(static_cast<double>(report.alternatives.size() + 100 * report.warnings.size()));
      return o;
    });
  }
  // The next poses, and the shots checked against the scene's true transforms as a saved calibration.
  const auto markers = inHand.Markers();
  const auto rows = TarnSim::RobotRows(inHand, RowFormat::Fanuc);
  jobs.push_back([=] {
    PoseSuggestions s;
    const ErrorCode code = SuggestNextPoses(markers, rows, AlgoParam{}, RobotKind::Fanuc, SuggestOptions{}, s);
    Outcome o{static_cast<int>(code), {s.sigmaMm}};
    for (const PoseSuggestion& p : s.suggestions) {
      o.values.insert(o.values.end(), p.row.begin(), p.row.end());
      o.values.push_back(p.sigmaMmAfter);
    }
    return o;
  });
  SavedCalibration saved;
  for (int r = 0; r < 4; ++r) {
    std::vector<double>& row = saved.cameraMatrix.emplace_back();
    for (int c = 0; c < 4; ++c) row.push_back(inHand.camera.matrix()(r, c) * (c == 3 && r < 3 ? 1000.0 : 1.0));
  }
  for (int k = 0; k < 3; ++k) saved.markerPosition.push_back(1000.0 * inHand.marker[k]);
  jobs.push_back([=] {
    CalibrationCheck c;
    const ErrorCode code = CheckCalibration(markers, rows, AlgoParam{}, RobotKind::Fanuc, saved, CheckOptions{}, c);
    Outcome o{static_cast<int>(code), {c.rmsMm, c.maxMm, c.limitMm, c.displacementNormMm}};
    for (const ShotCheck& s : c.shots) o.values.push_back(s.residualMm);
    return o;
  });
  // The same check with a calibration's covariance, and suggestions kept inside an image.
  CalibrationReport report;
  SolveCalibrationReport(markers, rows, AlgoParam{}, RobotKind::Fanuc, ReportOptions{}, report);
  saved.covariance = report.covariance;
  jobs.push_back([=] {
    CalibrationCheck c;
    const ErrorCode code = CheckCalibration(markers, rows, AlgoParam{}, RobotKind::Fanuc, saved, CheckOptions{}, c);
    return Outcome{
        static_cast<int>(code),
        {c.detectableShiftMm, c.detectableTurnDeg, c.pValue, static_cast<double>(c.moreShots), c.displacementNormMm}};
  });
  jobs.push_back([=] {
    SuggestOptions inImage;
    inImage.camera = {1200.0, 1200.0, 640.0, 480.0, 1280, 960};
    PoseSuggestions s;
    const ErrorCode code = SuggestNextPoses(markers, rows, AlgoParam{}, RobotKind::Fanuc, inImage, s);
    Outcome o{static_cast<int>(code), {s.sigmaMm}};
    for (const PoseSuggestion& p : s.suggestions) o.values.insert(o.values.end(), {p.u, p.v, p.sigmaMmAfter});
    return o;
  });
  jobs.push_back([=] {
    CameraPinhole p;
    const bool found = EstimateCameraPinhole(stem + ".png", stem + ".ply", p);
    return Outcome{found ? 0 : 1, {p.fx, p.fy, p.cx, p.cy, static_cast<double>(p.width)}};
  });
  return jobs;
}

// Detection and the solver print progress lines; the library's switch keeps them out of the test's log.
class QuietLibrary {
 public:
  QuietLibrary() { SetStandardOutputTexts(false); }
  ~QuietLibrary() { SetStandardOutputTexts(true); }
  QuietLibrary(const QuietLibrary&) = delete;
  QuietLibrary& operator=(const QuietLibrary&) = delete;
};

TEST(ConcurrentCalls, SolvesDetectionsAndLoggersFromEightThreads) {
  const std::vector<Job> jobs = Jobs();
  const QuietLibrary quiet;
  std::vector<Outcome> reference;
  for (const Job& job : jobs) reference.push_back(job());
  ASSERT_EQ(reference[0].code, Success);
  ASSERT_EQ(reference[6].code, Success);
  ASSERT_EQ(reference[8].code, Err_Algo_Marker_Fail_ExceedOneCircle);
  ASSERT_EQ(reference[9].code, Success);
  ASSERT_EQ(reference[10].code, Success);
  ASSERT_EQ(reference[11].code, Success);
  ASSERT_EQ(reference[12].code, ShotFileProblem::PointCloud);
  for (std::size_t k = 13; k < reference.size(); ++k) ASSERT_EQ(reference[k].code, Success) << k;

  const std::string logFile = TarnTest::ProcessTempPath("concurrent.log");
  std::atomic<int> mismatches{0};
  std::atomic<int> exceptions{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      try {
        for (int round = 0; round < kRounds; ++round) {
          for (std::size_t k = 0; k < jobs.size(); ++k) {
            // Each thread walks the jobs from its own starting point, so different calls overlap.
            const std::size_t j = (k + static_cast<std::size_t>(t)) % jobs.size();
            if (!(jobs[j]() == reference[j])) mismatches.fetch_add(1);
            const auto logger = Kel::Logger::GetConsoleLogger("camera-" + std::to_string((t + round) % 3));
            logger->SetLevel(round % 2 ? 6 : 5);
            logger->Write(4, "pose {} of camera {}", k, t);  // below both levels: checked, not written
            (void)Kel::Logger::Get("Kel")->ShouldLog(3);
            Kel::Logger::GetFileLogger("cameras-file", logFile)->Write(5, "thread {} round {}", t, round);
          }
        }
      } catch (...) {
        exceptions.fetch_add(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(exceptions.load(), 0);
}

}  // namespace
