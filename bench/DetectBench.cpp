// SPDX-License-Identifier: Apache-2.0
// Reading a shot of 1920 x 1200 (argument 0) or 2448 x 2048 (argument 1) and detecting its marker.
//   make build && build/bench/detect_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// PlainRead reads the PLY file into memory with read() and nothing else; ReadCloud is the reader, side
// by side. CleanShot and NoMarker run the whole path form (image read, the cloud's rows it needs,
// detection); compare them with the floor, ImageRead + PlainRead. With --keep-freed-memory the process
// keeps freed memory as the programs do. FittedShot is CleanShot with the fitted centre
// instead of the centroids'; FittedShotWithIntrinsics that with the 2D camera's intrinsics given. FitOnly is
// the fit alone (edges, plane, circles) on the shot's decoded image, its rings found once: on the whole
// cloud in memory (second argument 0), or with the cloud's rows read from the file as it asks for them
// and the caches holding other data (1), as in a batch.

#include <tarn/FittedMarkerDetect.h>
#include <tarn/MarkerDetect.h>

#include "detect/BoxMean.h"
#include "detect/ConcentricCircleMarker3D.h"
#include "detect/MedianFilter.h"
#include "detect/PlaneCircleFit.h"
#include "detect/PlyReader.h"

#include "MarkerRenderer.h"
#include "ProcessMemory.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include "QuietBenchmarkMain.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Files {
  std::string png, ply, blankPng, blankPly;
};

// Argument 0 of the benchmarks: the shot's size.
struct ShotSize {
  int width, height;
  double focal;
};
constexpr ShotSize kSizes[] = {{1920, 1200, 1700}, {2448, 2048, 2200}};

Files RenderShots(const ShotSize& size) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("tarn-detect-bench-" + std::to_string(size.width) + "x" + std::to_string(size.height));
  std::filesystem::create_directories(dir);
  TarnSim::ShotOptions options;
  options.width = size.width;
  options.height = size.height;
  options.focal = size.focal;
  options.cameraFromBoard =
      Eigen::Isometry3d(Eigen::Translation3d(0.02, -0.01, 0.7)) * Eigen::AngleAxisd(0.2, Eigen::Vector3d::UnitX());
  options.supersample = 2;
  options.blurSigma = 0.8;
  options.greyNoise = 2.0;
  options.depthNoise = 0.0003;
  Files f{(dir / "shot_1.png").string(), (dir / "shot_1.ply").string(), (dir / "blank_1.png").string(),
          (dir / "blank_1.ply").string()};
  const TarnSim::Shot shot = TarnSim::RenderShot(options);
  cv::imwrite(f.png, shot.image);
  TarnSim::WritePly(f.ply, shot.cloud);
  options.markers.clear();
  const TarnSim::Shot blank = TarnSim::RenderShot(options);
  cv::imwrite(f.blankPng, blank.image);
  TarnSim::WritePly(f.blankPly, blank.cloud);
  return f;
}

const Files& Shots(std::int64_t size = 0) {
  static const Files files[] = {RenderShots(kSizes[0]), RenderShots(kSizes[1])};
  return files[size];
}

void PlainRead(benchmark::State& state) {
  const std::string& path = Shots(state.range(0)).ply;
  const auto size = static_cast<std::size_t>(std::filesystem::file_size(path));
  // One buffer for every read, its pages touched once: the floor is the reading, not the first touch of
  // fresh memory (a cloud beyond 32 MiB would otherwise be mapped and faulted in anew on every read).
  std::vector<char> buffer(size, 1);
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t got = ::read(fd, buffer.data() + done, size - done);
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

void ReadCloud(benchmark::State& state) {
  const std::string& path = Shots(state.range(0)).ply;
  const ShotSize& shot = kSizes[state.range(0)];
  for (auto _ : state) {
    const cv::Mat cloud = TamoHandEye::Detect::ReadOrganizedCloud(path, shot.height, shot.width);
    benchmark::DoNotOptimize(cloud.data);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(path)));
}

void ImageRead(benchmark::State& state) {
  for (auto _ : state) {
    const cv::Mat image = cv::imread(Shots(state.range(0)).png, cv::IMREAD_UNCHANGED);
    benchmark::DoNotOptimize(image.data);
  }
}

void CleanShot(benchmark::State& state) {
  for (auto _ : state) {
    TamoHandEye::MarkerBoardResult result;
    const auto code =
        TamoHandEye::SolveMarkerBoardResults(Shots(state.range(0)).png, Shots(state.range(0)).ply, result);
    if (code != TamoHandEye::Success) state.SkipWithError("the marker was not found");
    benchmark::DoNotOptimize(result.u);
  }
}

// The same shot through the fitted centre: the difference to CleanShot is the fit's cost.
void FittedShot(benchmark::State& state) {
  for (auto _ : state) {
    TamoHandEye::MarkerBoardResult result;
    const auto code =
        TamoHandEye::SolveFittedMarkerResults(Shots(state.range(0)).png, Shots(state.range(0)).ply, result);
    if (code != TamoHandEye::Success) state.SkipWithError("the marker was not fitted");
    benchmark::DoNotOptimize(result.u);
  }
}

// The fitted centre given the 2D camera's intrinsics (the renderer's pinhole, k1 0.01): the edge points'
// undistortion and mapping into the cloud's grid is the difference to FittedShot.
void FittedShotWithIntrinsics(benchmark::State& state) {
  const ShotSize& size = kSizes[state.range(0)];
  TamoHandEye::ImageIntrinsics k;
  k.fx = k.fy = size.focal;
  k.cx = (size.width - 1) / 2.0;
  k.cy = (size.height - 1) / 2.0;
  k.k1 = 0.01;
  for (auto _ : state) {
    TamoHandEye::MarkerBoardResult result;
    TamoHandEye::MarkerFitQuality quality;
    const auto code =
        TamoHandEye::SolveFittedMarkerResults(Shots(state.range(0)).png, Shots(state.range(0)).ply, k, result, quality);
    if (code != TamoHandEye::Success) state.SkipWithError("the marker was not fitted");
    benchmark::DoNotOptimize(result.u);
  }
}

void NoMarker(benchmark::State& state) {
  for (auto _ : state) {
    TamoHandEye::MarkerBoardResult result;
    const auto code =
        TamoHandEye::SolveMarkerBoardResults(Shots(state.range(0)).blankPng, Shots(state.range(0)).blankPly, result);
    if (code == TamoHandEye::Success) state.SkipWithError("a marker was found on a blank shot");
    benchmark::DoNotOptimize(code);
  }
}

// The fitted centre's own work on one shot: sub-pixel edges, the board plane, the circles on it.
void FitOnly(benchmark::State& state) {
  const ShotSize& size = kSizes[state.range(0)];
  const cv::Mat grey = cv::imread(Shots(state.range(0)).png, cv::IMREAD_GRAYSCALE);
  const cv::Mat cloud = TamoHandEye::Detect::ReadOrganizedCloud(Shots(state.range(0)).ply, size.height, size.width);
  cv::Mat filtered, binary;
  cv::medianBlur(grey, filtered, 5);
  cv::adaptiveThreshold(filtered, binary, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 101, 10);
  std::vector<std::vector<cv::Point>> contours;
  std::vector<cv::Vec4i> hierarchy;
  cv::findContours(binary, contours, hierarchy, cv::RETR_TREE, cv::CHAIN_APPROX_NONE);
  const auto chains = TamoHandEye::Detect::ConcentricCircleMarker3D::FindChains(contours, hierarchy, 0.8);
  if (chains.size() != 1) {
    state.SkipWithError("not one marker in the shot");
    return;
  }
  std::array<std::vector<cv::Point>, 4> rings;
  for (std::size_t k = 0; k < 4; ++k) rings[k] = contours[static_cast<std::size_t>(chains[0][k])];
  if (state.range(1) == 0) {
    for (auto _ : state) {
      const TamoHandEye::Detect::MarkerFit fit = TamoHandEye::Detect::FitMarker(grey, cloud, rings, {});
      if (!fit.refusal.empty()) state.SkipWithError(fit.refusal.c_str());
      benchmark::DoNotOptimize(fit.centre);
    }
    return;
  }
  // As in a batch: the cloud's rows read from its file as the fit asks for them, and the caches holding
  // other data when it starts (64 MB written between runs, untimed).
  std::vector<unsigned char> other(std::size_t(64) << 20);
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<TamoHandEye::Detect::PendingCloudRows> pending;
    const cv::Mat lazy =
        TamoHandEye::Detect::OpenOrganizedCloud(Shots(state.range(0)).ply, size.height, size.width, pending);
    for (std::size_t k = 0; k < other.size(); k += 64) other[k] = static_cast<unsigned char>(other[k] + 1);
    benchmark::ClobberMemory();
    state.ResumeTiming();
    const TamoHandEye::Detect::MarkerFit fit =
        TamoHandEye::Detect::FitMarker(grey, lazy, rings, [&](int first, int last, int firstCol, int lastCol) {
          return !pending || pending->Load(first, last, firstCol, lastCol);
        });
    if (!fit.refusal.empty()) state.SkipWithError(fit.refusal.c_str());
    benchmark::DoNotOptimize(fit.centre);
  }
}

// The marker search's block mean (block 201) on the shot's filtered grey image: OpenCV's box filter (way 0)
// against the library's own sums (1); the same pixels (tested).
void BlockMean(benchmark::State& state) {
  cv::Mat grey = cv::imread(Shots(state.range(0)).png, cv::IMREAD_GRAYSCALE);
  TamoHandEye::Detect::MedianBlur5(grey, grey);
  cv::Mat mean;
  for (auto _ : state) {
    if (state.range(1) == 0) {
      cv::boxFilter(grey, mean, CV_8U, cv::Size(201, 201), cv::Point(-1, -1), true,
                    cv::BORDER_REPLICATE | cv::BORDER_ISOLATED);
    } else {
      TamoHandEye::Detect::BoxMean(grey, 100, mean);
    }
    benchmark::DoNotOptimize(mean.data);
  }
}

// The marker search's 5 x 5 median on the shot's grey image: OpenCV's filter (Kernel 0) against the
// library's (1, the widest kernel this processor has); the same pixels (tested).
void Median(benchmark::State& state) {
  const cv::Mat grey = cv::imread(Shots(state.range(0)).png, cv::IMREAD_GRAYSCALE);
  cv::Mat filtered;
  for (auto _ : state) {
    if (state.range(1) == 0) {
      cv::medianBlur(grey, filtered, 5);
    } else {
      TamoHandEye::Detect::MedianBlur5(grey, filtered);
    }
    benchmark::DoNotOptimize(filtered.data);
  }
}

BENCHMARK(PlainRead)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadCloud)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(ImageRead)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(CleanShot)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(FittedShot)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(FittedShotWithIntrinsics)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(FitOnly)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BlockMean)->ArgNames({"size", "way"})->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(Median)->ArgNames({"size", "kernel"})->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(NoMarker)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  // --keep-freed-memory: as the command line and the desktop program do (see ProcessMemory.h).
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--keep-freed-memory") {
      TarnWorkflow::KeepFreedMemory();
      for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
      --argc;
      break;
    }
  }
  return RunBenchmarksQuietly(argc, argv, [] { Shots(); });
}
