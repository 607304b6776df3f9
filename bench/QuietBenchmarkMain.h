#pragma once

// Runs the registered benchmarks with the report on the original standard output while everything the
// library itself prints there (progress lines of detection and solving) goes to /dev/null.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

inline int RunBenchmarksQuietly(int argc, char** argv, void (*prepare)() = nullptr) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (prepare != nullptr) prepare();
  const int original = ::dup(STDOUT_FILENO);
  std::ofstream report("/proc/self/fd/" + std::to_string(original));
  std::fflush(stdout);
  ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
  benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
  reporter.SetOutputStream(&report);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
