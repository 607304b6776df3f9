#include "Commands.h"

#include "ResultFile.h"
#include "RobotTypes.h"
#include "ShotPairs.h"
#include "Synth.h"

#include <tarn/FittedMarkerDetect.h>
#include <tarn/MarkerDetect.h>
#include <tarn/SolveFinalResult.h>

#include <Eigen/Geometry>
#include <nlohmann/json.hpp>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
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
  bool fitted = false;       ///< the centre was fitted, and quality holds the fit's figures
  MarkerFitQuality quality;
  ShotFileProblem problem;  ///< which file could not be used, and why (codes 106 and 107)
};

// Robot and marker files hold a few hundred short lines: anything far beyond is not such a file.
constexpr std::size_t kMaxLineLength = 1 << 16;
constexpr std::size_t kMaxRows = 100000;

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

std::vector<Detection> DetectAll(const std::string& images, const std::string& clouds, const std::string& format,
                                 Centre centre) {
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
      if (centre == Centre::Fit) {
        d.code = SolveFittedMarkerResults(d.pair.image, d.pair.cloud, d.marker, d.quality);
        d.fitted = d.code == Success || d.code == Err_Algo_Marker_Fit_NotMarker || d.code == Err_Algo_Marker_Fit_TooFewPoints;
      } else {
        d.code = SolveMarkerBoardResults(d.pair.image, d.pair.cloud, d.marker);
      }
      if (d.code == Err_Data_Invalid_Image || d.code == Err_Data_Invalid_PointCloud) {
        d.problem = DescribeShotFiles(d.pair.image, d.pair.cloud);
      }
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

bool Blank(const std::string& line) { return line.find_first_not_of(" \t\r\v\f") == std::string::npos; }

// Calls `use` with each line of a text file (without its line end) and its number, reading a bounded
// piece at a time: a line longer than any such file has is refused as soon as it is seen.
void ForEachLine(const std::string& path, const std::string& what,
                 const std::function<void(const std::string&, std::size_t)>& use) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status)) throw std::runtime_error("cannot open the " + what + " " + path + ": it does not exist");
  if (!fs::is_regular_file(status)) throw std::runtime_error("the " + what + " " + path + " is not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open the " + what + " " + path);
  std::string line;
  std::size_t number = 1;
  std::vector<char> buffer(1 << 16);
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    const auto got = static_cast<std::size_t>(in.gcount());
    for (std::size_t i = 0; i < got; ++i) {
      if (buffer[i] == '\n') {
        use(line, number++);
        line.clear();
      } else if (line.size() >= kMaxLineLength) {
        throw std::runtime_error(path + ", line " + std::to_string(number) + " is longer than " +
                                 std::to_string(kMaxLineLength) + " characters: is this a " + what + "?");
      } else {
        line += buffer[i];
      }
    }
  }
  if (in.bad()) throw std::runtime_error("cannot read the " + what + " " + path);
  if (!line.empty()) use(line, number);
}

void CountRow(std::size_t rows, const std::string& path) {
  if (rows >= kMaxRows) {
    throw std::runtime_error(path + " holds more than " + std::to_string(kMaxRows) + " rows: is this the right file?");
  }
}

// The robot data file: one pose per line, whitespace separated, exactly the type's number of values.
RobotRows ReadRobotFile(const std::string& path, const RobotType& robot) {
  RobotRows rows;
  ForEachLine(path, "robot data file", [&](const std::string& line, std::size_t number) {
    if (Blank(line)) return;
    const std::vector<double> values = ParseNumbers(line, number, path);
    if (values.size() != robot.rowLength) {
      throw std::runtime_error(path + ", line " + std::to_string(number) + ": " + std::to_string(values.size()) +
                               " values, but a " + robot.name + " row has " + std::to_string(robot.rowLength));
    }
    CountRow(rows.size(), path);
    rows.push_back(values);
  });
  if (rows.empty()) throw std::runtime_error("the robot data file is empty: " + path);
  return rows;
}

// A markers file: per line x y z (metres), optionally followed by u v; '#' starts a comment.
std::vector<MarkerBoardResult> ReadMarkersFile(const std::string& path) {
  std::vector<MarkerBoardResult> markers;
  ForEachLine(path, "markers file", [&](const std::string& text, std::size_t number) {
    const std::string line = text.substr(0, text.find('#'));
    if (Blank(line)) return;
    const std::vector<double> v = ParseNumbers(line, number, path);
    if (v.size() != 3 && v.size() != 5) {
      throw std::runtime_error(path + ", line " + std::to_string(number) + ": expected x y z [u v], found " +
                               std::to_string(v.size()) + " values");
    }
    CountRow(markers.size(), path);
    markers.push_back({v[0], v[1], v[2], v.size() == 5 ? v[3] : 0.0, v.size() == 5 ? v[4] : 0.0});
  });
  if (markers.empty()) throw std::runtime_error("the markers file is empty: " + path);
  return markers;
}

// Why a shot has no marker, naming the file at fault when one of its files could not be used.
std::string FailureText(const Detection& d) {
  switch (d.problem.file) {
    case ShotFileProblem::Image:
      return "the image " + fs::path(d.pair.image).filename().string() + " cannot be used: " + d.problem.reason;
    case ShotFileProblem::PointCloud:
      return "the point cloud " + fs::path(d.pair.cloud).filename().string() + " cannot be used: " + d.problem.reason;
    case ShotFileProblem::None: break;
  }
  return parseCode(d.code);
}

// The length of the UTF-8 sequence at `at`, or 0 when the bytes there are not one.
std::size_t Utf8Sequence(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, min = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, min = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, min = 0x10000;
  else return 0;
  if (at + length > text.size()) return 0;
  unsigned code = lead & (0x7Fu >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + k) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool IsUtf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t n = Utf8Sequence(text, at);
    if (n == 0) return false;
    at += n;
  }
  return true;
}

// Valid sequences kept, every other byte replaced by U+FFFD.
std::string RepairedUtf8(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t n = Utf8Sequence(text, at);
    out += n == 0 ? std::string("\xEF\xBF\xBD") : text.substr(at, n);
    at += n == 0 ? 1 : n;
  }
  return out;
}

// File names as JSON needs them: UTF-8. Names in the locale's own encoding are converted; bytes that
// are not text in any known encoding (say GBK names on a UTF-8 system) are replaced by U+FFFD.
std::string Utf8Name(const std::string& bytes) {
  if (IsUtf8(bytes)) return bytes;
  const std::string codeset = ::nl_langinfo(CODESET);
  if (codeset != "UTF-8" && codeset != "ANSI_X3.4-1968") {
    const iconv_t convert = ::iconv_open("UTF-8", codeset.c_str());
    if (convert != reinterpret_cast<iconv_t>(-1)) {
      std::string in = bytes, out(4 * bytes.size() + 4, '\0');
      char* from = in.data();
      char* to = out.data();
      std::size_t left = in.size(), room = out.size();
      const std::size_t done = ::iconv(convert, &from, &left, &to, &room);
      ::iconv_close(convert);
      if (done != static_cast<std::size_t>(-1) && left == 0) {
        out.resize(out.size() - room);
        if (IsUtf8(out)) return out;
      }
    }
  }
  return RepairedUtf8(bytes);
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

// One shot's detection as JSON: its files, code, and the marker or the reason; the fit's figures when
// the centre was fitted.
json ShotJson(const Detection& d) {
  json j{{"image", Utf8Name(d.pair.image)}, {"cloud", Utf8Name(d.pair.cloud)}, {"code", static_cast<int>(d.code)}};
  if (d.code == Success) {
    j["x"] = d.marker.x;
    j["y"] = d.marker.y;
    j["z"] = d.marker.z;
    j["u"] = d.marker.u;
    j["v"] = d.marker.v;
  } else {
    j["message"] = Utf8Name(FailureText(d));
  }
  if (d.fitted) {
    const MarkerFitQuality& q = d.quality;
    j["fit"] = {{"radiiMm", {q.radiiMm[0], q.radiiMm[1], q.radiiMm[2], q.radiiMm[3]}},
                {"ratioDeviation", q.ratioDeviation},
                {"planeRmsMm", q.planeRmsMm},
                {"edgePoints", q.edgePoints},
                {"planePoints", q.planePoints}};
  }
  return j;
}

json CalibrationJson(const Calibration& c, const CalibrateOptions& o, const std::vector<Detection>& detections) {
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
  if (!detections.empty()) {
    json shots = json::array();
    for (const Detection& d : detections) shots.push_back(ShotJson(d));
    j["shots"] = shots;
  }
  return j;
}

std::vector<MarkerBoardResult> MarkersFrom(const std::vector<Detection>& detections) {
  std::vector<MarkerBoardResult> markers;
  for (const Detection& d : detections) {
    if (d.code != Success) {
      throw std::runtime_error("no marker in " + fs::path(d.pair.image).filename().string() + ": " + FailureText(d) +
                               " (leave that pose out of the robot data and the folders, or retake the shot)");
    }
    markers.push_back(d.marker);
  }
  return markers;
}

}  // namespace

int RunDetect(const DetectOptions& o) {
  const std::vector<Detection> detections = DetectAll(o.images, o.clouds, o.format, o.centre);
  int failures = 0;
  if (o.json) {
    json all = json::array();
    for (const Detection& d : detections) {
      if (d.code != Success) ++failures;
      all.push_back(ShotJson(d));
    }
    std::cout << all.dump(2) << "\n";
  } else {
    std::cout << "# shot            x (m)        y (m)        z (m)      u (px)      v (px)"
              << (o.centre == Centre::Fit ? "  ratio dev  plane rms (mm)" : "") << "\n";
    for (const Detection& d : detections) {
      std::cout << std::left << std::setw(16) << fs::path(d.pair.image).filename().string() << std::right;
      if (d.code == Success) {
        std::cout << std::setw(13) << Fixed(d.marker.x, 6) << std::setw(13) << Fixed(d.marker.y, 6) << std::setw(13)
                  << Fixed(d.marker.z, 6) << std::setw(12) << Fixed(d.marker.u, 3) << std::setw(12)
                  << Fixed(d.marker.v, 3);
        if (d.fitted) std::cout << std::setw(11) << Fixed(d.quality.ratioDeviation, 5) << std::setw(16) << Fixed(d.quality.planeRmsMm, 3);
        std::cout << "\n";
      } else {
        std::cout << "  # failed, code " << static_cast<int>(d.code) << ": " << FailureText(d) << "\n";
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
  const std::vector<Detection> detections =
      o.markers.empty() ? DetectAll(o.images, o.clouds, o.format, o.centre) : std::vector<Detection>();
  const std::vector<MarkerBoardResult> markers = o.markers.empty() ? MarkersFrom(detections) : ReadMarkersFile(o.markers);
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
    std::cout << CalibrationJson(c, o, detections).dump(2) << "\n";
  } else {
    PrintCalibration(c, o);
  }
  if (!o.save.empty()) {
    // How the markers of a markers file were found is not known.
    const std::optional<bool> fitted = o.markers.empty() ? std::optional<bool>(o.centre == Centre::Fit) : std::nullopt;
    if (!WriteResultFile(o.save, *o.robot, c.param, c.result, fitted)) throw std::runtime_error("cannot write " + o.save);
    std::cerr << "saved " << o.save << "\n";
  }
  return 0;
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
  calibrate.centre = centre;
  std::cout << "Detecting the marker in every shot and calibrating, with each way of finding its centre...\n\n";
  std::ifstream truthFile(fs::path(folder) / "truth.json");
  const json truth = json::parse(truthFile);
  const RobotRows rows = ReadRobotFile(calibrate.poses, *calibrate.robot);
  TruthErrors errors[2];  // fit, centroid
  for (const Centre method : {Centre::Fit, Centre::Centroid}) {
    const std::vector<MarkerBoardResult> markers = MarkersFrom(DetectAll(calibrate.images, calibrate.clouds, "png", method));
    const Calibration c = Solve(markers, rows, calibrate);
    if (c.code != Success) {
      std::cerr << "calibration failed (code " << static_cast<int>(c.code) << "): " << parseCode(c.code) << "\n";
      return 2;
    }
    if (method == centre) PrintCalibration(c, calibrate);
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
