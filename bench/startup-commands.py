#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Wall time of commands that read no image and of `import tarn` beside `import numpy`, for an earlier
build and this one in turn; medians of RUNS runs.

    cd DATASET && python3 bench/startup-commands.py RUNS EARLIER_BUILD THIS_BUILD

DATASET holds markers.json (`tarn detect --json` of the demo set), robot.txt and result.json (`tarn
calibrate --markers markers.json --poses robot.txt --robot fanuc --json`). Run with /usr/bin/python3 so
that numpy is the system's.
"""
import os
import subprocess
import sys
import time

N = int(sys.argv[1]) if len(sys.argv) > 1 else 20
builds = {"before": sys.argv[2], "after": sys.argv[3]}
cmds = {
  "calibrate --markers": ["calibrate", "--markers", "markers.json", "--poses", "robot.txt", "--robot", "fanuc"],
  "verify": ["verify", "--result", "result.json", "--markers", "markers.json", "--poses", "robot.txt"],
  "suggest": ["suggest", "--markers", "markers.json", "--poses", "robot.txt", "--robot", "fanuc"],
}
res = {}
for _ in range(N):
    for c, args in cmds.items():
        for b, d in builds.items():
            t = time.perf_counter()
            subprocess.run([d + "/tools/tarn/tarn"] + args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
            res.setdefault((c, b), []).append((time.perf_counter() - t) * 1000)
    for b, d in builds.items():
        for m in ("numpy", "tarn"):
            env = dict(os.environ, PYTHONPATH=d + "/python")
            t = time.perf_counter()
            subprocess.run(["/usr/bin/python3", "-c", "import " + m], env=env, check=True)
            res.setdefault(("import " + m, b), []).append((time.perf_counter() - t) * 1000)
med = {k: sorted(v)[len(v) // 2] for k, v in res.items()}
for c in list(cmds) + ["import numpy", "import tarn"]:
    print(f"{c:22s} before {med[(c,'before')]:7.1f} ms   after {med[(c,'after')]:7.1f} ms")
for b in builds:
    print(f"import tarn / import numpy ({b}): {med[('import tarn',b)]/med[('import numpy',b)]:.2f}")
