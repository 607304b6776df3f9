#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds one fuzz target into build-fuzz/ and runs it on its corpus for a given time; used by
# scripts/fuzz-*.sh.   tests/fuzz/run.sh TARGET SECONDS MAX_LEN
# Every case has 10 seconds: a hang is a finding, as a crash is. A finding stops the run and leaves a
# crash-*, timeout-* or oom-* file in build-fuzz/; the last lines say how many cases ran.
set -euo pipefail
cd "$(dirname "$0")/../.."
target=$1 seconds=$2 max_len=$3
scripts/install-deps.sh
# The library itself is built with coverage so that the fuzzer sees inside it.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTARN_SANITIZE="address;undefined;fuzzer-no-link" \
  -DTARN_FUZZ=ON -DTARN_BUILD_TESTS=OFF -DTARN_BUILD_BENCH=OFF -DTARN_BUILD_APP=OFF -DTARN_SDK_TEST=OFF >/dev/null
cmake --build build-fuzz --target "$target"
corpus="build-fuzz/$target-corpus"
mkdir -p "$corpus"
case "$target" in
  ply_fuzz) tests/fuzz/seeds.sh "$corpus" ;;
  shot_fuzz) cmake --build build-fuzz --target shot_seeds >/dev/null && build-fuzz/tests/fuzz/shot_seeds "$corpus" ;;
  file_fuzz) cp tests/fuzz/file-seeds/* "$corpus" ;;
esac
cd build-fuzz
# Inputs that once were findings (tests/fuzz/regressions/TARGET) run first, with the corpus.
regressions="../tests/fuzz/regressions/$target"
[ -d "$regressions" ] || regressions=""
ASAN_OPTIONS=detect_leaks=1 "./tests/fuzz/$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
  -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1 "$target-corpus" $regressions
