// SPDX-License-Identifier: Apache-2.0
// The marker batch of two data sets (96 shots of 1024 x 768 and 24 of 1920 x 1200, files to marker
// points) on one worker and on one per core, beside the floor (reading the same files and nothing
// else), in one run: the desktop's "计算标记位置" and `tarn detect` both run the batch.
//   make build && build/bench/batch_bench
// The process keeps freed memory as the programs that run the batch do; "faults/shot" counts the page faults
// of the timed runs (after the warm-up run) per shot.
// The data set is rendered once into a temporary folder (kept between runs).

#include "MarkerBatch.h"
#include "ProcessMemory.h"
#include "QuietBenchmarkMain.h"

#include "DataSet.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <iterator>
#include <thread>

namespace {

namespace fs = std::filesystem;

struct SetSize {
  int poses, width, height;
};
constexpr SetSize kSets[] = {{96, 1024, 768}, {24, 1920, 1200}};

const std::vector<TarnWorkflow::ShotPair>& Pairs(std::size_t set) {
  static std::vector<TarnWorkflow::ShotPair> pairs[std::size(kSets)];
  if (pairs[set].empty()) {
    const SetSize& d = kSets[set];
    const fs::path folder = fs::temp_directory_path() / ("tarn-batch-bench-" + std::to_string(d.poses) + "-" +
                                                         std::to_string(d.width) + "x" + std::to_string(d.height));
    if (!fs::exists(folder / "truth.json")) {
      TarnSim::SynthOptions synth;
      synth.folder = folder.string();
      synth.poses = d.poses;
      synth.width = d.width;
      synth.height = d.height;
      synth.force = true;
      TarnSim::Synthesise(synth);
    }
    pairs[set] = TarnWorkflow::PairShots((folder / "images").string(), "png", (folder / "clouds").string()).pairs;
  }
  return pairs[set];
}

// The process's page faults so far (served without reading a disk).
long MinorFaults() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

void Label(benchmark::State& state, std::size_t set) {
  state.counters["shots"] = static_cast<double>(Pairs(set).size());
  state.SetLabel(std::to_string(kSets[set].width) + "x" + std::to_string(kSets[set].height));
}

// The floor: every shot's image decoded and its cloud file read into memory (nothing parsed), one
// after the other.
void Floor(benchmark::State& state) {
  const auto set = static_cast<std::size_t>(state.range(0));
  std::vector<char> buffer;
  for (auto _ : state) {
    for (const TarnWorkflow::ShotPair& pair : Pairs(set)) {
      const cv::Mat image = cv::imread(pair.image, cv::IMREAD_UNCHANGED);
      benchmark::DoNotOptimize(image.data);
      const int fd = ::open(pair.cloud.c_str(), O_RDONLY);
      struct stat st {};
      ::fstat(fd, &st);
      buffer.resize(static_cast<std::size_t>(st.st_size));
      std::size_t done = 0;
      while (done < buffer.size()) {
        const ssize_t got = ::read(fd, buffer.data() + done, buffer.size() - done);
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
      }
      ::close(fd);
      benchmark::DoNotOptimize(buffer.data());
    }
  }
  Label(state, set);
}

// Argument 0: the data set; 1: workers (0: one per core); 2: 0 the centroids' centre, 1 the fitted one.
void Batch(benchmark::State& state) {
  const auto set = static_cast<std::size_t>(state.range(0));
  TarnWorkflow::BatchOptions options;
  options.threads = static_cast<unsigned>(state.range(1));
  options.centre = state.range(2) == 0 ? TarnWorkflow::Centre::Centroid : TarnWorkflow::Centre::Fit;
  std::size_t found = 0;
  const long faultsBefore = MinorFaults();
  for (auto _ : state) {
    found = 0;
    for (const TarnWorkflow::ShotDetection& d : TarnWorkflow::DetectShots(Pairs(set), options)) found += d.code == 0;
  }
  Label(state, set);
  state.counters["found"] = static_cast<double>(found);
  state.counters["faults/shot"] = static_cast<double>(MinorFaults() - faultsBefore) /
                                  static_cast<double>(state.iterations() * static_cast<long>(Pairs(set).size()));
  state.counters["cores"] = std::thread::hardware_concurrency();
}

BENCHMARK(Floor)->ArgName("set")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(Batch)
    ->ArgNames({"set", "workers", "fit"})
    ->ArgsProduct({{0, 1}, {1, 0}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  TarnWorkflow::KeepFreedMemory();  // as the command line and the desktop program do
  return RunBenchmarksQuietly(argc, argv, [] {
    for (std::size_t set = 0; set < std::size(kSets); ++set) Pairs(set);
  });
}
