// SPDX-License-Identifier: Apache-2.0
// The printable marker: its PNG, photographed (rendered as a texture on a tilted board in front of a pinhole
// camera, with the board's point cloud), is found where the sheet puts it; the PDF is a well-formed file; a
// large marker on A4 pages, rendered by another program, cut at its crop marks and joined at its dashed lines,
// is round and true to size.

#include "PrintableMarker.h"

#include "ProcessTempFiles.h"

#include <tarn/FittedMarkerDetect.h>

#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace {

using namespace TarnWorkflow;

struct Photo {
  cv::Mat image;
  cv::Mat cloud;
  Eigen::Vector3d centre;  ///< the marker's centre in the camera frame, metres
};

// The sheet image (at `pxPerMm`) on the plane z = 0 of the board frame, the marker's centre at its origin,
// seen by a camera of focal `f` from camera_from_board `pose`, 3 x 3 samples per pixel.
Photo Photograph(const cv::Mat& sheet, double pxPerMm, const MarkerLayout& layout, const Eigen::Isometry3d& pose) {
  constexpr int kWidth = 1024, kHeight = 768, kSamples = 3;
  constexpr double kFocal = 1000.0;
  cv::Mat mapX(kHeight * kSamples, kWidth * kSamples, CV_32FC1);
  cv::Mat mapY(mapX.size(), CV_32FC1);
  Photo photo;
  photo.cloud = cv::Mat(kHeight, kWidth, CV_64FC3, cv::Scalar::all(std::nan("")));
  const Eigen::Vector3d normal = pose.linear().col(2);
  for (int row = 0; row < mapX.rows; ++row) {
    for (int col = 0; col < mapX.cols; ++col) {
      // Sample (col, row) of pixel (col / k, row / k), pixel centres at integers.
      const double u = (col + 0.5) / kSamples - 0.5, v = (row + 0.5) / kSamples - 0.5;
      const Eigen::Vector3d ray((u - kWidth / 2.0) / kFocal, (v - kHeight / 2.0) / kFocal, 1.0);
      const Eigen::Vector3d hit = ray * (normal.dot(pose.translation()) / normal.dot(ray));
      const Eigen::Vector3d q = pose.inverse() * hit;
      mapX.at<float>(row, col) = static_cast<float>((q.x() * 1000.0 + layout.centreX) * pxPerMm - 0.5);
      mapY.at<float>(row, col) = static_cast<float>((q.y() * 1000.0 + layout.centreY) * pxPerMm - 0.5);
      if (col % kSamples == 1 && row % kSamples == 1)
        photo.cloud.at<cv::Vec3d>(row / kSamples, col / kSamples) = {hit.x(), hit.y(), hit.z()};
    }
  }
  cv::Mat fine;
  cv::remap(sheet, fine, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(255));
  cv::resize(fine, photo.image, cv::Size(kWidth, kHeight), 0, 0, cv::INTER_AREA);
  photo.centre = pose.translation();
  return photo;
}

TEST(PrintableMarker, ThePrintedPngIsFoundWhereTheSheetPutsIt) {
  MarkerSheet sheet;
  sheet.radiusMm = 40.0;
  sheet.dpi = 300;
  const std::string path = TarnTest::ProcessTempPath("marker.png");
  std::string error;
  ASSERT_TRUE(WriteMarkerSheet(path, sheet, error)) << error;
  const cv::Mat printed = cv::imread(path, cv::IMREAD_GRAYSCALE);
  ASSERT_FALSE(printed.empty());
  const MarkerLayout layout = LayoutOf(sheet);
  EXPECT_NEAR(printed.cols, layout.pageWidth * 300 / 25.4, 1.0);  // true size at its resolution

  for (const auto& [tiltX, tiltY] : {std::pair{0.0, 0.0}, std::pair{0.35, -0.2}}) {
    SCOPED_TRACE(tiltX);
    Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
    pose.translate(Eigen::Vector3d(0.02, -0.01, 0.55));
    pose.rotate(Eigen::AngleAxisd(tiltX, Eigen::Vector3d::UnitX()) *
                Eigen::AngleAxisd(tiltY, Eigen::Vector3d::UnitY()));
    const Photo photo = Photograph(printed, 300 / 25.4, layout, pose);
    TamoHandEye::MarkerBoardResult found{};
    TamoHandEye::MarkerFitQuality quality;
    ASSERT_EQ(TamoHandEye::SolveFittedMarkerResults(photo.image, photo.cloud, found, quality), TamoHandEye::Success);
    EXPECT_LT((Eigen::Vector3d(found.x, found.y, found.z) - photo.centre).norm(), 2e-4);
    EXPECT_LT(quality.ratioDeviation, 0.005);
    EXPECT_NEAR(quality.radiiMm[0], 40.0, 0.3);
  }
}

TEST(PrintableMarker, PdfAndSvgAreWellFormedAndTrueToSize) {
  MarkerSheet sheet;
  sheet.radiusMm = 25.0;
  const std::string pdf = MarkerPdf(sheet);
  ASSERT_EQ(pdf.rfind("%PDF-1.4\n", 0), 0u);
  // Every cross-reference entry points at its object.
  const std::size_t xref = std::stoul(pdf.substr(pdf.rfind("startxref\n") + 10));
  std::istringstream table(pdf.substr(xref));
  std::string line;
  std::getline(table, line);  // xref
  std::getline(table, line);  // 0 6
  std::getline(table, line);  // the free entry
  for (int object = 1; object <= 5; ++object) {
    ASSERT_TRUE(std::getline(table, line));
    EXPECT_EQ(pdf.substr(std::stoul(line.substr(0, 10)), 8), std::to_string(object) + " 0 obj\n");
  }
  // The outer circle's radius in points: 25 mm.
  EXPECT_NE(pdf.find(" " + std::to_string(25.0 * 72 / 25.4).substr(0, 6)), std::string::npos);
  const std::string svg = MarkerSvg(sheet);
  EXPECT_NE(svg.find("r=\"25.000\" fill=\"black\""), std::string::npos);
  EXPECT_NE(svg.find("r=\"5.000\" fill=\"white\""), std::string::npos);  // the centre: 0.2 R
  std::string error;
  EXPECT_FALSE(WriteMarkerSheet(::testing::TempDir() + "marker.jpg", sheet, error));
  EXPECT_NE(error.find(".pdf, .svg or .png"), std::string::npos);
  // A PNG of a half-metre marker at 600 dpi (3,400 million pixels) is refused before any is drawn.
  sheet.radiusMm = 500.0;
  const std::string big = ::testing::TempDir() + "big-marker.png";
  EXPECT_FALSE(WriteMarkerSheet(big, sheet, error));
  EXPECT_NE(error.find("write .pdf or .svg"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(big));
}

// Each page rendered at 200 dpi by poppler, then put together as a person would: a page's shown picture laid
// on the pages before it with its cut edge (left, top) on their dashed join line. Nothing of the sheet's own
// coordinates is used; the outer ring of the result must be a circle of 200 mm within 0.5 mm.
TEST(PrintableMarker, A200MillimetreMarkerOnA4PagesJoinsTrueToSize) {
  if (std::system("pdftoppm -v > /dev/null 2>&1") != 0) GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
  MarkerSheet sheet;
  sheet.radiusMm = 100.0;
  sheet.paper = Paper::A4;
  sheet.language = SheetLanguage::Zh;
  const std::string dir = ::testing::TempDir() + "paper-marker-" + std::to_string(::getpid()) + "/";
  std::filesystem::create_directories(dir);
  std::string error;
  ASSERT_TRUE(WriteMarkerSheet(dir + "marker.pdf", sheet, error)) << error;
  const std::vector<MarkerPage> pages = PagesOf(sheet);
  ASSERT_GT(pages.size(), 4u);  // 620 x 443 mm of sheet on 210 x 297 mm paper

  constexpr double kPxPerMm = 200.0 / 25.4;
  const auto px = [](double mm) { return static_cast<int>(std::lround(mm * kPxPerMm)); };
  // Where each page's top-left corner lies on the joined sheet, mm: the first page at 0; along a row, the
  // next page's cut edge on this page's join line; down a column likewise.
  std::vector<double> columnAt(1, 0.0);
  std::vector<double> rowAt(1, 0.0);
  for (const MarkerPage& p : pages) {
    if (p.row == 0 && p.joinRight) columnAt.push_back(columnAt.back() + p.joinX - p.shownLeft);
    if (p.column == 0 && p.joinBottom) rowAt.push_back(rowAt.back() + p.joinY - p.shownTop);
  }
  cv::Mat joined(px(rowAt.back() + pages.back().height), px(columnAt.back() + pages.back().width), CV_8UC1,
                 cv::Scalar(255));
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const MarkerPage& p = pages[i];
    const std::string page = std::to_string(i + 1);
    const std::string out = dir + "page" + page;
    ASSERT_EQ(std::system(("pdftoppm -r 200 -gray -singlefile -f " + page + " -l " + page + " " + dir + "marker.pdf " +
                           out + " 2> /dev/null")
                              .c_str()),
              0);
    const cv::Mat image = cv::imread(out + ".pgm", cv::IMREAD_GRAYSCALE);
    ASSERT_EQ(image.cols, px(p.width));
    const cv::Rect shown(px(p.shownLeft), px(p.shownTop), px(p.shownWidth), px(p.shownHeight));
    const double x = columnAt[static_cast<std::size_t>(p.column)] + p.shownLeft;
    const double y = rowAt[static_cast<std::size_t>(p.row)] + p.shownTop;
    image(shown).copyTo(joined(cv::Rect(px(x), px(y), shown.width, shown.height)));
  }
  std::filesystem::remove_all(dir);

  // The outer ring's edge: the largest dark outline.
  cv::Mat dark;
  cv::threshold(joined, dark, 128, 255, cv::THRESH_BINARY_INV);
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(dark, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
  ASSERT_FALSE(contours.empty());
  const auto outer = std::max_element(contours.begin(), contours.end(), [](const auto& a, const auto& b) {
    return cv::contourArea(a) < cv::contourArea(b);
  });
  const cv::RotatedRect fit = cv::fitEllipse(*outer);
  EXPECT_NEAR(static_cast<double>(fit.size.width) / kPxPerMm, 200.0, 0.5);
  EXPECT_NEAR(static_cast<double>(fit.size.height) / kPxPerMm, 200.0, 0.5);
  // No step where pages meet: every edge point within 0.5 mm of the circle.
  double worst = 0.0;
  for (const cv::Point& q : *outer) {
    const double r = std::hypot(q.x - static_cast<double>(fit.center.x), q.y - static_cast<double>(fit.center.y));
    worst = std::max(worst, std::abs(r / kPxPerMm - 100.0));
  }
  EXPECT_LT(worst, 0.5);
}

}  // namespace
