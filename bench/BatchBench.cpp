// The marker batch of a data set (24 shots of 1920 x 1200, files to marker points) on one worker and on
// one per core, side by side in one run: the desktop's "计算标记位置" and `tarn detect` both run it.
//   make build && build/bench/batch_bench
// The process keeps freed memory as the programs that run the batch do.
// The data set is rendered once into a temporary folder (kept between runs).

#include "MarkerBatch.h"
#include "ProcessMemory.h"
#include "QuietBenchmarkMain.h"

#include "DataSet.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <thread>

namespace {

namespace fs = std::filesystem;

const std::vector<TarnWorkflow::ShotPair>& Pairs() {
  static const std::vector<TarnWorkflow::ShotPair> pairs = [] {
    const fs::path folder = fs::temp_directory_path() / "tarn-batch-bench-1920x1200";
    if (!fs::exists(folder / "truth.json")) {
      TarnSim::SynthOptions synth;
      synth.folder = folder.string();
      synth.poses = 24;
      synth.width = 1920;
      synth.height = 1200;
      synth.force = true;
      TarnSim::Synthesise(synth);
    }
    return TarnWorkflow::PairShots((folder / "images").string(), "png", (folder / "clouds").string()).pairs;
  }();
  return pairs;
}

// Argument 0: workers (0: one per core); argument 1: 0 the centroids' centre, 1 the fitted one.
void Batch(benchmark::State& state) {
  TarnWorkflow::BatchOptions options;
  options.threads = static_cast<unsigned>(state.range(0));
  options.centre = state.range(1) == 0 ? TarnWorkflow::Centre::Centroid : TarnWorkflow::Centre::Fit;
  std::size_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (const TarnWorkflow::ShotDetection& d : TarnWorkflow::DetectShots(Pairs(), options)) found += d.code == 0;
  }
  state.counters["shots"] = static_cast<double>(Pairs().size());
  state.counters["found"] = static_cast<double>(found);
  state.counters["cores"] = std::thread::hardware_concurrency();
}

BENCHMARK(Batch)
    ->ArgNames({"workers", "fit"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  TarnWorkflow::KeepFreedMemory();  // as the command line and the desktop program do
  return RunBenchmarksQuietly(argc, argv, [] { Pairs(); });
}
