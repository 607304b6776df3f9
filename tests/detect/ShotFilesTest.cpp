// SPDX-License-Identifier: Apache-2.0
// Reading a shot's image file: its size from the header alone, agreeing with what OpenCV decodes, and the
// shot refused before decoding when that size cannot match the cloud.

#include "detect/ShotFiles.h"

#include <tarn/MarkerDetect.h>

#include "Bounded.h"
#include "MarkerRenderer.h"

#include "ProcessTempFiles.h"

#include <gtest/gtest.h>
#include <zlib.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace TamoHandEye;
using Detect::ImageHeaderSize;

std::string TempPath(const std::string& name) { return TarnTest::ProcessTempPath(name); }

std::vector<unsigned char> Encode(const cv::Mat& image, const std::string& extension,
                                  const std::vector<int>& flags = {}) {
  std::vector<unsigned char> bytes;
  EXPECT_TRUE(cv::imencode(extension, image, bytes, flags)) << extension;
  return bytes;
}

// The header's size is the decoded size, for every format a camera's software writes, in both
// orientations of an odd size, grey and colour.
TEST(ShotFiles, HeaderSizeIsTheDecodedSize) {
  for (const cv::Size size : {cv::Size(37, 23), cv::Size(23, 37), cv::Size(1, 1), cv::Size(640, 480)}) {
    for (const int type : {CV_8UC1, CV_8UC3}) {
      cv::Mat image(size, type);
      cv::randu(image, 0, 255);
      const std::vector<std::pair<std::string, std::vector<int>>> encodings = {
          {".png", {}}, {".jpg", {}}, {".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1}}, {".bmp", {}}, {".tiff", {}},
          {".pgm", {}}, {".ppm", {}}};
      for (const auto& [extension, flags] : encodings) {
        if ((extension == ".pgm" && type != CV_8UC1) || (extension == ".ppm" && type != CV_8UC3)) continue;
        const std::vector<unsigned char> bytes = Encode(image, extension, flags);
        const auto header = ImageHeaderSize(bytes.data(), bytes.size());
        ASSERT_TRUE(header.has_value()) << extension << " " << size;
        EXPECT_EQ(*header, cv::imdecode(bytes, cv::IMREAD_UNCHANGED).size()) << extension << " " << size;
        // A header cut short, anywhere, says nothing rather than something wrong (and reads nothing
        // beyond its end).
        for (std::size_t cut = 0; cut < std::min<std::size_t>(bytes.size(), 400); ++cut) {
          const std::vector<unsigned char> piece(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
          const auto partial = ImageHeaderSize(piece.data(), piece.size());
          EXPECT_TRUE(!partial || *partial == *header) << extension << " cut at " << cut;
        }
      }
    }
  }
  const std::string text = "not an image";
  EXPECT_FALSE(ImageHeaderSize(reinterpret_cast<const unsigned char*>(text.data()), text.size()).has_value());
}

void Chunk(std::ofstream& out, const char* type, const std::vector<unsigned char>& data) {
  const auto be32 = [&](std::uint32_t v) {
    const unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                                static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    out.write(reinterpret_cast<const char*>(b), 4);
  };
  be32(static_cast<std::uint32_t>(data.size()));
  out.write(type, 4);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  be32(static_cast<std::uint32_t>(crc));
}

// A valid grey PNG of width x height black pixels: a few hundred kB that decode to width x height bytes.
void WriteBlackPng(const std::string& path, std::uint32_t width, std::uint32_t height) {
  std::ofstream out(path, std::ios::binary);
  out.write("\x89PNG\r\n\x1a\n", 8);
  std::vector<unsigned char> ihdr = {static_cast<unsigned char>(width >> 24),
                                     static_cast<unsigned char>(width >> 16),
                                     static_cast<unsigned char>(width >> 8),
                                     static_cast<unsigned char>(width),
                                     static_cast<unsigned char>(height >> 24),
                                     static_cast<unsigned char>(height >> 16),
                                     static_cast<unsigned char>(height >> 8),
                                     static_cast<unsigned char>(height),
                                     8,
                                     0,
                                     0,
                                     0,
                                     0};
  Chunk(out, "IHDR", ihdr);
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 9), Z_OK);
  const std::vector<unsigned char> row(width + 1, 0);  // filter byte 0, then the pixels
  std::vector<unsigned char> compressed;
  std::vector<unsigned char> buffer(1 << 16);
  for (std::uint32_t r = 0; r <= height; ++r) {
    const bool last = r == height;
    z.next_in = const_cast<Bytef*>(row.data());
    z.avail_in = last ? 0 : static_cast<uInt>(row.size());
    do {
      z.next_out = buffer.data();
      z.avail_out = static_cast<uInt>(buffer.size());
      deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      compressed.insert(compressed.end(), buffer.data(), buffer.data() + (buffer.size() - z.avail_out));
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  Chunk(out, "IDAT", compressed);
  Chunk(out, "IEND", {});
}

// A small file that decodes to 400 MB is refused by its header when the cloud cannot match it: no
// decoding, so no memory for it.
TEST(ShotFiles, AnImageTooBigForTheCloudIsNotDecoded) {
  const TarnSim::Shot shot = TarnSim::RenderShot({});
  const std::string ply = TempPath("small.ply");
  TarnSim::WritePly(ply, shot.cloud);
  const std::string png = TempPath("huge.png");
  WriteBlackPng(png, 20000, 20000);
  struct stat st {};
  ASSERT_EQ(::stat(png.c_str(), &st), 0);
  ASSERT_LT(st.st_size, 2 << 20);

  if (!TarnTest::ResetPeakMemory()) GTEST_SKIP() << "the system does not report peak memory";
  const long before = TarnTest::PeakMemoryKb();
  MarkerBoardResult result{};
  EXPECT_EQ(SolveMarkerBoardResults(png, ply, result), Err_Data_Invalid_PointCloud);
  EXPECT_LT(TarnTest::PeakMemoryKb() - before, 64 * 1024) << "kB more at the peak";
}

// Files that are not regular files are refused without waiting on them.
TEST(ShotFiles, NonRegularFilesAreRefusedWithoutBlocking) {
  const TarnSim::Shot shot = TarnSim::RenderShot({});
  const std::string png = TempPath("shot.png");
  const std::string ply = TempPath("shot.ply");
  ASSERT_TRUE(cv::imwrite(png, shot.image));
  TarnSim::WritePly(ply, shot.cloud);
  const std::string fifo = TempPath("fifo");
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto code = [](const std::string& image, const std::string& cloud) {
    return TarnTest::RunInChild(20, [&] {
      MarkerBoardResult r{};
      return static_cast<int>(SolveMarkerBoardResults(image, cloud, r));
    });
  };
  EXPECT_EQ(code(fifo, ply), Err_Data_Invalid_PointCloud);
  EXPECT_EQ(code(png, fifo), Err_Data_Invalid_PointCloud);
  EXPECT_EQ(code(::testing::TempDir(), ply), Err_Data_Invalid_PointCloud);
  EXPECT_EQ(code("/dev/zero", ply), Err_Data_Invalid_PointCloud);
  MarkerBoardResult r{};
  EXPECT_EQ(SolveMarkerBoardResults(png, ply, r), Success);
  ::unlink(fifo.c_str());
}

// After a refusal, the operator is told which file is at fault and why.
TEST(ShotFiles, TheFileAtFaultIsNamedWithItsReason) {
  const TarnSim::Shot shot = TarnSim::RenderShot({});
  const std::string png = TempPath("named.png"), ply = TempPath("named.ply");
  ASSERT_TRUE(cv::imwrite(png, shot.image));
  TarnSim::WritePly(ply, shot.cloud);
  cv::Mat wide;
  shot.image.convertTo(wide, CV_16UC1, 256.0);
  ASSERT_TRUE(cv::imwrite(TempPath("wide.png"), wide));
  std::ofstream(TempPath("text.png")) << "a note, not an image";
  TarnSim::PlyOptions fewer;
  fewer.dropVertices = 1;
  fewer.claimVertices = 640 * 480;
  TarnSim::WritePly(TempPath("cut.ply"), shot.cloud, fewer);

  struct Case {
    std::string image, cloud;
    ShotFileProblem::File file;
    std::string reason;
  };
  for (const Case& c : {Case{png, ply, ShotFileProblem::None, ""},
                        Case{TempPath("absent.png"), ply, ShotFileProblem::Image, "No such file"},
                        Case{::testing::TempDir(), ply, ShotFileProblem::Image, "folder"},
                        Case{TempPath("text.png"), ply, ShotFileProblem::Image, "not an image"},
                        Case{TempPath("wide.png"), ply, ShotFileProblem::Image, "16-bit"},
                        Case{png, TempPath("absent.ply"), ShotFileProblem::PointCloud, "No such file"},
                        Case{png, TempPath("cut.ply"), ShotFileProblem::PointCloud, "truncated"}}) {
    const ShotFileProblem problem = DescribeShotFiles(c.image, c.cloud);
    EXPECT_EQ(problem.file, c.file) << c.image << " " << c.cloud << ": " << problem.reason;
    EXPECT_NE(problem.reason.find(c.reason), std::string::npos) << problem.reason;
    EXPECT_EQ(problem.reason.find(c.image), std::string::npos) << "the path is the caller's to show";
  }
}

}  // namespace
