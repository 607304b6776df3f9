#pragma once

// Runs the registered benchmarks with the report on the original standard output while everything the
// library itself prints there (progress lines of detection and solving) goes to /dev/null.

#include "QuietStdout.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <iostream>
#include <string>

inline int RunBenchmarksQuietly(int argc, char** argv, void (*prepare)() = nullptr) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (prepare != nullptr) prepare();
  const TarnWorkflow::QuietStdout quiet;
  std::ofstream report("/proc/self/fd/" + std::to_string(quiet.Original()));
  benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
  reporter.SetOutputStream(&report);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
