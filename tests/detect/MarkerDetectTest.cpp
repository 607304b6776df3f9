// SPDX-License-Identifier: Apache-2.0
// Marker detection on rendered shots with a known centre, and the input checks.

#include <tarn/MarkerDetect.h>

#include "detect/ConcentricCircleMarker3D.h"
#include "detect/FittedCircleMarker3D.h"

#include "MarkerRenderer.h"

#include <gmock/gmock.h>
#include "ProcessTempFiles.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <unistd.h>
#include <array>
#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <tuple>

namespace {

using namespace TamoHandEye;
using Detect::ConcentricCircleMarker3D;
using TarnSim::RenderShot;
using TarnSim::Shot;
using TarnSim::ShotOptions;
using TarnSim::View;

// Test cases run as parallel processes: each names its files after its process.
std::string TempPath(const std::string& name) { return TarnTest::ProcessTempPath(name); }

// A frontal view centres the marker to within this (pixels): only the rendering's sampling is left.
constexpr double kFrontalPixels = 0.2;
// A tilted view: perspective moves each boundary's centroid away from the projected centre, by a
// different amount per ring, so their mean is off by up to about a pixel at these angles.
constexpr double kTiltedPixels = 1.0;

double PixelError(const Detect::MarkerBoardResult& r, const Shot& shot) {
  return std::hypot(r.u - shot.centres[0].x(), r.v - shot.centres[0].y());
}

double PointError(const Detect::MarkerBoardResult& r, const Shot& shot) {
  return (Eigen::Vector3d(r.x, r.y, r.z) - shot.points[0]).norm();
}

struct Clean {
  std::string name;
  int width, height;
  double focal;
  Eigen::Isometry3d view;
  double pixels;
};

void PrintTo(const Clean& c, std::ostream* os) { *os << c.name; }

class CleanShot : public testing::TestWithParam<Clean> {};

TEST_P(CleanShot, SucceedsOnTheFirstAttemptNearTheTruth) {
  const Clean& c = GetParam();
  ShotOptions options;
  options.width = c.width;
  options.height = c.height;
  options.focal = c.focal;
  options.cameraFromBoard = c.view;
  options.supersample = 3;
  options.blurSigma = 0.7;
  const Shot shot = RenderShot(options);

  ConcentricCircleMarker3D detector(shot.image, shot.cloud);
  Detect::MarkerBoardResult result;
  ASSERT_EQ(detector.Run(result), Detect::Success);
  EXPECT_TRUE(detector.noCircleCodes.empty() && detector.noPointCodes.empty() && detector.multiCircleCodes.empty());
  EXPECT_EQ(detector.lastGoodParams, ConcentricCircleMarker3D::Pair(50, 10));
  EXPECT_LT(PixelError(result, shot), c.pixels) << "found (" << result.u << ", " << result.v << ")";
  // The cloud interpolated at the centre: on the board, within what the centre's pixel error allows.
  EXPECT_LT(PointError(result, shot), 0.002);
}

INSTANTIATE_TEST_SUITE_P(
    Views, CleanShot,
    testing::Values(Clean{"vga_frontal", 640, 480, 700, View(0.5, 0, 0), kFrontalPixels},
                    Clean{"sxga_frontal_offset", 1280, 1024, 1200, View(0.6, 0, 0, 0.03, -0.02), kFrontalPixels},
                    Clean{"wuxga_frontal", 1920, 1200, 1700, View(0.7, 0, 0), kFrontalPixels},
                    Clean{"vga_tilted", 640, 480, 700, View(0.5, 0.35, -0.25), kTiltedPixels},
                    Clean{"sxga_tilted", 1280, 1024, 1200, View(0.55, -0.3, 0.4, 0.02, 0.01), kTiltedPixels}),
    [](const testing::TestParamInfo<Clean>& p) { return p.param.name; });

TEST(MarkerDetect, HarderLightingStillFindsTheMarker) {
  ShotOptions options;
  options.colour = true;  // BGR input goes through the grey conversion
  options.greyNoise = 4.0;
  options.gradient = 0.4;
  options.blurSigma = 1.0;
  options.depthNoise = 0.0005;
  options.cameraFromBoard = View(0.5, 0.2, 0.1);
  const Shot shot = RenderShot(options);
  Detect::MarkerBoardResult result;
  ASSERT_EQ(Detect::SolveMarkerBoardResults(shot.image, shot.cloud, result), Detect::Success);
  EXPECT_LT(PixelError(result, shot), kTiltedPixels);
  EXPECT_LT(PointError(result, shot), 0.003);
}

TEST(MarkerDetect, FailuresAreClassifiedAndLeaveTheResultAlone) {
  const Detect::MarkerBoardResult sentinel{1, 2, 3, 4, 5};
  const auto expectUntouched = [&](const Detect::MarkerBoardResult& r) {
    EXPECT_EQ(r.x, sentinel.x);
    EXPECT_EQ(r.v, sentinel.v);
  };

  // No marker at all.
  ShotOptions none;
  none.markers.clear();
  const Shot blank = RenderShot(none);
  Detect::MarkerBoardResult result = sentinel;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Detect::SolveMarkerBoardResults(blank.image, blank.cloud, result), Detect::Err_Algo_Marker_Fail_NoCircle);
  const std::string log = testing::internal::GetCapturedStdout();
  EXPECT_THAT(log, testing::StartsWith("detect params size:200\n"));
  std::size_t lines = 0;
  for (std::size_t at = log.find("Err_Algo_Marker_Fail_NoCircle\n"); at != std::string::npos;
       at = log.find("Err_Algo_Marker_Fail_NoCircle\n", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 200u);
  expectUntouched(result);

  // The centre falls on missing points: every attempt after the first locks onto the same pair.
  ShotOptions holed;
  const Shot onHole = [&] {
    Shot s = RenderShot(holed);
    const int u = static_cast<int>(s.centres[0].x()), v = static_cast<int>(s.centres[0].y());
    holed.holes = {cv::Rect(u - 3, v - 3, 7, 7)};
    return RenderShot(holed);
  }();
  ConcentricCircleMarker3D detector(onHole.image, onHole.cloud);
  result = sentinel;
  EXPECT_EQ(detector.Run(result), Detect::Err_Algo_Marker_Fail_NoPoint);
  EXPECT_EQ(detector.noPointCodes.size(), 200u);
  expectUntouched(result);

  // Two markers.
  ShotOptions two;
  two.markers = {Eigen::Vector2d(-0.06, 0.0), Eigen::Vector2d(0.07, 0.02)};
  const Shot pair = RenderShot(two);
  TamoHandEye::MarkerBoardResult top{1, 2, 3, 4, 5};
  EXPECT_EQ(TamoHandEye::SolveMarkerBoardResults(pair.image, pair.cloud, top),
            TamoHandEye::Err_Algo_Marker_Fail_ExceedOneCircle);
  EXPECT_EQ(top.x, 1.0);
  EXPECT_EQ(top.v, 5.0);
}

TEST(MarkerDetect, TalliesDecideTheCode) {
  ConcentricCircleMarker3D detector{cv::Mat(), cv::Mat()};
  const auto tally = [&](std::size_t nc, std::size_t np, std::size_t nm) {
    detector.noCircleCodes.assign(nc, 101);
    detector.noPointCodes.assign(np, 102);
    detector.multiCircleCodes.assign(nm, 104);
    return detector.SummarizeFailures();
  };
  EXPECT_EQ(tally(150, 50, 0), Detect::Err_Algo_Marker_Fail_NoCircle);
  EXPECT_EQ(tally(100, 95, 5), Detect::Err_Algo_Marker_Fail_NoCircleNoPoint);
  EXPECT_EQ(tally(60, 60, 80), Detect::Err_Algo_Marker_Fail_ExceedOneCircle);
  EXPECT_EQ(tally(80, 40, 80), Detect::Err_Algo_Marker_Fail_NoCircle);
  EXPECT_EQ(tally(10, 180, 10), Detect::Err_Algo_Marker_Fail_NoPoint);
  EXPECT_EQ(tally(0, 0, 200), Detect::Err_Algo_Marker_Fail_ExceedOneCircle);
  EXPECT_EQ(tally(95, 105, 0), Detect::Err_Algo_Marker_Fail_NoCircleNoPoint);
}

TEST(MarkerDetect, ParameterGridOrder) {
  ConcentricCircleMarker3D detector{cv::Mat(), cv::Mat()};
  ASSERT_EQ(detector.paramCount, 200);
  ASSERT_EQ(detector.paramQueue.size(), 200u);
  EXPECT_EQ(detector.paramQueue[0], ConcentricCircleMarker3D::Pair(50, 10));
  EXPECT_EQ(detector.paramQueue[3], ConcentricCircleMarker3D::Pair(50, 10));
  EXPECT_EQ(detector.paramQueue[4], ConcentricCircleMarker3D::Pair(60, 10));
  EXPECT_EQ(detector.paramQueue[6], ConcentricCircleMarker3D::Pair(40, 10));
  EXPECT_EQ(detector.paramQueue[41], ConcentricCircleMarker3D::Pair(50, 9));
  EXPECT_EQ(detector.paramQueue.back(), ConcentricCircleMarker3D::Pair(1, 6));
}

// The threshold made from a cached block mean equals OpenCV's adaptive threshold, the first time for its
// block size (every pixel) and the second (tiles white throughout written without their pixels).
TEST(MarkerDetect, BinarisationMatchesAdaptiveThreshold) {
  ShotOptions options;
  options.greyNoise = 6.0;
  options.gradient = 0.3;
  options.width = 647;  // rows that do not end on a whole vector
  const Shot shot = RenderShot(options);
  ConcentricCircleMarker3D detector(shot.image, shot.cloud);
  cv::Mat filtered;
  cv::medianBlur(shot.image, filtered, 5);
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& [h, c] : {std::pair{50, 10}, std::pair{1, 6}, std::pair{140, 14}, std::pair{20, 0},
                               std::pair{10, 12}, std::pair{5, -3}, std::pair{3, 300}, std::pair{3, -300}}) {
      cv::Mat expected;
      cv::adaptiveThreshold(filtered, expected, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 2 * h + 1, c);
      EXPECT_EQ(cv::countNonZero(detector.Binarise(h, c) != expected), 0) << h << ", " << c << ", pass " << pass;
    }
  }
}

// Contour trees drawn by hand: four nested circles make one group; five do not (the chain of circular
// contours is longer than three); two separate markers make two.
TEST(MarkerDetect, ChainsOfNestedCircles) {
  const auto groups = [](const std::vector<std::pair<cv::Point, std::vector<int>>>& markers) {
    cv::Mat image(400, 600, CV_8UC1, cv::Scalar(255));
    for (const auto& [centre, radii] : markers) {
      int colour = 0;
      for (const int r : radii) {
        cv::circle(image, centre, r, cv::Scalar(colour), cv::FILLED, cv::LINE_8);
        colour = 255 - colour;
      }
    }
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(image, contours, hierarchy, cv::RETR_TREE, cv::CHAIN_APPROX_NONE);
    return ConcentricCircleMarker3D::FindChains(contours, hierarchy, 0.8).size();
  };
  EXPECT_EQ(groups({{cv::Point(300, 200), {100, 70, 45, 20}}}), 1u);
  EXPECT_EQ(groups({{cv::Point(300, 200), {120, 100, 70, 45, 20}}}), 0u);
  EXPECT_EQ(groups({{cv::Point(150, 200), {90, 63, 40, 18}}, {cv::Point(450, 200), {90, 63, 40, 18}}}), 2u);
  EXPECT_EQ(groups({}), 0u);
}

// The chains found without measuring every contour are those found measuring each one, on random scenes of
// nested discs, ellipses and specks (circular contours with and without children, broken chains).
TEST(MarkerDetect, ChainsAsWhenEveryContourIsMeasured) {
  const auto everyContour = [](const std::vector<std::vector<cv::Point>>& contours,
                               const std::vector<cv::Vec4i>& hierarchy) {
    std::vector<std::array<int, 4>> groups;
    const int n = static_cast<int>(contours.size());
    if (n == 0) return groups;
    std::vector<char> circular(contours.size());
    for (std::size_t k = 0; k < contours.size(); ++k) {
      circular[k] = ConcentricCircleMarker3D::IsCircular(contours[k], 0.8, 1.0) ? 1 : 0;
    }
    const auto child = [&](int i) { return hierarchy[static_cast<std::size_t>(i)][2]; };
    int expected = circular[0] ? child(0) + 1 : INT_MIN, start = 0, length = 1, i = 1;
    while (i < n) {
      if (child(i) == expected && circular[static_cast<std::size_t>(i)]) {
        ++length, ++expected, ++i;
        continue;
      }
      if (length == 3 && i - start == 3 && hierarchy[static_cast<std::size_t>(i)][3] == i - 1) {
        groups.push_back({start, start + 1, start + 2, i});
        if (++i == n) break;
      }
      if (circular[static_cast<std::size_t>(i)]) expected = child(i) + 1, start = i;
      length = 1, ++i;
    }
    return groups;
  };
  cv::RNG rng(7);
  std::size_t found = 0;
  for (int scene = 0; scene < 300; ++scene) {
    cv::Mat image(120, 160, CV_8UC1, cv::Scalar(rng.uniform(0, 2) * 255));
    for (int shape = rng.uniform(1, 8); shape > 0; --shape) {
      const cv::Point centre(rng.uniform(0, 160), rng.uniform(0, 120));
      int colour = rng.uniform(0, 2) * 255;
      for (int r = rng.uniform(4, 50); r > 1; r -= rng.uniform(3, 12)) {
        const cv::Size axes(r, rng.uniform(0, 4) == 0 ? std::max(1, r / 2) : r);
        cv::ellipse(image, centre, axes, 0.0, 0.0, 360.0, cv::Scalar(colour), cv::FILLED, cv::LINE_8);
        colour = 255 - colour;
      }
    }
    for (int speck = rng.uniform(0, 40); speck > 0; --speck) {
      image.at<unsigned char>(rng.uniform(0, 120), rng.uniform(0, 160)) =
          static_cast<unsigned char>(rng.uniform(0, 2) * 255);
    }
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(image, contours, hierarchy, cv::RETR_TREE, cv::CHAIN_APPROX_NONE);
    const auto groups = ConcentricCircleMarker3D::FindChains(contours, hierarchy, 0.8);
    EXPECT_EQ(groups, everyContour(contours, hierarchy)) << "scene " << scene;
    found += groups.size();
  }
  EXPECT_GT(found, 10u);  // the scenes hold chains to find
}

// Attempts that first look in the cut-out around their dark tiles end as those searching the whole image:
// the same code and centre on shots with the marker whole, cut by each edge of the image or out of view,
// on a board smaller than the image or filling it, two markers, noise and uneven light.
TEST(MarkerDetect, CutOutAttemptsEndAsWholeImageOnes) {
  for (const double half : {0.12, 0.4}) {
    for (const Eigen::Vector2d& at :
         {Eigen::Vector2d(0.0, 0.0), Eigen::Vector2d(0.215, 0.0), Eigen::Vector2d(-0.22, 0.05),
          Eigen::Vector2d(0.05, 0.165), Eigen::Vector2d(0.1, -0.17), Eigen::Vector2d(0.3, 0.3)}) {
      for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{2}}) {
        ShotOptions options;
        options.boardHalfWidth = options.boardHalfHeight = half;
        options.markers = {at, Eigen::Vector2d(-0.08, -0.06)};
        options.markers.resize(count);
        options.greyNoise = 3.0;
        options.gradient = 0.2 * static_cast<double>(count);
        options.supersample = 2;
        const Shot shot = RenderShot(options);
        Detect::MarkerBoardResult whole{}, cut{};
        ConcentricCircleMarker3D wholeImage(shot.image, shot.cloud), cutOut(shot.image, shot.cloud);
        wholeImage.cutOutAttempts = false;
        const auto expected = wholeImage.Run(whole);
        ASSERT_EQ(cutOut.Run(cut), expected) << half << " " << at.transpose() << " " << count;
        EXPECT_EQ(std::tie(cut.u, cut.v, cut.z), std::tie(whole.u, whole.v, whole.z));
      }
    }
  }
}

TEST(MarkerDetect, SamplingInterpolatesAndStaysInsideTheCloud) {
  cv::Mat cloud(3, 4, CV_64FC3);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) cloud.at<cv::Vec3d>(r, c) = cv::Vec3d(c, r, 10.0 * r + c);
  }
  EXPECT_EQ(Detect::SampleCloud(cloud, 0.5, 1.25), cv::Vec3d(1.25, 0.5, 6.25));
  // The last row and column: neighbours clamped to the border.
  EXPECT_EQ(Detect::SampleCloud(cloud, 2.0, 3.0), cv::Vec3d(3, 2, 23));
  EXPECT_EQ(Detect::SampleCloud(cloud, 2.5, 3.5), cv::Vec3d(3, 2, 23));
  cloud.at<cv::Vec3d>(1, 2)[2] = std::numeric_limits<double>::quiet_NaN();
  const cv::Vec3d p = Detect::SampleCloud(cloud, 0.5, 1.5);
  EXPECT_TRUE(std::isnan(p[2]));
  EXPECT_FALSE(std::isnan(p[0]));
}

// ---------------------------------------------------------------------------------------------------
// Input checks
// ---------------------------------------------------------------------------------------------------

TEST(MarkerDetect, MatrixInputChecks) {
  const Shot shot = RenderShot({});
  Detect::MarkerBoardResult r;
  cv::Mat floatCloud;
  shot.cloud.convertTo(floatCloud, CV_32FC3);
  EXPECT_EQ(Detect::SolveMarkerBoardResults(cv::Mat(), floatCloud, r), Detect::Err_Data_Empty);
  EXPECT_EQ(Detect::SolveMarkerBoardResults(shot.image, cv::Mat(), r), Detect::Err_Data_Empty);
  cv::Mat wide;
  shot.image.convertTo(wide, CV_16UC1);
  EXPECT_EQ(Detect::SolveMarkerBoardResults(wide, shot.cloud, r), Detect::Err_Data_Invalid_Image);
  cv::Mat four;
  cv::cvtColor(shot.image, four, cv::COLOR_GRAY2BGRA);
  EXPECT_EQ(Detect::SolveMarkerBoardResults(four, shot.cloud, r), Detect::Err_Data_Invalid_Image);
  EXPECT_EQ(Detect::SolveMarkerBoardResults(shot.image, floatCloud, r), Detect::Err_Data_Invalid_PointCloud);
  EXPECT_EQ(Detect::SolveMarkerBoardResults(shot.image, shot.cloud.rowRange(0, 479), r),
            Detect::Err_Data_Size_Mismatch);
  // Same number of points in another shape: the points would belong to other pixels.
  const cv::Mat transposed = shot.cloud.reshape(3, 640).clone();
  ASSERT_EQ(transposed.rows, 640);
  EXPECT_EQ(Detect::SolveMarkerBoardResults(shot.image, transposed, r), Detect::Err_Data_Size_Mismatch);
  EXPECT_EQ(Detect::SolveMarkerBoardResults(shot.image, shot.cloud.reshape(3, 1), r), Detect::Err_Data_Size_Mismatch);
  EXPECT_EQ(Detect::SolveMarkerBoardResults(shot.image, shot.cloud.reshape(3, 640 * 480), r),
            Detect::Err_Data_Size_Mismatch);
}

// A centre whose 3D point is not a finite point (infinite, or beyond what the result's precision holds)
// has no valid point, exactly like a missing one.
TEST(MarkerDetect, NonFinitePointsAreNoPoint) {
  const Shot shot = RenderShot({});
  const int u = static_cast<int>(shot.centres[0].x()), v = static_cast<int>(shot.centres[0].y());
  const double inf = std::numeric_limits<double>::infinity();
  for (const cv::Vec3d& bad : {cv::Vec3d(inf, inf, inf), cv::Vec3d(0.0, 0.0, -inf), cv::Vec3d(1e300, 1e300, 1e300)}) {
    cv::Mat cloud = shot.cloud.clone();
    cloud(cv::Rect(u - 3, v - 3, 7, 7)).setTo(cv::Scalar(bad[0], bad[1], bad[2]));
    Detect::MarkerBoardResult r{1, 2, 3, 4, 5};
    EXPECT_EQ(Detect::SolveMarkerBoardResults(shot.image, cloud, r), Detect::Err_Algo_Marker_Fail_NoPoint) << bad;
    EXPECT_EQ(r.x, 1.0);
  }
}

// A shot read from files reads only the cloud rows detection uses, when it uses them: a cloud cut short
// after the shot was opened is still no cloud (107), for both centres, never points read past its end.
TEST(MarkerDetect, CloudCutShortWhileDetectingIsNoCloud) {
  const Shot shot = RenderShot({});
  const std::string png = TempPath("cut_1.png");
  const std::string ply = TempPath("cut_1.ply");
  ASSERT_TRUE(cv::imwrite(png, shot.image));
  for (const bool fitted : {false, true}) {
    TarnSim::WritePly(ply, shot.cloud);
    std::unique_ptr<ConcentricCircleMarker3D> detector = fitted
                                                             ? std::make_unique<Detect::FittedCircleMarker3D>(png, ply)
                                                             : std::make_unique<ConcentricCircleMarker3D>(png, ply);
    ASSERT_EQ(detector->status, 0);
    ASSERT_EQ(::truncate(ply.c_str(), 1000), 0);
    Detect::MarkerBoardResult result{9, 9, 9, 9, 9};
    testing::internal::CaptureStderr();
    EXPECT_EQ(detector->Run(result), Detect::Err_Data_Invalid_PointCloud) << fitted;
    EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::HasSubstr("truncated"));
    EXPECT_EQ(result.x, 9.0);
  }
}

TEST(MarkerDetect, FileInputs) {
  const Shot shot = RenderShot({});
  const std::string png = TempPath("shot_1.png");
  const std::string ply = TempPath("shot_1.ply");
  ASSERT_TRUE(cv::imwrite(png, shot.image));
  TarnSim::WritePly(ply, shot.cloud);

  Detect::MarkerBoardResult r{};
  ASSERT_EQ(Detect::SolveMarkerBoardResults(png, ply, r), Detect::Success);
  EXPECT_LT(PixelError(r, shot), kFrontalPixels);
  for (const std::string ext : {".jpg", ".bmp"}) {
    ASSERT_TRUE(cv::imwrite(TempPath("shot_1" + ext), shot.image));
    Detect::MarkerBoardResult other{};
    EXPECT_EQ(Detect::SolveMarkerBoardResults(TempPath("shot_1" + ext), ply, other), Detect::Success) << ext;
  }

  const Detect::MarkerBoardResult sentinel{9, 9, 9, 9, 9};
  const auto code = [&](const std::string& image, const std::string& cloud) {
    Detect::MarkerBoardResult result = sentinel;
    Detect::ErrorCode c = Detect::Success;
    EXPECT_NO_THROW(c = Detect::SolveMarkerBoardResults(image, cloud, result));
    if (c != Detect::Success) {
      EXPECT_EQ(result.x, 9.0);
    }
    return c;
  };
  EXPECT_EQ(code("", ply), Detect::Err_Data_Empty);
  EXPECT_EQ(code(png, ""), Detect::Err_Data_Empty);
  EXPECT_EQ(code(png, TempPath("missing.ply")), Detect::Err_Data_Invalid_PointCloud);  // no exception
  EXPECT_EQ(code(TempPath("missing.png"), ply), Detect::Err_Data_Invalid_PointCloud);

  cv::Mat wide;
  shot.image.convertTo(wide, CV_16UC1, 256.0);
  ASSERT_TRUE(cv::imwrite(TempPath("wide.png"), wide));
  EXPECT_EQ(code(TempPath("wide.png"), ply), Detect::Err_Data_Invalid_Image);
  cv::Mat four;
  cv::cvtColor(shot.image, four, cv::COLOR_GRAY2BGRA);
  ASSERT_TRUE(cv::imwrite(TempPath("four.png"), four));
  EXPECT_EQ(code(TempPath("four.png"), ply), Detect::Err_Data_Invalid_Image);

  TarnSim::PlyOptions fewer;
  fewer.dropVertices = 1;
  TarnSim::WritePly(TempPath("fewer.ply"), shot.cloud, fewer);
  EXPECT_EQ(code(png, TempPath("fewer.ply")), Detect::Err_Data_Invalid_PointCloud);
  TarnSim::PlyOptions noZ;
  noZ.omitZ = true;
  TarnSim::WritePly(TempPath("noz.ply"), shot.cloud, noZ);
  EXPECT_EQ(code(png, TempPath("noz.ply")), Detect::Err_Data_Invalid_PointCloud);

  // Through the top level: same codes, the caller's record kept on failure.
  TamoHandEye::MarkerBoardResult top{7, 7, 7, 7, 7};
  EXPECT_EQ(TamoHandEye::SolveMarkerBoardResults(png, TempPath("missing.ply"), top),
            TamoHandEye::Err_Data_Invalid_PointCloud);
  EXPECT_EQ(top.u, 7.0);
  ASSERT_EQ(TamoHandEye::SolveMarkerBoardResults(png, ply, top), TamoHandEye::Success);
  EXPECT_EQ(top.u, r.u);
  EXPECT_EQ(top.z, r.z);
}

}  // namespace
