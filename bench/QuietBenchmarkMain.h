// SPDX-License-Identifier: Apache-2.0
#pragma once

// Runs the registered benchmarks with the library's own standard-output lines switched off.

#include "LibraryOutput.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <string>

inline int RunBenchmarksQuietly(int argc, char** argv, void (*prepare)() = nullptr) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (prepare != nullptr) prepare();
  TarnWorkflow::SilenceLibraryOutput();
  benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
  reporter.SetOutputStream(&std::cout);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
