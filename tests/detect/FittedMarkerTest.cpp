// SPDX-License-Identifier: Apache-2.0
// The fitted marker centre against independent truths: rendered shots whose centre and plane are known,
// and noise-free points on a known plane and known circles.

#include <tarn/FittedMarkerDetect.h>
#include <tarn/MarkerDetect.h>

#include "detect/FittedCircleMarker3D.h"
#include "detect/PlaneCircleFit.h"

#include "MarkerRenderer.h"

#include "ProcessTempFiles.h"

#include <gtest/gtest.h>
#include <Eigen/QR>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <unistd.h>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <tuple>

namespace {

using namespace TamoHandEye;
using TarnSim::RenderShot;
using TarnSim::Shot;
using TarnSim::ShotOptions;
using TarnSim::View;

constexpr double kPixels = 0.05;  // image centre against the rendered one
constexpr double kMetres = 5e-5;  // 3D centre against the rendered one (0.05 mm)
constexpr double kPi = 3.14159265358979323846;

struct Case {
  std::string name;
  int width, height;
  double focal;
  Eigen::Isometry3d view;
  double depthNoise;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

ShotOptions Options(const Case& c) {
  ShotOptions options;
  options.width = c.width;
  options.height = c.height;
  options.focal = c.focal;
  options.cameraFromBoard = c.view;
  options.supersample = 4;
  options.blurSigma = 0.8;
  options.greyNoise = 2.0;
  options.depthNoise = c.depthNoise;
  options.boardHalfWidth = options.boardHalfHeight = 1.0;
  return options;
}

class RenderedShot : public testing::TestWithParam<Case> {};

TEST_P(RenderedShot, CentreWithinHundredthsOfAPixelAndOfAMillimetre) {
  const Shot shot = RenderShot(Options(GetParam()));
  MarkerBoardResult result;
  MarkerFitQuality quality;
  ASSERT_EQ(SolveFittedMarkerResults(shot.image, shot.cloud, result, quality), Success);
  const double pixel = std::hypot(result.u - shot.centres[0].x(), result.v - shot.centres[0].y());
  const double metres = (Eigen::Vector3d(result.x, result.y, result.z) - shot.points[0]).norm();
  EXPECT_LT(pixel, kPixels);
  EXPECT_LT(metres, kMetres);
  EXPECT_LT(quality.ratioDeviation, 0.003);
  EXPECT_NEAR(quality.radiiMm[0], 30.0, 0.1);
  EXPECT_NEAR(quality.radiiMm[3], 6.0, 0.1);
  EXPECT_NEAR(quality.planeRmsMm, GetParam().depthNoise * 1000.0, 0.2 * GetParam().depthNoise * 1000.0);
}

INSTANTIATE_TEST_SUITE_P(
    Views, RenderedShot,
    testing::Values(Case{"vga_frontal", 640, 480, 600, View(0.45, 0, 0), 0.0002},
                    Case{"vga_tilt_30", 640, 480, 600, View(0.45, 0.5236, 0.0, 0.02, 0.01), 0.0005},
                    Case{"sxga_tilt_40", 1280, 1024, 1150, View(0.55, -0.45, 0.5), 0.0003},
                    Case{"wuxga_tilt_50", 1920, 1200, 1700, View(0.6, 0.8727, 0.0, -0.03, 0.02), 0.0005},
                    Case{"wuxga_tilt_50_diagonal", 1920, 1200, 1700, View(0.6, 0.62, 0.62), 0.0002}),
    [](const testing::TestParamInfo<Case>& p) { return p.param.name; });

// Dark surfaces read farther on many 3D cameras: with the black rings 0.5 mm behind the board, the plane is
// taken from the white surfaces and the centre stays where it is, at a low tilt and a steep one, and never
// further off than the ring centroids' point.
TEST(FittedMarker, BlackRingsReadFartherLeaveTheCentreWhereItIs) {
  for (const double tilt : {0.09, 0.52}) {
    SCOPED_TRACE(tilt);
    ShotOptions options = Options(Case{"dark", 1280, 1024, 1150, View(0.6, tilt, 0.2, 0.01, -0.02), 0.0002});
    options.darkDepthBias = 0.0005;
    const Shot shot = RenderShot(options);
    MarkerBoardResult fitted, centroid;
    ASSERT_EQ(SolveFittedMarkerResults(shot.image, shot.cloud, fitted), Success);
    ASSERT_EQ(SolveMarkerBoardResults(shot.image, shot.cloud, centroid), Success);
    const double error = (Eigen::Vector3d(fitted.x, fitted.y, fitted.z) - shot.points[0]).norm();
    EXPECT_LT(error, 2e-5);
    EXPECT_LE(error, (Eigen::Vector3d(centroid.x, centroid.y, centroid.z) - shot.points[0]).norm() + 1e-5);
  }
}

// Over-exposed shots: whites clipped at gain 2 and 3 on a 2 px blur move every boundary into the black by one
// offset. The radii are checked once it is taken out: the shot is kept, the offset reported, the centre right.
TEST(FittedMarker, ClippedWhitesAreKeptWithTheirEdgeOffset) {
  for (const double gain : {2.0, 3.0}) {
    SCOPED_TRACE(gain);
    ShotOptions options = Options(Case{"bloom", 1280, 1024, 1150, View(0.6, 0.35, -0.2, 0.02, 0.01), 0.0002});
    options.blurSigma = 2.0;
    options.gain = gain;
    const Shot shot = RenderShot(options);
    MarkerBoardResult fitted;
    MarkerFitQuality quality;
    ASSERT_EQ(SolveFittedMarkerResults(shot.image, shot.cloud, fitted, quality), Success);
    EXPECT_LT((Eigen::Vector3d(fitted.x, fitted.y, fitted.z) - shot.points[0]).norm(), kMetres);
    EXPECT_LT(quality.ratioDeviation, 0.003);
    EXPECT_GT(quality.edgeOffsetPx, 0.5);
    // R with the bloom taken out: far nearer the truth than the outer edge's radius.
    EXPECT_LT(std::abs(quality.markerRadiusMm - 30.0), 0.3 * std::abs(quality.radiiMm[0] - 30.0)) << quality.radiiMm[0];
  }
}

// A marker of 15 px outer radius: its 3 px centre dot has too few sharp edge points to fit, so the fit
// uses the other boundaries, says so, and stays within 0.05 mm.
TEST(FittedMarker, ASmallMarkerIsFittedWithTheBoundariesThatHaveTheirEdges) {
  int withoutTheDot = 0;
  for (unsigned seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    ShotOptions options =
        Options(Case{"small", 640, 480, 600, View(1.2, 0.1 * seed, -0.05 * seed, 0.01 * seed, 0.0), 0.0003});
    options.seed = seed;
    const Shot shot = RenderShot(options);
    MarkerBoardResult fitted;
    MarkerFitQuality quality;
    ASSERT_EQ(SolveFittedMarkerResults(shot.image, shot.cloud, fitted, quality), Success);
    EXPECT_LT((Eigen::Vector3d(fitted.x, fitted.y, fitted.z) - shot.points[0]).norm(), kMetres);
    EXPECT_TRUE(quality.boundaryUsed[0]);
    withoutTheDot += quality.boundaryUsed[3] ? 0 : 1;
    EXPECT_EQ(quality.radiiMm[3] == 0.0, !quality.boundaryUsed[3]);
  }
  EXPECT_GT(withoutTheDot, 0);
}

// A marker cut by the image border (its centre 0.9 R inside) or crossed by a cable (dark in the image, nearer
// in the cloud): found within 0.1 mm or refused with a code, never silently further off.
TEST(FittedMarker, ACutOrCoveredOuterRingIsFoundOrRefusedNeverSilentlyOff) {
  for (const bool cable : {false, true}) {
    SCOPED_TRACE(cable ? "cable" : "border");
    ShotOptions options = Options(Case{"cut", 1024, 768, 900, View(0.55, 0.2, -0.1), 0.0003});
    const double radiusPx = 0.03 * 900 / 0.55;
    if (!cable) {
      const double u = RenderShot(options).centres[0].x();
      options.cameraFromBoard = View(0.55, 0.2, -0.1, (0.9 * radiusPx - u) * 0.55 / 900, 0.0);
    }
    Shot shot = RenderShot(options);
    if (cable) {
      const Eigen::Vector2d c = shot.centres[0];
      cv::Mat covered = cv::Mat::zeros(shot.image.size(), CV_8U);
      cv::line(covered, cv::Point(int(c.x() - 2 * radiusPx), int(c.y() - 0.9 * radiusPx)),
               cv::Point(int(c.x() + 2 * radiusPx), int(c.y() - 0.7 * radiusPx)), 255, 5);
      shot.image.setTo(40, covered);
      for (int r = 0; r < covered.rows; ++r) {
        for (int col = 0; col < covered.cols; ++col) {
          if (covered.at<unsigned char>(r, col) != 0) shot.cloud.at<cv::Vec3d>(r, col) *= 0.95;
        }
      }
    }
    MarkerBoardResult fitted{};
    const ErrorCode code = SolveFittedMarkerResults(shot.image, shot.cloud, fitted);
    if (code == Success) {
      EXPECT_LT((Eigen::Vector3d(fitted.x, fitted.y, fitted.z) - shot.points[0]).norm(), 1e-4);
    } else {
      EXPECT_TRUE(code == Err_Algo_Marker_Fail_NoCircle || code == Err_Algo_Marker_Fit_NotMarker ||
                  code == Err_Algo_Marker_Fit_TooFewPoints)
          << code;
    }
  }
}

// The board's normal and the centre against the rendered plane, over seeds: the errors are of the size their
// covariances say (mean χ² per degree of freedom near 1; a σ wrong by a factor of two fails).
TEST(FittedMarker, TheNormalAndTheCentreComeWithTheirCovariance) {
  double normalChi2 = 0.0, centreChi2 = 0.0;
  constexpr int kSeeds = 12;
  for (unsigned seed = 1; seed <= kSeeds; ++seed) {
    ShotOptions options = Options(Case{"normal", 640, 480, 600, View(0.5, 0.05 * seed, -0.3 + 0.05 * seed), 0.0008});
    options.seed = seed;
    const Shot shot = RenderShot(options);
    Detect::FittedCircleMarker3D detector(shot.image, shot.cloud);
    Detect::MarkerBoardResult result;
    ASSERT_EQ(detector.Run(result), Detect::Success);
    const Detect::MarkerFit& fit = detector.fit;
    const Eigen::Vector3d truth = -options.cameraFromBoard.linear().col(2);  // the board faces the camera
    ASSERT_GT(fit.normal.dot(truth), 0.999);
    const Eigen::Vector3d turn = fit.normal - truth;
    normalChi2 += turn.dot(fit.normalCovariance.completeOrthogonalDecomposition().pseudoInverse() * turn) / 2.0;
    const Eigen::Vector3d off = fit.centre - shot.points[0];
    centreChi2 += off.dot(fit.centreCovariance.inverse() * off) / 3.0;
  }
  EXPECT_GT(normalChi2 / kSeeds, 0.4);
  EXPECT_LT(normalChi2 / kSeeds, 2.5);
  EXPECT_GT(centreChi2 / kSeeds, 0.4);
  EXPECT_LT(centreChi2 / kSeeds, 2.5);
}

// The entry point with the normal: the same centre as the fitted one, bit for bit; the normal the rendered
// board's; its two axes perpendicular to it and to each other; the covariances symmetric and positive.
TEST(FittedMarker, ThePlaneEntryPointAddsTheNormalToTheSameCentre) {
  const ShotOptions options = Options(Case{"plane", 1280, 1024, 1150, View(0.6, 0.4, -0.3, 0.02, -0.01), 0.0005});
  const Shot shot = RenderShot(options);
  MarkerBoardResult point{};
  MarkerPlaneResult plane;
  MarkerFitQuality quality;
  ASSERT_EQ(SolveFittedMarkerResults(shot.image, shot.cloud, point), Success);
  ASSERT_EQ(SolveFittedMarkerPlane(shot.image, shot.cloud, plane, quality), Success);
  EXPECT_EQ(std::make_tuple(plane.x, plane.y, plane.z, plane.u, plane.v),
            std::make_tuple(point.x, point.y, point.z, point.u, point.v));
  const Eigen::Vector3d n(plane.nx, plane.ny, plane.nz);
  const Eigen::Vector3d a1(plane.normalAxes), a2(plane.normalAxes + 3);
  EXPECT_GT(n.dot(-options.cameraFromBoard.linear().col(2)), std::cos(0.05 * kPi / 180.0));
  EXPECT_NEAR(a1.dot(n), 0.0, 1e-12);
  EXPECT_NEAR(a2.dot(n), 0.0, 1e-12);
  EXPECT_NEAR(a1.dot(a2), 0.0, 1e-12);
  const Eigen::Map<const Eigen::Matrix<double, 2, 2, Eigen::RowMajor>> turns(plane.normalCovariance);
  const Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>> centre(plane.centreCovariance);
  EXPECT_LT((turns - turns.transpose()).norm(), 1e-15);
  EXPECT_GT(turns.determinant(), 0.0);
  EXPECT_GT(centre.determinant(), 0.0);
  EXPECT_LT(std::sqrt(centre.trace()), 5e-5);  // metres: within 0.05 mm
}

// Noise-free points on a known tilted plane seen by a pinhole camera, and on known circles in it: the
// plane map and the circle fit recover them to rounding.
TEST(PlaneCircleFit, ExactPlaneAndCirclesAreRecoveredExactly) {
  const Eigen::Isometry3d board = View(0.5, 0.6, -0.3, 0.01, -0.02);
  const Eigen::Vector3d normal = board.linear().col(2), origin = board.translation();
  const double focal = 500.0, cx = 159.5, cy = 119.5;
  const auto ray = [&](double u, double v) {
    const Eigen::Vector3d d((u - cx) / focal, (v - cy) / focal, 1.0);
    return Eigen::Vector3d(d * normal.dot(origin) / normal.dot(d));
  };
  cv::Mat cloud(240, 320, CV_64FC3);
  for (int r = 0; r < cloud.rows; ++r) {
    for (int c = 0; c < cloud.cols; ++c) {
      const Eigen::Vector3d p = ray(c, r);
      cloud.at<cv::Vec3d>(r, c) = cv::Vec3d(p.x(), p.y(), p.z());
    }
  }
  Detect::Conic region = Detect::Conic::Zero();  // a circle of 60 px around (160, 120)
  region << 1.0, 0.0, -160.0, 0.0, 1.0, -120.0, -160.0, -120.0, 160.0 * 160.0 + 120.0 * 120.0 - 3600.0;
  Detect::PlaneMap plane;
  ASSERT_TRUE(Detect::FitPlaneMap(cloud, region, 1.0, 50, plane));
  EXPECT_NEAR(plane.points, kPi * 3600.0, 200.0);
  for (const auto& [u, v] : {std::pair{160.3, 120.7}, std::pair{101.25, 80.5}, std::pair{300.0, 10.0}}) {
    EXPECT_LT((plane.At(u, v) - ray(u, v)).norm(), 1e-12) << u << ", " << v;
    EXPECT_LT((plane.PixelOf(ray(u, v)) - Eigen::Vector2d(u, v)).norm(), 1e-8);
  }

  std::mt19937 rng(3);
  std::uniform_real_distribution<double> angle(0.0, 2.0 * kPi);
  const Eigen::Vector3d centre = board * Eigen::Vector3d(0.004, -0.002, 0.0);
  std::vector<std::vector<Eigen::Vector3d>> rings(4);
  for (std::size_t i = 0; i < 4; ++i) {
    for (int k = 0; k < 40; ++k) {
      const double a = angle(rng), r = 0.03 * Detect::kRingRatios[i];
      rings[i].push_back(centre + board.linear() * Eigen::Vector3d(r * std::cos(a), r * std::sin(a), 0.0));
    }
  }
  Detect::ConcentricCircles circles;
  ASSERT_TRUE(Detect::FitConcentricCircles(rings, circles));
  EXPECT_LT((circles.centre - centre).norm(), 1e-12);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(circles.radii[i], 0.03 * Detect::kRingRatios[i], 1e-12);
}

// The plane's spread from its definition: with every 97th point 5 % farther (dropped) and bounded noise
// on the rest (all kept), the depth RMS and the covariance of 1/Z's map over the points kept, recomputed
// here by a least-squares solve of their own.
TEST(PlaneCircleFit, TheSpreadIsThatOfThePointsKept) {
  const Eigen::Isometry3d board = View(0.7, 0.4, 0.2, 0.02, 0.01);
  const Eigen::Vector3d normal = board.linear().col(2), origin = board.translation();
  const double focal = 600.0, cx = 159.5, cy = 119.5;
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> noise(-2e-4, 2e-4);
  cv::Mat cloud(240, 320, CV_64FC3);
  for (int r = 0; r < cloud.rows; ++r) {
    for (int c = 0; c < cloud.cols; ++c) {
      const Eigen::Vector3d d((c - cx) / focal, (r - cy) / focal, 1.0);
      const Eigen::Vector3d p = d * normal.dot(origin) / normal.dot(d);
      const double z = (r * cloud.cols + c) % 97 == 0 ? p.z() * 1.05 : p.z() + noise(rng);
      cloud.at<cv::Vec3d>(r, c) = cv::Vec3d(p.x() * z / p.z(), p.y() * z / p.z(), z);
    }
  }
  Detect::Conic region = Detect::Conic::Zero();  // a circle of 61 px around (160, 120)
  region << 1.0, 0.0, -160.0, 0.0, 1.0, -120.0, -160.0, -120.0, 160.0 * 160.0 + 120.0 * 120.0 - 61.0 * 61.0;
  Detect::PlaneMap plane;
  ASSERT_TRUE(Detect::FitPlaneMap(cloud, region, 1.0, 50, plane));

  std::vector<Eigen::RowVector3d> rows;
  std::vector<double> targets, depths;
  for (int r = 0; r < cloud.rows; ++r) {
    for (int c = 0; c < cloud.cols; ++c) {
      if ((c - 160) * (c - 160) + (r - 120) * (r - 120) > 61 * 61 || (r * cloud.cols + c) % 97 == 0) continue;
      rows.emplace_back(1.0, c - plane.u0, r - plane.v0);
      targets.push_back(1.0 / cloud.at<cv::Vec3d>(r, c)[2]);
      depths.push_back(cloud.at<cv::Vec3d>(r, c)[2] - plane.At(c, r).z());
    }
  }
  ASSERT_EQ(plane.points, static_cast<int>(rows.size()));
  Eigen::MatrixXd a(rows.size(), 3);
  Eigen::VectorXd b(rows.size()), depth(rows.size());
  for (std::size_t k = 0; k < rows.size(); ++k) {
    a.row(static_cast<Eigen::Index>(k)) = rows[k];
    b(static_cast<Eigen::Index>(k)) = targets[k];
    depth(static_cast<Eigen::Index>(k)) = depths[k];
  }
  const Eigen::Vector3d cz = a.colPivHouseholderQr().solve(b);
  EXPECT_LT((cz - plane.cz).norm(), 1e-9 * cz.norm());
  const double variance = (b - a * cz).squaredNorm() / static_cast<double>(rows.size() - 3);
  const Eigen::Matrix3d covariance = (a.transpose() * a).inverse() * variance;
  EXPECT_LT((plane.czCovariance - covariance).norm(), 1e-6 * covariance.norm());
  EXPECT_NEAR(plane.rms, std::sqrt(depth.squaredNorm() / static_cast<double>(rows.size())), 1e-6 * plane.rms);
  EXPECT_NEAR(plane.rms, 2e-4 / std::sqrt(3.0), 2e-5);  // the noise's own RMS
}

// Sub-pixel edges of blurred disks, drawn by supersampling, for blur and radii like those of the marker's
// inner dot: the 50 % level of a blurred curve lies inside it by κσ²/2 (half a pixel's tenth and more),
// which the edge finder puts back; and a start 1.5 px off (a contour from a threshold off the midpoint)
// does not bias it.
TEST(PlaneCircleFit, EdgesOfBlurredDisksLieOnTheirCircles) {
  for (const double sigma : {0.0, 0.8, 1.2}) {
    for (const double radius : {4.3, 8.0, 20.0}) {
      const Eigen::Vector2d centre(50.3, 50.7);
      constexpr int kSuper = 8;
      cv::Mat fine(100 * kSuper, 100 * kSuper, CV_64FC1);
      for (int r = 0; r < fine.rows; ++r) {
        for (int c = 0; c < fine.cols; ++c) {
          const Eigen::Vector2d at((c + 0.5) / kSuper - 0.5, (r + 0.5) / kSuper - 0.5);
          fine.at<double>(r, c) = (at - centre).norm() <= radius ? 225.0 : 25.0;
        }
      }
      cv::Mat grey;
      cv::resize(fine, grey, cv::Size(100, 100), 0, 0, cv::INTER_AREA);
      if (sigma > 0.0) cv::GaussianBlur(grey, grey, cv::Size(0, 0), sigma);
      grey.convertTo(grey, CV_8UC1);
      for (const double start : {-1.5, 0.0, 1.5}) {
        std::vector<Eigen::Vector2d> points;
        for (int k = 0; k < 60; ++k) {
          points.push_back(centre + (radius + start) * Eigen::Vector2d(std::cos(k * kPi / 30), std::sin(k * kPi / 30)));
        }
        Detect::Conic circle;
        const double r0 = radius + start;
        circle << 1.0, 0.0, -centre.x(), 0.0, 1.0, -centre.y(), -centre.x(), -centre.y(),
            centre.squaredNorm() - r0 * r0;
        const std::vector<Eigen::Vector2d> edges = Detect::SubPixelEdges(grey, points, circle);
        ASSERT_EQ(edges.size(), points.size());
        double mean = 0.0;
        for (const Eigen::Vector2d& e : edges) mean += (e - centre).norm() / static_cast<double>(edges.size());
        EXPECT_NEAR(mean, radius, 0.02) << "σ " << sigma << ", radius " << radius << ", start " << start;
      }
    }
  }
}

// What the centroid method cannot do, and what the fit must refuse.
TEST(FittedMarker, HolesAndGlareAreBorneAnotherMarkerIsRefused) {
  const Case tilted{"tilted", 640, 480, 600, View(0.45, 0.4, -0.3), 0.0003};
  ShotOptions options = Options(tilted);
  const Shot plain = RenderShot(options);
  const int u = static_cast<int>(std::lround(plain.centres[0].x())),
            v = static_cast<int>(std::lround(plain.centres[0].y()));

  // A hole of 25 px radius in the cloud at the centre: no point there, but the plane around it.
  cv::Mat holed = plain.cloud.clone();
  cv::Mat mask = cv::Mat::zeros(holed.size(), CV_8UC1);
  cv::circle(mask, cv::Point(u, v), 25, cv::Scalar(255), cv::FILLED);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  holed.setTo(cv::Scalar(nan, nan, nan), mask);
  MarkerBoardResult centroid, fitted;
  EXPECT_EQ(SolveMarkerBoardResults(plain.image, holed, centroid), Err_Algo_Marker_Fail_NoPoint);
  ASSERT_EQ(SolveFittedMarkerResults(plain.image, holed, fitted), Success);
  EXPECT_LT((Eigen::Vector3d(fitted.x, fitted.y, fitted.z) - plain.points[0]).norm(), kMetres);

  // A glare spot (saturated white) on the black ring, over part of its outer boundary, through the file
  // form: the centroids move by a fifth of a pixel, the fit stays within its bound.
  cv::Mat glare = plain.image.clone();
  const Eigen::Vector3d spot =
      options.cameraFromBoard * Eigen::Vector3d(0.027 * std::cos(0.8), 0.027 * std::sin(0.8), 0);
  cv::circle(glare, cv::Point2d(600 * spot.x() / spot.z() + 319.5, 600 * spot.y() / spot.z() + 239.5), 6,
             cv::Scalar(255), cv::FILLED, cv::LINE_AA);
  const std::string stem = TarnTest::ProcessTempPath("glare");
  ASSERT_TRUE(cv::imwrite(stem + ".png", glare));
  TarnSim::WritePly(stem + ".ply", plain.cloud);
  MarkerFitQuality quality;
  ASSERT_EQ(SolveFittedMarkerResults(stem + ".png", stem + ".ply", fitted, quality), Success);
  EXPECT_LT(std::hypot(fitted.u - plain.centres[0].x(), fitted.v - plain.centres[0].y()), kPixels);
  EXPECT_LT((Eigen::Vector3d(fitted.x, fitted.y, fitted.z) - plain.points[0]).norm(), kMetres);

  // Another marker: rings at 0.75, 0.5 and 0.25 of the outer one. Found by the contour search, refused
  // by the fit, the caller's record untouched; the quality says why.
  options.ringRadii = {0.75, 0.5, 0.25};
  const Shot other = RenderShot(options);
  MarkerBoardResult untouched{1, 2, 3, 4, 5};
  quality = MarkerFitQuality{};
  EXPECT_EQ(SolveMarkerBoardResults(other.image, other.cloud, centroid), Success);
  EXPECT_EQ(SolveFittedMarkerResults(other.image, other.cloud, untouched, quality), Err_Algo_Marker_Fit_NotMarker);
  EXPECT_EQ(untouched.x, 1.0);
  EXPECT_NEAR(quality.ratioDeviation, 0.05, 0.005);
  EXPECT_NEAR(quality.radiiMm[0], 30.0, 0.2);
}

}  // namespace
