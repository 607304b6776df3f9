// SPDX-License-Identifier: Apache-2.0
// The PLY reader against clouds written by an independent writer, in every format and layout.

#include "detect/PlyReader.h"

#include "Bounded.h"
#include "MarkerRenderer.h"

#include <gmock/gmock.h>
#include "ProcessTempFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

namespace {

using TamoHandEye::Detect::OpenOrganizedCloud;
using TamoHandEye::Detect::PendingCloudRows;
using TamoHandEye::Detect::ReadOrganizedCloud;
using TarnSim::PlyFormat;
using TarnSim::PlyOptions;

// Test cases run as parallel processes: each names its files after its process.
std::string TempPath(const std::string& name) { return TarnTest::ProcessTempPath(name); }

// A 4 x 6 cloud with distinct values, a NaN point and values a float cannot hold exactly.
cv::Mat SmallCloud() {
  cv::Mat cloud(4, 6, CV_64FC3);
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 6; ++c)
      cloud.at<cv::Vec3d>(r, c) = cv::Vec3d(0.1 * c + 1.0 / 3.0, -0.2 * r, 1.0 + 0.01 * (r * 6 + c));
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  cloud.at<cv::Vec3d>(2, 3) = cv::Vec3d(nan, nan, nan);
  return cloud;
}

// Equal element by element, NaN equal to NaN.
testing::AssertionResult SameCloud(const cv::Mat& a, const cv::Mat& b, double tolerance) {
  if (a.size() != b.size() || a.type() != b.type()) return testing::AssertionFailure() << "size or type differ";
  for (int r = 0; r < a.rows; ++r) {
    for (int c = 0; c < a.cols; ++c) {
      for (int k = 0; k < 3; ++k) {
        const double x = a.at<cv::Vec3d>(r, c)[k], y = b.at<cv::Vec3d>(r, c)[k];
        if (std::isnan(x) != std::isnan(y) || (!std::isnan(x) && !(std::abs(x - y) <= tolerance))) {
          return testing::AssertionFailure() << "(" << r << ", " << c << ")[" << k << "]: " << x << " vs " << y;
        }
      }
    }
  }
  return testing::AssertionSuccess();
}

cv::Mat AsFloats(const cv::Mat& cloud) {
  cv::Mat f, d;
  cloud.convertTo(f, CV_32FC3);
  f.convertTo(d, CV_64FC3);
  return d;
}

TEST(PlyReader, EveryFormatAndLayoutReadsTheSameCloud) {
  const cv::Mat cloud = SmallCloud();
  for (const PlyFormat format : {PlyFormat::Ascii, PlyFormat::BinaryLittleEndian, PlyFormat::BinaryBigEndian}) {
    for (const bool doubles : {false, true}) {
      for (const bool colour : {false, true}) {
        for (const bool leading : {false, true}) {
          PlyOptions options;
          options.format = format;
          options.doubles = doubles;
          options.colour = colour;
          options.leadingElement = leading;
          const std::string path = TempPath("layout.ply");
          TarnSim::WritePly(path, cloud, options);
          const cv::Mat read = ReadOrganizedCloud(path, 4, 6);
          // ASCII is written with 17 digits; floats are widened exactly.
          const cv::Mat expected = doubles || format == PlyFormat::Ascii ? cloud : AsFloats(cloud);
          EXPECT_TRUE(SameCloud(read, expected, 0.0)) << "format " << static_cast<int>(format) << " doubles " << doubles
                                                      << " colour " << colour << " leading " << leading;
          // Opened for rows on demand: a binary body is read row by row, in any order, to the same cloud.
          std::unique_ptr<PendingCloudRows> pending;
          const cv::Mat opened = OpenOrganizedCloud(path, 4, 6, pending);
          ASSERT_FALSE(opened.empty());
          EXPECT_EQ(pending == nullptr, format == PlyFormat::Ascii);
          if (pending) {
            // Runs of columns, a row asked again for other columns, then whole rows.
            ASSERT_TRUE(pending->Load(3, 3, 4, 9) && pending->Load(3, 3, 1, 2) && pending->Load(0, 1, -3, 0));
            EXPECT_TRUE(SameCloud(opened(cv::Rect(1, 3, 5, 1)), expected(cv::Rect(1, 3, 5, 1)), 0.0));
            EXPECT_TRUE(SameCloud(opened(cv::Rect(0, 0, 1, 2)), expected(cv::Rect(0, 0, 1, 2)), 0.0));
            EXPECT_TRUE(pending->Load(2, 2) && pending->Load(-5, 1) && pending->Load(1, 9));
          }
          EXPECT_TRUE(SameCloud(opened, expected, 0.0)) << "on demand: format " << static_cast<int>(format);
        }
      }
    }
  }
}

TEST(PlyReader, VerticesFillRowsInOrder) {
  cv::Mat cloud(480, 640, CV_64FC3);
  for (int r = 0; r < cloud.rows; ++r) {
    for (int c = 0; c < cloud.cols; ++c) cloud.at<cv::Vec3d>(r, c) = cv::Vec3d(c, r, r * 640 + c);
  }
  const std::string path = TempPath("order.ply");
  TarnSim::WritePly(path, cloud);
  const cv::Mat read = ReadOrganizedCloud(path, 480, 640);
  ASSERT_EQ(read.rows, 480);
  ASSERT_EQ(read.cols, 640);
  ASSERT_EQ(read.type(), CV_64FC3);
  EXPECT_EQ(read.at<cv::Vec3d>(1, 0), cv::Vec3d(0, 1, 640));  // vertex 640
  EXPECT_TRUE(SameCloud(read, cloud, 0.0));
}

TEST(PlyReader, AsciiAcceptsNanInfinityAndSignedValues) {
  const std::string path = TempPath("words.ply");
  std::ofstream(path) << "ply\r\nformat ascii 1.0\r\nobj_info scanner\r\nelement vertex 2\r\nproperty float x\r\n"
                         "property float y\r\nproperty float z\r\nend_header\r\nnan NaN -inf\r\n+1.5 -2e-3 7\r\n";
  const cv::Mat read = ReadOrganizedCloud(path, 1, 2);
  ASSERT_FALSE(read.empty());
  EXPECT_TRUE(std::isnan(read.at<cv::Vec3d>(0, 0)[0]));
  EXPECT_TRUE(std::isnan(read.at<cv::Vec3d>(0, 0)[1]));
  EXPECT_EQ(read.at<cv::Vec3d>(0, 0)[2], -std::numeric_limits<double>::infinity());
  EXPECT_EQ(read.at<cv::Vec3d>(0, 1), cv::Vec3d(1.5, -2e-3, 7));
}

TEST(PlyReader, UnusableFilesGiveAnEmptyCloudAndAMessage) {
  const cv::Mat cloud = SmallCloud();
  const auto expectEmpty = [](const std::string& path, int rows, int cols, const std::string& message) {
    testing::internal::CaptureStderr();
    cv::Mat read;
    EXPECT_NO_THROW(read = ReadOrganizedCloud(path, rows, cols));
    EXPECT_TRUE(read.empty()) << path;
    EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::HasSubstr(message)) << path;
  };

  expectEmpty(TempPath("does-not-exist.ply"), 4, 6, "file_stream failed to open " + TempPath("does-not-exist.ply"));

  PlyOptions fewer;
  fewer.dropVertices = 1;
  TarnSim::WritePly(TempPath("fewer.ply"), cloud, fewer);
  expectEmpty(TempPath("fewer.ply"), 4, 6, "vertices");

  PlyOptions noZ;
  noZ.omitZ = true;
  TarnSim::WritePly(TempPath("noz.ply"), cloud, noZ);
  expectEmpty(TempPath("noz.ply"), 4, 6, "tinyply exception: ");

  // The header claims the right count but the data stops early: truncated, for every format.
  for (const PlyFormat format : {PlyFormat::Ascii, PlyFormat::BinaryLittleEndian, PlyFormat::BinaryBigEndian}) {
    PlyOptions lying;
    lying.format = format;
    lying.dropVertices = 1;
    lying.claimVertices = 24;
    TarnSim::WritePly(TempPath("lying.ply"), cloud, lying);
    expectEmpty(TempPath("lying.ply"), 4, 6, "truncated");
  }

  // A header that claims a vast cloud is refused before anything is allocated.
  PlyOptions vast;
  vast.claimVertices = 4000000000000LL;
  TarnSim::WritePly(TempPath("vast.ply"), cloud, vast);
  expectEmpty(TempPath("vast.ply"), 2000000, 2000000, "truncated");
  expectEmpty(TempPath("vast.ply"), 4, 6, "vertices");

  std::ofstream(TempPath("mixed.ply")) << "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                                          "property double y\nproperty float z\nend_header\n1 2 3\n";
  expectEmpty(TempPath("mixed.ply"), 1, 1, "32-bit or all 64-bit");
  std::ofstream(TempPath("ints.ply")) << "ply\nformat ascii 1.0\nelement vertex 1\nproperty int x\n"
                                         "property int y\nproperty int z\nend_header\n1 2 3\n";
  expectEmpty(TempPath("ints.ply"), 1, 1, "32-bit or all 64-bit");
  std::ofstream(TempPath("text.ply")) << "not a point cloud at all";
  expectEmpty(TempPath("text.ply"), 1, 1, "not a PLY file");
  std::ofstream(TempPath("noend.ply")) << "ply\nformat ascii 1.0\nelement vertex 1\n";
  expectEmpty(TempPath("noend.ply"), 1, 1, "end_header");
  std::ofstream(TempPath("face.ply"))
      << "ply\nformat ascii 1.0\nelement face 0\nproperty list uchar int i\nend_header\n";
  expectEmpty(TempPath("face.ply"), 1, 1, "tinyply exception: ");
  expectEmpty(::testing::TempDir(), 1, 1, "file_stream failed to open");  // a folder
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Files that went wrong on their way, or were made to hurt: each is refused, in a bounded time, never
// read as a cloud. Run in a child process so that a reader that hangs fails the test instead of
// stalling it.
TEST(PlyReader, DamagedAndHostileFilesAreRefusedInBoundedTime) {
  const cv::Mat cloud = SmallCloud();
  const auto refused = [](const std::string& path, int rows, int cols) {
    return TarnTest::RunInChild(20, [&] {
             std::unique_ptr<PendingCloudRows> pending;  // opening for rows on demand refuses the same files
             return ReadOrganizedCloud(path, rows, cols).empty() &&
                            OpenOrganizedCloud(path, rows, cols, pending).empty()
                        ? 0
                        : 1;
           }) == 0;
  };

  // A binary file sent through a text conversion (LF to CRLF): header and body both changed.
  for (const PlyFormat format : {PlyFormat::BinaryLittleEndian, PlyFormat::BinaryBigEndian}) {
    PlyOptions options;
    options.format = format;
    TarnSim::WritePly(TempPath("binary.ply"), cloud, options);
    ASSERT_FALSE(ReadOrganizedCloud(TempPath("binary.ply"), 4, 6).empty());
    std::string bytes = Slurp(TempPath("binary.ply"));
    std::string converted;
    for (const char c : bytes) converted += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::ofstream(TempPath("crlf.ply"), std::ios::binary) << converted;
    EXPECT_TRUE(refused(TempPath("crlf.ply"), 4, 6)) << "format " << static_cast<int>(format);
    // The header kept its line ends but the body is longer than the header declares.
    std::ofstream(TempPath("grown.ply"), std::ios::binary) << bytes << "\r\n";
    EXPECT_TRUE(refused(TempPath("grown.ply"), 4, 6)) << "format " << static_cast<int>(format);
  }

  // A property-less element with a count no file can hold, before "vertex", in both kinds of body.
  for (const std::string format : {"ascii", "binary_little_endian"}) {
    std::ofstream(TempPath("junk.ply"), std::ios::binary)
        << "ply\nformat " << format << " 1.0\nelement junk 9223372036854775807\nelement vertex 1\n"
        << "property float x\nproperty float y\nproperty float z\nend_header\n1 2 3\n";
    EXPECT_TRUE(refused(TempPath("junk.ply"), 1, 1)) << format;
  }

  // A FIFO nobody writes to: opening it must not wait for a writer.
  const std::string fifo = TempPath("cloud-fifo.ply");
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_TRUE(refused(fifo, 4, 6));
  ::unlink(fifo.c_str());
}

}  // namespace
