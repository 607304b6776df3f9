// Reading a 1920 x 1200 shot and detecting its marker.
//   make build && build/bench/detect_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// PlainRead reads the PLY file into memory with read() and nothing else; ReadCloud is the reader, side
// by side. CleanShot and NoMarker run the whole path form (image read, PLY read, detection); compare
// CleanShot with ImageRead + PlainRead. FittedShot is CleanShot with the fitted centre instead of the
// centroids'.

#include <tarn/FittedMarkerDetect.h>
#include <tarn/MarkerDetect.h>

#include "detect/PlyReader.h"

#include "MarkerRenderer.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <opencv2/imgcodecs.hpp>
#include "QuietBenchmarkMain.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

struct Files {
  std::string png, ply, blankPng, blankPly;
};

const Files& Shots() {
  static const Files files = [] {
    const auto dir = std::filesystem::temp_directory_path() / "tarn-detect-bench";
    std::filesystem::create_directories(dir);
    TarnSim::ShotOptions options;
    options.width = 1920;
    options.height = 1200;
    options.focal = 1700;
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
  }();
  return files;
}

void PlainRead(benchmark::State& state) {
  const std::string& path = Shots().ply;
  const auto size = static_cast<std::size_t>(std::filesystem::file_size(path));
  for (auto _ : state) {
    std::vector<char> buffer(size);
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
  const std::string& path = Shots().ply;
  for (auto _ : state) {
    const cv::Mat cloud = TamoHandEye::Detect::ReadOrganizedCloud(path, 1200, 1920);
    benchmark::DoNotOptimize(cloud.data);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::filesystem::file_size(path)));
}

void ImageRead(benchmark::State& state) {
  for (auto _ : state) {
    const cv::Mat image = cv::imread(Shots().png, cv::IMREAD_UNCHANGED);
    benchmark::DoNotOptimize(image.data);
  }
}

void CleanShot(benchmark::State& state) {
  for (auto _ : state) {
    TamoHandEye::MarkerBoardResult result;
    const auto code = TamoHandEye::SolveMarkerBoardResults(Shots().png, Shots().ply, result);
    if (code != TamoHandEye::Success) state.SkipWithError("the marker was not found");
    benchmark::DoNotOptimize(result.u);
  }
}

// The same shot through the fitted centre: the difference to CleanShot is the fit's cost.
void FittedShot(benchmark::State& state) {
  for (auto _ : state) {
    TamoHandEye::MarkerBoardResult result;
    const auto code = TamoHandEye::SolveFittedMarkerResults(Shots().png, Shots().ply, result);
    if (code != TamoHandEye::Success) state.SkipWithError("the marker was not fitted");
    benchmark::DoNotOptimize(result.u);
  }
}

void NoMarker(benchmark::State& state) {
  for (auto _ : state) {
    TamoHandEye::MarkerBoardResult result;
    const auto code = TamoHandEye::SolveMarkerBoardResults(Shots().blankPng, Shots().blankPly, result);
    if (code == TamoHandEye::Success) state.SkipWithError("a marker was found on a blank shot");
    benchmark::DoNotOptimize(code);
  }
}

BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadCloud)->Unit(benchmark::kMillisecond);
BENCHMARK(ImageRead)->Unit(benchmark::kMillisecond);
BENCHMARK(CleanShot)->Unit(benchmark::kMillisecond);
BENCHMARK(FittedShot)->Unit(benchmark::kMillisecond);
BENCHMARK(NoMarker)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  return RunBenchmarksQuietly(argc, argv, [] { Shots(); });
}
