// SPDX-License-Identifier: Apache-2.0
// The `tarn` Python module: detection, calibration with its report, the robot-row conversions and the
// synthetic data generator, numpy in and numpy out. Every library failure raises tarn.TarnError carrying
// the library's code and message.

#include <tarn/CalibrationReport.h>
#include <tarn/FittedMarkerDetect.h>
#include <tarn/MarkerDetect.h>
#include <tarn/RowConversions.h>
#include <tarn/Version.h>

#include "CellExport.h"
#include "DataFiles.h"
#include "DataSet.h"
#include "HandEyeScene.h"
#include "ImageCodecs.h"
#include "LibraryOutput.h"
#include "Report.h"
#include "RobotTypes.h"
#include "Suggestion.h"
#include "Tables.h"
#include "Verification.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <opencv2/imgcodecs.hpp>

#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace py = pybind11;
using namespace TamoHandEye;
using TarnWorkflow::RobotType;

namespace {

// A library failure on its way to Python as tarn.TarnError(code, message).
struct Failure : std::runtime_error {
  Failure(int failureCode, const std::string& message) : std::runtime_error(message), code(failureCode) {}
  int code;
};

const RobotType& Robot(const std::string& name) {
  const RobotType* robot = TarnWorkflow::FindRobotType(name);
  if (robot == nullptr) {
    throw py::value_error("unknown robot type '" + name + "'; use one of " + TarnWorkflow::RobotTypeNames());
  }
  return *robot;
}

// A JSON value as the Python objects json.loads makes of it.
py::object FromJson(const nlohmann::json& value) { return py::module_::import("json").attr("loads")(value.dump()); }

// Writes a calibration record (as calibrate returned it) as JSON, or YAML for a .yaml / .yml path, replacing
// the file whole.
void SaveRecord(const py::object& record, const std::string& path) {
  const auto j = nlohmann::json::parse(py::module_::import("json").attr("dumps")(record).cast<std::string>());
  std::string error;
  if (!TarnWorkflow::WriteRecordFile(path, j, error)) throw py::value_error(error);
}

// The camera transform (4 x 4, millimetres) written for the cell (ExportTransform).
void ExportTransformFile(const py::array_t<double, py::array::c_style | py::array::forcecast>& camera, bool eyeToHand,
                         const std::string& to, const std::string& path, const std::string& parent,
                         const std::string& child, int number, const std::vector<std::string>& comments) {
  const auto target = TarnWorkflow::ExportTargetOf(to);
  if (!target) throw py::value_error("to must be one of " + TarnWorkflow::ExportTargetNames() + ", not " + to);
  if (camera.ndim() != 2 || camera.shape(0) != 4 || camera.shape(1) != 4) throw py::value_error("camera must be 4 x 4");
  if (number < 1 || number > 99) throw py::value_error("number must be 1 to 99");
  std::array<double, 16> m{};
  std::copy(camera.data(), camera.data() + 16, m.begin());
  TarnWorkflow::ExportOptions options;
  options.parent = parent;
  options.child = child;
  options.number = number;
  options.comments = comments;
  std::string text;
  try {
    text = TarnWorkflow::ExportTransform(*target, m, eyeToHand, options);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  }
  std::string error;
  if (!TarnWorkflow::ReplaceFile(path, text, &error)) throw py::value_error(error);
}

// The record of a calibration saved as JSON or YAML.
py::object LoadRecord(const std::string& path) {
  std::string text;
  TarnWorkflow::DataFileError read;
  if (!TarnWorkflow::ReadWholeFile(path, "calibration record", TarnWorkflow::kMaxResultBytes, text, read)) {
    throw py::value_error(read.message);
  }
  nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  std::string error = "neither JSON nor YAML";
  if (j.is_discarded() && !TarnWorkflow::FromYaml(text, j, error)) throw py::value_error(path + ": " + error);
  if (!j.is_object() || !j.contains("camera_matrix")) {
    throw py::value_error(path + ": not a calibration record (is it what calibrate saved?)");
  }
  return FromJson(j);
}

// The robot list, from the library's robot table.
py::list RobotTypeList() {
  py::list types;
  for (const RobotType& type : TarnWorkflow::RobotTypes()) {
    py::dict d;
    d["name"] = type.name;
    d["text"] = type.text;
    d["kind"] = TamoHandEye::KindInfo(type.kind).name;
    d["columns"] = type.ColumnNames();
    d["meter"] = type.meterChoice;
    d["radian"] = type.radianChoice;
    d["angles_in_radians"] = type.radian;
    types.append(d);
  }
  return types;
}

py::array_t<double> Array(const std::vector<double>& values, std::vector<py::ssize_t> shape) {
  py::array_t<double> out(shape);
  std::copy(values.begin(), values.end(), out.mutable_data());
  return out;
}

py::array_t<double> Matrix(const std::vector<std::vector<double>>& rows) {
  std::vector<double> flat;
  for (const auto& row : rows) flat.insert(flat.end(), row.begin(), row.end());
  const auto columns = rows.empty() ? 0 : static_cast<py::ssize_t>(rows.front().size());
  return Array(flat, {static_cast<py::ssize_t>(rows.size()), columns});
}

// An n x k array of finite numbers as rows; `what` names it in messages.
std::vector<std::vector<double>> Rows(const py::array_t<double, py::array::c_style | py::array::forcecast>& a,
                                      const std::string& what) {
  if (a.ndim() != 2) throw py::value_error(what + " must be a 2-D array (one row per pose)");
  std::vector<std::vector<double>> rows(static_cast<std::size_t>(a.shape(0)));
  const auto view = a.unchecked<2>();
  for (py::ssize_t i = 0; i < a.shape(0); ++i) {
    for (py::ssize_t j = 0; j < a.shape(1); ++j) rows[static_cast<std::size_t>(i)].push_back(view(i, j));
  }
  return rows;
}

// The robot rows of `robot`; a row that is no pose though its values are numbers (a quaternion of no
// length, a value beyond any position or angle) is refused as calibrate refuses it, naming the row.
RobotRows UsableRows(const RobotType& robot,
                     const py::array_t<double, py::array::c_style | py::array::forcecast>& robotRows) {
  RobotRows rows = Rows(robotRows, "robot_rows");
  if (const auto unusable = TarnWorkflow::FindUnusableRow(robot, rows))
    throw Failure(Err_Solve_Fail, unusable->Message());
  return rows;
}

// ---- Detection ----

cv::Mat ImageOf(const py::handle& image) {
  if (py::isinstance<py::str>(image)) {
    const std::string path = image.cast<std::string>();
    cv::Mat read = TarnCodecs::Read(path, cv::IMREAD_UNCHANGED);
    if (read.empty()) throw Failure(Err_Data_Invalid_Image, "the image " + path + " cannot be read");
    return read;
  }
  const auto a = py::array_t<std::uint8_t, py::array::c_style | py::array::forcecast>::ensure(image);
  if (!a || (a.ndim() != 2 && !(a.ndim() == 3 && a.shape(2) == 3))) {
    throw py::value_error("image must be a path or an H x W or H x W x 3 array of uint8 (BGR)");
  }
  const int type = a.ndim() == 2 ? CV_8UC1 : CV_8UC3;
  return cv::Mat(static_cast<int>(a.shape(0)), static_cast<int>(a.shape(1)), type, const_cast<std::uint8_t*>(a.data()))
      .clone();
}

cv::Mat CloudOf(const py::handle& cloud) {
  const auto a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(cloud);
  if (!a || a.ndim() != 3 || a.shape(2) != 3) {
    throw py::value_error("cloud must be a path or an H x W x 3 array of points (metres, NaN for none)");
  }
  return cv::Mat(static_cast<int>(a.shape(0)), static_cast<int>(a.shape(1)), CV_64FC3, const_cast<double*>(a.data()))
      .clone();
}

// The 2D camera's intrinsics as a dict of ImageIntrinsics' fields, and back.
py::dict IntrinsicsDict(const ImageIntrinsics& k) {
  py::dict d;
  d["fx"] = k.fx;
  d["fy"] = k.fy;
  d["cx"] = k.cx;
  d["cy"] = k.cy;
  d["skew"] = k.skew;
  d["distortion"] = py::make_tuple(k.k1, k.k2, k.p1, k.p2, k.k3);
  d["width"] = k.width;
  d["height"] = k.height;
  d["shift_px"] = py::make_tuple(k.shiftUPx, k.shiftVPx);
  d["turn_deg"] = k.turnDeg;
  return d;
}

py::dict ReadIntrinsics(const std::string& path) {
  ImageIntrinsics k;
  std::string error;
  if (!ReadImageIntrinsics(path, k, error)) throw py::value_error(error);
  return IntrinsicsDict(k);
}

ImageIntrinsics IntrinsicsOf(const py::object& given) {
  if (py::isinstance<py::str>(given)) {
    ImageIntrinsics k;
    std::string error;
    if (!ReadImageIntrinsics(given.cast<std::string>(), k, error)) throw py::value_error(error);
    return k;
  }
  if (!py::isinstance<py::dict>(given)) {
    throw py::value_error("image_intrinsics must be a path to a camera YAML file or a dict (fx, fy, cx, cy, …)");
  }
  const auto d = given.cast<py::dict>();
  for (const auto& item : d) {
    static const char* const kKeys[] = {"fx",         "fy",    "cx",     "cy",       "skew",
                                        "distortion", "width", "height", "shift_px", "turn_deg"};
    const std::string key = py::str(item.first).cast<std::string>();
    if (std::find_if(std::begin(kKeys), std::end(kKeys), [&](const char* k) { return key == k; }) == std::end(kKeys)) {
      throw py::value_error("image_intrinsics: unknown key \"" + key +
                            "\" (fx, fy, cx, cy, skew, distortion, width, "
                            "height, shift_px, turn_deg)");
    }
  }
  ImageIntrinsics k;
  const auto number = [&](const char* key, double& into) {
    if (d.contains(key)) into = d[key].cast<double>();
  };
  for (const char* key : {"fx", "fy", "cx", "cy"}) {
    if (!d.contains(key)) throw py::value_error(std::string("image_intrinsics needs ") + key);
  }
  number("fx", k.fx);
  number("fy", k.fy);
  number("cx", k.cx);
  number("cy", k.cy);
  number("skew", k.skew);
  number("turn_deg", k.turnDeg);
  if (d.contains("distortion")) {
    const auto values = d["distortion"].cast<std::vector<double>>();
    if (values.size() != 4 && values.size() != 5) {
      throw py::value_error("image_intrinsics: distortion must be k1, k2, p1, p2[, k3]");
    }
    k.k1 = values[0];
    k.k2 = values[1];
    k.p1 = values[2];
    k.p2 = values[3];
    k.k3 = values.size() == 5 ? values[4] : 0.0;
  }
  if (d.contains("shift_px")) {
    const auto shift = d["shift_px"].cast<std::vector<double>>();
    if (shift.size() != 2) throw py::value_error("image_intrinsics: shift_px must be (u, v)");
    k.shiftUPx = shift[0];
    k.shiftVPx = shift[1];
  }
  if (d.contains("width")) k.width = d["width"].cast<int>();
  if (d.contains("height")) k.height = d["height"].cast<int>();
  if (const std::string problem = CheckImageIntrinsics(k); !problem.empty()) throw py::value_error(problem);
  return k;
}

py::dict DetectMarker(const py::object& image, const py::object& cloud, const std::string& centre,
                      const py::object& imageIntrinsics) {
  if (centre != "fit" && centre != "centroid") throw py::value_error("centre must be 'fit' or 'centroid'");
  const bool fit = centre == "fit";
  std::optional<ImageIntrinsics> intrinsics;
  if (!imageIntrinsics.is_none()) {
    if (!fit) throw py::value_error("image_intrinsics needs the fitted centre (centre=\"fit\")");
    intrinsics = IntrinsicsOf(imageIntrinsics);
  }
  MarkerPlaneResult plane;
  const auto fitted = [&](const auto& img, const auto& pts, MarkerBoardResult& marker, MarkerFitQuality& quality) {
    const ErrorCode c = SolveFittedMarkerPlane(img, pts, plane, quality, intrinsics ? &*intrinsics : nullptr);
    if (c == Success) marker = MarkerBoardResult{plane.x, plane.y, plane.z, plane.u, plane.v};
    return c;
  };
  MarkerBoardResult marker{};
  MarkerFitQuality quality;
  ErrorCode code = Success;
  {
    if (py::isinstance<py::str>(image) && py::isinstance<py::str>(cloud)) {
      const std::string imagePath = image.cast<std::string>();
      const std::string cloudPath = cloud.cast<std::string>();
      py::gil_scoped_release release;
      code =
          fit ? fitted(imagePath, cloudPath, marker, quality) : SolveMarkerBoardResults(imagePath, cloudPath, marker);
    } else if (py::isinstance<py::str>(cloud)) {
      throw py::value_error("give image and cloud both as paths or both as arrays");
    } else {
      const cv::Mat img = ImageOf(image);
      const cv::Mat pts = CloudOf(cloud);
      py::gil_scoped_release release;
      code = fit ? fitted(img, pts, marker, quality) : SolveMarkerBoardResults(img, pts, marker);
    }
  }
  if (code != Success) throw Failure(code, parseCode(code));
  py::dict out;
  out["point"] = Array({marker.x, marker.y, marker.z}, {3});
  out["centre"] = Array({marker.u, marker.v}, {2});
  out["normal"] = py::none();
  if (fit) {
    const MarkerPlaneResult& p = plane;
    out["normal"] = Array({p.nx, p.ny, p.nz}, {3});
    out["normal_axes"] = Array(
        {p.normalAxes[0], p.normalAxes[1], p.normalAxes[2], p.normalAxes[3], p.normalAxes[4], p.normalAxes[5]}, {2, 3});
    out["normal_covariance"] =
        Array({p.normalCovariance[0], p.normalCovariance[1], p.normalCovariance[2], p.normalCovariance[3]}, {2, 2});
    out["centre_covariance"] = Array(std::vector<double>(p.centreCovariance, p.centreCovariance + 9), {3, 3});
  }
  if (fit) {
    py::dict q;
    q["radii_mm"] = Array({quality.radiiMm[0], quality.radiiMm[1], quality.radiiMm[2], quality.radiiMm[3]}, {4});
    q["ratio_deviation"] = quality.ratioDeviation;
    q["plane_rms_mm"] = quality.planeRmsMm;
    q["edge_points"] = quality.edgePoints;
    q["plane_points"] = quality.planePoints;
    q["edge_offset_px"] = quality.edgeOffsetPx;
    q["boundaries_used"] = py::make_tuple(quality.boundaryUsed[0], quality.boundaryUsed[1], quality.boundaryUsed[2],
                                          quality.boundaryUsed[3]);
    q["centre_sigma_mm"] = quality.centreSigmaMm;
    q["marker_radius_mm"] = quality.markerRadiusMm;
    q["outer_radius_sigma_mm"] = quality.outerRadiusSigmaMm;
    out["quality"] = q;
  } else {
    out["quality"] = py::none();
  }
  return out;
}

// ---- Calibration ----

std::vector<MarkerBoardResult> MarkersOf(const py::array_t<double, py::array::c_style | py::array::forcecast>& points) {
  std::vector<MarkerBoardResult> markers;
  for (const auto& p : Rows(points, "points")) {
    if (p.size() != 3) throw py::value_error("points must be n x 3 (x, y, z in metres, camera frame)");
    markers.push_back({p[0], p[1], p[2], 0.0, 0.0});
  }
  return markers;
}

// The tolerance of calibrate and verify: two finite numbers above 0.
void CheckTolerance(double mm, double deg) {
  if (!(std::isfinite(mm) && mm > 0.0 && std::isfinite(deg) && deg > 0.0)) {
    throw py::value_error("tolerance_mm and tolerance_deg must be finite numbers above 0");
  }
}

// Each shot's plane as the package passes it: empty (a point only) or the normal (3), its axes (6), their turns'
// covariance (4) and the centre's covariance (9), zeros where not stated.
std::vector<ShotPlane> ShotPlanesOf(const std::vector<std::vector<double>>& planes,
                                    const std::vector<std::vector<double>>& rotations, std::size_t count) {
  if (planes.empty() && rotations.empty()) return {};
  if (!planes.empty() && planes.size() != count) throw py::value_error("normals must hold one entry per point");
  std::vector<ShotPlane> out(count);
  for (std::size_t i = 0; i < rotations.size() && i < count; ++i) {
    if (rotations[i].size() != 9) throw py::value_error("a target's rotation must have 9 values");
    out[i].hasRotation = true;
    std::copy(rotations[i].begin(), rotations[i].end(), out[i].rotation.begin());
  }
  if (planes.empty()) return out;
  for (std::size_t i = 0; i < count; ++i) {
    const std::vector<double>& p = planes[i];
    ShotPlane& plane = out[i];
    if (!p.empty()) {
      if (p.size() != 22) throw py::value_error("a shot's plane must have 22 values (normal, axes, covariances)");
      plane.hasNormal = true;
      std::copy(p.begin(), p.begin() + 3, plane.normal.begin());
      std::copy(p.begin() + 3, p.begin() + 9, plane.normalAxes.begin());
      std::copy(p.begin() + 9, p.begin() + 13, plane.normalCovariance.begin());
      std::copy(p.begin() + 13, p.end(), plane.centreCovariance.begin());
      const double length = std::hypot(plane.normal[0], plane.normal[1], plane.normal[2]);
      if (!(std::abs(length - 1.0) <= 0.01)) throw py::value_error("a normal must be a unit vector");
    }
  }
  return out;
}

SolveModel ModelOf(const std::string& model) {
  if (model != "auto" && model != "point") throw py::value_error("model must be \"auto\" or \"point\", not " + model);
  return model == "point" ? SolveModel::Point : SolveModel::Auto;
}

void CheckRobotNoise(double mm, double deg) {
  if (!(std::isfinite(mm) && mm >= 0.0 && std::isfinite(deg) && deg >= 0.0)) {
    throw py::value_error("robot_noise must be (mm, deg), two finite numbers not below 0");
  }
}

// A 4-axis robot's unseen quantity, one of the two, finite.
void CheckFourAxis(const std::optional<double>& fixedHeightMm, const std::optional<double>& cameraOffsetZMm) {
  for (const std::optional<double>& given : {fixedHeightMm, cameraOffsetZMm}) {
    if (given && !std::isfinite(*given)) throw py::value_error("fixed_height_mm and camera_offset_z_mm must be finite");
  }
  if (fixedHeightMm && cameraOffsetZMm) throw py::value_error("give fixed_height_mm or camera_offset_z_mm, not both");
}

py::object Calibrate(const py::array_t<double, py::array::c_style | py::array::forcecast>& points,
                     const py::array_t<double, py::array::c_style | py::array::forcecast>& robotRows,
                     const std::string& robotName, bool eyeToHand, bool meter, bool radian, const py::object& ransac,
                     const py::object& seed, bool setupCheck, double toleranceMm, double toleranceDeg,
                     const std::vector<double>& outerRadiiMm, const std::vector<double>& outerRadiusSigmasMm,
                     const std::vector<std::vector<double>>& planes, const std::string& model, double robotNoiseMm,
                     double robotNoiseDeg, const std::vector<std::vector<double>>& rotations,
                     const std::optional<double>& fixedHeightMm, const std::optional<double>& cameraOffsetZMm) {
  const RobotType& robot = Robot(robotName);
  CheckFourAxis(fixedHeightMm, cameraOffsetZMm);
  const std::vector<MarkerBoardResult> markers = MarkersOf(points);
  const RobotRows rows = Rows(robotRows, "robot_rows");
  // None: no search; "auto" (or 0): a search whose distance follows the data's noise; else millimetres.
  std::optional<double> ransacMm;
  if (py::isinstance<py::str>(ransac)) {
    if (ransac.cast<std::string>() != "auto")
      throw py::value_error("ransac_mm must be a number of millimetres or \"auto\"");
    ransacMm = 0.0;
  } else if (!ransac.is_none()) {
    ransacMm = ransac.cast<double>();
  }
  if (ransacMm && !(std::isfinite(*ransacMm) && *ransacMm >= 0.0)) {
    throw py::value_error("ransac_mm must be a finite number of millimetres, 0 or more, or \"auto\"");
  }
  CheckTolerance(toleranceMm, toleranceDeg);
  ReportOptions options;
  options.toleranceMm = toleranceMm;
  options.toleranceDeg = toleranceDeg;
  if (seed.is_none()) {
    options.seed = std::random_device{}();
  } else {
    const bool whole = py::isinstance<py::int_>(seed) && !py::isinstance<py::bool_>(seed);
    if (!whole || seed.attr("__lt__")(0).cast<bool>() || seed.attr("__gt__")(0xFFFFFFFFLL).cast<bool>()) {
      throw py::value_error("seed must be None or a whole number from 0 to 4294967295, not " +
                            py::repr(seed).cast<std::string>());
    }
    options.seed = seed.cast<std::uint32_t>();
  }
  options.setupCheck = setupCheck;
  if (!outerRadiiMm.empty() &&
      (outerRadiiMm.size() != markers.size() || outerRadiusSigmasMm.size() != markers.size())) {
    throw py::value_error("detections must hold one detection per point");
  }
  options.outerRadiiMm = outerRadiiMm;
  options.outerRadiusSigmasMm = outerRadiusSigmasMm;
  options.shots = ShotPlanesOf(planes, rotations, markers.size());
  options.model = ModelOf(model);
  CheckRobotNoise(robotNoiseMm, robotNoiseDeg);
  options.robotNoiseMm = robotNoiseMm;
  options.robotNoiseDeg = robotNoiseDeg;
  if (fixedHeightMm) options.fixedHeightMm = *fixedHeightMm;
  if (cameraOffsetZMm) options.cameraOffsetZMm = *cameraOffsetZMm;
  const AlgoParam param = robot.Settings(eyeToHand, meter, radian, ransacMm ? *ransacMm / 1000.0 : -1.0);
  TarnWorkflow::Calibration c;
  {
    py::gil_scoped_release release;
    c = TarnWorkflow::Calibrate(robot, markers, rows, param, options);
  }
  if (c.code != Success) throw Failure(c.code, TarnWorkflow::FailureMessage(c));
  return FromJson(TarnWorkflow::CalibrationJson(c, robot, {}));
}

// ---- Checking a saved calibration ----

// A saved calibration from a result file (path) or from the fields of a calibration (dict).
TarnWorkflow::SavedResult SavedOf(const py::object& saved) {
  TarnWorkflow::SavedResult out;
  if (py::isinstance<py::str>(saved)) {
    std::string error;
    if (!TarnWorkflow::ReadSavedResult(saved.cast<std::string>(), out, error)) throw py::value_error(error);
    return out;
  }
  const auto d = saved.cast<py::dict>();
  TamoHandEye::SavedCalibration& c = out.calibration;
  const auto array = [&](const char* key) {
    return py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(d[key]);
  };
  c.cameraMatrix = Rows(array("camera"), "camera");
  const auto marker = array("marker");
  c.markerPosition.assign(marker.data(), marker.data() + marker.size());
  c.rmsErrorMm = d["rms_mm"].cast<double>();
  const auto loo = array("leave_one_out_mm");
  c.leaveOneOutMm.assign(loo.data(), loo.data() + loo.size());
  const auto u = d["uncertainty"].cast<py::dict>();
  if (u.contains("translation_norm_mm")) {
    c.uncertainty.known = true;
    c.uncertainty.translationNormMm = u["translation_norm_mm"].cast<double>();
    c.uncertainty.markerNormMm = u["marker_norm_mm"].cast<double>();
    c.uncertainty.rotationDeg = u["rotation_deg"].cast<double>();
  }
  if (d.contains("covariance") && !d["covariance"].is_none()) {
    const auto cov = d["covariance"].cast<py::dict>();
    const auto matrix = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(cov["matrix"]);
    if (!matrix || matrix.size() != 81) throw py::value_error("covariance['matrix'] must be 9 x 9");
    std::copy(matrix.data(), matrix.data() + 81, c.covariance.matrix.begin());
    c.covariance.residualSigmaMm = cov["residual_sigma_mm"].cast<double>();
    c.covariance.freedom = cov["freedom"].cast<int>();
    if (cov.contains("along_sight_sigma_mm") && cov.contains("across_sight_sigma_mm")) {
      c.covariance.alongSightSigmaMm = cov["along_sight_sigma_mm"].cast<double>();
      c.covariance.acrossSightSigmaMm = cov["across_sight_sigma_mm"].cast<double>();
    }
    c.covariance.known = true;
  }
  if (d.contains("model") && d.contains("board") && !d["board"].is_none()) {
    py::dict plane;
    plane["model"] = d["model"];
    plane["board"] = d["board"];
    const py::object builtins = py::module_::import("builtins");
    const auto text = py::module_::import("json").attr("dumps")(plane, py::arg("default") = builtins.attr("list"));
    TarnWorkflow::ReadBoardRecord(nlohmann::json::parse(text.cast<std::string>()), c);
  }
  c.convention = d["convention"].cast<std::string>();
  out.robot = d["robot"].cast<std::string>();
  out.eyeToHand = d["eye_to_hand"].cast<bool>();
  out.meter = d["unit"].cast<std::string>() == "m";
  return out;
}

py::object Verify(const py::array_t<double, py::array::c_style | py::array::forcecast>& points,
                  const py::array_t<double, py::array::c_style | py::array::forcecast>& robotRows,
                  const py::object& savedCalibration, const std::optional<std::string>& robotName,
                  std::optional<bool> eyeToHand, bool meter, bool radian, std::optional<double> limitMm,
                  double toleranceMm, double toleranceDeg, const std::vector<std::vector<double>>& planes,
                  const std::vector<std::vector<double>>& rotations) {
  TarnWorkflow::SavedResult saved = SavedOf(savedCalibration);
  if (saved.robot == "matrix") {
    // A calibration of 4 x 4 flange poses: the module hands such rows over as ABB quaternion rows.
    if (robotName != "abb-quat") {
      throw py::value_error("the calibration was made from 4 x 4 flange poses: give robot='matrix' and matrices");
    }
    saved.robot = "abb-quat";
  }
  if (robotName && !saved.robot.empty() && *robotName != saved.robot) {
    throw py::value_error("the calibration was saved with robot type " + saved.robot + ", not " + *robotName);
  }
  if (!robotName && saved.robot.empty()) throw py::value_error("the saved calibration does not name its robot type");
  const RobotType& robot = Robot(robotName ? *robotName : saved.robot);
  if (eyeToHand && saved.eyeToHand && *eyeToHand != *saved.eyeToHand) {
    throw py::value_error(std::string("the calibration was saved for ") +
                          (*saved.eyeToHand ? "eye-to-hand" : "eye-in-hand"));
  }
  const bool fixedCamera = eyeToHand ? *eyeToHand : saved.eyeToHand.value_or(false);
  if (limitMm && !(std::isfinite(*limitMm) && *limitMm > 0.0)) throw py::value_error("limit_mm must be above 0");
  const std::vector<MarkerBoardResult> markers = MarkersOf(points);
  const RobotRows rows = UsableRows(robot, robotRows);
  const AlgoParam param = robot.Settings(fixedCamera, meter, radian, -1.0);
  TarnWorkflow::ToUnitOfRows(saved, robot.meterChoice, param.IsMeter);
  CheckTolerance(toleranceMm, toleranceDeg);
  TamoHandEye::CheckOptions options;
  options.limitMm = limitMm.value_or(0.0);
  options.toleranceMm = toleranceMm;
  options.toleranceDeg = toleranceDeg;
  const std::vector<ShotPlane> shots = ShotPlanesOf(planes, rotations, markers.size());
  TamoHandEye::CalibrationCheck check;
  ErrorCode code = Success;
  {
    py::gil_scoped_release release;
    code = TamoHandEye::CheckCalibration(markers, shots, rows, param, robot.kind, saved.calibration, options, check);
  }
  if (code != Success) throw Failure(code, check.failure);
  return FromJson(TarnWorkflow::CheckJson(check, limitMm.has_value()));
}

// The pinhole of a shot's cloud (a path, with its image's path, or an H x W x 3 array); None when it gives none.
py::object Pinhole(const py::object& cloud, const py::object& image) {
  TamoHandEye::CameraPinhole p;
  bool found = false;
  if (py::isinstance<py::str>(cloud)) {
    if (!py::isinstance<py::str>(image)) throw py::value_error("a cloud file needs its image file (for its size)");
    const std::string cloudPath = cloud.cast<std::string>();
    const std::string imagePath = image.cast<std::string>();
    py::gil_scoped_release release;
    found = TamoHandEye::EstimateCameraPinhole(imagePath, cloudPath, p);
  } else {
    const cv::Mat pts = CloudOf(cloud);
    py::gil_scoped_release release;
    found = TamoHandEye::EstimateCameraPinhole(pts, p);
  }
  if (!found) return py::none();
  return py::make_tuple(p.fx, p.fy, p.cx, p.cy, p.width, p.height);
}

py::object Suggest(const py::array_t<double, py::array::c_style | py::array::forcecast>& points,
                   const py::array_t<double, py::array::c_style | py::array::forcecast>& robotRows,
                   const std::string& robotName, bool eyeToHand, bool meter, bool radian, int count,
                   const std::optional<std::array<double, 4>>& intrinsics,
                   const std::optional<std::array<int, 2>>& imageSize, const std::vector<std::vector<double>>& planes,
                   const std::string& model, double robotNoiseMm, double robotNoiseDeg,
                   const std::vector<std::vector<double>>& rotations, const std::optional<double>& fixedHeightMm,
                   const std::optional<double>& cameraOffsetZMm) {
  const RobotType& robot = Robot(robotName);
  const std::vector<MarkerBoardResult> markers = MarkersOf(points);
  const RobotRows rows = UsableRows(robot, robotRows);
  CheckFourAxis(fixedHeightMm, cameraOffsetZMm);
  const AlgoParam param = robot.Settings(eyeToHand, meter, radian, -1.0);
  TamoHandEye::SuggestOptions options;
  options.count = count;
  if (intrinsics.has_value() != imageSize.has_value()) {
    throw py::value_error("give intrinsics (fx, fy, cx, cy) and image_size (width, height) together");
  }
  if (intrinsics) {
    const auto& k = *intrinsics;
    options.camera = {k[0], k[1], k[2], k[3], (*imageSize)[0], (*imageSize)[1]};
    if (!(k[0] > 0.0 && k[1] > 0.0 && std::isfinite(k[0] + k[1] + k[2] + k[3]) && (*imageSize)[0] > 0 &&
          (*imageSize)[1] > 0)) {
      throw py::value_error("intrinsics need focal lengths above 0 and finite values; image_size above 0");
    }
  }
  options.shots = ShotPlanesOf(planes, rotations, markers.size());
  options.model = ModelOf(model);
  CheckRobotNoise(robotNoiseMm, robotNoiseDeg);
  options.robotNoiseMm = robotNoiseMm;
  options.robotNoiseDeg = robotNoiseDeg;
  if (fixedHeightMm) options.fixedHeightMm = *fixedHeightMm;
  if (cameraOffsetZMm) options.cameraOffsetZMm = *cameraOffsetZMm;
  TamoHandEye::PoseSuggestions s;
  ErrorCode code = Success;
  {
    py::gil_scoped_release release;
    code = TamoHandEye::SuggestNextPoses(markers, rows, param, robot.kind, options, s);
  }
  if (code != Success) throw Failure(code, s.failure);
  return FromJson(TarnWorkflow::SuggestionJson(s, robot, param));
}

// ---- Conversions ----

// Why a conversion failed, in English: which value or convention, and what was expected.
[[noreturn]] void ConversionFailed(ErrorCode code, const RobotType& robot, const std::string& convention,
                                   std::size_t rowSize) {
  std::string message = parseCode(code);
  if (code == Err_Solve_RobotType_Mismatch && rowSize != 0 && rowSize != robot.rowLength) {
    message =
        "a " + robot.name + " row has " + std::to_string(robot.rowLength) + " values, not " + std::to_string(rowSize);
  } else if (code == Err_Solve_RobotType_Mismatch) {
    const TamoHandEye::RobotKindInfo& kind = TamoHandEye::KindInfo(robot.kind);
    const std::string own = kind.convention;
    const std::string takes =
        !own.empty()      ? "it takes only its own, \"" + own + "\" (or leave it empty)"
        : kind.quaternion ? std::string("give the quaternion's order, wxyz or xyzw")
                          : std::string(
                                "give an Euler axes key (sxyz, sxyx, ... rzyx, rzyz: s fixed, r moving axes) or "
                                "axis (a rotation vector)");
    message = "\"" + convention + "\" is not a rotation convention of the " + robot.name + " type: " + takes;
  } else if (code == Err_Solve_Fail) {
    message = rowSize != 0 ? "the row holds a value that is not a finite number"
                           : "the matrix is not a pose: a 3 x 3 rotation, a translation and a last row 0 0 0 1, "
                             "all finite";
  }
  throw Failure(code, message);
}

py::array_t<double> RowToMatrix(const std::vector<double>& row, const std::string& robotName,
                                const std::string& convention, bool meter, bool radian) {
  const RobotType& robot = Robot(robotName);
  std::vector<std::vector<double>> matrix;
  const ErrorCode code =
      RobotRowToMatrix(robot.kind, convention, robot.Settings(false, meter, radian, -1.0), row, matrix);
  if (code != Success) ConversionFailed(code, robot, convention, row.size());
  return Matrix(matrix);
}

py::array_t<double> MatrixToRow(const py::array_t<double, py::array::c_style | py::array::forcecast>& matrix,
                                const std::string& robotName, const std::string& convention, bool meter, bool radian) {
  const RobotType& robot = Robot(robotName);
  std::vector<double> row;
  const ErrorCode code =
      MatrixToRobotRow(robot.kind, convention, robot.Settings(false, meter, radian, -1.0), Rows(matrix, "matrix"), row);
  if (code != Success) ConversionFailed(code, robot, convention, 0);
  return Array(row, {static_cast<py::ssize_t>(row.size())});
}

// ---- Files ----

[[noreturn]] void Raise(const TarnWorkflow::DataFileError& error) {
  if (error.kind == TarnWorkflow::DataFileError::Kind::CannotOpen) {
    PyErr_SetString(PyExc_OSError, error.message.c_str());
    throw py::error_already_set();
  }
  throw py::value_error(error.message);
}

py::array_t<double> ReadRobotRowsFile(const std::string& path, const std::string& robotName) {
  TarnWorkflow::DataFileError error;
  RobotRows rows;
  if (robotName == "matrix") {
    std::vector<TarnWorkflow::TableRow> table;
    if (!TarnWorkflow::ReadTable(path, "robot data file", table, error)) Raise(error);
    for (const TarnWorkflow::TableRow& row : table) {
      if (row.values.size() != 16 && row.values.size() != 12) {
        throw py::value_error(path + ", line " + std::to_string(row.line) + ": " + std::to_string(row.values.size()) +
                              " values, but a pose matrix has 16 or 12");
      }
      rows.push_back(row.values);
      rows.back().resize(16, 0.0);
      rows.back()[15] = 1.0;
    }
  } else {
    const RobotType& robot = Robot(robotName);
    if (!TarnWorkflow::ReadRobotTable(path, robot.rowLength, robot.name, rows, error)) Raise(error);
  }
  return Matrix(rows);
}

py::array_t<double> ReadMarkersFile(const std::string& path, bool targets, const std::string& unit) {
  if (unit != "m" && unit != "mm") throw py::value_error("unit must be 'm' or 'mm'");
  TarnWorkflow::DataFileError error;
  std::vector<MarkerBoardResult> markers;
  if (!TarnWorkflow::ReadMarkers(path, targets ? TarnWorkflow::MarkerForm::Targets : TarnWorkflow::MarkerForm::Points,
                                 unit == "mm" ? 0.001 : 1.0, markers, error)) {
    Raise(error);
  }
  std::vector<double> flat;
  for (const MarkerBoardResult& m : markers) flat.insert(flat.end(), {m.x, m.y, m.z});
  return Array(flat, {static_cast<py::ssize_t>(markers.size()), 3});
}

// ---- Synthetic data ----

py::dict Scene(int poses, bool eyeToHand, const std::string& robotName, double noiseMm, unsigned seed, bool meter,
               bool radian, const std::vector<int>& outliers, double outlierMm) {
  const RobotType& robot = Robot(robotName);
  if (poses < 1) throw py::value_error("poses must be 1 or more");
  TarnSim::SceneOptions o;
  o.poses = poses;
  o.eyeToHand = eyeToHand;
  o.pointNoise = noiseMm / 1000.0;
  o.seed = seed;
  o.outliers = outliers;
  o.outlierOffset = outlierMm / 1000.0;
  const TarnSim::Scene scene = TarnSim::MakeScene(o);
  const bool rowsMeter = robot.meterChoice && meter;
  const bool rowsRadian = robot.radianChoice ? radian : robot.radian;
  std::vector<double> points;
  for (const Eigen::Vector3d& p : scene.points) points.insert(points.end(), {p.x(), p.y(), p.z()});
  py::dict out;
  out["points"] = Array(points, {static_cast<py::ssize_t>(poses), 3});
  out["robot_rows"] = Matrix(TarnSim::RobotRows(scene, robot.format, rowsMeter, rowsRadian));
  Eigen::Matrix4d camera = scene.camera.matrix();
  camera.topRightCorner<3, 1>() *= 1000.0;
  std::vector<std::vector<double>> rows(4, std::vector<double>(4));
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = camera(r, c);
  }
  out["camera"] = Matrix(rows);
  out["marker"] = Array({scene.marker.x() * 1000.0, scene.marker.y() * 1000.0, scene.marker.z() * 1000.0}, {3});
  return out;
}

void Synthesise(const std::string& folder, int poses, bool eyeToHand, const std::string& robotName, double noiseMm,
                unsigned seed, int width, int height, bool force) {
  const RobotType& robot = Robot(robotName);
  TarnSim::SynthOptions o;
  o.folder = folder;
  o.poses = poses;
  o.eyeToHand = eyeToHand;
  o.robotName = robot.name;
  o.format = robot.format;
  o.radian = robot.radian;
  o.noiseMm = noiseMm;
  o.seed = seed;
  o.width = width;
  o.height = height;
  o.force = force;
  TarnSim::Synthesise(o);
}

}  // namespace

PYBIND11_MODULE(_tarn, m) {
  m.doc() = "Hand-eye calibration of a 3D camera on an industrial robot (compiled part of the tarn package).";
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Failure& f) {
      const py::object error = py::module_::import("tarn").attr("TarnError")(f.code, f.what());
      PyErr_SetObject(error.get_type().ptr(), error.ptr());
    }
  });
  TarnWorkflow::SilenceLibraryOutput();  // a script's standard output is its own
  m.def("version", [] { return std::string(GetVersion()); });
  m.def("detect", &DetectMarker, py::arg("image"), py::arg("cloud"), py::arg("centre") = "fit",
        py::arg("image_intrinsics") = py::none());
  m.def("read_image_intrinsics", &ReadIntrinsics, py::arg("path"));
  m.def("calibrate", &Calibrate, py::arg("points"), py::arg("robot_rows"), py::arg("robot") = "fanuc",
        py::arg("eye_to_hand") = false, py::arg("meter") = false, py::arg("radian") = false,
        py::arg("ransac_mm") = py::none(), py::arg("seed") = ReportOptions{}.seed, py::arg("setup_check") = true,
        py::arg("tolerance_mm") = ReportOptions{}.toleranceMm, py::arg("tolerance_deg") = ReportOptions{}.toleranceDeg,
        py::arg("outer_radii_mm") = std::vector<double>{}, py::arg("outer_radius_sigmas_mm") = std::vector<double>{},
        py::arg("planes") = std::vector<std::vector<double>>{}, py::arg("model") = "auto",
        py::arg("robot_noise_mm") = 0.0, py::arg("robot_noise_deg") = 0.0,
        py::arg("rotations") = std::vector<std::vector<double>>{}, py::arg("fixed_height_mm") = py::none(),
        py::arg("camera_offset_z_mm") = py::none());
  m.def("verify", &Verify, py::arg("points"), py::arg("robot_rows"), py::arg("saved"), py::arg("robot") = py::none(),
        py::arg("eye_to_hand") = py::none(), py::arg("meter") = false, py::arg("radian") = false,
        py::arg("limit_mm") = py::none(), py::arg("tolerance_mm") = TamoHandEye::CheckOptions{}.toleranceMm,
        py::arg("tolerance_deg") = TamoHandEye::CheckOptions{}.toleranceDeg,
        py::arg("planes") = std::vector<std::vector<double>>{},
        py::arg("rotations") = std::vector<std::vector<double>>{});
  m.def("suggest", &Suggest, py::arg("points"), py::arg("robot_rows"), py::arg("robot") = "fanuc",
        py::arg("eye_to_hand") = false, py::arg("meter") = false, py::arg("radian") = false, py::arg("count") = 3,
        py::arg("intrinsics") = py::none(), py::arg("image_size") = py::none(),
        py::arg("planes") = std::vector<std::vector<double>>{}, py::arg("model") = "auto",
        py::arg("robot_noise_mm") = 0.0, py::arg("robot_noise_deg") = 0.0,
        py::arg("rotations") = std::vector<std::vector<double>>{}, py::arg("fixed_height_mm") = py::none(),
        py::arg("camera_offset_z_mm") = py::none());
  m.def("pinhole", &Pinhole, py::arg("cloud"), py::arg("image") = py::none());
  m.def("row_to_matrix", &RowToMatrix, py::arg("row"), py::arg("robot") = "fanuc", py::arg("convention") = "",
        py::arg("meter") = false, py::arg("radian") = false);
  m.def("matrix_to_row", &MatrixToRow, py::arg("matrix"), py::arg("robot") = "fanuc", py::arg("convention") = "",
        py::arg("meter") = false, py::arg("radian") = false);
  m.def("read_robot_rows", &ReadRobotRowsFile, py::arg("path"), py::arg("robot") = "fanuc");
  m.def("read_markers", &ReadMarkersFile, py::arg("path"), py::arg("targets") = false, py::arg("unit") = "m");
  m.def(
      "columns", [](const std::string& robot) { return Robot(robot).ColumnNames(); }, py::arg("robot"));
  m.def("robot_types", &RobotTypeList);
  m.def("save_record", &SaveRecord, py::arg("record"), py::arg("path"));
  m.def("load_record", &LoadRecord, py::arg("path"));
  m.def("export_transform", &ExportTransformFile, py::arg("camera"), py::arg("eye_to_hand"), py::arg("to"),
        py::arg("path"), py::arg("parent"), py::arg("child"), py::arg("number"), py::arg("comments"));
  m.def("synthetic_scene", &Scene, py::arg("poses") = 12, py::arg("eye_to_hand") = false, py::arg("robot") = "fanuc",
        py::arg("noise_mm") = 0.0, py::arg("seed") = 1u, py::arg("meter") = false, py::arg("radian") = false,
        py::arg("outliers") = std::vector<int>{}, py::arg("outlier_mm") = 50.0);
  m.def("synthesise", &Synthesise, py::arg("folder"), py::arg("poses") = 12, py::arg("eye_to_hand") = false,
        py::arg("robot") = "fanuc", py::arg("noise_mm") = 0.2, py::arg("seed") = 1u, py::arg("width") = 1024,
        py::arg("height") = 768, py::arg("force") = false);
}
