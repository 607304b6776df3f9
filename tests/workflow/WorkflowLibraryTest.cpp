// SPDX-License-Identifier: Apache-2.0
// The workflow library's rules, checked against files made here: which files are shots and how they pair,
// the marker batch on several workers against rendered shots, the robot data file's lines, and the
// parameter and result file's round trip in GBK.

#include "DataFiles.h"
#include "MarkerBatch.h"
#include "MarkerRenderer.h"
#include "SettingsFile.h"
#include "ShotNames.h"
#include "Tables.h"
#include "Verification.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace TarnWorkflow;
using testing::Contains;
using testing::HasSubstr;

class TempFolder {
 public:
  TempFolder() : path(fs::temp_directory_path() / ("tarn-workflow-" + std::to_string(::getpid()))) {
    fs::remove_all(path);
    fs::create_directories(path / "images");
    fs::create_directories(path / "clouds");
  }
  ~TempFolder() { fs::remove_all(path); }
  void Touch(const std::string& name, const std::string& content = "x") const { std::ofstream(path / name) << content; }
  fs::path path;
};

std::string Name(const std::string& path) { return fs::path(path).filename().string(); }

TEST(ShotPairing, KeysPairAcrossFoldersInNumberOrderAndEveryLeftOutFileIsNamed) {
  const TempFolder f;
  for (const char* name : {"images/b_1.png", "images/a_0.png", "images/c_01.png", "images/e_1.png", "images/IMG_2.PNG",
                           "images/a_10.png", "images/x.png", "images/a_7.jpg"}) {
    f.Touch(name);
  }
  for (const char* name : {"clouds/p_01.ply", "clouds/p_10.ply", "clouds/q_1.ply", "clouds/p_0.ply", "clouds/y_3.ply",
                           "clouds/note.ply"}) {
    f.Touch(name);
  }
  const PairingResult r = PairShots((f.path / "images").string(), "png", (f.path / "clouds").string());

  // Ordered by the number's value (1 and 01 are different keys of equal order, kept in name order), each
  // image with the cloud of the same key whatever the text before the underscore.
  std::vector<std::string> pairs;
  for (const ShotPair& p : r.pairs) pairs.push_back(Name(p.image) + "+" + Name(p.cloud));
  EXPECT_EQ(pairs,
            (std::vector<std::string>{"a_0.png+p_0.ply", "b_1.png+q_1.ply", "c_01.png+p_01.ply", "a_10.png+p_10.ply"}));
  // The second file of a key, an upper-case extension (the key would be "2.PNG"), a name without a number,
  // and files without a partner: each reported, the other format's files ignored.
  EXPECT_THAT(r.problems, Contains(HasSubstr("e_1.png: the number after the last underscore is that of b_1.png")));
  EXPECT_THAT(r.problems, Contains(HasSubstr("IMG_2.PNG: not named")));
  EXPECT_THAT(r.problems, Contains(HasSubstr("x.png: not named")));
  EXPECT_THAT(r.problems, Contains(HasSubstr("note.ply: not named")));
  EXPECT_THAT(r.problems, Contains(HasSubstr("y_3.ply: no image with the number 3")));
  EXPECT_EQ(r.problems.size(), 5u);

  // The desktop's question decides between two files of a key: yes puts the newer name in the older's place.
  const auto yes = [](const std::string&, const std::string&) { return true; };
  std::vector<std::string> names;
  for (const ShotName& s : CollectShotNames({"b_1.png", "a_2.png", "e_1.png"}, "png", yes)) names.push_back(s.name);
  EXPECT_EQ(names, (std::vector<std::string>{"e_1.png", "a_2.png"}));
}

TEST(MarkerBatch, WorkersReturnEveryShotInPairOrderAsOneDetectionAtATimeWould) {
  const TempFolder f;
  std::vector<ShotPair> pairs;
  std::vector<Eigen::Vector2d> centres;
  for (int i = 0; i < 7; ++i) {
    TarnSim::ShotOptions shot;
    shot.width = 480;
    shot.height = 360;
    shot.focal = 520;
    shot.blurSigma = 0.7;
    shot.markers = {Eigen::Vector2d(-0.05 + 0.015 * i, 0.02 * (i % 3) - 0.02)};
    if (i == 4) shot.markers.clear();  // a shot without a marker: all attempts, the slowest
    const TarnSim::Shot rendered = TarnSim::RenderShot(shot);
    const std::string stem = (f.path / ("shot_" + std::to_string(i))).string();
    cv::imwrite(stem + ".png", rendered.image);
    TarnSim::WritePly(stem + ".ply", rendered.cloud);
    pairs.push_back({std::to_string(i), stem + ".png", stem + ".ply"});
    centres.push_back(rendered.centres.empty() ? Eigen::Vector2d::Zero() : rendered.centres[0]);
  }
  BatchOptions options;
  options.threads = 3;
  options.centre = Centre::Centroid;
  std::vector<std::size_t> reported;
  options.onShot = [&](const ShotDetection& d, std::size_t index, std::size_t done) {
    EXPECT_EQ(d.pair.key, pairs[index].key);
    reported.push_back(done);
  };
  const std::vector<ShotDetection> batch = DetectShots(pairs, options);
  ASSERT_EQ(batch.size(), pairs.size());
  EXPECT_EQ(reported, (std::vector<std::size_t>{1, 2, 3, 4, 5, 6, 7}));
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const ShotDetection alone = DetectShot(pairs[i], Centre::Centroid);
    EXPECT_EQ(batch[i].pair.image, pairs[i].image);
    EXPECT_EQ(batch[i].code, alone.code) << i;
    EXPECT_EQ(batch[i].marker.z, alone.marker.z) << i;
    if (i == 4) {
      EXPECT_NE(batch[i].code, TamoHandEye::Success);
    } else {
      EXPECT_EQ(batch[i].code, TamoHandEye::Success) << i;
      EXPECT_NEAR(batch[i].marker.u, centres[i].x(), 0.5) << i;
      EXPECT_NEAR(batch[i].marker.v, centres[i].y(), 0.5) << i;
    }
  }

  // Cancelled before it starts: no shot is detected, every one is returned not done.
  const std::atomic<bool> cancel{true};
  options.cancel = &cancel;
  options.onShot = nullptr;
  for (const ShotDetection& d : DetectShots(pairs, options)) EXPECT_FALSE(d.done);
}

TEST(RobotDataFile, OneReaderForEveryFrontEnd) {
  const TempFolder f;
  const auto read = [&](const std::string& content, DataFileError& error) {
    f.Touch("robot.txt", content);
    TamoHandEye::RobotRows rows;
    std::vector<std::vector<std::string>> texts;
    const bool ok = ReadRobotTable((f.path / "robot.txt").string(), 6, "fanuc", rows, error, &texts);
    return ok ? texts : std::vector<std::vector<std::string>>{};
  };
  DataFileError error;
  // CR LF line ends and blank lines are fine; the values keep the text they were written with.
  auto texts = read("1.50 2 3 4 5 6\r\n\r\n \t \n-0.000 1e3 3 4 5 6\n", error);
  ASSERT_EQ(texts.size(), 2u) << error.message;
  EXPECT_EQ(texts[0][0], "1.50");
  EXPECT_EQ(texts[1][1], "1e3");
  // What a spreadsheet writes: a header line, commas or semicolons, comments.
  texts = read("X,Y,Z,W,P,R\n# taken on site\n1,2,3,4,5,6\n7;8;9;10;11;12 # last\n", error);
  ASSERT_EQ(texts.size(), 2u) << error.message;
  EXPECT_EQ(texts[1][5], "12");
  EXPECT_TRUE(read("1 2 3 4 5 6\n1 2 3 4 5\n", error).empty());
  EXPECT_EQ(error.kind, DataFileError::Kind::WrongCount);
  EXPECT_EQ(error.line, 2u);
  for (const char* bad : {"1 2 3 4 5 nan\n", "1 2 3 4 5 inf\n", "1 2 3 0x1F 5 6\n"}) {
    EXPECT_TRUE(read(bad, error).empty()) << bad;
    EXPECT_EQ(error.kind, DataFileError::Kind::NotNumber) << bad;
    EXPECT_EQ(error.line, 1u);
  }
  EXPECT_TRUE(read("\n\n", error).empty());
  EXPECT_EQ(error.kind, DataFileError::Kind::Empty);
}

TEST(SettingsFile, WrittenInGbkAndReadBackAsWritten) {
  const TempFolder f;
  const std::string path = (f.path / "result.csv").string();
  TamoHandEye::FinalResult result;
  result.cameraPose = {1.5, 2, 3, 0.25, 0.5, 0.75, 1};
  result.cameraMatrix = {{1, 0, 0, 1.5}, {0, 1, 0, 2}, {0, 0, 1, 3}, {0, 0, 0, 1}};
  result.markerPosition = {7, 8, 9.125};
  TamoHandEye::CalibrationCovariance covariance;
  covariance.known = true;
  covariance.residualSigmaMm = 1.0 / 3.0;
  covariance.freedom = 27;
  for (std::size_t i = 0; i < 81; ++i) covariance.matrix[i] = (i % 10 == 0 ? 2.0 : 1e-7) / 7.0;
  covariance.alongSightSigmaMm = 1.0 / 3.0;
  covariance.acrossSightSigmaMm = 0.1;
  FileSettings settings{
      1, "ABB [X,Y,Z]mm|[Q1 Q2 Q3 Q4]deg", true, false, true, 0.0015, FittedMarkerText(), covariance, 0.75, {}};
  ASSERT_TRUE(WriteSettingsFile(path, settings, ResultTables(result)));

  std::ifstream in(path, std::ios::binary);
  std::string bytes(4096, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  EXPECT_THAT(bytes, HasSubstr("MarkerType:\xCD\xAC\xD0\xC4\xD4\xB2(\xC6\xBD\xC3\xE6\xC4\xE2\xBA\xCF)\n"));
  EXPECT_THAT(bytes, HasSubstr("X,Y,Z,R1,R2,R3,R4,\n1.5,2,3,0.25,0.5,0.75,1,\n\n\xC1\xD0"
                               "1,"));

  SettingsFileContent content;
  ASSERT_TRUE(ReadSettingsFile(path, content));
  EXPECT_EQ(content.Find("RobotType"), settings.robotType);
  EXPECT_EQ(content.Find("RansacDist"), std::string("0.0015"));
  EXPECT_EQ(content.Find("MarkerType"), FittedMarkerText());
  EXPECT_EQ(content.tableHeader, "X,Y,Z,R1,R2,R3,R4,");
  ASSERT_EQ(content.rows.size(), 8u);  // the pose row, the matrix's header and rows, the marker's header and row
  EXPECT_EQ(content.rows[1], "列1,列2,列3,列4,");
  EXPECT_EQ(content.rows[7], "7,8,9.125,");
  // The covariance entry comes back to the last bit; a damaged one is no covariance.
  TamoHandEye::CalibrationCovariance back;
  ASSERT_TRUE(ParseCovarianceEntry(*content.Find("Covariance"), back));
  EXPECT_EQ(back.matrix, covariance.matrix);
  EXPECT_EQ(back.alongSightSigmaMm, covariance.alongSightSigmaMm);
  EXPECT_EQ(back.acrossSightSigmaMm, covariance.acrossSightSigmaMm);
  EXPECT_EQ(back.residualSigmaMm, covariance.residualSigmaMm);
  EXPECT_EQ(back.freedom, 27);
  EXPECT_FALSE(ParseCovarianceEntry("0.3 27 1 2 3", back));
  // A check of the saved file finds the RMS it sets its limit from, and the covariance.
  SavedResult saved;
  std::string why;
  ASSERT_TRUE(ReadSavedResult(path, saved, why)) << why;
  EXPECT_EQ(saved.calibration.rmsErrorMm, 0.75);
  EXPECT_TRUE(saved.calibration.covariance.known);
  EXPECT_FALSE(ParseCovarianceEntry(CovarianceEntry(covariance) + " 5", back));
  // A board plane likewise, read back into the saved calibration; a damaged one leaves the model a point's.
  TamoHandEye::BoardPlane board;
  board.normal = {0.0, 0.6, 0.8};
  for (std::size_t k = 0; k < board.normalCrossCovariance.size(); ++k)
    board.normalCrossCovariance[k] = 1e-7 * static_cast<double>(k);
  board.normalCovariance[4] = 3e-9;
  board.shotNormalSigmaDeg = 0.031;
  board.normalFreedom = 25;
  settings.board = std::pair{std::string("point+normal"), board};
  ASSERT_TRUE(WriteSettingsFile(path, settings, ResultTables(result)));
  ASSERT_TRUE(ReadSavedResult(path, saved, why)) << why;
  EXPECT_EQ(saved.calibration.model, "point+normal");
  EXPECT_EQ(saved.calibration.board.normalCrossCovariance, board.normalCrossCovariance);
  EXPECT_EQ(saved.calibration.board.normal, board.normal);
  EXPECT_EQ(saved.calibration.board.normalFreedom, 25);
  std::string model = "point";
  EXPECT_FALSE(ParseBoardEntry(BoardEntry("point+normal", board) + " 1", model, board));
  EXPECT_FALSE(ParseBoardEntry("point 0 0 1", model, board));
  EXPECT_EQ(model, "point");
}

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(1 << 12, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

// A process id that no process has: a child that has ended and been reaped.
pid_t EndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

TEST(ReplaceFile, FollowsLinksWritesStreamsAndRefusesWhatItMustNotReplace) {
  const TempFolder f;
  std::string why;
  // A link: its target gets the new content, the link stays a link.
  f.Touch("target.json", "old");
  fs::create_symlink("target.json", f.path / "link.json");
  ASSERT_TRUE(ReplaceFile((f.path / "link.json").string(), "new", &why)) << why;
  EXPECT_TRUE(fs::is_symlink(f.path / "link.json"));
  EXPECT_EQ(Contents(f.path / "target.json"), "new");
  // A device is written to, not replaced by a file.
  ASSERT_TRUE(ReplaceFile("/dev/null", "x", &why)) << why;
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  // A pipe: written to when something reads it, refused at once when nothing does.
  const fs::path fifo = f.path / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(ReplaceFile(fifo.string(), "x", &why));
  EXPECT_THAT(why, HasSubstr("nothing reads"));
  auto reader = std::async(std::launch::async, [&] { return Contents(fifo); });
  while (!ReplaceFile(fifo.string(), "through the pipe", &why)) std::this_thread::yield();
  EXPECT_EQ(reader.get(), "through the pipe");
  EXPECT_TRUE(fs::is_fifo(fifo));
  // A folder, and a read-only file (read-only even to root), are refused and stay as they were.
  EXPECT_FALSE(ReplaceFile((f.path / "images").string(), "x", &why));
  EXPECT_THAT(why, HasSubstr("folder"));
  f.Touch("kept.json", "kept");
  fs::permissions(f.path / "kept.json", fs::perms::owner_read | fs::perms::group_read);
  EXPECT_FALSE(ReplaceFile((f.path / "kept.json").string(), "x", &why));
  EXPECT_THAT(why, HasSubstr("read-only"));
  EXPECT_EQ(Contents(f.path / "kept.json"), "kept");
  EXPECT_FALSE(ReplaceFile("", "x", &why));
  // Temporary files a killed save left are removed by the next save beside them; a running one's stay.
  const std::string stale = ".out.json.tarn-" + std::to_string(EndedProcess()) + "-Ab12Cd";
  const std::string running = ".out.json.tarn-" + std::to_string(::getppid()) + "-Ab12Cd";
  f.Touch(stale);
  f.Touch(running);
  ASSERT_TRUE(ReplaceFile((f.path / "out.json").string(), "{}", &why)) << why;
  EXPECT_FALSE(fs::exists(f.path / stale));
  EXPECT_TRUE(fs::exists(f.path / running));
  // A new file gets the permissions the process's mask leaves.
  const mode_t mask = ::umask(027);
  ASSERT_TRUE(ReplaceFile((f.path / "masked.json").string(), "{}", &why)) << why;
  ::umask(mask);
  struct stat status {};
  ASSERT_EQ(::stat((f.path / "masked.json").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
}

TEST(DataFiles, EveryReaderRefusesAPipeAtOnceAndAFileBeyondItsBound) {
  const TempFolder f;
  const fs::path fifo = f.path / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Each would wait for a writer forever if it opened the pipe as a file.
  const auto refuses = [](const std::string& path, bool expectTooLarge) {
    std::vector<TamoHandEye::MarkerBoardResult> markers;
    DataFileError error;
    EXPECT_FALSE(ReadMarkers(path, MarkerForm::Points, 1.0, markers, error)) << path;
    EXPECT_EQ(error.kind, expectTooLarge ? DataFileError::Kind::TooLarge : DataFileError::Kind::CannotOpen);
    TamoHandEye::RobotRows rows;
    EXPECT_FALSE(ReadRobotTable(path, 6, "fanuc", rows, error)) << path;
    SavedResult saved;
    std::string why;
    EXPECT_FALSE(ReadSavedResult(path, saved, why)) << path;
    SettingsFileContent content;
    EXPECT_FALSE(ReadSettingsFile(path, content)) << path;
    return why;
  };
  EXPECT_THAT(refuses(fifo.string(), false), HasSubstr("not a regular file (it is a pipe)"));
  EXPECT_THAT(refuses("/dev/zero", false), HasSubstr("not a regular file (it is a device)"));
  // A file of 65 MB (sparse: it takes no room) is refused before a byte is read.
  const fs::path big = f.path / "big.json";
  std::ofstream(big) << "[";
  fs::resize_file(big, kMaxTableBytes + 1);
  EXPECT_THAT(refuses(big.string(), true), HasSubstr("big.json holds 65 MB, more than a result file may (16 MB)"));
}

}  // namespace
