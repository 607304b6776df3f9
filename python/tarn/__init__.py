# SPDX-License-Identifier: Apache-2.0
"""Tarn: hand-eye calibration of a 3D camera on an industrial robot.

Find the concentric-circle marker in each shot (:func:`detect`), calibrate the camera against the robot's
flange poses (:func:`calibrate`, with a report on how far to trust the result), convert robot rows of any
controller convention to 4 x 4 matrices and back, and generate synthetic data sets with a known answer.

Units: marker points are metres in the camera frame; robot rows are in the robot type's own units
(millimetres and degrees for the vendor types, radians for UR; ``meter``/``radian`` for the generic types);
results are millimetres unless ``meter``. Every library failure raises :class:`TarnError`.
"""

import os
from dataclasses import dataclass, field
from typing import List, Optional, Sequence, Union

import numpy as np

__all__ = [
    "TarnError", "Detection", "ReportWarning", "Calibration", "Verification", "Suggestion", "Suggestions", "Scene",
    "ROBOTS", "robot_types", "load_calibration", "detect", "read_image_intrinsics", "calibrate", "verify", "suggest", "pinhole",
    "row_to_matrix", "matrix_to_row", "euler_to_matrix", "matrix_to_euler", "quaternion_to_matrix",
    "matrix_to_quaternion", "synthetic_scene", "synthesise", "read_robot_rows", "read_markers", "columns",
    "__version__",
]


class TarnError(Exception):
    """A failure of the library: ``code`` is its result code (e.g. 201, 107), ``message`` what went wrong."""

    def __init__(self, code: int, message: str):
        super().__init__(f"{message} (code {code})")
        self.code = code
        self.message = message


from . import _tarn  # noqa: E402  (the compiled part raises TarnError, defined above)

__version__ = _tarn.version()

#: The robot types, as the command line names them (the library's robot table, in the desktop's list order).
ROBOTS = tuple(t["name"] for t in _tarn.robot_types())


def robot_types() -> list:
    """The robot types with their facts: name, text (the desktop list's), kind, columns, meter and radian
    (whether the rows may be given in metres / radians), angles_in_radians (the fixed unit otherwise)."""
    return _tarn.robot_types()


@dataclass
class Detection:
    """The marker found in one shot."""

    centre: np.ndarray  #: its centre in the image, pixels (u, v)
    point: np.ndarray  #: its centre in the camera frame, metres (3)
    quality: Optional[dict] = None  #: the fitted centre's figures (radii_mm, ratio_deviation, plane_rms_mm, …)
    #: the board's unit normal, camera frame, towards the camera (fitted centre only), with its covariance
    #: (2 x 2, radians², for turns about ``normal_axes``' two rows) and the centre's (3 x 3, m²)
    normal: Optional[np.ndarray] = None
    normal_axes: Optional[np.ndarray] = None
    normal_covariance: Optional[np.ndarray] = None
    centre_covariance: Optional[np.ndarray] = None


@dataclass
class ReportWarning:
    """One warning of the calibration report."""

    code: str  #: few-poses, narrow-rotation, single-axis, uncertain, poor-fit, suspect-pose, likely-setup, registration, …
    message: str
    message_zh: str
    fix: str
    fix_zh: str
    pose: Optional[int] = None  #: the pose a suspect-pose names, counted from 1 (line of the robot file)


@dataclass
class Calibration:
    """A calibration and its report."""

    robot: str
    eye_to_hand: bool
    unit: str  #: "mm" or "m": the unit of camera's translation and of marker
    camera: np.ndarray  #: 4 x 4: camera in the flange (eye-in-hand) or in the base (eye-to-hand)
    camera_row: np.ndarray  #: the same as one robot row of the robot type's convention
    marker: np.ndarray  #: the marker in the base (eye-in-hand) or in the flange (eye-to-hand)
    residuals_mm: np.ndarray  #: n x 3
    residual_distances_mm: np.ndarray  #: n
    used: np.ndarray  #: n booleans: the pose took part (the pose search may drop some)
    rms_mm: float
    max_mm: float
    convention: str  #: the rows' rotation convention used (found, for the generic types)
    runner_up: Optional[str]
    runner_up_rms_mm: Optional[float]
    uncertainty: dict  #: 1σ: translation_mm (3), translation_norm_mm, rotation_deg, marker_mm (3), marker_norm_mm
    leave_one_out_mm: np.ndarray  #: n: each pose's residual under the calibration solved without it
    pose_set: dict  #: poses, largest_rotation_deg, axis_spread, second_axis_spread, translation_spread_mm
    warnings: List[ReportWarning] = field(default_factory=list)
    seed: int = 0  #: the pose search's seed
    model: str = "point"  #: the model solved under: "point", "point+normal" or "point+rotation"
    shots_with_normal: int = 0  #: poses used that carried the board's normal (under "point+normal")
    #: under "point+normal": normal (the board's, in the base eye-in-hand or the flange eye-to-hand),
    #: normal_sigma_deg, normal_rms_deg, point_noise_factor, normal_noise_factor, sight_noise_mm
    board: Optional[dict] = None
    #: n: each pose's leave-one-out residual over its own predicted spread (NaN for a pose not used)
    leave_one_out_studentised: Optional[np.ndarray] = None
    suspect_limit: float = 0.0  #: the studentised residual above which a pose is flagged "suspect-pose"
    tolerance: dict = field(default_factory=dict)  #: translation_mm, rotation_deg, met (the 1σ within them)
    #: distance_mm, distance_from_data, samples, fell_back,
    #: dropped: [{pose (from 1), residual_mm, distance_mm, sigmas, reason, reason_zh}]
    search: dict = field(default_factory=dict)
    #: matrix (9 x 9 over marker mm, camera rotation rad, camera translation mm), residual_sigma_mm, freedom,
    #: along_sight_sigma_mm, across_sight_sigma_mm (a shot's noise): what :func:`verify` needs to know what new shots can see; None
    #: when not known
    covariance: Optional[dict] = None
    #: a 4-axis set solved with a quantity held: "marker-height" or "camera-offset-z" (fixed_value_mm); else None
    fixed_quantity: Optional[str] = None
    fixed_value_mm: Optional[float] = None
    #: the calibration as every program writes it (snake_case keys, "schema": 1): what :meth:`save` writes
    record: Optional[dict] = field(default=None, repr=False)

    # The record's names for the same values.
    camera_matrix = property(lambda self: self.camera)
    marker_position = property(lambda self: self.marker)
    rms_error_mm = property(lambda self: self.rms_mm)
    max_error_mm = property(lambda self: self.max_mm)

    def save(self, path: str) -> None:
        """Writes the calibration as ``tarn calibrate --output`` does: JSON, or YAML for a .yaml / .yml path.
        :func:`verify`, ``tarn verify``, the desktop program's "验证" and :func:`load_calibration` read it."""
        if self.record is None:
            raise ValueError("this calibration has no record to save (it was not made by calibrate)")
        _tarn.save_record(self.record, str(path))

    def export(self, to: str, path: str, parent: Optional[str] = None, child: Optional[str] = None,
               number: int = 1) -> None:
        """Writes the camera transform for the cell, as ``tarn export`` does: ``to`` "ros2" (a static transform
        launch file), "urdf" (a fixed joint), "yaml", or the controller's tool frame (eye-in-hand) or user frame
        (eye-to-hand) in its own syntax and units: "fanuc" (a TP program setting UTOOL/UFRAME ``number``), "kuka"
        (TOOL_DATA/BASE_DATA), "abb" (tooldata/wobjdata), "ur" (set_tcp / a pose). ``parent`` and ``child`` name
        the frames (default tool0 or base_link, and camera_optical_frame)."""
        camera = np.asarray(self.camera, dtype=float).copy()
        if self.unit == "m":
            camera[:3, 3] *= 1000.0
        comments = ["Camera transform (tarn, Python)",
                    "Eye-to-hand: the camera in the robot base" if self.eye_to_hand
                    else "Eye-in-hand: the camera in the flange"]
        _tarn.export_transform(camera, bool(self.eye_to_hand), to, str(path), parent or "", child or "", int(number),
                               comments)


@dataclass
class Verification:
    """A saved calibration checked against new shots."""

    predicted_mm: np.ndarray  #: n x 3: where the saved calibration puts each shot's marker, camera frame
    measured_mm: np.ndarray  #: n x 3: where it was measured
    residual_mm: np.ndarray  #: n: their distances
    rms_mm: float
    max_mm: float
    limit_mm: float  #: the verdict's limit on rms_mm
    limit_from: str  #: "calibration", "default" (a saved file without residuals) or "option"
    verdict: str  #: "ok", "drift" or "inconclusive" (no move seen, but none of the tolerance's size could be)
    convention: str  #: the rows' rotation convention used
    #: the camera's displacement (translation_mm, rotation_deg, translation_xyz_mm, axis; with the covariance
    #: also translation_sigma_mm, rotation_sigma_deg)
    drift: Optional[dict]
    judged_by: str = "limit"  #: "covariance" (knows what the shots can see) or "limit" (the RMS limit)
    #: detectable_shift_mm, detectable_turn_deg, more_shots, tolerance_mm, tolerance_deg, p_value, text
    power: Optional[dict] = None
    shots_with_normal: int = 0  #: shots judged by their board normal too (a calibration solved with normals)
    normal_rms_deg: float = 0.0  #: RMS angle of their normals from the saved board plane's
    #: n: each shot's normal from the saved board plane's (degrees; NaN without a normal)
    normal_residual_deg: Optional[np.ndarray] = None


@dataclass
class Suggestion:
    """A suggested next pose."""

    row: np.ndarray  #: the flange pose as a robot row of the type (its convention and units)
    sigma_mm_after: float  #: camera translation 1 sigma (mm) with this and the suggestions before it taken
    from_pose: int  #: the pose taken it turns from, counted from 1
    turn_deg: float  #: how far it turns from that pose
    axis: np.ndarray  #: the turn's unit axis, base frame
    view_deg: float  #: the marker's angle from the optical axis in the new pose
    distance_mm: float  #: the camera's distance from the marker
    pixel: Optional[np.ndarray] = None  #: where the marker is seen (u, v), when the pinhole is known


@dataclass
class Suggestions:
    """The next poses to take, best first."""

    sigma_mm: float  #: camera translation 1 sigma (mm) of the poses taken
    convention: str  #: the rows' rotation convention
    columns: str  #: the row's columns and units, e.g. "X Y Z W P R (mm, deg)"
    suggestions: List[Suggestion]
    note: str  #: why there is no suggestion, when there is none
    kept_in: str = "view cone"  #: "image" (the pinhole known: kept 10 % inside its border) or "view cone"
    model: str = "point"  #: the model that scored: "point", "point+normal" or "point+rotation"


@dataclass
class Scene:
    """A synthetic calibration with its truth."""

    points: np.ndarray  #: n x 3 marker points, metres, camera frame
    robot_rows: np.ndarray  #: n rows of the robot type
    camera: np.ndarray  #: the true camera transform, 4 x 4, millimetres
    marker: np.ndarray  #: the true marker position, millimetres


PathOrArray = Union[str, "os.PathLike[str]", np.ndarray]


def _path(value):
    """A path given as a str or an os.PathLike (pathlib.Path) as the str the module takes; anything else as it is."""
    return os.fspath(value) if isinstance(value, os.PathLike) else value


def detect(image: PathOrArray, cloud: PathOrArray, centre: str = "fit", image_intrinsics=None) -> Detection:
    """Finds the marker in one shot.

    ``image`` and ``cloud`` are both paths (an image file and a PLY file of as many points as the image has
    pixels) or both arrays (H x W or H x W x 3 uint8 in BGR order; H x W x 3 points in metres, NaN for none).
    ``centre``: "fit" fits the rings as concentric circles on the board plane (hundredths of a pixel);
    "centroid" takes the mean of the rings' centroids and the cloud's point there.
    ``image_intrinsics``: when the image is not the cloud's own undistorted grid (a colour sensor registered
    to a depth sensor, distortion left in the image), the 2D camera's intrinsics: a camera YAML file (OpenCV's
    or ROS's, see :func:`read_image_intrinsics`) or a dict with fx, fy, cx, cy and optionally skew,
    distortion (k1, k2, p1, p2[, k3]), width, height, shift_px (u, v) and turn_deg (the registration).
    """
    intrinsics = _path(image_intrinsics)
    d = _tarn.detect(_path(image), _path(cloud), centre, intrinsics)
    return Detection(d["centre"], d["point"], d["quality"], d["normal"], d.get("normal_axes"),
                     d.get("normal_covariance"), d.get("centre_covariance"))


def read_image_intrinsics(path) -> dict:
    """The 2D camera's intrinsics from an OpenCV or ROS camera YAML file, as the dict :func:`detect` takes.
    Raises ValueError naming what is wrong."""
    return _tarn.read_image_intrinsics(_path(path))


def calibrate(points, robot_rows, robot: str = "fanuc", eye_to_hand: bool = False, meter: bool = False,
              radian: bool = False, ransac_mm: Union[float, str, None] = None, seed: Optional[int] = 20261208,
              setup_check: bool = True, invert: bool = False, tolerance_mm: float = 1.0,
              tolerance_deg: float = 0.1, detections=None, normals=None, model: str = "auto",
              robot_noise=None, fixed_height_mm: Optional[float] = None,
              camera_offset_z_mm: Optional[float] = None) -> Calibration:
    """Solves the camera transform and the marker position, and reports on the result.

    ``points``: n x 3 marker points (metres, camera frame), or n x 4 x 4 target poses whose translations are
    the marker points and whose rotations are used in the solve too (``model`` "point+rotation"); ``robot_rows``: n rows of the robot type (see :data:`ROBOTS`), or with robot="matrix"
    the flange poses as n x 4 x 4 matrices (or n x 16, n x 12 row by row; millimetres, metres with ``meter``;
    base-in-flange with ``invert``). ``ransac_mm`` drops poses whose residual is not below it first, with the pose search
    seeded by ``seed`` (None: a random seed); "auto" (or 0) takes the distance from the data's own noise; every
    dropped pose is listed in ``search`` with why. ``setup_check`` looks for set-up mistakes (other units, robot
    type, hand-eye type, row order). ``tolerance_mm`` and ``tolerance_deg`` are the 1σ the result is held to
    ("uncertain", and ``tolerance["met"]``). ``detections``: the :class:`Detection` of each point, when the
    points came from :func:`detect` with the fitted centre: their outer radii are compared over the shots
    ("registration" when they spread beyond the fits' noise: the image and the cloud disagree), and their board
    normals and covariances are used in the solve. ``normals``: n x 3 board normals (camera frame, towards the
    camera; a row of NaN for a shot without one) when the points came without detections. With normals (from
    either) the camera, the marker and the board are solved jointly, each shot weighted by its noise (``model``
    "point+normal"); ``model="point"`` solves with the points alone. ``robot_noise``: (mm, deg), the robot's
    pose noise (1σ per axis of a shift and a turn), weighs the shots in that solve. A 4-axis robot (turns about
    the vertical axis only) needs the one quantity no shot sees: ``fixed_height_mm``, the marker's height in the
    base (eye-to-hand: its offset along the flange's z axis), or ``camera_offset_z_mm``, the camera's offset along
    the flange's z axis (eye-to-hand: its height in the base); ``fixed_quantity`` then says which was held.
    Raises :class:`TarnError` (code 201 and what to do, 202 empty, 203 counts differ, 204 a row's length).
    """
    targets = np.asarray(points, dtype=float)
    rotations = [list(r.ravel()) for r in targets[:, :3, :3]] if targets.ndim == 3 and targets.shape[1:] == (4, 4) else []
    points = _marker_points(points)
    robot_rows, robot, meter = _rows_of(robot_rows, robot, meter, invert)
    radii, sigmas = [], []
    if detections is not None:
        for d in detections:
            q = d.quality if isinstance(d, Detection) else None
            radii.append(float(q["marker_radius_mm"]) if q else 0.0)
            sigmas.append(float(q["outer_radius_sigma_mm"]) if q else 0.0)
    planes = _planes_of(detections, normals, len(points))
    noise_mm, noise_deg = (0.0, 0.0) if robot_noise is None else (float(robot_noise[0]), float(robot_noise[1]))
    record = _tarn.calibrate(points, np.asarray(robot_rows, dtype=float), robot, eye_to_hand, meter, radian,
                             ransac_mm, seed, setup_check, tolerance_mm, tolerance_deg, radii, sigmas, planes, model,
                             noise_mm, noise_deg, rotations, fixed_height_mm, camera_offset_z_mm)
    return _calibration_of(record)


def _planes_of(detections, normals, count: int) -> list:
    """Each shot's board plane as the module takes it: [] for none, else normal, axes, turn and centre covariances
    (22 numbers, zeros where not stated)."""
    planes = []
    if detections is not None:
        for d in detections:
            if not isinstance(d, Detection) or d.normal is None:
                planes.append([])
                continue
            parts = [d.normal, d.normal_axes, d.normal_covariance, d.centre_covariance]
            sizes = [3, 6, 4, 9]
            planes.append([float(v) for part, size in zip(parts, sizes)
                           for v in (np.zeros(size) if part is None else np.asarray(part, dtype=float).ravel())])
    elif normals is not None:
        normals = np.asarray(normals, dtype=float)
        if normals.shape != (count, 3):
            raise ValueError(f"normals must be {count} x 3, not {' x '.join(map(str, normals.shape))}")
        planes = [[] if np.isnan(n).any() else [float(v) for v in n] + [0.0] * 19 for n in normals]
    return planes


def load_calibration(path: str) -> Calibration:
    """A calibration saved by :meth:`Calibration.save` or ``tarn calibrate --output`` (JSON or YAML), with its
    report; :func:`verify` and the desktop program read the same files. Raises ValueError for anything else."""
    return _calibration_of(_tarn.load_record(str(path)))


def _floats(values) -> np.ndarray:
    return np.array([np.nan if v is None else v for v in values], dtype=float)


def _calibration_of(record: dict) -> Calibration:
    """The dataclass of a calibration record, the one layout every program writes."""
    residuals = record["residuals_mm"]
    n = len(residuals)
    mask = record.get("mask") or []
    u = record.get("uncertainty") or {}
    uncertainty = {}
    if u.get("translation_mm"):
        t, m = u["translation_mm"], u["marker_mm"]
        uncertainty = {"translation_mm": np.array([t["x"], t["y"], t["z"]]), "translation_norm_mm": t["norm"],
                       "rotation_deg": u["rotation_deg"], "marker_mm": np.array([m["x"], m["y"], m["z"]]),
                       "marker_norm_mm": m["norm"]}
    covariance = record.get("covariance")
    if covariance:
        covariance = {k: v for k, v in covariance.items() if k != "parameters"}
        covariance["matrix"] = np.array(covariance["matrix"], dtype=float)
    limit = record.get("suspect_limit")
    return Calibration(
        robot=record["robot"], eye_to_hand=record["hand_eye"] == "eye-to-hand", unit=record["unit"],
        camera=np.array(record["camera_matrix"], dtype=float), camera_row=np.array(record["camera_row"], dtype=float),
        marker=np.array(record["marker_position"], dtype=float),
        residuals_mm=np.array([[r["dx"], r["dy"], r["dz"]] for r in residuals], dtype=float).reshape(n, 3),
        residual_distances_mm=np.array([r["distance"] for r in residuals], dtype=float),
        used=np.array([not mask or v != 0 for v in (mask or [1] * n)], dtype=bool),
        rms_mm=record["rms_error_mm"], max_mm=record["max_error_mm"], convention=record.get("convention", ""),
        runner_up=record.get("runner_up"), runner_up_rms_mm=record.get("runner_up_rms_mm"), uncertainty=uncertainty,
        leave_one_out_mm=_floats(record.get("leave_one_out_mm", [])), pose_set=record.get("pose_set", {}),
        warnings=[ReportWarning(w["code"], w["message"], w.get("message_zh", ""), w.get("fix", ""),
                                w.get("fix_zh", ""), w.get("pose")) for w in record.get("warnings", [])],
        seed=record.get("seed", 0), leave_one_out_studentised=_floats(record.get("leave_one_out_studentised", [])),
        suspect_limit=np.nan if limit is None else limit, tolerance=record.get("tolerance", {}),
        search=record.get("search", {}), covariance=covariance or None, model=record.get("model", "point"),
        shots_with_normal=record.get("shots_with_normal", 0), board=record.get("board"),
        fixed_quantity=record.get("fixed_quantity"), fixed_value_mm=record.get("fixed_value_mm"), record=record)


def verify(points, robot_rows, saved, robot: Optional[str] = None, eye_to_hand: Optional[bool] = None,
           meter: bool = False, radian: bool = False, limit_mm: Optional[float] = None,
           invert: bool = False, tolerance_mm: float = 1.0, tolerance_deg: float = 0.1, detections=None,
           normals=None) -> Verification:
    """Checks new shots against a saved calibration, without calibrating again.

    ``saved`` is a :class:`Calibration`, or the path of what ``tarn calibrate --json`` printed or of a result
    file the desktop program saved. ``points`` and ``robot_rows`` are the new shots as for :func:`calibrate`;
    the robot type and set-up are the saved calibration's unless given (robot="matrix", with ``invert``, as for
    :func:`calibrate`; a calibration saved from matrices needs it). With the saved calibration's covariance
    (a :class:`Calibration`, or a file saved by this version) the shots are judged against what it predicts,
    its own uncertainty included: "drift" when a move is significant at 99 %, "ok" when none is and the shots
    would have seen a shift of ``tolerance_mm`` and a turn of ``tolerance_deg``, "inconclusive" otherwise
    (``power`` says what they can see and how many more shots would see ``tolerance_mm``). Without it, or with
    ``limit_mm``, the verdict is "drift" when the RMS residual exceeds the limit: 2.5 times the saved
    calibration's leave-one-out RMS (at least 0.1 mm), 1 mm for a file without it, or ``limit_mm``. Raises :class:`TarnError` (201 a saved matrix that is not a rigid
    transform, 202, 203, 204 as for calibrate) and ValueError for a file that is not a saved result.
    ``detections`` or ``normals`` (as for :func:`calibrate`; or 4 x 4 target poses as ``points``): the new shots'
    board normals. A calibration solved with the normals (``model`` "point+normal" or "point+rotation") judges
    them beside the points, and sees a turn of the camera far sooner (``shots_with_normal``, ``normal_rms_deg``,
    ``normal_residual_deg`` per shot, NaN without a normal).
    """
    if isinstance(saved, Calibration):
        saved = {"camera": saved.camera, "marker": saved.marker, "rms_mm": saved.rms_mm,
                 "leave_one_out_mm": saved.leave_one_out_mm, "uncertainty": saved.uncertainty,
                 "convention": saved.convention, "robot": saved.robot, "eye_to_hand": saved.eye_to_hand,
                 "unit": saved.unit, "covariance": saved.covariance, "model": saved.model, "board": saved.board}
    elif isinstance(saved, os.PathLike):
        saved = os.fspath(saved)
    elif not isinstance(saved, str):
        raise ValueError("saved must be a Calibration or the path of a saved calibration, not " + repr(saved))
    targets = np.asarray(points, dtype=float)
    rotations = [list(r.ravel()) for r in targets[:, :3, :3]] if targets.ndim == 3 and targets.shape[1:] == (4, 4) else []
    points = _marker_points(points)
    planes = _planes_of(detections, normals, len(points))
    robot_rows, robot, meter = _rows_of(robot_rows, robot, meter, invert)
    v = _tarn.verify(points, np.asarray(robot_rows, dtype=float), saved, robot, eye_to_hand, meter,
                     radian, limit_mm, tolerance_mm, tolerance_deg, planes, rotations)
    shots = v.pop("shots")
    v.pop("schema", None)
    v["normal_residual_deg"] = _floats([s["normal_residual_deg"] for s in shots])
    for key in ("predicted_mm", "measured_mm", "residual_mm"):
        v[key] = np.array([s[key] for s in shots], dtype=float).reshape((len(shots), 3) if key != "residual_mm" else -1)
    if v["drift"]:
        v["drift"] = {k: np.array(x, dtype=float) if isinstance(x, list) else x for k, x in v["drift"].items()}
    return Verification(**v)


def suggest(points, robot_rows, robot: str = "fanuc", eye_to_hand: bool = False, meter: bool = False,
            radian: bool = False, count: int = 3, intrinsics: Optional[Sequence[float]] = None,
            image_size: Optional[Sequence[int]] = None, detections=None, normals=None, model: str = "auto",
            robot_noise=None, fixed_height_mm: Optional[float] = None,
            camera_offset_z_mm: Optional[float] = None) -> Suggestions:
    """The next robot poses to take: those that shrink the camera translation's uncertainty most.

    ``points`` and ``robot_rows`` are the shots taken, as for :func:`calibrate` (not robot="matrix": a suggestion
    is a row of the robot's own convention). Each suggestion keeps the camera's distance to the marker and, with
    ``intrinsics`` (fx, fy, cx, cy in pixels, as :func:`pinhole` estimates them from a shot's cloud) and
    ``image_size`` (width, height), the marker inside the image, 10 % from its border; without them within 25
    degrees of the optical axis. Its ``sigma_mm_after`` counts the suggestions before it. Take the first, add its
    shot, and ask again. ``detections``, ``normals``, ``model`` and ``robot_noise`` as for :func:`calibrate`:
    with the shots' board normals the calibration is solved with them and each pose is scored by what its point
    and its normal would add (``model`` says which scored). A 4-axis robot's shots need ``fixed_height_mm`` or
    ``camera_offset_z_mm`` as for :func:`calibrate`; its suggestions then turn about the vertical only. Raises :class:`TarnError` as :func:`calibrate` does (the
    poses taken must calibrate) and ValueError for a count outside 1 to 50.
    """
    if robot == "matrix":
        raise ValueError("robot='matrix' has no row convention to suggest poses in: give the robot's type")
    if not 1 <= count <= 50:
        raise ValueError("count must be 1 to 50")
    targets = np.asarray(points, dtype=float)
    rotations = [list(r.ravel()) for r in targets[:, :3, :3]] if targets.ndim == 3 and targets.shape[1:] == (4, 4) else []
    points = _marker_points(points)
    planes = _planes_of(detections, normals, len(points))
    noise_mm, noise_deg = (0.0, 0.0) if robot_noise is None else (float(robot_noise[0]), float(robot_noise[1]))
    s = _tarn.suggest(points, np.asarray(robot_rows, dtype=float), robot, eye_to_hand, meter, radian,
                      count, None if intrinsics is None else [float(v) for v in intrinsics],
                      None if image_size is None else [int(v) for v in image_size], planes, model, noise_mm,
                      noise_deg, rotations, fixed_height_mm, camera_offset_z_mm)
    s.pop("schema", None)
    arrays = ("row", "axis", "pixel")
    s["suggestions"] = [Suggestion(**{k: np.array(v, dtype=float) if k in arrays and v is not None else v
                                      for k, v in x.items()}) for x in s["suggestions"]]
    return Suggestions(**s)


def pinhole(cloud: PathOrArray, image: Optional[str] = None):
    """The camera's pinhole from a shot's organised cloud: (fx, fy, cx, cy, width, height), or None.

    ``cloud`` is a PLY path (with ``image``, its image's path, for the size) or an H x W x 3 array of points in
    metres (NaN for none). Pixel (u, v) sees the ray ((u - cx) / fx, (v - cy) / fy, 1).
    """
    return _tarn.pinhole(_path(cloud), _path(image))


def _rows_of(robot_rows, robot, meter: bool, invert: bool):
    """The rows, robot type and unit the module takes: 4 x 4 flange poses (robot="matrix") as ABB quaternion rows."""
    if robot == "matrix":
        return _matrix_rows(robot_rows, meter, invert), "abb-quat", False
    if invert:
        raise ValueError("invert applies to robot='matrix' only")
    return robot_rows, robot, meter


def _nearest_rotation(m):
    u, _, vt = np.linalg.svd(m)
    r = u @ vt
    if np.linalg.det(r) < 0 or np.abs(r - m).max() > 1e-3:
        raise ValueError("a pose matrix's rotation block is not a rotation")
    return r


def _matrix_rows(matrices, meter: bool, invert: bool) -> np.ndarray:
    """4 x 4 flange poses (n x 4 x 4, n x 16 or n x 12) as ABB quaternion rows (mm)."""
    m = np.asarray(matrices, dtype=float)
    if not np.isfinite(m).all():
        bad = int(np.argwhere(~np.isfinite(m.reshape(len(m), -1)))[0][0]) if m.ndim >= 2 else 0
        raise ValueError(f"robot_rows for robot='matrix': pose {bad + 1} holds a value that is not a finite number")
    if m.ndim == 2 and m.shape[1] in (12, 16):
        m = np.concatenate([m[:, :12], np.tile([0.0, 0.0, 0.0, 1.0], (len(m), 1))], axis=1).reshape(-1, 4, 4)
    if m.ndim != 3 or m.shape[1:] != (4, 4):
        raise ValueError("robot_rows for robot='matrix' must be n x 4 x 4, n x 16 or n x 12")
    rows = []
    for pose in m:
        pose = pose.copy()
        pose[:3, :3] = _nearest_rotation(pose[:3, :3])
        pose[3] = [0.0, 0.0, 0.0, 1.0]
        if meter:
            pose[:3, 3] *= 1000.0
        if invert:
            pose = np.linalg.inv(pose)
            pose[:3, :3] = _nearest_rotation(pose[:3, :3])
        rows.append(_tarn.matrix_to_row(pose, "abb-quat", "", False, False))
    return np.asarray(rows)


def _marker_points(points) -> np.ndarray:
    """Marker points (n x 3) from points or from target poses (n x 4 x 4: their translations)."""
    p = np.asarray(points, dtype=float)
    if p.ndim == 3 and p.shape[1:] == (4, 4):
        return np.ascontiguousarray(p[:, :3, 3])
    return p


def read_robot_rows(path: str, robot: str = "fanuc") -> np.ndarray:
    """The rows of a robot data file as the command line reads it: values separated by spaces, tabs, commas
    or semicolons, '#' comments and a first line of names skipped. With robot="matrix", 16 or 12 values a line."""
    return _tarn.read_robot_rows(_path(path), robot)


def read_markers(path: str, targets: bool = False, unit: str = "m") -> np.ndarray:
    """Marker points (n x 3, metres) from a markers file (x y z [u v] a line, or tarn detect's table or JSON
    output) or, with ``targets``, a file of target poses (16 or 12 values of a 4 x 4 matrix, or X Y Z and a
    quaternion: the translation); ``unit`` "m" or "mm"."""
    return _tarn.read_markers(_path(path), targets, unit)


def columns(robot: str) -> List[str]:
    """The column names of a robot type's rows, e.g. ["X", "Y", "Z", "W", "P", "R"]."""
    return _tarn.columns(robot)


def row_to_matrix(row: Sequence[float], robot: str = "fanuc", convention: str = "", meter: bool = False,
                  radian: bool = False) -> np.ndarray:
    """A robot row as a 4 x 4 matrix (translation in the row's unit).

    ``convention``: empty for the robot type's own; for the generic types an Euler axes key ("sxyz",
    "rzyx", …), "axis" (rotation vector), or "wxyz"/"xyzw" for quaternions.
    """
    return _tarn.row_to_matrix([float(v) for v in row], robot, convention, meter, radian)


def matrix_to_row(matrix, robot: str = "fanuc", convention: str = "", meter: bool = False,
                  radian: bool = False) -> np.ndarray:
    """A 4 x 4 matrix (translation in the row's unit) as a robot row, ready to type into the controller."""
    return _tarn.matrix_to_row(np.asarray(matrix, dtype=float), robot, convention, meter, radian)


def _pose(rotation) -> np.ndarray:
    m = np.eye(4)
    m[:3, :3] = np.asarray(rotation, dtype=float)
    return m


def euler_to_matrix(angles: Sequence[float], axes: str = "sxyz", degrees: bool = True) -> np.ndarray:
    """The 3 x 3 rotation of three Euler angles; ``axes`` as in :func:`row_to_matrix`, or "axis"."""
    return row_to_matrix([0.0, 0.0, 0.0, *angles], "generic3", axes, radian=not degrees)[:3, :3]


def matrix_to_euler(rotation, axes: str = "sxyz", degrees: bool = True) -> np.ndarray:
    """The three Euler angles (or the rotation vector, axes="axis") of a 3 x 3 rotation."""
    return matrix_to_row(_pose(rotation), "generic3", axes, radian=not degrees)[3:]


def quaternion_to_matrix(q: Sequence[float], order: str = "xyzw") -> np.ndarray:
    """The 3 x 3 rotation of a quaternion (any length) in ``order`` "xyzw" or "wxyz"."""
    return row_to_matrix([0.0, 0.0, 0.0, *q], "generic4", order)[:3, :3]


def matrix_to_quaternion(rotation, order: str = "xyzw") -> np.ndarray:
    """The unit quaternion of a 3 x 3 rotation, in ``order``."""
    return matrix_to_row(_pose(rotation), "generic4", order)[3:]


def synthetic_scene(poses: int = 12, eye_to_hand: bool = False, robot: str = "fanuc", noise_mm: float = 0.0,
                    seed: int = 1, meter: bool = False, radian: bool = False, outliers: Sequence[int] = (),
                    outlier_mm: float = 50.0) -> Scene:
    """Marker points and robot rows of a synthetic set-up with a known camera transform and marker.

    ``noise_mm``: σ of each marker point coordinate; ``outliers``: poses whose point is moved by ``outlier_mm``.
    """
    return Scene(**_tarn.synthetic_scene(poses, eye_to_hand, robot, noise_mm, seed, meter, radian, list(outliers),
                                         outlier_mm))


def synthesise(folder: str, poses: int = 12, eye_to_hand: bool = False, robot: str = "fanuc", noise_mm: float = 0.2,
               seed: int = 1, width: int = 1024, height: int = 768, force: bool = False) -> None:
    """Renders a whole data set into ``folder``: images/, clouds/, robot.txt and truth.json."""
    _tarn.synthesise(_path(folder), poses, eye_to_hand, robot, noise_mm, seed, width, height, force)
