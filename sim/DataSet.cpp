// SPDX-License-Identifier: Apache-2.0
#include "DataSet.h"

#include "ImageCodecs.h"
#include "MarkerRenderer.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <stdexcept>

namespace TarnSim {
namespace {

namespace fs = std::filesystem;

double FocalPixels(const SynthOptions& o) { return 0.9 * o.width; }

nlohmann::json Matrix(const Eigen::Matrix4d& m) {
  nlohmann::json rows = nlohmann::json::array();
  for (int r = 0; r < 4; ++r) rows.push_back({m(r, 0), m(r, 1), m(r, 2), m(r, 3)});
  return rows;
}

// "shot_<digits>.<png|jpg|bmp|ply>": a file this writer makes.
bool IsShotFile(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (name.rfind("shot_", 0) != 0 || dot == std::string::npos || dot <= 5) return false;
  const std::string digits = name.substr(5, dot - 5);
  const std::string extension = name.substr(dot + 1);
  return digits.find_first_not_of("0123456789") == std::string::npos &&
         (extension == "png" || extension == "jpg" || extension == "bmp" || extension == "ply");
}

// Refuses a folder holding a data set, or (forced) removes that set's own files.
void PrepareFolder(const fs::path& root, bool force) {
  std::error_code error;
  const bool holdsSet = fs::exists(root / "images", error) || fs::exists(root / "clouds", error) ||
                        fs::exists(root / "robot.txt", error) || fs::exists(root / "truth.json", error);
  if (!holdsSet) return;
  if (!force) {
    throw std::runtime_error(root.string() +
                             " already holds a data set (images, clouds, robot.txt or truth.json); give --force to "
                             "replace it, or choose another folder");
  }
  for (const char* sub : {"images", "clouds"}) {
    for (fs::directory_iterator it(root / sub, error), end; !error && it != end; it.increment(error)) {
      std::error_code removing;
      if (IsShotFile(it->path().filename().string())) fs::remove(it->path(), removing);
    }
  }
  fs::remove(root / "robot.txt", error);
  fs::remove(root / "truth.json", error);
}

}  // namespace

namespace {

// The board carrying the marker at its origin: fixed in the base frame (eye-in-hand), lying in the plane
// the camera looks down on; or on the flange (eye-to-hand), turned to face the camera on average.
Eigen::Isometry3d MarkerBoard(const Scene& scene) {
  Eigen::Isometry3d board = Eigen::Isometry3d::Identity();
  board.translation() = scene.marker;
  if (scene.eyeToHand) {
    Eigen::Vector3d towardCamera = Eigen::Vector3d::Zero();
    for (const Eigen::Isometry3d& flange : scene.flange) {
      towardCamera += flange.linear().transpose() * scene.camera.linear().col(2);
    }
    board.linear() =
        Eigen::Quaterniond::FromTwoVectors(Eigen::Vector3d::UnitZ(), towardCamera.normalized()).toRotationMatrix();
  }
  return board;
}

// Renders and writes pose i's image and cloud; returns the marker centre's image position.
nlohmann::json WriteShot(const SynthOptions& o, const Scene& scene, const Eigen::Isometry3d& board, int i) {
  const fs::path root(o.folder);
  const Eigen::Isometry3d& flange = scene.flange[static_cast<std::size_t>(i)];
  ShotOptions shotOptions;
  shotOptions.cameraFromBoard = o.eyeToHand ? Eigen::Isometry3d(scene.camera.inverse() * flange * board)
                                            : Eigen::Isometry3d((flange * scene.camera).inverse() * board);
  shotOptions.width = o.width;
  shotOptions.height = o.height;
  shotOptions.focal = FocalPixels(o);
  // A board larger than the view: its outline is the image frame, never a near-circular polygon that
  // the detector could take for an outer ring.
  shotOptions.boardHalfWidth = 1.0;
  shotOptions.boardHalfHeight = 1.0;
  shotOptions.supersample = 3;
  shotOptions.blurSigma = 0.8;
  shotOptions.greyNoise = 2.0;
  shotOptions.depthNoise = o.noiseMm / 1000.0;
  shotOptions.seed = o.seed * 1000u + static_cast<unsigned>(i);
  const Shot shot = RenderShot(shotOptions);

  const std::string name = "shot_" + std::to_string(i);
  const fs::path image = root / "images" / (name + "." + o.imageFormat);
  if (!TarnCodecs::Write(image.string(), shot.image)) throw std::runtime_error("cannot write " + image.string());
  WritePly((root / "clouds" / (name + ".ply")).string(), shot.cloud);
  return {shot.centres[0].x(), shot.centres[0].y()};
}

// The robot data file: whitespace separated, one pose per line, in the controller's own units.
void WriteRobotFile(const SynthOptions& o, const Scene& scene) {
  const fs::path path = fs::path(o.folder) / "robot.txt";
  std::ofstream robotFile(path);
  robotFile << std::setprecision(10);
  for (const auto& row : RobotRows(scene, o.format, false, o.radian)) {
    for (std::size_t k = 0; k < row.size(); ++k) robotFile << (k ? " " : "") << row[k];
    robotFile << "\n";
  }
  if (!robotFile) throw std::runtime_error("cannot write " + path.string());
}

void WriteTruth(const SynthOptions& o, const Scene& scene, const nlohmann::json& centres) {
  Eigen::Matrix4d cameraMm = scene.camera.matrix();
  cameraMm.topRightCorner<3, 1>() *= 1000.0;
  nlohmann::json truth;
  truth["handEye"] = o.eyeToHand ? "eye-to-hand" : "eye-in-hand";
  truth["robot"] = o.robotName;
  truth["poses"] = o.poses;
  truth["noiseMm"] = o.noiseMm;
  truth["seed"] = o.seed;
  truth["resolution"] = {o.width, o.height};
  truth["focalPx"] = FocalPixels(o);
  truth["camera"] = {{"frame", o.eyeToHand ? "camera in base" : "camera in flange"}, {"matrixMm", Matrix(cameraMm)}};
  truth["markerMm"] = {scene.marker.x() * 1000.0, scene.marker.y() * 1000.0, scene.marker.z() * 1000.0};
  truth["markerFrame"] = o.eyeToHand ? "flange" : "base";
  truth["imageCentresPx"] = centres;
  std::ofstream(fs::path(o.folder) / "truth.json") << truth.dump(2) << "\n";
}

}  // namespace

void Synthesise(const SynthOptions& o) {
  const fs::path root(o.folder);
  PrepareFolder(root, o.force);
  fs::create_directories(root / "images");
  fs::create_directories(root / "clouds");

  SceneOptions sceneOptions;
  sceneOptions.poses = o.poses;
  sceneOptions.eyeToHand = o.eyeToHand;
  sceneOptions.seed = o.seed;
  // A marker on the flange turns with every pose; a smaller spread keeps it facing the fixed camera
  // well enough for its rings to stay round in the image.
  if (o.eyeToHand) sceneOptions.rotationSpreadDeg = 20.0;
  const Scene scene = MakeScene(sceneOptions);

  const Eigen::Isometry3d board = MarkerBoard(scene);
  nlohmann::json centres = nlohmann::json::array();
  for (int i = 0; i < o.poses; ++i) centres.push_back(WriteShot(o, scene, board, i));
  WriteRobotFile(o, scene);
  WriteTruth(o, scene, centres);
}

}  // namespace TarnSim
