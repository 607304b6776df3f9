// SPDX-License-Identifier: Apache-2.0
// The 2D camera's own lens model: shots rendered with a distortion and a registration of the renderer's own
// (not the library's), and camera files as OpenCV writes them and as ROS keeps them.

#include <tarn/CalibrationReport.h>
#include <tarn/FittedMarkerDetect.h>

#include "HandEyeScene.h"
#include "MarkerRenderer.h"

#include <gtest/gtest.h>
#include <opencv2/core/persistence.hpp>

#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>

namespace {

using namespace TamoHandEye;
using TarnSim::RenderShot;
using TarnSim::Shot;
using TarnSim::ShotOptions;
using TarnSim::View;

ShotOptions LensOptions() {
  ShotOptions o;
  o.width = 1024;
  o.height = 768;
  o.focal = 900.0;
  o.cameraFromBoard = View(0.55, 0.3, -0.25, 0.12, 0.07);  // the marker well off the image centre
  o.supersample = 3;
  o.blurSigma = 0.8;
  o.greyNoise = 2.0;
  o.depthNoise = 0.0003;
  o.boardHalfWidth = o.boardHalfHeight = 1.0;
  o.imageDistortion = {0.05, -0.02, 0.001, -0.0005, 0.0};
  o.imageShift = Eigen::Vector2d(1.0, -0.5);
  o.imageTurnDeg = 0.2;
  return o;
}

ImageIntrinsics IntrinsicsOf(const ShotOptions& o) {
  ImageIntrinsics k;
  k.fx = k.fy = o.focal;
  k.cx = (o.width - 1) / 2.0;
  k.cy = (o.height - 1) / 2.0;
  k.k1 = o.imageDistortion[0];
  k.k2 = o.imageDistortion[1];
  k.p1 = o.imageDistortion[2];
  k.p2 = o.imageDistortion[3];
  k.k3 = o.imageDistortion[4];
  k.width = o.width;
  k.height = o.height;
  k.shiftUPx = o.imageShift.x();
  k.shiftVPx = o.imageShift.y();
  k.turnDeg = o.imageTurnDeg;
  return k;
}

double ErrorMm(const MarkerBoardResult& r, const Shot& shot) {
  return 1000.0 * (Eigen::Vector3d(r.x, r.y, r.z) - shot.points[0]).norm();
}

// An image with its own lens and a registration off by a pixel and 0.2°: taken as the cloud's grid, the
// centre is tenths of a millimetre off; through the intrinsics it is back within 0.02 mm, and its pixel is
// where the image shows it.
TEST(ImageIntrinsics, TheImagesLensAndRegistrationAreTakenOut) {
  const ShotOptions options = LensOptions();
  const Shot shot = RenderShot(options);
  MarkerBoardResult plain{}, mapped{};
  MarkerFitQuality quality;
  ASSERT_EQ(SolveFittedMarkerResults(shot.image, shot.cloud, plain, quality), Success);
  EXPECT_GT(ErrorMm(plain, shot), 0.1);
  const ImageIntrinsics k = IntrinsicsOf(options);
  ASSERT_EQ(SolveFittedMarkerResults(shot.image, shot.cloud, k, mapped, quality), Success);
  EXPECT_LT(ErrorMm(mapped, shot), 0.02);
  EXPECT_LT(std::hypot(mapped.u - shot.centres[0].x(), mapped.v - shot.centres[0].y()), 0.05);
  EXPECT_GT(quality.centreSigmaMm, 0.0);
  EXPECT_LT(quality.centreSigmaMm, 0.02);

  ImageIntrinsics wrongSize = k;
  wrongSize.width = 1280;
  wrongSize.height = 1024;
  EXPECT_EQ(SolveFittedMarkerResults(shot.image, shot.cloud, wrongSize, mapped, quality), Err_Data_Size_Mismatch);
  ImageIntrinsics noFocal = k;
  noFocal.fy = 0.0;
  EXPECT_EQ(SolveFittedMarkerResults(shot.image, shot.cloud, noFocal, mapped, quality), Err_Data_Invalid_Image);
}

// Whether an eight-pose calibration from rendered shots (k1 of the image as given, the detection told
// `told` of it) raises "registration".
bool RaisesRegistration(double k1, double told) {
  TarnSim::SceneOptions sceneOptions;
  sceneOptions.poses = 8;
  sceneOptions.seed = 5;
  const TarnSim::Scene scene = TarnSim::MakeScene(sceneOptions);
  Eigen::Isometry3d board = Eigen::Isometry3d::Identity();
  board.translation() = scene.marker;
  std::vector<MarkerBoardResult> markers;
  ReportOptions options;
  for (std::size_t i = 0; i < scene.flange.size(); ++i) {
    ShotOptions o;
    o.cameraFromBoard = (scene.flange[i] * scene.camera).inverse() * board;
    o.width = 800;
    o.height = 600;
    o.focal = 720.0;
    o.supersample = 2;
    o.blurSigma = 0.8;
    o.greyNoise = 2.0;
    o.depthNoise = 0.0005;
    o.boardHalfWidth = o.boardHalfHeight = 1.0;
    o.seed = static_cast<unsigned>(i + 1);
    o.imageDistortion[0] = k1;
    const Shot shot = RenderShot(o);
    ImageIntrinsics k = IntrinsicsOf(o);
    k.k1 = told;
    MarkerBoardResult marker{};
    MarkerFitQuality quality;
    EXPECT_EQ(SolveFittedMarkerResults(shot.image, shot.cloud, k, marker, quality), Success);
    markers.push_back(marker);
    options.outerRadiiMm.push_back(quality.markerRadiusMm);
    options.outerRadiusSigmasMm.push_back(quality.outerRadiusSigmaMm);
  }
  const auto rows = TarnSim::RobotRows(scene, TarnSim::RowFormat::Fanuc);
  CalibrationReport report;
  EXPECT_EQ(SolveCalibrationReport(markers, RobotRows(rows.begin(), rows.end()), AlgoParam{}, RobotKind::Fanuc, options,
                                   report),
            Success);
  EXPECT_GT(report.radiusSpreadLimitMm, 0.0);
  return std::any_of(report.warnings.begin(), report.warnings.end(),
                     [](const ReportWarning& w) { return w.code == "registration"; });
}

// Over a calibration, an image whose lens is not the cloud's shows as the same marker measuring differently
// from shot to shot: "registration" is raised; not on consistent shots, nor once the lens is given.
TEST(ImageIntrinsics, AnImageThatDisagreesWithTheCloudRaisesRegistration) {
  EXPECT_FALSE(RaisesRegistration(0.0, 0.0));
  EXPECT_TRUE(RaisesRegistration(0.05, 0.0));
  EXPECT_FALSE(RaisesRegistration(0.05, 0.05));
}

class CameraFile : public testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = dir + "/" + name;
    std::ofstream(path) << text;
    return path;
  }
  void SetUp() override {
    char folder[] = "/tmp/tarn-intrinsics-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    dir = folder;
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
  std::string dir;
};

// The same camera from OpenCV's own writer, a ROS camera_info file and a ROS 2 message dump.
TEST_F(CameraFile, OpenCvAndRosFilesGiveTheSameCamera) {
  const std::string opencv = dir + "/opencv.yaml";
  {
    cv::FileStorage out(opencv, cv::FileStorage::WRITE);
    out << "image_width" << 1920 << "image_height" << 1200;
    out << "camera_matrix" << (cv::Mat_<double>(3, 3) << 1700.5, 0, 959.25, 0, 1701.5, 600.75, 0, 0, 1);
    out << "distortion_coefficients" << (cv::Mat_<double>(1, 5) << 0.05, -0.1, 0.001, -0.002, 0.03);
  }
  const std::string ros = Write("ros.yaml", R"(image_width: 1920
image_height: 1200
camera_name: colour
camera_matrix:
  rows: 3
  cols: 3
  data: [1700.5, 0, 959.25,
         0, 1701.5, 600.75,
         0, 0, 1]
distortion_model: plumb_bob
distortion_coefficients:
  rows: 1
  cols: 5
  data: [0.05, -0.1, 0.001, -0.002, 0.03]   # k1 k2 p1 p2 k3
registration_shift_px: [0.5, -0.25]
)");
  const std::string ros2 = Write("ros2.yaml",
                                 "header:\n  frame_id: colour\nheight: 1200\nwidth: 1920\n"
                                 "distortion_model: rational_polynomial\nd:\n- 0.05\n- -0.1\n- 0.001\n"
                                 "- -0.002\n- 0.03\n- 0.0\n- 0.0\n- 0.0\nk:\n- 1700.5\n- 0.0\n- 959.25\n"
                                 "- 0.0\n- 1701.5\n- 600.75\n- 0.0\n- 0.0\n- 1.0\nroi:\n  height: 0\n"
                                 "  width: 0\n");
  for (const std::string& path : {opencv, ros, ros2}) {
    SCOPED_TRACE(path);
    ImageIntrinsics k;
    std::string error;
    ASSERT_TRUE(ReadImageIntrinsics(path, k, error)) << error;
    EXPECT_EQ(k.fx, 1700.5);
    EXPECT_EQ(k.fy, 1701.5);
    EXPECT_EQ(k.cx, 959.25);
    EXPECT_EQ(k.cy, 600.75);
    EXPECT_EQ(k.k1, 0.05);
    EXPECT_EQ(k.k2, -0.1);
    EXPECT_EQ(k.p1, 0.001);
    EXPECT_EQ(k.p2, -0.002);
    EXPECT_EQ(k.k3, 0.03);
    EXPECT_EQ(k.width, 1920);
    EXPECT_EQ(k.height, 1200);
    EXPECT_EQ(k.shiftUPx, path == ros ? 0.5 : 0.0);
  }
}

TEST_F(CameraFile, WhatCannotBeUsedIsRefusedWithWhy) {
  const std::pair<std::string, std::string> cases[] = {
      {"k: [1000, 0, 500, 0, 1000, 400, 0, 0, 1]\ndistortion_model: equidistant\nd: [0.1, 0, 0, 0]\n", "not supported"},
      {"k: [1000, 0, 500, 0, 1000, 400, 0, 0, 1]\nd: [0.1, 0, 0, 0, 0, 0.2, 0, 0]\n", "coefficient 6 is not 0"},
      {"camera_name: colour\nd: [0.1, 0, 0, 0, 0]\n", "no camera matrix"},
      {": [1, 2]\n\"\": x\n", "no camera matrix"},  // empty keys
      {"k: [0, 0, 500, 0, 1000, 400, 0, 0, 1]\n", "above 0"},
      {"k: [1000, 0, 500, 0, 1000, 400, 0, 0, 1]\nd: [0.1, 0.2]\n", "k1 k2 p1 p2"},
      {"k: [1000, 0, 500, 0, 1000, 400, 0, 0, 1]\nd: [0, 0, 0, 0, 0]\nwidth: 6e71\n", "width is not a whole"},
      {"k: [1000, 0, 500, 0, 1000, 400, 0, 0, 1]\nd: [0, 0, 0, 0, 0]\nheight: 767.5\n", "height is not a whole"},
  };
  int n = 0;
  for (const auto& [text, why] : cases) {
    ImageIntrinsics k;
    std::string error;
    EXPECT_FALSE(ReadImageIntrinsics(Write("bad" + std::to_string(++n) + ".yaml", text), k, error)) << text;
    EXPECT_NE(error.find(why), std::string::npos) << error;
  }
  ImageIntrinsics k;
  std::string error;
  EXPECT_FALSE(ReadImageIntrinsics(dir, k, error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

}  // namespace
