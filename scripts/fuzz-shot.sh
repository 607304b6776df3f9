#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Fuzzes marker detection's whole path form (image file + PLY file -> code) with libFuzzer, seeded with
# rendered shots.   scripts/fuzz-shot.sh [SECONDS]     (default 180)
# Not part of CI. A finding (crash, hang over 10 s, memory over 2 GB) stops the run and leaves its input
# in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
exec tests/fuzz/run.sh shot_fuzz "${1:-180}" 262144
