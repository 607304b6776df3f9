#!/bin/sh
# The desktop program's first window against a plain Qt window of the same size, in turn, RUNS times each
# (default 20): the median wall time of each process, in milliseconds, and their ratio.
#   bench/first-window.sh [RUNS] [BUILD]       (BUILD defaults to ./build; offscreen unless QT_QPA_PLATFORM
#   says otherwise: under xvfb-run, QT_QPA_PLATFORM=xcb xvfb-run -a bench/first-window.sh)
set -eu
runs=${1:-20}
build=${2:-build}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
size=$("$build/bench/first_window_studio" --size 2>/dev/null)
echo "both windows: $size"
python3 - "$runs" "$build" $(echo "$size" | tr -d 'x') <<'PY'
import subprocess, sys, time
runs, build, size = int(sys.argv[1]), sys.argv[2], sys.argv[3:5]
times = {"studio": [], "plain": []}
for _ in range(runs):
    for name in times:
        start = time.perf_counter()
        subprocess.run([f"{build}/bench/first_window_{name}"] + (size if name == "plain" else []),
                       check=True, stderr=subprocess.DEVNULL)
        times[name].append((time.perf_counter() - start) * 1000)
med = {k: sorted(v)[len(v) // 2] for k, v in times.items()}
for k, v in times.items():
    print(f"{k:7s} median {med[k]:6.1f} ms  (min {min(v):6.1f}, max {max(v):6.1f})")
print(f"ratio   {med['studio'] / med['plain']:.2f}")
PY
