#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The desktop program's first window against a plain Qt window of the same size, in turn, RUNS times each
# (default 20): the median wall time of each process, in milliseconds, and the ratio to the plain window.
#   bench/first-window.sh [RUNS] [BUILD] [EARLIER_BUILD]
# BUILD defaults to ./build; EARLIER_BUILD, when given, is another build's first_window_studio timed in the
# same turns. Offscreen unless QT_QPA_PLATFORM says otherwise; on a display server:
#   QT_QPA_PLATFORM=xcb xvfb-run -a bench/first-window.sh
set -eu
runs=${1:-20}
build=${2:-build}
earlier=${3:-}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
size=$("$build/bench/first_window_studio" --size 2>/dev/null)
echo "both windows: $size"
python3 - "$runs" "$build" "$earlier" $(echo "$size" | tr -d 'x') <<'PY'
import subprocess, sys, time
runs, build, earlier, size = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4:6]
programs = {"plain": [f"{build}/bench/first_window_plain"] + size, "studio": [f"{build}/bench/first_window_studio"]}
if earlier:
    programs["studio (earlier)"] = [f"{earlier}/bench/first_window_studio"]
times = {name: [] for name in programs}
for _ in range(runs):
    for name, command in programs.items():
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times[name].append((time.perf_counter() - start) * 1000)
med = {k: sorted(v)[len(v) // 2] for k, v in times.items()}
for k, v in times.items():
    print(f"{k:17s} median {med[k]:6.1f} ms  (min {min(v):6.1f}, max {max(v):6.1f})  {med[k] / med['plain']:.2f} x plain")
PY
