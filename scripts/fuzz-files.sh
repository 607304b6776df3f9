#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Fuzzes the readers of the files a user hands over (saved calibrations as JSON, YAML or the desktop
# program's result file, parameter files, robot data files, markers and targets files) with libFuzzer,
# seeded with one file of each kind.   scripts/fuzz-files.sh [SECONDS]     (default 180)
# Not part of CI. A finding (crash, hang over 10 s, memory over 2 GB) stops the run and leaves its input
# in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
exec tests/fuzz/run.sh file_fuzz "${1:-180}" 65536
