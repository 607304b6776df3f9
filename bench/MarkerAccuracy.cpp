// SPDX-License-Identifier: Apache-2.0
// Accuracy of the two ways of finding the marker's centre, against rendered truth.
//   make build && build/bench/marker_accuracy [--quick | --effects]   (--effects: part 3 only)
//
// 1. Single shots: image centre (px) and 3D centre (mm) errors of the centroids' centre and of the
//    fitted one, for views tilted 0 to 50° at three resolutions and two depth noises.
// 2. Rendered workflows as `tarn synth` writes them (12 eye-in-hand shots, FANUC rows, depth noise,
//    grey noise, blur), several seeds and resolutions: the camera transform's error against the truth
//    after detecting every shot with each method and calibrating.
// 3. Rendered workflows with the effects of real sensors (12 eye-in-hand shots at 1280 x 1024): black rings
//    read 1 mm farther; whites clipped at gain 3 on a 2 px blur; an image with k1 = 0.05 that the cloud
//    does not have, given to the fit as the 2D camera's intrinsics and not given. Each: the camera's error,
//    refused shots, and whether the report raised "registration".
// The tables go to standard error (the library's progress lines to standard output are discarded).

#include <tarn/CalibrationReport.h>
#include <tarn/FittedMarkerDetect.h>
#include <tarn/MarkerDetect.h>
#include <tarn/SolveFinalResult.h>

#include "DataSet.h"
#include "HandEyeScene.h"
#include "MarkerRenderer.h"

#include <fcntl.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace TamoHandEye;
namespace fs = std::filesystem;
constexpr double kPi = 3.14159265358979323846;

struct Stats {
  double sum = 0.0, worst = 0.0;
  int n = 0;
  void Add(double v) {
    sum += v;
    worst = std::max(worst, v);
    ++n;
  }
  double Mean() const { return n ? sum / n : 0.0; }
};

void SingleShots(bool quick) {
  std::fprintf(stderr, "## Single shots\n\n");
  std::fprintf(stderr,
               "| resolution | depth noise (mm) | tilt (deg) | centroids: px | mm | fitted: px | mm | ratio dev |\n");
  std::fprintf(stderr, "|---|---:|---:|---:|---:|---:|---:|---:|\n");
  struct Size {
    int width, height;
    double focal, distance;
  };
  const std::vector<Size> sizes =
      quick ? std::vector<Size>{{640, 480, 600, 0.45}}
            : std::vector<Size>{{640, 480, 600, 0.45}, {1280, 1024, 1150, 0.55}, {1920, 1200, 1700, 0.65}};
  Stats fitPx, fitMm, centroidPx, centroidMm;
  for (const Size& size : sizes) {
    for (const double noise : {0.2, 0.5}) {
      for (const double tilt : {0.0, 10.0, 20.0, 30.0, 40.0, 50.0}) {
        Stats cpx, cmm, fpx, fmm, dev;
        for (const double azimuth : {0.0, 60.0, 135.0}) {
          TarnSim::ShotOptions o;
          o.width = size.width;
          o.height = size.height;
          o.focal = size.focal;
          Eigen::Isometry3d view = Eigen::Isometry3d::Identity();
          view.translate(Eigen::Vector3d(0.02, -0.01, size.distance));
          const Eigen::Vector3d axis(std::cos(azimuth * kPi / 180), std::sin(azimuth * kPi / 180), 0.0);
          view.rotate(Eigen::AngleAxisd(tilt * kPi / 180, axis));
          o.cameraFromBoard = view;
          o.supersample = 3;
          o.blurSigma = 0.8;
          o.greyNoise = 2.0;
          o.depthNoise = noise / 1000.0;
          o.boardHalfWidth = o.boardHalfHeight = 1.0;
          o.seed = static_cast<unsigned>(tilt + azimuth);
          const TarnSim::Shot shot = TarnSim::RenderShot(o);
          MarkerBoardResult c, f;
          MarkerFitQuality q;
          const auto pixel = [&](const MarkerBoardResult& r) {
            return std::hypot(r.u - shot.centres[0].x(), r.v - shot.centres[0].y());
          };
          const auto mm = [&](const MarkerBoardResult& r) {
            return 1000.0 * (Eigen::Vector3d(r.x, r.y, r.z) - shot.points[0]).norm();
          };
          if (SolveMarkerBoardResults(shot.image, shot.cloud, c) == Success) {
            cpx.Add(pixel(c));
            cmm.Add(mm(c));
          }
          if (SolveFittedMarkerResults(shot.image, shot.cloud, f, q) == Success) {
            fpx.Add(pixel(f));
            fmm.Add(mm(f));
            dev.Add(q.ratioDeviation);
          }
        }
        std::fprintf(stderr, "| %dx%d | %.1f | %.0f | %.3f | %.3f | %.4f | %.4f | %.4f |\n", size.width, size.height,
                     noise, tilt, cpx.worst, cmm.worst, fpx.worst, fmm.worst, dev.worst);
        for (const auto& [all, one] :
             {std::pair{&fitPx, &fpx}, {&fitMm, &fmm}, {&centroidPx, &cpx}, {&centroidMm, &cmm}}) {
          all->sum += one->sum;
          all->n += one->n;
          all->worst = std::max(all->worst, one->worst);
        }
      }
    }
  }
  std::fprintf(stderr,
               "\n(worst of three azimuths per row) Over all %d shots: centroids %.3f px mean, %.3f px max, "
               "%.3f mm mean, %.3f mm max; fitted %.4f px mean, %.4f px max, %.4f mm mean, %.4f mm max\n\n",
               centroidPx.n, centroidPx.Mean(), centroidPx.worst, centroidMm.Mean(), centroidMm.worst, fitPx.Mean(),
               fitPx.worst, fitMm.Mean(), fitMm.worst);
}

std::vector<std::vector<double>> ReadRows(const fs::path& path) {
  std::vector<std::vector<double>> rows;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<double> row;
    double v = 0.0;
    while (words >> v) row.push_back(v);
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

void Workflows(bool quick) {
  std::fprintf(stderr, "## Rendered workflows (12 eye-in-hand shots, FANUC rows)\n\n");
  std::fprintf(stderr, "| resolution | depth noise (mm) | seed | centroids: mm | deg | fitted: mm | deg |\n");
  std::fprintf(stderr, "|---|---:|---:|---:|---:|---:|---:|\n");
  const fs::path dir = fs::temp_directory_path() / "tarn-marker-accuracy";
  struct Set {
    int width, height;
    double noise;
    unsigned seed;
  };
  std::vector<Set> sets = {{640, 480, 0.2, 1},   {640, 480, 0.5, 2},   {1024, 768, 0.2, 3},  {1024, 768, 0.5, 4},
                           {1280, 1024, 0.3, 5}, {1280, 1024, 0.5, 6}, {1920, 1200, 0.2, 7}, {1920, 1200, 0.5, 8}};
  if (quick) sets.resize(2);
  Stats fitMm, fitDeg, centroidMm, centroidDeg;
  for (const Set& set : sets) {
    TarnSim::SynthOptions synth;
    synth.folder = dir.string();
    synth.poses = 12;
    synth.noiseMm = set.noise;
    synth.seed = set.seed;
    synth.width = set.width;
    synth.height = set.height;
    synth.force = true;
    TarnSim::Synthesise(synth);
    std::ifstream truthFile(dir / "truth.json");
    const nlohmann::json truth = nlohmann::json::parse(truthFile);
    Eigen::Matrix4d expected;
    for (int r = 0; r < 4; ++r) {
      for (int k = 0; k < 4; ++k) expected(r, k) = truth["camera"]["matrixMm"][std::size_t(r)][std::size_t(k)];
    }
    const auto rows = ReadRows(dir / "robot.txt");
    double errors[2][2] = {{-1, -1}, {-1, -1}};
    for (int method = 0; method < 2; ++method) {
      std::vector<MarkerBoardResult> markers;
      for (int i = 0; i < synth.poses; ++i) {
        const std::string image = (dir / "images" / ("shot_" + std::to_string(i) + ".png")).string();
        const std::string cloud = (dir / "clouds" / ("shot_" + std::to_string(i) + ".ply")).string();
        MarkerBoardResult m;
        const ErrorCode code =
            method == 0 ? SolveMarkerBoardResults(image, cloud, m) : SolveFittedMarkerResults(image, cloud, m);
        if (code == Success) markers.push_back(m);
      }
      FinalResult result;
      if (markers.size() != rows.size() || FanucSolveFinalResult(markers, rows, {}, result) != Success) continue;
      Eigen::Matrix4d solved;
      for (int r = 0; r < 4; ++r) {
        for (int k = 0; k < 4; ++k) solved(r, k) = result.cameraMatrix[std::size_t(r)][std::size_t(k)];
      }
      errors[method][0] = (solved.topRightCorner<3, 1>() - expected.topRightCorner<3, 1>()).norm();
      errors[method][1] =
          Eigen::AngleAxisd(Eigen::Matrix3d(solved.topLeftCorner<3, 3>() * expected.topLeftCorner<3, 3>().transpose()))
              .angle() *
          180.0 / kPi;
    }
    std::fprintf(stderr, "| %dx%d | %.1f | %u | %.3f | %.4f | %.4f | %.5f |\n", set.width, set.height, set.noise,
                 set.seed, errors[0][0], errors[0][1], errors[1][0], errors[1][1]);
    centroidMm.Add(errors[0][0]);
    centroidDeg.Add(errors[0][1]);
    fitMm.Add(errors[1][0]);
    fitDeg.Add(errors[1][1]);
  }
  std::fprintf(stderr,
               "\nOver %d workflows: centroids %.3f mm mean, %.3f mm max, %.4f deg max; fitted %.4f mm mean, "
               "%.4f mm max, %.5f deg max\n",
               fitMm.n, centroidMm.Mean(), centroidMm.worst, centroidDeg.worst, fitMm.Mean(), fitMm.worst,
               fitDeg.worst);
  fs::remove_all(dir);
}

struct Effect {
  const char* name;
  double darkBias, gain, blur, k1;
  bool told;  // the fit is given the image's k1
};

// One workflow with an effect: the camera's error (mm, deg), refused shots, and "registration" raised.
void SensorWorkflow(const Effect& e, unsigned seed, Stats& mm, Stats& deg, int& refused, int& raised) {
  TarnSim::SceneOptions sceneOptions;
  sceneOptions.poses = 12;
  sceneOptions.seed = seed;
  const TarnSim::Scene scene = TarnSim::MakeScene(sceneOptions);
  Eigen::Isometry3d board = Eigen::Isometry3d::Identity();
  board.translation() = scene.marker;
  const auto rows = TarnSim::RobotRows(scene, TarnSim::RowFormat::Fanuc);
  RobotRows kept;
  std::vector<MarkerBoardResult> markers;
  ReportOptions options;
  for (std::size_t i = 0; i < scene.flange.size(); ++i) {
    TarnSim::ShotOptions o;
    o.cameraFromBoard = (scene.flange[i] * scene.camera).inverse() * board;
    o.width = 1280;
    o.height = 1024;
    o.focal = 1150.0;
    o.supersample = 2;
    o.blurSigma = e.blur;
    o.gain = e.gain;
    o.greyNoise = 2.0;
    o.depthNoise = 0.0005;
    o.darkDepthBias = e.darkBias;
    o.imageDistortion[0] = e.k1;
    o.boardHalfWidth = o.boardHalfHeight = 1.0;
    o.seed = seed * 100 + static_cast<unsigned>(i);
    const TarnSim::Shot shot = TarnSim::RenderShot(o);
    ImageIntrinsics k;
    k.fx = k.fy = o.focal;
    k.cx = (o.width - 1) / 2.0;
    k.cy = (o.height - 1) / 2.0;
    k.k1 = e.told ? e.k1 : 0.0;
    MarkerBoardResult m{};
    MarkerFitQuality q;
    if (SolveFittedMarkerResults(shot.image, shot.cloud, k, m, q) != Success) {
      ++refused;  // the pose is left out, as an operator would
      continue;
    }
    markers.push_back(m);
    kept.push_back(rows[i]);
    options.outerRadiiMm.push_back(q.markerRadiusMm);
    options.outerRadiusSigmasMm.push_back(q.outerRadiusSigmaMm);
  }
  CalibrationReport report;
  if (SolveCalibrationReport(markers, kept, AlgoParam{}, RobotKind::Fanuc, options, report) != Success) {
    return;
  }
  Eigen::Matrix4d solved;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) solved(r, c) = report.result.cameraMatrix[std::size_t(r)][std::size_t(c)];
  }
  mm.Add((solved.topRightCorner<3, 1>() - 1000.0 * scene.camera.translation()).norm());
  deg.Add(Eigen::AngleAxisd(Eigen::Matrix3d(solved.topLeftCorner<3, 3>() * scene.camera.linear().transpose())).angle() *
          180.0 / kPi);
  for (const ReportWarning& w : report.warnings) raised += w.code == "registration" ? 1 : 0;
}

void SensorEffects(bool quick) {
  std::fprintf(stderr, "\n## Rendered workflows with real sensors' effects (12 shots, 1280 x 1024)\n\n");
  std::fprintf(stderr,
               "| effect | workflows | camera mm mean | max | deg max | shots refused | registration raised |\n");
  std::fprintf(stderr, "|---|---:|---:|---:|---:|---:|---:|\n");
  const Effect effects[] = {{"clean", 0.0, 1.0, 0.8, 0.0, false},
                            {"black rings 1 mm farther", 0.001, 1.0, 0.8, 0.0, false},
                            {"gain 3, blur 2 px", 0.0, 3.0, 2.0, 0.0, false},
                            {"image k1 0.05, given", 0.0, 1.0, 0.8, 0.05, true},
                            {"image k1 0.05, not given", 0.0, 1.0, 0.8, 0.05, false}};
  const unsigned seeds = quick ? 1 : 4;
  for (const Effect& e : effects) {
    Stats mm, deg;
    int refused = 0, raised = 0;
    for (unsigned seed = 1; seed <= seeds; ++seed) SensorWorkflow(e, seed, mm, deg, refused, raised);
    std::fprintf(stderr, "| %s | %d | %.4f | %.4f | %.5f | %d of %u | %d of %d |\n", e.name, mm.n, mm.Mean(), mm.worst,
                 deg.worst, refused, 12 * seeds, raised, mm.n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  std::fflush(stdout);
  ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
  if (argc > 1 && std::strcmp(argv[1], "--effects") == 0) {
    SensorEffects(false);
    return 0;
  }
  SingleShots(quick);
  Workflows(quick);
  SensorEffects(quick);
  return 0;
}
