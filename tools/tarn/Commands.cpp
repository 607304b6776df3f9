// SPDX-License-Identifier: Apache-2.0
#include "Commands.h"

#include "CellExport.h"
#include "DataFiles.h"
#include "DataSet.h"
#include "Report.h"
#include "RobotPrograms.h"
#include "SettingsFile.h"
#include "Suggestion.h"
#include "Tables.h"
#include "Text.h"
#include "Verification.h"

#include <tarn/PosePlan.h>
#include <tarn/SolveFinalResult.h>

#include <unistd.h>
#include <Eigen/Geometry>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <random>
#include <stdexcept>

namespace TarnCli {
namespace {

using namespace TamoHandEye;
namespace fs = std::filesystem;
using nlohmann::json;

constexpr double kPi = 3.14159265358979323846;

using TarnWorkflow::Calibration;
using TarnWorkflow::Fixed;
using TarnWorkflow::ShotDetection;

void Progress(std::size_t done, std::size_t total) {
  if (!::isatty(STDERR_FILENO) || total == 0) return;
  const int width = 30;
  const auto filled = static_cast<int>(width * done / total);
  std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
            << std::string(static_cast<std::size_t>(width - filled), ' ') << "] " << done << "/" << total << std::flush;
  if (done == total) std::cerr << "\n";
}

// Detects every pair of the two folders on all cores, with a progress bar on a terminal.
std::vector<ShotDetection> DetectAll(const std::string& images, const std::string& clouds, const std::string& format,
                                     Centre centre, const std::string& intrinsicsFile = {}) {
  TarnWorkflow::BatchOptions batch;
  batch.centre = centre;
  if (!intrinsicsFile.empty()) {
    if (centre != Centre::Fit) throw std::runtime_error("--image-intrinsics needs the fitted centre (--centre fit)");
    TamoHandEye::ImageIntrinsics intrinsics;
    std::string error;
    if (!TamoHandEye::ReadImageIntrinsics(intrinsicsFile, intrinsics, error)) {
      throw std::runtime_error("--image-intrinsics: " + error);
    }
    batch.intrinsics = intrinsics;
  }
  if (!fs::is_directory(images)) throw std::runtime_error("the image folder does not exist: " + images);
  if (!fs::is_directory(clouds)) throw std::runtime_error("the point cloud folder does not exist: " + clouds);
  const TarnWorkflow::PairingResult pairing = TarnWorkflow::PairShots(images, format, clouds);
  for (const std::string& problem : pairing.problems) std::cerr << "note: " << problem << "\n";
  if (pairing.pairs.empty()) {
    throw std::runtime_error("no image and point cloud pairs (name_<number>." + format +
                             " with name_<number>.ply) in " + images + " and " + clouds);
  }
  batch.onShot = [&](const ShotDetection&, std::size_t, std::size_t done) { Progress(done, pairing.pairs.size()); };
  return TarnWorkflow::DetectShots(pairing.pairs, batch);
}

// The rows of a SCARA (X Y Z A) as the FANUC rows they are read as (W = P = 0: turned by A about z), and back.
std::vector<double> FromScaraRow(const std::vector<double>& row) {
  if (row.size() != 4) throw std::runtime_error("a scara row has 4 values: X Y Z A");
  return {row[0], row[1], row[2], 0.0, 0.0, row[3]};
}
std::vector<double> ToScaraRow(const std::vector<double>& row) { return {row[0], row[1], row[2], row[5]}; }

// The robot list's type for printing a SCARA's rows.
const RobotType& ScaraType() {
  static const RobotType scara = [] {
    RobotType t = *TarnWorkflow::FindRobotType("fanuc");
    t.name = "scara";
    t.text = "SCARA [X,Y,Z]mm|[A]deg";
    t.rowLength = 4;
    t.rotationNames = {"A"};
    return t;
  }();
  return scara;
}

RobotRows ReadRobotFile(const std::string& path, const RobotType& robot) {
  RobotRows rows;
  TarnWorkflow::DataFileError error;
  if (!TarnWorkflow::ReadRobotTable(path, robot.rowLength, robot.name, rows, error)) {
    throw std::runtime_error(error.message);
  }
  return rows;
}

RobotRows ReadPoses(const CalibrateOptions& o) {
  if (o.fourValueRows) {
    RobotRows rows;
    TarnWorkflow::DataFileError error;
    if (!TarnWorkflow::ReadRobotTable(o.poses, 4, "scara", rows, error)) throw std::runtime_error(error.message);
    for (std::vector<double>& row : rows) row = FromScaraRow(row);
    return rows;
  }
  if (!o.matrixRows) return ReadRobotFile(o.poses, *o.robot);
  RobotRows rows;
  TarnWorkflow::DataFileError error;
  if (!TarnWorkflow::ReadPoseMatrices(o.poses, o.meter, o.invert, rows, error)) throw std::runtime_error(error.message);
  return rows;
}

std::vector<MarkerBoardResult> ReadMarkersFile(const CalibrateOptions& o,
                                               std::vector<TamoHandEye::ShotPlane>* planes = nullptr) {
  std::vector<MarkerBoardResult> markers;
  TarnWorkflow::DataFileError error;
  const bool targets = !o.targets.empty();
  if (!TarnWorkflow::ReadMarkers(targets ? o.targets : o.markers,
                                 targets ? TarnWorkflow::MarkerForm::Targets : TarnWorkflow::MarkerForm::Points,
                                 o.markerUnit == "mm" ? 0.001 : 1.0, markers, error, planes)) {
    throw std::runtime_error(error.message);
  }
  return markers;
}

Eigen::Matrix4d ToMatrix(const std::vector<std::vector<double>>& m) {
  Eigen::Matrix4d out;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) out(r, c) = m.at(static_cast<std::size_t>(r)).at(static_cast<std::size_t>(c));
  }
  return out;
}

Calibration Solve(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, const CalibrateOptions& o,
                  const std::vector<ShotDetection>& detections = {},
                  const std::vector<TamoHandEye::ShotPlane>& planes = {}) {
  const AlgoParam param = o.robot->Settings(o.eyeToHand, o.meter, o.radian, o.ransac);
  TamoHandEye::ReportOptions report;
  TarnWorkflow::AddFittedRadii(detections, report);
  TarnWorkflow::AddShotPlanes(detections, report);
  if (detections.empty()) report.shots = planes;
  report.model = o.pointModel ? TamoHandEye::SolveModel::Point : TamoHandEye::SolveModel::Auto;
  report.robotNoiseMm = o.robotNoiseMm;
  report.robotNoiseDeg = o.robotNoiseDeg;
  report.fixedHeightMm = o.fixedHeightMm;
  report.cameraOffsetZMm = o.cameraOffsetZMm;
  report.seed = o.seed ? *o.seed : std::random_device{}();
  report.toleranceMm = o.toleranceMm;
  report.toleranceDeg = o.toleranceDeg;
  return TarnWorkflow::Calibrate(*o.robot, markers, rows, param, report);
}

std::vector<MarkerBoardResult> MarkersFrom(const std::vector<ShotDetection>& detections) {
  std::vector<MarkerBoardResult> markers;
  for (const ShotDetection& d : detections) {
    if (d.code != Success) {
      throw std::runtime_error("no marker in " + fs::path(d.pair.image).filename().string() + ": " +
                               TarnWorkflow::FailureText(d) +
                               " (leave that pose out of the robot data and the folders, or retake the shot)");
    }
    markers.push_back(d.marker);
  }
  return markers;
}

}  // namespace

int RunDetect(const DetectOptions& o) {
  const std::vector<ShotDetection> detections = DetectAll(o.images, o.clouds, o.format, o.centre, o.imageIntrinsics);
  int failures = 0;
  if (o.json) {
    json all = json::array();
    for (const ShotDetection& d : detections) {
      if (d.code != Success) ++failures;
      all.push_back(TarnWorkflow::ShotJson(d));
    }
    std::cout << all.dump(2) << "\n";
  } else {
    std::cout << "# shot            x (m)        y (m)        z (m)      u (px)      v (px)"
              << (o.centre == Centre::Fit ? "        nx        ny        nz  ratio dev  plane rms (mm)" : "") << "\n";
    for (const ShotDetection& d : detections) {
      std::cout << std::left << std::setw(16) << fs::path(d.pair.image).filename().string() << std::right;
      if (d.code == Success) {
        std::cout << std::setw(13) << Fixed(d.marker.x, 6) << std::setw(13) << Fixed(d.marker.y, 6) << std::setw(13)
                  << Fixed(d.marker.z, 6) << std::setw(12) << Fixed(d.marker.u, 3) << std::setw(12)
                  << Fixed(d.marker.v, 3);
        if (d.hasNormal) {
          std::cout << std::setw(10) << Fixed(d.plane.nx, 6) << std::setw(10) << Fixed(d.plane.ny, 6) << std::setw(10)
                    << Fixed(d.plane.nz, 6);
        }
        if (d.fitted)
          std::cout << std::setw(11) << Fixed(d.quality.ratioDeviation, 5) << std::setw(16)
                    << Fixed(d.quality.planeRmsMm, 3);
        std::cout << "\n";
      } else {
        std::cout << "  # failed, code " << static_cast<int>(d.code) << ": " << TarnWorkflow::FailureText(d) << "\n";
        ++failures;
      }
    }
  }
  if (failures > 0) std::cerr << failures << " of " << detections.size() << " shots without a marker\n";
  return failures == 0 ? 0 : 1;
}

namespace {

// The shots of a command: their robot rows, and their markers read from a file or found in the images and
// clouds (with each shot's detection); refused when the counts differ.
struct Shots {
  RobotRows rows;
  std::vector<ShotDetection> detections;
  std::vector<MarkerBoardResult> markers;
  std::vector<TamoHandEye::ShotPlane> planes;  ///< from a markers file: one per marker
};

Shots ReadShots(const CalibrateOptions& o) {
  Shots shots;
  shots.rows = ReadPoses(o);
  if (const auto unusable = TarnWorkflow::FindUnusableRow(*o.robot, shots.rows)) {
    throw std::runtime_error(o.poses + ", " + unusable->Message());
  }
  const bool fromFile = !o.markers.empty() || !o.targets.empty();
  if (!fromFile) shots.detections = DetectAll(o.images, o.clouds, o.format, o.centre, o.imageIntrinsics);
  shots.markers = fromFile ? ReadMarkersFile(o, &shots.planes) : MarkersFrom(shots.detections);
  if (shots.markers.size() != shots.rows.size()) {
    throw std::runtime_error(std::to_string(shots.markers.size()) + " marker positions but " +
                             std::to_string(shots.rows.size()) +
                             " robot poses: each shot needs its robot pose, in the same order");
  }
  return shots;
}

// The result as --json prints it, to a .json or .yaml file, replaced whole.
void WriteOutput(const std::string& path, const json& result) {
  std::string error;
  if (!TarnWorkflow::WriteRecordFile(path, result, error)) throw std::runtime_error("--output: " + error);
  std::cerr << "wrote " << path << "\n";
}

// The result as the desktop program's "保存" writes it (--save), with what a later check needs.
void SaveResultFile(const CalibrateOptions& o, const Calibration& c) {
  // How the markers of a markers file were found is not known.
  TarnWorkflow::FileSettings settings{c.param.HandEyeType != 0 ? 1 : 0,
                                      o.robot->text,
                                      c.param.IsMeter,
                                      c.param.IsRadian,
                                      c.param.Exhaust,
                                      c.param.RansacDist,
                                      std::nullopt,
                                      std::nullopt,
                                      c.result.rmsError,
                                      std::nullopt};
  if (c.report.covariance.known) settings.covariance = c.report.covariance;
  if (c.report.model != "point" && c.report.board.normalFreedom > 0) {
    settings.board = std::pair{c.report.model, c.report.board};
  }
  if (o.markers.empty()) {
    settings.markerType =
        o.centre == Centre::Fit ? TarnWorkflow::FittedMarkerText() : TarnWorkflow::CentroidMarkerText();
  }
  std::string why;
  if (!TarnWorkflow::WriteSettingsFile(o.save, settings, TarnWorkflow::ResultTables(c.result), &why)) {
    throw std::runtime_error("--save: " + why);
  }
  std::cerr << "saved " << o.save << "\n";
}

int CalibrateChecked(const CalibrateOptions& o) {
  if (o.robot == nullptr) throw std::runtime_error("unknown robot type; use one of " + TarnWorkflow::RobotTypeNames());
  if (o.meter && !o.robot->meterChoice && !o.matrixRows)
    std::cerr << "note: " << o.robot->name << " rows are always millimetres\n";
  if (o.radian && !o.robot->radianChoice && !o.robot->radian) {
    std::cerr << "note: " << o.robot->name << " rows are always degrees\n";
  }
  const Shots shots = ReadShots(o);
  const std::vector<ShotDetection>& detections = shots.detections;
  const Calibration c = Solve(shots.markers, shots.rows, o, shots.detections, shots.planes);
  if (c.code != Success) {
    std::string message = TarnWorkflow::FailureMessage(c);
    if (c.report.failure.find("(fixed height)") != std::string::npos) {
      message += "\nGive it with --fixed-height MM or --camera-offset-z MM.";
    }
    if (o.json) std::cout << TarnWorkflow::ErrorJson(static_cast<int>(c.code), message).dump(2) << "\n";
    std::cerr << message << "\n";
    return 2;
  }
  json result = TarnWorkflow::CalibrationJson(c, *o.robot, detections);
  if (o.matrixRows) result["robot"] = "matrix";
  if (o.allConventions) result["camera_rows"] = TarnWorkflow::CameraRowsJson(c.result, c.param);
  // Centres found here as ring centroids carry a perspective bias the σ does not hold.
  const bool centroids = !detections.empty() && o.centre == Centre::Centroid;
  if (centroids) result["notes"] = json::array({TarnWorkflow::CentroidBiasNote()});
  if (o.json) {
    std::cout << result.dump(2) << "\n";
  } else {
    if (o.matrixRows) std::cout << "Robot poses: 4 x 4 matrices" << (o.invert ? ", inverted" : "") << "\n";
    TarnWorkflow::WriteCalibrationText(std::cout, c, *o.robot);
    if (o.allConventions) TarnWorkflow::WriteCameraRows(std::cout, result["camera_rows"]);
    if (centroids) std::cout << "Note: " << TarnWorkflow::CentroidBiasNote() << "\n";
  }
  if (!o.output.empty()) WriteOutput(o.output, result);
  if (!o.save.empty()) SaveResultFile(o, c);
  if (o.strict && !c.report.warnings.empty()) {
    std::cerr << c.report.warnings.size() << " warning(s) under --strict\n";
    return 3;
  }
  return 0;
}

}  // namespace

namespace {

// The options completed from the saved result: its robot type and set-up where not given, refused where
// given otherwise.
CalibrateOptions WithSavedSettings(CalibrateOptions o, const TarnWorkflow::SavedResult& saved) {
  if (o.robot == nullptr) {
    if (saved.robot.empty()) throw std::runtime_error("the saved result does not name its robot type: give --robot");
    o.matrixRows = saved.robot == "matrix";
    o.robot = TarnWorkflow::FindRobotType(o.matrixRows ? "abb-quat" : saved.robot);
    if (o.robot == nullptr) throw std::runtime_error("the saved result names an unknown robot type: give --robot");
  } else if (!saved.robot.empty() && saved.robot != (o.matrixRows ? "matrix" : o.robot->name)) {
    throw std::runtime_error("the calibration was saved with robot type " + saved.robot + ", not " +
                             (o.matrixRows ? "matrix" : o.robot->name));
  }
  if (saved.eyeToHand) {
    if (o.eyeToHand && !*saved.eyeToHand) {
      throw std::runtime_error("the calibration was saved for eye-in-hand, but --eye-to-hand was given");
    }
    o.eyeToHand = *saved.eyeToHand;
  }
  return o;
}

int VerifyChecked(const CalibrateOptions& given, const std::string& resultFile, double limitMm) {
  TarnWorkflow::SavedResult saved;
  std::string error;
  if (!TarnWorkflow::ReadSavedResult(resultFile, saved, error)) throw std::runtime_error(error);
  const CalibrateOptions o = WithSavedSettings(given, saved);
  const Shots shots = ReadShots(o);
  const std::vector<MarkerBoardResult>& markers = shots.markers;
  const RobotRows& rows = shots.rows;
  const AlgoParam param = o.robot->Settings(o.eyeToHand, o.meter, o.radian, -1.0);
  TarnWorkflow::ToUnitOfRows(saved, o.robot->meterChoice, param.IsMeter);
  TamoHandEye::CheckOptions options;
  options.limitMm = limitMm;
  options.toleranceMm = o.toleranceMm;
  options.toleranceDeg = o.toleranceDeg;
  TamoHandEye::CalibrationCheck check;
  ErrorCode code = Success;
  const std::vector<TamoHandEye::ShotPlane> planes =
      shots.detections.empty() ? shots.planes : TarnWorkflow::ShotPlanesOf(shots.detections);
  code = TamoHandEye::CheckCalibration(markers, planes, rows, param, o.robot->kind, saved.calibration, options, check);
  if (code != Success) {
    if (o.json) std::cout << TarnWorkflow::ErrorJson(static_cast<int>(code), check.failure).dump(2) << "\n";
    std::cerr << "the check failed (code " << static_cast<int>(code) << "): " << check.failure << "\n";
    return 2;
  }
  if (o.json) {
    std::cout << TarnWorkflow::CheckJson(check, limitMm > 0.0).dump(2) << "\n";
  } else {
    TarnWorkflow::WriteCheckText(std::cout, check, limitMm > 0.0);
  }
  return o.strict && check.drift ? 3 : 0;
}

}  // namespace

int RunVerify(const CalibrateOptions& inputs, const std::string& resultFile, double limitMm) {
  if (!inputs.json) return VerifyChecked(inputs, resultFile, limitMm);
  try {
    return VerifyChecked(inputs, resultFile, limitMm);
  } catch (const std::exception& e) {
    std::cout << TarnWorkflow::ErrorJson(1, e.what()).dump(2) << "\n";
    throw;
  }
}

namespace {

int SuggestChecked(const CalibrateOptions& o, int count, const TamoHandEye::CameraPinhole& given) {
  if (o.robot == nullptr) throw std::runtime_error("unknown robot type; use one of " + TarnWorkflow::RobotTypeNames());
  const Shots shots = ReadShots(o);
  const AlgoParam param = o.robot->Settings(o.eyeToHand, o.meter, o.radian, -1.0);
  TamoHandEye::SuggestOptions options;
  options.count = count;
  options.camera = given.width > 0 ? given : TarnWorkflow::PinholeOfShots(shots.detections);
  options.model = o.pointModel ? TamoHandEye::SolveModel::Point : TamoHandEye::SolveModel::Auto;
  options.shots = shots.detections.empty() ? shots.planes : TarnWorkflow::ShotPlanesOf(shots.detections);
  options.robotNoiseMm = o.robotNoiseMm;
  options.robotNoiseDeg = o.robotNoiseDeg;
  options.fixedHeightMm = o.fixedHeightMm;
  options.cameraOffsetZMm = o.cameraOffsetZMm;
  const TarnWorkflow::PinholeSource source = given.width > 0            ? TarnWorkflow::PinholeSource::Given
                                             : options.camera.width > 0 ? TarnWorkflow::PinholeSource::Clouds
                                                                        : TarnWorkflow::PinholeSource::None;
  TamoHandEye::PoseSuggestions suggestions;
  ErrorCode code = Success;
  { code = TamoHandEye::SuggestNextPoses(shots.markers, shots.rows, param, o.robot->kind, options, suggestions); }
  if (code != Success) {
    if (o.json) std::cout << TarnWorkflow::ErrorJson(static_cast<int>(code), suggestions.failure).dump(2) << "\n";
    std::cerr << "no suggestion (code " << static_cast<int>(code) << "): " << suggestions.failure << "\n";
    return 2;
  }
  const RobotType& type = o.fourValueRows ? ScaraType() : *o.robot;
  if (o.fourValueRows) {
    for (TamoHandEye::PoseSuggestion& s : suggestions.suggestions) s.row = ToScaraRow(s.row);
  }
  if (o.json) {
    nlohmann::json j = TarnWorkflow::SuggestionJson(suggestions, type, param);
    TarnWorkflow::AddPinholeJson(j, options, source);
    std::cout << j.dump(2) << "\n";
  } else {
    TarnWorkflow::WriteSuggestionText(std::cout, suggestions, type, param);
    std::cout << TarnWorkflow::PinholeText(options, source) << "\n";
  }
  return 0;
}

}  // namespace

int RunSuggest(const CalibrateOptions& inputs, int count, const TamoHandEye::CameraPinhole& pinhole) {
  if (!inputs.json) return SuggestChecked(inputs, count, pinhole);
  try {
    return SuggestChecked(inputs, count, pinhole);
  } catch (const std::exception& e) {
    std::cout << TarnWorkflow::ErrorJson(1, e.what()).dump(2) << "\n";
    throw;
  }
}

namespace {

// Numbers separated by commas, spaces, tabs or semicolons.
std::vector<double> Values(const std::string& text, const std::string& what) {
  std::vector<double> values;
  std::string field;
  const auto flush = [&] {
    if (field.empty()) return;
    double v = 0.0;
    if (!TarnWorkflow::ParseDecimal(field, v)) throw std::runtime_error(what + ": \"" + field + "\" is not a number");
    values.push_back(v);
    field.clear();
  };
  for (const char c : text) {
    if (c == ',' || c == ' ' || c == '\t' || c == ';') {
      flush();
    } else {
      field += c;
    }
  }
  flush();
  return values;
}

json PlanJson(const TamoHandEye::PosePlan& plan) {
  json poses = json::array();
  for (const TamoHandEye::PlannedPose& p : plan.poses) {
    json pose = {{"row", p.row}, {"turn_deg", p.turnDeg}, {"axis", p.axis}};
    if (!plan.firstStage) {
      pose["sigma_mm_after"] = p.sigmaMmAfter > 0.0 ? json(p.sigmaMmAfter) : json(nullptr);
      pose["distance_mm"] = p.distanceMm;
      if (plan.inImage) pose["pixel"] = {p.u, p.v};
    }
    poses.push_back(pose);
  }
  return {{"schema", TarnWorkflow::kSchema},
          {"first_stage", plan.firstStage},
          {"convention", plan.convention},
          {"sigma_mm", plan.firstStage ? json(nullptr) : json(plan.sigmaMm)},
          {"sigma_deg", plan.firstStage ? json(nullptr) : json(plan.sigmaDeg)},
          {"noise_mm", plan.noiseMm},
          {"in_image", plan.inImage},
          {"poses", poses},
          {"note", plan.failure}};
}

void WritePlanText(std::ostream& out, const TamoHandEye::PosePlan& plan, const RobotType& robot, bool fourAxis) {
  if (plan.firstStage) {
    out << "First stage (no camera guess): " << plan.poses.size()
        << (fourAxis ? " poses: the taught one, shifts along the base's x, y and z, turns both ways about its z.\n"
                     : " poses: the taught one, shifts along the flange's x, y and z, turns about its x and y.\n")
        << "Take a shot at each, then plan again: tarn plan --robot " << robot.name
        << " --poses ROWS --images DIR --clouds DIR (the taught pose first)"
        << (fourAxis ? " --fixed-height MM (or --camera-offset-z MM)\n" : "\n");
  } else {
    out << "Pose plan: " << plan.poses.size() << " poses, the taught one first; expected camera sigma after all "
        << Fixed(plan.sigmaMm, 3) << " mm, " << Fixed(plan.sigmaDeg, 4) << " deg (at " << Fixed(plan.noiseMm, 2)
        << " mm shot noise per axis; the marker kept " << (plan.inImage ? "inside the image" : "in the view cone")
        << ")\n";
  }
  out << "#";
  for (const std::string& name : robot.ColumnNames()) out << std::setw(12) << name;
  out << (plan.firstStage ? "    turn (deg)\n" : "    turn (deg)  sigma after (mm)\n");
  for (std::size_t i = 0; i < plan.poses.size(); ++i) {
    const TamoHandEye::PlannedPose& p = plan.poses[i];
    out << std::setw(3) << i + 1;
    for (const double v : p.row) out << std::setw(12) << Fixed(v, 3);
    out << std::setw(12) << Fixed(p.turnDeg, 1);
    if (!plan.firstStage) {
      out << std::setw(16) << (p.sigmaMmAfter > 0.0 ? Fixed(p.sigmaMmAfter, 3) : std::string("-"));
    }
    out << "\n";
  }
  if (!plan.failure.empty()) out << "Note: " << plan.failure << "\n";
  out << "Check reach and collisions before running.\n";
}

// The taught shot: the taught row with --marker, or with the one shot of the images and clouds.
Shots TaughtShot(const CalibrateOptions& o, const PlanCommandOptions& p) {
  Shots shots;
  shots.rows = {Values(p.taught, "--taught")};
  if (o.fourValueRows) shots.rows[0] = FromScaraRow(shots.rows[0]);
  if (const auto unusable = TarnWorkflow::FindUnusableRow(*o.robot, shots.rows)) {
    throw std::runtime_error("--taught: " + unusable->Message());
  }
  if (!p.marker.empty()) {
    const std::vector<double> xyz = Values(p.marker, "--marker");
    if (xyz.size() != 3) throw std::runtime_error("--marker takes X,Y,Z: three numbers");
    const double unit = o.markerUnit == "mm" ? 0.001 : 1.0;
    shots.markers = {MarkerBoardResult{xyz[0] * unit, xyz[1] * unit, xyz[2] * unit, 0.0, 0.0}};
    return shots;
  }
  if (o.images.empty()) throw std::runtime_error("give the taught shot: --marker X,Y,Z, or --images DIR --clouds DIR");
  shots.detections = DetectAll(o.images, o.clouds, o.format, o.centre, o.imageIntrinsics);
  if (shots.detections.size() != 1) {
    throw std::runtime_error("--images and --clouds hold " + std::to_string(shots.detections.size()) +
                             " shots: with --taught give the taught pose's shot alone (or a first stage's shots "
                             "with --poses)");
  }
  shots.markers = MarkersFrom(shots.detections);
  return shots;
}

int PlanChecked(const CalibrateOptions& o, const PlanCommandOptions& p, const TamoHandEye::CameraPinhole& given) {
  std::optional<TarnWorkflow::ProgramFormat> format;
  if (!p.out.empty() || !p.format.empty()) {
    format = TarnWorkflow::ProgramFormatOf(!p.format.empty() ? p.format : fs::path(p.out).extension().string());
    if (!format) {
      throw std::runtime_error("the program format follows --out's extension or --format: one of " +
                               TarnWorkflow::ProgramFormatNames());
    }
    if (p.out.empty()) throw std::runtime_error("--format needs --out FILE");
  }
  const Shots shots = p.taught.empty() ? ReadShots(o) : TaughtShot(o, p);
  const AlgoParam param = o.robot->Settings(o.eyeToHand, o.meter, o.radian, -1.0);
  TamoHandEye::PlanOptions options;
  options.count = p.count;
  options.maxTurnDeg = p.maxTurnDeg;
  options.pointNoiseMm = p.noiseMm;
  options.convention = p.convention;
  options.camera = given.width > 0 ? given : TarnWorkflow::PinholeOfShots(shots.detections);
  if (!p.cameraGuess.empty()) options.cameraGuess = Values(p.cameraGuess, "--camera-guess");
  options.fourAxis = p.fourAxis || o.fourValueRows;
  options.fixedHeightMm = o.fixedHeightMm;
  options.cameraOffsetZMm = o.cameraOffsetZMm;
  if (!shots.detections.empty() && shots.detections.front().hasNormal) {
    const TamoHandEye::MarkerPlaneResult& taughtPlane = shots.detections.front().plane;
    options.boardNormal = {taughtPlane.nx, taughtPlane.ny, taughtPlane.nz};
  }
  TamoHandEye::PosePlan plan;
  const ErrorCode code =
      TamoHandEye::PlanCalibrationPoses(shots.markers, shots.rows, param, o.robot->kind, options, plan);
  if (code != Success) {
    if (o.json) std::cout << TarnWorkflow::ErrorJson(static_cast<int>(code), plan.failure).dump(2) << "\n";
    std::cerr << "the plan failed (code " << static_cast<int>(code) << "): " << plan.failure << "\n";
    return 2;
  }
  const RobotType& type = o.fourValueRows ? ScaraType() : *o.robot;
  if (o.fourValueRows) {
    for (TamoHandEye::PlannedPose& pose : plan.poses) pose.row = ToScaraRow(pose.row);
  }
  if (o.json) {
    std::cout << PlanJson(plan).dump(2) << "\n";
  } else {
    WritePlanText(std::cout, plan, type, options.fourAxis);
  }
  if (format) {
    std::vector<std::array<double, 16>> flanges;
    std::vector<std::vector<double>> rows;
    for (const TamoHandEye::PlannedPose& pose : plan.poses) {
      std::array<double, 16> flange = pose.matrix;
      const double toMm = TamoHandEye::RowsInMetres(o.robot->kind, param.IsMeter) ? 1000.0 : 1.0;
      for (const int k : {3, 7, 11}) flange[static_cast<std::size_t>(k)] *= toMm;
      flanges.push_back(flange);
      rows.push_back(pose.row);
    }
    TarnWorkflow::ProgramOptions program;
    program.name = p.name;
    program.speedPercent = p.speedPercent;
    program.configuration = p.configuration;
    program.comments = TarnWorkflow::PlanComments(plan, type);
    std::string error;
    if (!TarnWorkflow::ReplaceFile(p.out, TarnWorkflow::WriteProgram(*format, flanges, type, rows, program), &error)) {
      throw std::runtime_error("--out: " + error);
    }
    std::cerr << "wrote " << p.out << "\n";
  }
  return 0;
}

}  // namespace

int RunPlan(const CalibrateOptions& inputs, const PlanCommandOptions& plan, const TamoHandEye::CameraPinhole& pinhole) {
  if (!inputs.json) return PlanChecked(inputs, plan, pinhole);
  try {
    return PlanChecked(inputs, plan, pinhole);
  } catch (const std::exception& e) {
    std::cout << TarnWorkflow::ErrorJson(1, e.what()).dump(2) << "\n";
    throw;
  }
}

int RunExport(const ExportCommandOptions& o) {
  const std::optional<TarnWorkflow::ExportTarget> target = TarnWorkflow::ExportTargetOf(o.to);
  if (!target) throw std::runtime_error("--to takes one of " + TarnWorkflow::ExportTargetNames());
  TarnWorkflow::SavedResult saved;
  std::string error;
  if (!TarnWorkflow::ReadSavedResult(o.result, saved, error)) throw std::runtime_error(o.result + ": " + error);
  const auto& rows = saved.calibration.cameraMatrix;
  if (rows.size() != 4 || std::any_of(rows.begin(), rows.end(), [](const auto& r) { return r.size() != 4; })) {
    throw std::runtime_error(o.result + ": the camera matrix is not 4 x 4");
  }
  const bool eyeToHand = saved.eyeToHand.value_or(o.eyeToHand);
  if (saved.eyeToHand && o.eyeToHand && !*saved.eyeToHand) {
    throw std::runtime_error("the calibration was saved for eye-in-hand, but --eye-to-hand was given");
  }
  const double toMm = saved.meter.value_or(false) ? 1000.0 : 1.0;
  std::array<double, 16> camera{};
  for (std::size_t k = 0; k < 16; ++k) camera[k] = rows[k / 4][k % 4] * (k % 4 == 3 && k < 12 ? toMm : 1.0);
  TarnWorkflow::ExportOptions options;
  options.parent = o.parent;
  options.child = o.child;
  options.number = o.number;
  options.comments = {
      "Camera transform from " + fs::path(o.result).filename().string() + " (tarn export)",
      eyeToHand ? "Eye-to-hand: the camera in the robot base" : "Eye-in-hand: the camera in the flange"};
  const TamoHandEye::Uncertainty& u = saved.calibration.uncertainty;
  if (u.known) {
    options.comments.push_back("1 sigma: " + Fixed(u.translationNormMm, 3) + " mm, " + Fixed(u.rotationDeg, 4) +
                               " deg");
  }
  std::string text;
  try {
    text = TarnWorkflow::ExportTransform(*target, camera, eyeToHand, options);
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(o.result + ": " + e.what());
  }
  if (!TarnWorkflow::ReplaceFile(o.out, text, &error)) throw std::runtime_error("--out: " + error);
  std::cerr << "wrote " << o.out << "\n";
  return 0;
}

int RunCalibrate(const CalibrateOptions& o) {
  if (!o.json) return CalibrateChecked(o);
  try {
    return CalibrateChecked(o);
  } catch (const std::exception& e) {
    // Code 1: the command line could not use its input (the library was not reached).
    std::cout << TarnWorkflow::ErrorJson(1, e.what()).dump(2) << "\n";
    throw;
  }
}

namespace {

// A calibration's distance from the data set's truth.
struct TruthErrors {
  Eigen::Matrix4d solved, expected;
  Eigen::Vector3d marker, markerTruth;
  double translationMm = 0.0, rotationDeg = 0.0, markerMm = 0.0;
};

TruthErrors AgainstTruth(const FinalResult& result, const json& truth) {
  TruthErrors e;
  for (int r = 0; r < 4; ++r) {
    for (int k = 0; k < 4; ++k) {
      e.expected(r, k) = truth["camera"]["matrixMm"][static_cast<std::size_t>(r)][static_cast<std::size_t>(k)];
    }
  }
  e.solved = ToMatrix(result.cameraMatrix);
  e.translationMm = (e.solved.topRightCorner<3, 1>() - e.expected.topRightCorner<3, 1>()).norm();
  const Eigen::Matrix3d relative = e.solved.topLeftCorner<3, 3>() * e.expected.topLeftCorner<3, 3>().transpose();
  e.rotationDeg = Eigen::AngleAxisd(relative).angle() * 180.0 / kPi;
  e.marker = Eigen::Vector3d(result.markerPosition[0], result.markerPosition[1], result.markerPosition[2]);
  e.markerTruth = Eigen::Vector3d(truth["markerMm"][0], truth["markerMm"][1], truth["markerMm"][2]);
  e.markerMm = (e.marker - e.markerTruth).norm();
  return e;
}

std::string Triple(const Eigen::Vector3d& v) { return Fixed(v.x(), 2) + " " + Fixed(v.y(), 2) + " " + Fixed(v.z(), 2); }

}  // namespace

int RunDemo(const std::string& requestedFolder, Centre centre) {
  const std::string folder =
      requestedFolder.empty() ? (fs::temp_directory_path() / "tarn-demo").string() : requestedFolder;
  const RobotType& fanuc = *TarnWorkflow::FindRobotType("fanuc");
  TarnSim::SynthOptions synth;
  synth.folder = folder;
  synth.poses = 12;
  synth.robotName = fanuc.name;
  synth.format = fanuc.format;
  synth.seed = 1;
  // An earlier sample set (it has its truth.json) is replaced; a folder of other data is refused.
  synth.force = fs::exists(fs::path(folder) / "truth.json");
  std::cout << "Rendering the sample set: 12 eye-in-hand shots of " << synth.width << " x " << synth.height
            << " with FANUC robot rows, in " << folder << "\n";
  TarnSim::Synthesise(synth);

  CalibrateOptions calibrate;
  calibrate.images = (fs::path(folder) / "images").string();
  calibrate.clouds = (fs::path(folder) / "clouds").string();
  calibrate.poses = (fs::path(folder) / "robot.txt").string();
  calibrate.robot = &fanuc;
  calibrate.centre = centre;
  calibrate.seed = TamoHandEye::ReportOptions{}.seed;
  std::cout << "Detecting the marker in every shot and calibrating, with each way of finding its centre...\n\n";
  std::ifstream truthFile(fs::path(folder) / "truth.json");
  const json truth = json::parse(truthFile);
  const RobotRows rows = ReadRobotFile(calibrate.poses, *calibrate.robot);
  TruthErrors errors[2];  // fit, centroid
  for (const Centre method : {Centre::Fit, Centre::Centroid}) {
    const std::vector<ShotDetection> detections = DetectAll(calibrate.images, calibrate.clouds, "png", method);
    const Calibration c = Solve(MarkersFrom(detections), rows, calibrate, detections);
    if (c.code != Success) {
      std::cerr << TarnWorkflow::FailureMessage(c) << "\n";
      return 2;
    }
    if (method == centre) TarnWorkflow::WriteCalibrationText(std::cout, c, *calibrate.robot);
    errors[method == Centre::Fit ? 0 : 1] = AgainstTruth(c.result, truth);
  }

  const TruthErrors& chosen = errors[centre == Centre::Fit ? 0 : 1];
  const char* name = centre == Centre::Fit ? "fit" : "centroid";
  std::cout << "\nAgainst the ground truth (" << (fs::path(folder) / "truth.json").string() << "):\n";
  std::cout << "  camera translation  solved (" << name << ") " << Triple(chosen.solved.topRightCorner<3, 1>())
            << "  true " << Triple(chosen.expected.topRightCorner<3, 1>()) << " mm\n";
  std::cout << "  marker position     solved (" << name << ") " << Triple(chosen.marker) << "  true "
            << Triple(chosen.markerTruth) << " mm\n\n";
  std::cout << "  error                     centre fitted on the plane   centroids of the rings\n";
  std::cout << "  camera translation (mm)   " << std::setw(27) << Fixed(errors[0].translationMm, 3) << std::setw(25)
            << Fixed(errors[1].translationMm, 3) << "\n";
  std::cout << "  camera rotation (deg)     " << std::setw(27) << Fixed(errors[0].rotationDeg, 4) << std::setw(25)
            << Fixed(errors[1].rotationDeg, 4) << "\n";
  std::cout << "  marker position (mm)      " << std::setw(27) << Fixed(errors[0].markerMm, 3) << std::setw(25)
            << Fixed(errors[1].markerMm, 3) << "\n";
  const double boundMm = centre == Centre::Fit ? 0.05 : 2.0, boundDeg = centre == Centre::Fit ? 0.02 : 0.2;
  const bool good = chosen.translationMm <= boundMm && chosen.rotationDeg <= boundDeg;
  std::cout << (good ? "Within " : "NOT within ") << (centre == Centre::Fit ? "0.05 mm and 0.02" : "2 mm and 0.2")
            << " deg of the truth (" << name << ").\n";
  return good ? 0 : 3;
}

}  // namespace TarnCli
