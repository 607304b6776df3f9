// SPDX-License-Identifier: Apache-2.0
// Cost of the group operations the hand-eye solver runs thousands of times per calibration.
//   make bench-build && build/bench/liegroup_bench

#include <LieGroup/SE3.h>
#include <LieGroup/SO3.h>
#include <LieGroup/SO3Tangent.h>

#include <benchmark/benchmark.h>

namespace {

using Kel::SE3d;
using Kel::SO3Tangentd;

const SE3d kA(Eigen::Vector3d(0.2, -1.0, 3.0), SO3Tangentd(0.4, -0.1, 1.2).Exp());
const SE3d kB(Eigen::Vector3d(-0.7, 0.3, 0.1), SO3Tangentd(-1.1, 0.5, 0.2).Exp());

void Se3Compose(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kA * kB);
}
BENCHMARK(Se3Compose);

void Se3Inverse(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kA.Inverse());
}
BENCHMARK(Se3Inverse);

void Se3LogExp(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(SE3d::Exp(kA.Log()));
}
BENCHMARK(Se3LogExp);

void So3Exp(benchmark::State& state) {
  const SO3Tangentd w(0.4, -0.1, 1.2);
  for (auto _ : state) benchmark::DoNotOptimize(w.Exp());
}
BENCHMARK(So3Exp);

}  // namespace

BENCHMARK_MAIN();
