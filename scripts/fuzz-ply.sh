#!/usr/bin/env bash
# Fuzzes the PLY reader with libFuzzer (clang, AddressSanitizer, UndefinedBehaviorSanitizer).
#   scripts/fuzz-ply.sh [SECONDS]     (default 180)
# Not part of CI. A finding stops the run and leaves a crash-* file in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-180}
scripts/install-deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTARN_FUZZ=ON -DTARN_BUILD_TESTS=OFF -DTARN_BUILD_BENCH=OFF -DTARN_SDK_TEST=OFF >/dev/null
cmake --build build-fuzz --target ply_fuzz
corpus=build-fuzz/ply-corpus
tests/fuzz/seeds.sh "$corpus"
cd build-fuzz
./tests/fuzz/ply_fuzz -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 ply-corpus
