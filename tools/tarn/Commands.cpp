#include "Commands.h"

#include "ResultFile.h"
#include "RobotTypes.h"
#include "ShotPairs.h"
#include "Synth.h"

#include <tarn/MarkerDetect.h>
#include <tarn/SolveFinalResult.h>

#include <Eigen/Geometry>
#include <nlohmann/json.hpp>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace TarnCli {
namespace {

using namespace TamoHandEye;
namespace fs = std::filesystem;
using nlohmann::json;

constexpr double kPi = 3.14159265358979323846;

struct Detection {
  ShotPair pair;
  ErrorCode code = Success;
  MarkerBoardResult marker;
};

// Detection prints its own progress lines on standard output; keep them out of ours.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
      ::dup2(null, STDOUT_FILENO);
      ::close(null);
    }
  }
  ~QuietStdout() {
    std::fflush(stdout);
    if (saved >= 0) {
      ::dup2(saved, STDOUT_FILENO);
      ::close(saved);
    }
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved = -1;
};

void Progress(std::size_t done, std::size_t total) {
  if (!::isatty(STDERR_FILENO) || total == 0) return;
  const int width = 30;
  const auto filled = static_cast<int>(width * done / total);
  std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
            << std::string(static_cast<std::size_t>(width - filled), ' ') << "] " << done << "/" << total << std::flush;
  if (done == total) std::cerr << "\n";
}

std::vector<Detection> DetectAll(const std::string& images, const std::string& clouds, const std::string& format) {
  if (!fs::is_directory(images)) throw std::runtime_error("the image folder does not exist: " + images);
  if (!fs::is_directory(clouds)) throw std::runtime_error("the point cloud folder does not exist: " + clouds);
  const PairingResult pairing = PairShots(images, format, clouds);
  for (const std::string& problem : pairing.problems) std::cerr << "note: " << problem << "\n";
  if (pairing.pairs.empty()) {
    throw std::runtime_error("no image and point cloud pairs (name_<number>." + format + " with name_<number>.ply) in " +
                             images + " and " + clouds);
  }
  std::vector<Detection> detections;
  for (std::size_t i = 0; i < pairing.pairs.size(); ++i) {
    Detection d;
    d.pair = pairing.pairs[i];
    {
      QuietStdout quiet;
      d.code = SolveMarkerBoardResults(d.pair.image, d.pair.cloud, d.marker);
    }
    detections.push_back(d);
    Progress(i + 1, pairing.pairs.size());
  }
  return detections;
}

std::vector<double> ParseNumbers(const std::string& line, std::size_t lineNumber, const std::string& file) {
  std::istringstream words(line);
  std::vector<double> values;
  std::string word;
  while (words >> word) {
    char* end = nullptr;
    const double v = std::strtod(word.c_str(), &end);
    if (end != word.c_str() + word.size() || word.empty()) {
      throw std::runtime_error(file + ", line " + std::to_string(lineNumber) + ": \"" + word + "\" is not a number");
    }
    values.push_back(v);
  }
  return values;
}

// The robot data file: one pose per line, whitespace separated, exactly the type's number of values.
RobotRows ReadRobotFile(const std::string& path, const RobotType& robot) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open the robot data file " + path);
  RobotRows rows;
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::vector<double> values = ParseNumbers(line, number, path);
    if (values.size() != robot.rowLength) {
      throw std::runtime_error(path + ", line " + std::to_string(number) + ": " + std::to_string(values.size()) +
                               " values, but a " + robot.name + " row has " + std::to_string(robot.rowLength));
    }
    rows.push_back(values);
  }
  if (rows.empty()) throw std::runtime_error("the robot data file is empty: " + path);
  return rows;
}

// A markers file: per line x y z (metres), optionally followed by u v; '#' starts a comment.
std::vector<MarkerBoardResult> ReadMarkersFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open the markers file " + path);
  std::vector<MarkerBoardResult> markers;
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    line = line.substr(0, line.find('#'));
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    const std::vector<double> v = ParseNumbers(line, number, path);
    if (v.size() != 3 && v.size() != 5) {
      throw std::runtime_error(path + ", line " + std::to_string(number) + ": expected x y z [u v], found " +
                               std::to_string(v.size()) + " values");
    }
    markers.push_back({v[0], v[1], v[2], v.size() == 5 ? v[3] : 0.0, v.size() == 5 ? v[4] : 0.0});
  }
  if (markers.empty()) throw std::runtime_error("the markers file is empty: " + path);
  return markers;
}

std::string Fixed(double v, int digits = 4) {
  std::ostringstream s;
  s << std::fixed << std::setprecision(digits) << v;
  return s.str();
}

Eigen::Matrix4d ToMatrix(const std::vector<std::vector<double>>& m) {
  Eigen::Matrix4d out;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) out(r, c) = m.at(static_cast<std::size_t>(r)).at(static_cast<std::size_t>(c));
  }
  return out;
}

struct Calibration {
  AlgoParam param;
  FinalResult result;
  ErrorCode code = Success;
};

Calibration Solve(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, const CalibrateOptions& o) {
  Calibration c;
  c.param.HandEyeType = o.eyeToHand ? 1 : 0;
  c.param.IsMeter = o.robot->meterChoice && o.meter;
  c.param.IsRadian = o.robot->radianChoice ? o.radian : o.robot->radian;
  c.param.Exhaust = o.ransac >= 0.0;
  c.param.RansacDist = std::max(o.ransac, 0.0);
  QuietStdout quiet;
  c.code = o.robot->entry(markers, rows, c.param, c.result);
  return c;
}

void PrintCalibration(const Calibration& c, const CalibrateOptions& o) {
  const FinalResult& r = c.result;
  const std::string unit = c.param.IsMeter ? "m" : "mm";
  std::cout << "Robot type: " << o.robot->catalogue << " (" << (o.eyeToHand ? "eye-to-hand" : "eye-in-hand") << ")\n";
  std::cout << (o.eyeToHand ? "Camera in the base frame" : "Camera in the flange frame") << ", as a robot row:\n ";
  std::vector<std::string> names{"X", "Y", "Z"};
  names.insert(names.end(), o.robot->rotationNames.begin(), o.robot->rotationNames.end());
  for (std::size_t k = 0; k < r.cameraPose.size(); ++k) std::cout << " " << names[k] << " " << Fixed(r.cameraPose[k]);
  std::cout << "\nCamera matrix (" << unit << "):\n";
  for (const auto& row : r.cameraMatrix) {
    std::cout << " ";
    for (const double v : row) std::cout << std::setw(14) << Fixed(v, 6);
    std::cout << "\n";
  }
  std::cout << (o.eyeToHand ? "Marker in the flange frame" : "Marker in the base frame") << " (" << unit
            << "): " << Fixed(r.markerPosition[0]) << " " << Fixed(r.markerPosition[1]) << " "
            << Fixed(r.markerPosition[2]) << "\n";
  std::cout << "Residuals (mm):\n  pose  used  distance        dx        dy        dz\n";
  std::vector<std::size_t> dropped;
  for (std::size_t i = 0; i < r.residuals.size(); ++i) {
    const bool used = r.mask.empty() || r.mask[i] != 0;
    if (!used) dropped.push_back(i);
    const PoseResidual& p = r.residuals[i];
    std::cout << std::setw(6) << i << std::setw(6) << (used ? "yes" : "no") << std::setw(10) << Fixed(p.distance, 3)
              << std::setw(10) << Fixed(p.dx, 3) << std::setw(10) << Fixed(p.dy, 3) << std::setw(10) << Fixed(p.dz, 3)
              << "\n";
  }
  std::cout << "RMS " << Fixed(r.rmsError, 3) << " mm, maximum " << Fixed(r.maxError, 3) << " mm\n";
  std::cout << "Dropped by the pose search: ";
  if (!c.param.Exhaust) {
    std::cout << "no search\n";
  } else if (dropped.empty()) {
    std::cout << "none\n";
  } else {
    for (std::size_t k = 0; k < dropped.size(); ++k) std::cout << (k ? ", " : "") << dropped[k];
    std::cout << "\n";
  }
}

json CalibrationJson(const Calibration& c, const CalibrateOptions& o) {
  json j;
  j["robot"] = o.robot->name;
  j["handEye"] = o.eyeToHand ? "eye-to-hand" : "eye-in-hand";
  j["unit"] = c.param.IsMeter ? "m" : "mm";
  j["cameraPose"] = c.result.cameraPose;
  j["cameraMatrix"] = c.result.cameraMatrix;
  j["markerPosition"] = c.result.markerPosition;
  j["rmsErrorMm"] = c.result.rmsError;
  j["maxErrorMm"] = c.result.maxError;
  j["mask"] = c.result.mask;
  json residuals = json::array();
  for (const PoseResidual& p : c.result.residuals) {
    residuals.push_back({{"distance", p.distance}, {"dx", p.dx}, {"dy", p.dy}, {"dz", p.dz}});
  }
  j["residualsMm"] = residuals;
  return j;
}

std::vector<MarkerBoardResult> MarkersFrom(const std::vector<Detection>& detections) {
  std::vector<MarkerBoardResult> markers;
  for (const Detection& d : detections) {
    if (d.code != Success) {
      throw std::runtime_error("no marker in " + fs::path(d.pair.image).filename().string() + ": " + parseCode(d.code) +
                               " (leave that pose out of the robot data and the folders, or retake the shot)");
    }
    markers.push_back(d.marker);
  }
  return markers;
}

}  // namespace

int RunDetect(const DetectOptions& o) {
  const std::vector<Detection> detections = DetectAll(o.images, o.clouds, o.format);
  int failures = 0;
  if (o.json) {
    json all = json::array();
    for (const Detection& d : detections) {
      json j{{"image", d.pair.image}, {"cloud", d.pair.cloud}, {"code", static_cast<int>(d.code)}};
      if (d.code == Success) {
        j["x"] = d.marker.x;
        j["y"] = d.marker.y;
        j["z"] = d.marker.z;
        j["u"] = d.marker.u;
        j["v"] = d.marker.v;
      } else {
        j["message"] = parseCode(d.code);
        ++failures;
      }
      all.push_back(j);
    }
    std::cout << all.dump(2) << "\n";
  } else {
    std::cout << "# shot            x (m)        y (m)        z (m)      u (px)      v (px)\n";
    for (const Detection& d : detections) {
      std::cout << std::left << std::setw(16) << fs::path(d.pair.image).filename().string() << std::right;
      if (d.code == Success) {
        std::cout << std::setw(13) << Fixed(d.marker.x, 6) << std::setw(13) << Fixed(d.marker.y, 6) << std::setw(13)
                  << Fixed(d.marker.z, 6) << std::setw(12) << Fixed(d.marker.u, 3) << std::setw(12)
                  << Fixed(d.marker.v, 3) << "\n";
      } else {
        std::cout << "  # failed, code " << static_cast<int>(d.code) << ": " << parseCode(d.code) << "\n";
        ++failures;
      }
    }
  }
  if (failures > 0) std::cerr << failures << " of " << detections.size() << " shots without a marker\n";
  return failures == 0 ? 0 : 1;
}

int RunCalibrate(const CalibrateOptions& o) {
  if (o.robot == nullptr) throw std::runtime_error("unknown robot type; use one of " + RobotTypeNames());
  if (o.meter && !o.robot->meterChoice) std::cerr << "note: " << o.robot->name << " rows are always millimetres\n";
  if (o.radian && !o.robot->radianChoice && !o.robot->radian) {
    std::cerr << "note: " << o.robot->name << " rows are always degrees\n";
  }
  const RobotRows rows = ReadRobotFile(o.poses, *o.robot);
  const std::vector<MarkerBoardResult> markers =
      o.markers.empty() ? MarkersFrom(DetectAll(o.images, o.clouds, o.format)) : ReadMarkersFile(o.markers);
  if (markers.size() != rows.size()) {
    throw std::runtime_error(std::to_string(markers.size()) + " marker positions but " + std::to_string(rows.size()) +
                             " robot poses: each shot needs its robot pose, in the same order");
  }
  const Calibration c = Solve(markers, rows, o);
  if (c.code != Success) {
    std::cerr << "calibration failed (code " << static_cast<int>(c.code) << "): " << parseCode(c.code) << "\n";
    return 2;
  }
  if (o.json) {
    std::cout << CalibrationJson(c, o).dump(2) << "\n";
  } else {
    PrintCalibration(c, o);
  }
  if (!o.save.empty()) {
    if (!WriteResultFile(o.save, *o.robot, c.param, c.result)) throw std::runtime_error("cannot write " + o.save);
    std::cerr << "saved " << o.save << "\n";
  }
  return 0;
}

int RunDemo(const std::string& requestedFolder) {
  const std::string folder =
      requestedFolder.empty() ? (fs::temp_directory_path() / "tarn-demo").string() : requestedFolder;
  SynthOptions synth;
  synth.folder = folder;
  synth.poses = 12;
  synth.robot = FindRobotType("fanuc");
  synth.seed = 1;
  // An earlier sample set (it has its truth.json) is replaced; a folder of other data is refused.
  synth.force = fs::exists(fs::path(folder) / "truth.json");
  std::cout << "Rendering the sample set: 12 eye-in-hand shots of " << synth.width << " x " << synth.height
            << " with FANUC robot rows, in " << folder << "\n";
  Synthesise(synth);

  CalibrateOptions calibrate;
  calibrate.images = (fs::path(folder) / "images").string();
  calibrate.clouds = (fs::path(folder) / "clouds").string();
  calibrate.poses = (fs::path(folder) / "robot.txt").string();
  calibrate.robot = synth.robot;
  std::cout << "Detecting the marker in every shot and calibrating...\n\n";
  const std::vector<MarkerBoardResult> markers = MarkersFrom(DetectAll(calibrate.images, calibrate.clouds, "png"));
  const Calibration c = Solve(markers, ReadRobotFile(calibrate.poses, *calibrate.robot), calibrate);
  if (c.code != Success) {
    std::cerr << "calibration failed (code " << static_cast<int>(c.code) << "): " << parseCode(c.code) << "\n";
    return 2;
  }
  PrintCalibration(c, calibrate);

  std::ifstream truthFile(fs::path(folder) / "truth.json");
  const json truth = json::parse(truthFile);
  Eigen::Matrix4d expected;
  for (int r = 0; r < 4; ++r) {
    for (int k = 0; k < 4; ++k) expected(r, k) = truth["camera"]["matrixMm"][static_cast<std::size_t>(r)][static_cast<std::size_t>(k)];
  }
  const Eigen::Matrix4d solved = ToMatrix(c.result.cameraMatrix);
  const double translationError = (solved.topRightCorner<3, 1>() - expected.topRightCorner<3, 1>()).norm();
  const Eigen::Matrix3d relative = solved.topLeftCorner<3, 3>() * expected.topLeftCorner<3, 3>().transpose();
  const double rotationError = Eigen::AngleAxisd(relative).angle() * 180.0 / kPi;
  const Eigen::Vector3d marker(c.result.markerPosition[0], c.result.markerPosition[1], c.result.markerPosition[2]);
  const Eigen::Vector3d markerTruth(truth["markerMm"][0], truth["markerMm"][1], truth["markerMm"][2]);

  std::cout << "\nAgainst the ground truth (" << (fs::path(folder) / "truth.json").string() << "):\n";
  std::cout << "  camera translation  solved " << Fixed(solved(0, 3), 2) << " " << Fixed(solved(1, 3), 2) << " "
            << Fixed(solved(2, 3), 2) << "  true " << Fixed(expected(0, 3), 2) << " " << Fixed(expected(1, 3), 2) << " "
            << Fixed(expected(2, 3), 2) << " mm  error " << Fixed(translationError, 3) << " mm\n";
  std::cout << "  camera rotation     error " << Fixed(rotationError, 4) << " deg\n";
  std::cout << "  marker position     solved " << Fixed(marker.x(), 2) << " " << Fixed(marker.y(), 2) << " "
            << Fixed(marker.z(), 2) << "  true " << Fixed(markerTruth.x(), 2) << " " << Fixed(markerTruth.y(), 2) << " "
            << Fixed(markerTruth.z(), 2) << " mm  error " << Fixed((marker - markerTruth).norm(), 3) << " mm\n";
  const bool good = translationError <= 2.0 && rotationError <= 0.2;
  std::cout << (good ? "Within 2 mm and 0.2 deg of the truth.\n" : "NOT within 2 mm and 0.2 deg of the truth.\n");
  return good ? 0 : 3;
}

}  // namespace TarnCli
