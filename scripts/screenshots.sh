#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Pictures of the desktop program's three tabs, filled with a synthetic data set, for the README.
#   scripts/screenshots.sh [OUTDIR]     (default docs/screenshots; needs a configured build/ and xvfb-run)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/screenshots}"
cmake --build build --target tarn_cli_main tarn_studio_shots >/dev/null
data="$(mktemp -d)"
trap 'rm -rf "$data"' EXIT
build/tools/tarn/tarn synth "$data" --poses 12 --seed 7 >/dev/null
# A screen larger than the window at its default size (1190 x 852).
xvfb-run -a -s "-screen 0 1400x1000x24" build/tools/screenshots/tarn_studio_shots "$data" "$out"
