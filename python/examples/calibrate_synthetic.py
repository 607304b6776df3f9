# SPDX-License-Identifier: Apache-2.0
"""Calibrates a synthetic eye-in-hand set-up and compares the result with its truth.

With the packages python3-tarn and tarn-doc installed:
    python3 /usr/share/tarn/TarnSDK/examples/python/calibrate_synthetic.py
From a build of the source tree, in its top folder:
    PYTHONPATH=build/python python3 python/examples/calibrate_synthetic.py
"""
import numpy as np

import tarn

scene = tarn.synthetic_scene(poses=15, robot="kuka", noise_mm=0.2, seed=4)  # marker points (m) and KUKA rows
result = tarn.calibrate(scene.points, scene.robot_rows, robot="kuka")
error_mm = np.linalg.norm(result.camera[:3, 3] - scene.camera[:3, 3])
print("camera in the flange, KUKA row:", np.round(result.camera_row, 3))
print(f"RMS {result.rms_mm:.3f} mm; camera ±{result.uncertainty['translation_norm_mm']:.3f} mm (1σ), "
      f"{error_mm:.3f} mm from the truth")
for warning in result.warnings:
    print(f"[{warning.code}] {warning.message} {warning.fix}")
