# SPDX-License-Identifier: Apache-2.0
"""The Python module against truths it does not compute itself: the command line's output for the same
data, a synthetic scene's known transform, rotations built with numpy, and a rendered data set."""
import json
import re
import os
import subprocess
import sys

import numpy as np
import pytest

import tarn

TARN = os.environ.get("TARN_PROGRAM", "tarn")


def run_cli(*args):
    return subprocess.run([TARN, *args], capture_output=True, text=True)


def write_rows(path, rows):
    with open(path, "w") as f:
        for row in rows:
            f.write(" ".join(repr(float(v)) for v in row) + "\n")


def test_calibration_agrees_with_the_command_line(tmp_path):
    scene = tarn.synthetic_scene(poses=14, robot="generic3", noise_mm=0.3, seed=9, outliers=[5], outlier_mm=20)
    write_rows(tmp_path / "markers.txt", scene.points)
    write_rows(tmp_path / "robot.txt", scene.robot_rows)
    cli = run_cli("calibrate", "--json", "--robot", "generic3", "--ransac", "2", "--seed", "77", "--markers",
                  str(tmp_path / "markers.txt"), "--poses", str(tmp_path / "robot.txt"))
    assert cli.returncode == 0, cli.stderr
    expected = json.loads(cli.stdout)

    result = tarn.calibrate(scene.points, scene.robot_rows, robot="generic3", ransac_mm=2, seed=77)
    # The files carry every digit (repr), so both sides solve the same numbers.
    np.testing.assert_allclose(result.camera, expected["camera_matrix"], rtol=0, atol=1e-9)
    np.testing.assert_allclose(result.leave_one_out_mm, expected["leave_one_out_mm"], rtol=0, atol=1e-9)
    assert result.convention == expected["convention"] == "rzyx"
    assert list(result.used) == [bool(m) for m in expected["mask"]]
    assert not result.used[5]
    assert result.seed == expected["seed"] == 77
    # Against the truth: within a few σ.
    error = np.linalg.norm(result.camera[:3, 3] - scene.camera[:3, 3])
    assert error < 4 * result.uncertainty["translation_norm_mm"]


def test_a_search_without_a_distance_explains_its_drops_and_the_tolerance_decides():
    scene = tarn.synthetic_scene(poses=14, noise_mm=1.5, seed=4, outliers=[2], outlier_mm=30)
    result = tarn.calibrate(scene.points, scene.robot_rows, ransac_mm="auto")
    assert result.search["distance_from_data"] and result.search["distance_mm"] > 4
    assert [d["pose"] for d in result.search["dropped"]] == [3]  # the third pose: index 2
    assert "not below the search distance" in result.search["dropped"][0]["reason"]
    assert len(result.leave_one_out_studentised) == 14 and np.isnan(result.leave_one_out_studentised[2])
    sigma = result.uncertainty["translation_norm_mm"]
    assert result.tolerance["met"] == (sigma <= 1.0 and result.uncertainty["rotation_deg"] <= 0.1)
    loose = tarn.calibrate(scene.points, scene.robot_rows, ransac_mm="auto", tolerance_mm=sigma * 2, tolerance_deg=5)
    assert loose.tolerance["met"] and "uncertain" not in [w.code for w in loose.warnings]
    with pytest.raises(ValueError):
        tarn.calibrate(scene.points, scene.robot_rows, ransac_mm="sometimes")
    with pytest.raises(ValueError):
        tarn.calibrate(scene.points, scene.robot_rows, tolerance_mm=0)


def test_robot_types_are_the_command_lines_and_print_nothing(capfd):
    assert ", ".join(tarn.ROBOTS) in run_cli("calibrate", "--help").stdout
    for t in tarn.robot_types():
        assert tarn.columns(t["name"]) == t["columns"]
    scene = tarn.synthetic_scene(poses=8, robot="ur", noise_mm=0.1, seed=2)
    tarn.calibrate(scene.points, scene.robot_rows, robot="ur")
    assert capfd.readouterr().out == ""  # the library's own lines stay out of the script's output


def test_a_saved_calibration_is_read_back_by_python_and_the_command_line(tmp_path):
    scene = tarn.synthetic_scene(poses=12, robot="kuka", noise_mm=0.2, seed=6)
    result = tarn.calibrate(scene.points, scene.robot_rows, robot="kuka", ransac_mm=2, seed=3)
    fresh = tarn.synthetic_scene(poses=8, robot="kuka", noise_mm=0.2, seed=7)
    write_rows(tmp_path / "markers.txt", fresh.points)
    write_rows(tmp_path / "robot.txt", fresh.robot_rows)
    for name in ("saved.json", "saved.yaml"):
        result.save(tmp_path / name)
        back = tarn.load_calibration(tmp_path / name)
        np.testing.assert_array_equal(back.camera, result.camera)
        np.testing.assert_array_equal(back.camera_matrix, back.record["camera_matrix"])
        assert back.covariance is not None and back.rms_mm == result.rms_mm and back.seed == 3
        assert tarn.verify(fresh.points, fresh.robot_rows, str(tmp_path / name)).verdict == "ok"
        cli = run_cli("verify", "--json", "--result", str(tmp_path / name), "--markers", str(tmp_path / "markers.txt"),
                      "--poses", str(tmp_path / "robot.txt"))
        assert cli.returncode == 0, cli.stderr
        assert json.loads(cli.stdout)["schema"] == 1 and json.loads(cli.stdout)["verdict"] == "ok"
    with pytest.raises(ValueError):
        tarn.load_calibration(tmp_path / "robot.txt")


THREADS_SCRIPT = """
import os, sys, threading
import tarn
folder = sys.argv[1]
tarn.synthesise(folder, poses=1, width=640, height=480, seed=2)
scene = tarn.synthetic_scene(poses=12, noise_mm=0.5, seed=4)
before = os.fstat(1)
done = threading.Event()

def work(k):
    for _ in range(6):
        if k % 2:
            tarn.detect(folder + "/images/shot_0.png", folder + "/clouds/shot_0.ply")
        else:
            tarn.calibrate(scene.points, scene.robot_rows, ransac_mm="auto", seed=k)

def talk():
    for i in range(20000):
        print("line", i)

workers = [threading.Thread(target=work, args=(k,)) for k in range(8)] + [threading.Thread(target=talk)]
for t in workers:
    t.start()
for t in workers:
    t.join()
after = os.fstat(1)
print("same descriptor", (before.st_dev, before.st_ino) == (after.st_dev, after.st_ino))
"""


def test_threads_keep_the_scripts_standard_output(tmp_path):
    # Eight threads of calibrate and detect while another prints: every line arrives, fd 1 stays the script's.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    run = subprocess.run([sys.executable, "-c", THREADS_SCRIPT, str(tmp_path / "set")], capture_output=True,
                         text=True, env=env, timeout=300)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert lines[-1] == "same descriptor True"
    assert sum(1 for line in lines if line.startswith("line ")) == 20000


def test_failures_raise_with_the_library_code():
    scene = tarn.synthetic_scene(poses=4)
    with pytest.raises(tarn.TarnError) as failure:
        tarn.calibrate(scene.points, scene.robot_rows)
    assert failure.value.code == 201
    assert "needs at least 5 poses, got 4" in failure.value.message
    with pytest.raises(tarn.TarnError) as failure:
        tarn.calibrate(scene.points, scene.robot_rows[:, :5])
    assert failure.value.code == 204
    with pytest.raises(ValueError):
        tarn.calibrate(scene.points, scene.robot_rows, robot="no-such-robot")
    # A quaternion row of zeros would be read as no rotation at all: refused, naming the row (from 1).
    quat = tarn.synthetic_scene(poses=10, robot="abb-quat", seed=5)
    rows = quat.robot_rows.copy()
    rows[2, 3:] = 0.0
    with pytest.raises(tarn.TarnError) as failure:
        tarn.calibrate(quat.points, rows, robot="abb-quat")
    assert failure.value.code == 201 and "robot row 3" in failure.value.message


def test_odd_arguments_get_messages_that_name_them(tmp_path):
    scene = tarn.synthetic_scene(poses=8)
    with pytest.raises(ValueError, match="seed must be None or a whole number"):
        tarn.calibrate(scene.points, scene.robot_rows, seed=-1)
    with pytest.raises(ValueError, match="pose 2 holds a value that is not a finite number"):
        tarn.calibrate(scene.points[:3], [np.eye(4), np.full((4, 4), np.nan), np.eye(4)], robot="matrix")
    with pytest.raises(tarn.TarnError, match='"syz" is not a rotation convention of the generic3 type'):
        tarn.euler_to_matrix([1, 2, 3], "syz")
    rows = scene.robot_rows.copy()
    rows[1, 4] = 1e308
    for call in (lambda: tarn.verify(scene.points, rows, tarn.calibrate(scene.points, scene.robot_rows)),
                 lambda: tarn.suggest(scene.points, rows)):
        with pytest.raises(tarn.TarnError, match="robot row 2: value 5"):
            call()
    # Paths may be pathlib paths; a pipe is refused at once rather than waited on.
    markers = tmp_path / "markers.txt"
    markers.write_text("0.1 0.2 0.5\n")
    assert tarn.read_markers(markers).shape == (1, 3)
    os.mkfifo(tmp_path / "pipe")
    with pytest.raises(OSError, match="not a regular file"):
        tarn.read_markers(tmp_path / "pipe")
    with pytest.raises(ValueError, match="not a regular file"):
        tarn.verify(scene.points, scene.robot_rows, tmp_path / "pipe", robot="fanuc")


def test_a_set_up_mistake_is_named():
    scene = tarn.synthetic_scene(poses=15, robot="fanuc", noise_mm=0.2, seed=3)
    result = tarn.calibrate(scene.points, scene.robot_rows[::-1], robot="fanuc")  # rows in reverse order
    codes = [w.code for w in result.warnings]
    assert "poor-fit" in codes and "likely-setup" in codes
    likely = next(w for w in result.warnings if w.code == "likely-setup")
    assert "reverse order" in likely.message and likely.fix_zh == "请按图像顺序排列机器人数据。"
    # KUKA rows read as FANUC do not even converge here; the failure still names the mistake.
    kuka = tarn.synthetic_scene(poses=15, robot="kuka", noise_mm=0.2, seed=3)
    with pytest.raises(tarn.TarnError) as failure:
        tarn.calibrate(kuka.points, kuka.robot_rows, robot="fanuc")
    assert failure.value.code == 201 and "Select the KUKA (or ABB Euler) robot type." in failure.value.message


def rotation(axis, angle):
    axis = np.asarray(axis, dtype=float) / np.linalg.norm(axis)
    k = np.array([[0, -axis[2], axis[1]], [axis[2], 0, -axis[0]], [-axis[1], axis[0], 0]])
    return np.eye(3) + np.sin(angle) * k + (1 - np.cos(angle)) * k @ k


def test_conversions_match_rotations_built_with_numpy():
    w, p, r = 10.0, -20.0, 30.0
    rx, ry, rz = (rotation(a, np.radians(v)) for a, v in (([1, 0, 0], w), ([0, 1, 0], p), ([0, 0, 1], r)))
    np.testing.assert_allclose(tarn.euler_to_matrix([w, p, r], "sxyz"), rz @ ry @ rx, atol=1e-12)
    np.testing.assert_allclose(tarn.matrix_to_euler(rz @ ry @ rx, "sxyz"), [w, p, r], atol=1e-9)
    fanuc = tarn.row_to_matrix([100, 200, 300, w, p, r], "fanuc")
    np.testing.assert_allclose(fanuc[:3, :3], rz @ ry @ rx, atol=1e-12)
    np.testing.assert_allclose(fanuc[:3, 3], [100, 200, 300])
    np.testing.assert_allclose(tarn.matrix_to_row(fanuc, "kuka")[3:], [r, p, w], atol=1e-9)  # A B C = R P W
    half = np.radians(40) / 2
    q = [np.sin(half) / np.sqrt(3)] * 3 + [np.cos(half)]
    np.testing.assert_allclose(tarn.quaternion_to_matrix(q, "xyzw"), rotation([1, 1, 1], np.radians(40)), atol=1e-12)
    np.testing.assert_allclose(tarn.matrix_to_quaternion(rotation([1, 1, 1], np.radians(40)), "wxyz"),
                               [q[3], *q[:3]], atol=1e-12)
    ur = tarn.row_to_matrix([100, 200, 300, 0.3, 0, 0], "ur")  # UR rows: millimetres and radians
    np.testing.assert_allclose(ur[:3, :3], rotation([1, 0, 0], 0.3), atol=1e-12)
    with pytest.raises(tarn.TarnError) as failure:
        tarn.row_to_matrix([0, 0, 0, 1, 2, 3], "generic3")  # a generic row needs its convention
    assert failure.value.code == 204
    with pytest.raises(tarn.TarnError):
        tarn.matrix_to_row(np.diag([1.0, 1.0, 2.0, 1.0]), "fanuc")  # not a rotation


def test_detection_agrees_with_the_command_line(tmp_path):
    folder = tmp_path / "set"
    tarn.synthesise(str(folder), poses=2, width=640, height=480, seed=2)
    cli = run_cli("detect", "--json", "--images", str(folder / "images"), "--clouds", str(folder / "clouds"))
    assert cli.returncode == 0, cli.stderr
    expected = json.loads(cli.stdout)[1]
    found = tarn.detect(str(folder / "images" / "shot_1.png"), str(folder / "clouds" / "shot_1.ply"))
    np.testing.assert_allclose(found.point, [expected["x"], expected["y"], expected["z"]], atol=1e-12)
    np.testing.assert_allclose(found.centre, [expected["u"], expected["v"]], atol=1e-9)
    assert found.quality["ratio_deviation"] < 0.01
    np.testing.assert_allclose(found.normal, expected["normal"], atol=1e-12)
    np.testing.assert_allclose(found.centre_covariance, expected["centre_covariance_m2"], rtol=1e-12)
    assert abs(np.linalg.norm(found.normal) - 1.0) < 1e-12 and found.normal_covariance.shape == (2, 2)
    centroid = tarn.detect(str(folder / "images" / "shot_1.png"), str(folder / "clouds" / "shot_1.ply"), "centroid")
    assert np.linalg.norm(centroid.point - found.point) < 0.005
    with pytest.raises(tarn.TarnError) as failure:
        tarn.detect(np.zeros((48, 64), np.uint8), np.zeros((48, 64, 3)))
    assert failure.value.code in (101, 103)


def test_matrices_and_target_poses_give_the_same_calibration(tmp_path):
    scene = tarn.synthetic_scene(poses=12, robot="fanuc", noise_mm=0.2, seed=8)
    reference = tarn.calibrate(scene.points, scene.robot_rows, robot="fanuc")
    poses = np.array([tarn.row_to_matrix(row, "fanuc") for row in scene.robot_rows])  # mm
    with open(tmp_path / "poses.csv", "w") as f:
        f.write("m00,m01,m02,m03,m10,m11,m12,m13,m20,m21,m22,m23\n")  # 12 values: without the last row
        for pose in poses:
            f.write(",".join(repr(v) for v in pose[:3].ravel()) + "\n")
    with open(tmp_path / "targets.csv", "w") as f:
        f.write("# marker poses in the camera frame, mm\nx;y;z;qx;qy;qz;qw\n")
        for p in scene.points * 1000:
            f.write(";".join(repr(v) for v in (*p, 0.0, 0.0, 0.0, 1.0)) + "\n")
    rows = tarn.read_robot_rows(str(tmp_path / "poses.csv"), "matrix")
    points = tarn.read_markers(str(tmp_path / "targets.csv"), targets=True, unit="mm")
    assert rows.shape == (12, 16) and points.shape == (12, 3)
    for result in (tarn.calibrate(points, rows, robot="matrix"),
                   tarn.calibrate(points, [np.linalg.inv(p) for p in poses], robot="matrix", invert=True)):
        np.testing.assert_allclose(result.camera, reference.camera, atol=1e-6)
    # The file's rotations are placeholders (the identity): the points alone give the reference.
    cli = run_cli("calibrate", "--json", "--robot", "matrix", "--model", "point", "--poses", str(tmp_path / "poses.csv"),
                  "--targets", str(tmp_path / "targets.csv"), "--marker-unit", "mm")
    assert cli.returncode == 0, cli.stderr
    np.testing.assert_allclose(json.loads(cli.stdout)["camera_matrix"], reference.camera, atol=1e-6)
    # Whole target poses (camera_from_target, the target's axes the base's) are used with their rotations.
    targets = np.zeros((12, 4, 4))
    targets[:, 3, 3] = 1.0
    for k, pose in enumerate(poses):
        targets[k, :3, :3] = (pose[:3, :3] @ scene.camera[:3, :3]).T
        targets[k, :3, 3] = scene.points[k]
    whole = tarn.calibrate(targets, scene.robot_rows, robot="fanuc")
    assert (whole.model, whole.shots_with_normal) == ("point+rotation", 12)
    assert np.linalg.norm(whole.camera[:3, 3] - scene.camera[:3, 3]) < 4 * whole.uncertainty["translation_norm_mm"]


def test_verify_agrees_with_the_command_line_and_catches_a_moved_camera(tmp_path):
    saved = tarn.calibrate(*_scene_arrays(tarn.synthetic_scene(poses=12, robot="ur", noise_mm=0.1, seed=3)), robot="ur")
    fresh = tarn.synthetic_scene(poses=6, robot="ur", noise_mm=0.1, seed=21)
    same = tarn.verify(fresh.points, fresh.robot_rows, saved)
    assert same.verdict == "ok" and same.judged_by == "covariance"
    assert same.power["detectable_shift_mm"] < 1.0 and same.power["more_shots"] == 0
    # Asked to see a hundredth of a millimetre, six shots cannot: inconclusive, and it says so.
    blind = tarn.verify(fresh.points, fresh.robot_rows, saved, tolerance_mm=0.01)
    assert blind.verdict == "inconclusive" and "can only see moves above" in blind.power["text"]
    # A camera moved by 2 mm along its y axis sees every point 2 mm the other way.
    moved = tarn.verify(fresh.points - [0.0, 0.002, 0.0], fresh.robot_rows, saved)
    assert moved.verdict == "drift"
    np.testing.assert_allclose(moved.drift["translation_xyz_mm"], [0.0, 2.0, 0.0], atol=0.4)

    # The same check from the file the command line writes, through both front ends.
    write_rows(tmp_path / "old-markers.txt", tarn.synthetic_scene(poses=12, robot="ur", noise_mm=0.1, seed=3).points)
    write_rows(tmp_path / "old-robot.txt", tarn.synthetic_scene(poses=12, robot="ur", noise_mm=0.1, seed=3).robot_rows)
    cli = run_cli("calibrate", "--json", "--robot", "ur", "--markers", str(tmp_path / "old-markers.txt"), "--poses",
                  str(tmp_path / "old-robot.txt"), "--output", str(tmp_path / "result.json"))
    assert cli.returncode == 0, cli.stderr
    write_rows(tmp_path / "markers.txt", fresh.points)
    write_rows(tmp_path / "robot.txt", fresh.robot_rows)
    checked = run_cli("verify", "--json", "--result", str(tmp_path / "result.json"), "--markers",
                      str(tmp_path / "markers.txt"), "--poses", str(tmp_path / "robot.txt"))
    assert checked.returncode == 0, checked.stderr
    expected = json.loads(checked.stdout)
    from_file = tarn.verify(fresh.points, fresh.robot_rows, str(tmp_path / "result.json"))
    np.testing.assert_allclose(from_file.residual_mm, [s["residual_mm"] for s in expected["shots"]], rtol=0, atol=1e-9)
    np.testing.assert_allclose(from_file.residual_mm, same.residual_mm, rtol=0, atol=1e-9)
    assert from_file.limit_mm == pytest.approx(expected["limit_mm"])
    assert from_file.judged_by == expected["judged_by"] == "covariance"
    assert from_file.power["detectable_shift_mm"] == pytest.approx(same.power["detectable_shift_mm"], rel=1e-6)
    with pytest.raises(ValueError):
        tarn.verify(fresh.points, fresh.robot_rows, saved, robot="fanuc")

    # Flange poses as 4 x 4 matrices: calibrated so by the command line, checked so from Python.
    write_rows(tmp_path / "old-matrices.txt", [tarn.row_to_matrix(r, "ur").ravel() for r in
                                               tarn.synthetic_scene(poses=12, robot="ur", noise_mm=0.1, seed=3).robot_rows])
    cli = run_cli("calibrate", "--json", "--robot", "matrix", "--markers", str(tmp_path / "old-markers.txt"), "--poses",
                  str(tmp_path / "old-matrices.txt"), "--output", str(tmp_path / "matrix-result.json"))
    assert cli.returncode == 0, cli.stderr
    matrices = np.array([tarn.row_to_matrix(r, "ur") for r in fresh.robot_rows])
    from_matrices = tarn.verify(fresh.points, matrices, str(tmp_path / "matrix-result.json"), robot="matrix")
    assert from_matrices.verdict == "ok"
    np.testing.assert_allclose(from_matrices.residual_mm, same.residual_mm, rtol=0, atol=1e-3)
    with pytest.raises(ValueError):
        tarn.verify(fresh.points, fresh.robot_rows, str(tmp_path / "matrix-result.json"))


def test_suggest_agrees_with_the_command_line_and_keeps_the_marker_in_view(tmp_path):
    scene = tarn.synthetic_scene(poses=6, robot="fanuc", noise_mm=0.2, seed=4)
    s = tarn.suggest(scene.points, scene.robot_rows, robot="fanuc", count=2)
    assert s.convention == "sxyz" and s.columns == "X Y Z W P R (mm, deg)" and len(s.suggestions) == 2
    assert s.suggestions[1].sigma_mm_after < s.suggestions[0].sigma_mm_after < s.sigma_mm
    for x in s.suggestions:
        # The row read back as FANUC defines it, Rz(R) Ry(P) Rx(W), through the true camera and marker.
        w, p, r = np.radians(x.row[3:])
        rz = np.array([[np.cos(r), -np.sin(r), 0], [np.sin(r), np.cos(r), 0], [0, 0, 1]])
        ry = np.array([[np.cos(p), 0, np.sin(p)], [0, 1, 0], [-np.sin(p), 0, np.cos(p)]])
        rx = np.array([[1, 0, 0], [0, np.cos(w), -np.sin(w)], [0, np.sin(w), np.cos(w)]])
        flange = np.eye(4)
        flange[:3, :3] = rz @ ry @ rx
        flange[:3, 3] = x.row[:3]
        seen = np.linalg.inv(flange @ scene.camera) @ np.append(scene.marker, 1.0)
        assert np.degrees(np.arccos(seen[2] / np.linalg.norm(seen[:3]))) <= 25.0

    write_rows(tmp_path / "markers.txt", scene.points)
    write_rows(tmp_path / "robot.txt", scene.robot_rows)
    cli = run_cli("suggest", "--json", "--count", "2", "--robot", "fanuc", "--markers", str(tmp_path / "markers.txt"),
                  "--poses", str(tmp_path / "robot.txt"))
    assert cli.returncode == 0, cli.stderr
    expected = json.loads(cli.stdout)
    assert expected["sigma_mm"] == pytest.approx(s.sigma_mm, rel=1e-6)
    for x, e in zip(s.suggestions, expected["suggestions"]):
        np.testing.assert_allclose(x.row, e["row"], rtol=0, atol=1e-6)
        assert e["from_pose"] == x.from_pose
    with pytest.raises(ValueError):
        tarn.suggest(scene.points, scene.robot_rows, robot="matrix")

    # With a long lens's pinhole, given to both front ends, each marker stays inside the image.
    k, size = [2400.0, 2400.0, 980.0, 590.0], [1920, 1200]
    inside = tarn.suggest(scene.points, scene.robot_rows, count=3, intrinsics=k, image_size=size)
    assert inside.kept_in == "image" and s.kept_in == "view cone"
    for x in inside.suggestions:
        assert 0.1 * 1920 - 1 <= x.pixel[0] <= 0.9 * 1920 and 0.1 * 1200 - 1 <= x.pixel[1] <= 0.9 * 1200
    cli = run_cli("suggest", "--json", "--count", "3", "--robot", "fanuc", "--markers", str(tmp_path / "markers.txt"),
                  "--poses", str(tmp_path / "robot.txt"), "--intrinsics", "2400,2400,980,590", "--image-size",
                  "1920x1200")
    assert cli.returncode == 0, cli.stderr
    expected = json.loads(cli.stdout)
    assert expected["kept_in"] == "image" and expected["pinhole"]["from"] == "given"
    np.testing.assert_allclose(inside.suggestions[0].row, expected["suggestions"][0]["row"], rtol=0, atol=1e-6)


def _scene_arrays(scene):
    return scene.points, scene.robot_rows


def test_the_image_intrinsics_are_read_used_and_agree_with_the_command_line(tmp_path):
    folder = tmp_path / "set"
    tarn.synthesise(str(folder), poses=6, width=640, height=480, seed=3)
    camera = tmp_path / "camera.yaml"  # the renderer's own pinhole: 0.9 x width, the image centre
    camera.write_text("image_width: 640\nimage_height: 480\ncamera_matrix:\n  rows: 3\n  cols: 3\n"
                      "  data: [576, 0, 319.5, 0, 576, 239.5, 0, 0, 1]\ndistortion_model: plumb_bob\n"
                      "distortion_coefficients:\n  rows: 1\n  cols: 5\n  data: [0, 0, 0, 0, 0]\n")
    k = tarn.read_image_intrinsics(camera)
    assert (k["fx"], k["cy"], k["width"], k["distortion"]) == (576.0, 239.5, 640, (0.0, 0.0, 0.0, 0.0, 0.0))
    image, cloud = folder / "images" / "shot_2.png", folder / "clouds" / "shot_2.ply"
    plain = tarn.detect(image, cloud)
    given = tarn.detect(image, cloud, image_intrinsics=camera)
    np.testing.assert_allclose(given.point, plain.point, atol=1e-9)
    assert given.quality["centre_sigma_mm"] > 0.0
    shifted = tarn.detect(image, cloud, image_intrinsics=dict(k, shift_px=(2.0, 0.0)))
    assert np.linalg.norm(shifted.point - plain.point) > 1e-4
    cli = run_cli("detect", "--json", "--images", str(folder / "images"), "--clouds", str(folder / "clouds"),
                  "--image-intrinsics", str(camera))
    assert cli.returncode == 0, cli.stderr
    np.testing.assert_allclose([json.loads(cli.stdout)[2][a] for a in "xyz"], given.point, atol=1e-12)
    with pytest.raises(ValueError, match="no camera matrix"):
        tarn.detect(image, cloud, image_intrinsics=str(folder / "robot.txt"))
    bad = run_cli("detect", "--images", str(folder / "images"), "--clouds", str(folder / "clouds"),
                  "--image-intrinsics", str(camera), "--centre", "centroid")
    assert bad.returncode == 1 and "--centre fit" in bad.stderr

    detections = [tarn.detect(folder / "images" / f"shot_{i}.png", folder / "clouds" / f"shot_{i}.ply")
                  for i in range(6)]
    rows = tarn.read_robot_rows(str(folder / "robot.txt"), "fanuc")
    result = tarn.calibrate(np.array([d.point for d in detections]), rows, detections=detections)
    assert "registration" not in [w.code for w in result.warnings]
    # The detections' normals are used in the solve, as the command line uses them from the same shots.
    assert (result.model, result.shots_with_normal) == ("point+normal", 6)
    cli = run_cli("calibrate", "--json", "--robot", "fanuc", "--images", str(folder / "images"), "--clouds",
                  str(folder / "clouds"), "--poses", str(folder / "robot.txt"))
    assert cli.returncode == 0, cli.stderr
    expected = json.loads(cli.stdout)
    assert expected["model"] == "point+normal"
    np.testing.assert_allclose(result.camera, expected["camera_matrix"], rtol=0, atol=1e-9)
    points = np.array([d.point for d in detections])
    assert tarn.calibrate(points, rows, detections=detections, model="point").model == "point"
    bare = tarn.calibrate(points, rows, normals=[d.normal for d in detections], robot_noise=(0.02, 0.005))
    assert bare.model == "point+normal" and np.isclose(np.linalg.norm(bare.board["normal"]), 1.0)
    with pytest.raises(ValueError, match="model"):
        tarn.calibrate(points, rows, detections=detections, model="plane")
    # The saved board plane judges the shots' normals, from the calibration and from its saved file alike.
    check = tarn.verify(points, rows, bare, normals=[d.normal for d in detections])
    assert check.shots_with_normal == len(points) and check.verdict != "drift"
    assert np.all(np.isfinite(check.normal_residual_deg)) and check.normal_rms_deg < 0.5
    bare.save(tmp_path / "joint.yaml")
    again = tarn.verify(points, rows, str(tmp_path / "joint.yaml"), detections=detections)
    assert again.shots_with_normal == len(points)
    assert tarn.verify(points, rows, bare).shots_with_normal == 0
    # The suggestions score with the same normals; the command line's from the same shots agree.
    fx, fy, cx, cy, w, h = tarn.pinhole(folder / "clouds" / "shot_0.ply", str(folder / "images" / "shot_0.png"))
    nxt = tarn.suggest(points, rows, count=2, detections=detections, intrinsics=(fx, fy, cx, cy), image_size=(w, h))
    assert nxt.model == "point+normal" and len(nxt.suggestions) == 2
    cli = run_cli("suggest", "--json", "--count", "2", "--robot", "fanuc", "--images", str(folder / "images"),
                  "--clouds", str(folder / "clouds"), "--poses", str(folder / "robot.txt"))
    assert cli.returncode == 0, cli.stderr
    np.testing.assert_allclose(nxt.suggestions[0].row, json.loads(cli.stdout)["suggestions"][0]["row"], atol=1e-6)
    assert tarn.suggest(points, rows, count=1, detections=detections, model="point").model == "point"


def test_export_hands_the_transform_to_the_cell(tmp_path):
    result = tarn.calibrate(*_scene_arrays(tarn.synthetic_scene(poses=10, robot="fanuc", seed=4)), robot="fanuc")
    result.export("urdf", tmp_path / "camera.urdf", parent="flange")
    text = (tmp_path / "camera.urdf").read_text()
    xyz = [float(v) for v in re.search(r'xyz="([^"]*)"', text).group(1).split()]
    roll, pitch, yaw = [float(v) for v in re.search(r'rpy="([^"]*)"', text).group(1).split()]
    np.testing.assert_allclose(np.array(xyz) * 1000.0, result.camera[:3, 3], atol=1e-3)
    cz, sz, cy, sy, cx, sx = np.cos(yaw), np.sin(yaw), np.cos(pitch), np.sin(pitch), np.cos(roll), np.sin(roll)
    rotation = (np.array([[cz, -sz, 0], [sz, cz, 0], [0, 0, 1]]) @ np.array([[cy, 0, sy], [0, 1, 0], [-sy, 0, cy]])
                @ np.array([[1, 0, 0], [0, cx, -sx], [0, sx, cx]]))
    np.testing.assert_allclose(rotation, result.camera[:3, :3], atol=1e-7)
    assert '<parent link="flange"/>' in text
    # The command line writes the same from the saved calibration.
    result.save(tmp_path / "result.json")
    cli = run_cli("export", "--result", str(tmp_path / "result.json"), "--to", "ur", "--out", str(tmp_path / "c.script"))
    assert cli.returncode == 0, cli.stderr
    result.export("ur", tmp_path / "p.script")
    assert (tmp_path / "c.script").read_text().splitlines()[-1] == (tmp_path / "p.script").read_text().splitlines()[-1]
    with pytest.raises(ValueError, match="to must be one of"):
        result.export("sdf", tmp_path / "x")


def test_a_four_axis_robot_needs_the_height_and_then_calibrates():
    # A SCARA-like set as FANUC rows (W = P = 0): the camera on the flange looking down at a marker 20 mm up.
    def rz(a):
        c, s = np.cos(a), np.sin(a)
        return np.array([[c, -s, 0], [s, c, 0], [0, 0, 1.0]])
    camera = np.eye(4)
    camera[:3, :3] = np.array([[1, 0, 0], [0, -1, 0], [0, 0, -1.0]]) @ rz(0.2)
    camera[:3, 3] = [30, -20, -80]
    marker = np.array([600, 50, 20.0])
    rows, points = [], []
    for i in range(12):
        a = np.radians(-60 + 11 * i)
        flange = np.eye(4)
        flange[:3, :3] = rz(a)
        flange[:3, 3] = marker + [40 * np.sin(1.7 * i), 40 * np.cos(2.3 * i), 450 + 25 * (i % 4)]
        seen = np.linalg.inv(flange @ camera) @ np.append(marker, 1.0)
        points.append(seen[:3] / 1000 + 0.0003 * np.array([np.sin(5.1 * i), np.cos(3.7 * i), np.sin(2.9 * i)]))
        rows.append([*flange[:3, 3], 0, 0, np.degrees(a)])
    with pytest.raises(tarn.TarnError, match="fixed height"):
        tarn.calibrate(points, rows, "fanuc")
    c = tarn.calibrate(points, rows, "fanuc", fixed_height_mm=20.0)
    assert c.fixed_quantity == "marker-height" and c.fixed_value_mm == 20.0
    assert np.linalg.norm(c.camera[:3, 3] - camera[:3, 3]) < 3 * c.uncertainty["translation_norm_mm"]
    s = tarn.suggest(points, rows, "fanuc", count=2, fixed_height_mm=20.0)
    assert len(s.suggestions) == 2 and all(abs(abs(x.axis[2]) - 1) < 1e-9 for x in s.suggestions)
