// SPDX-License-Identifier: Apache-2.0
// The command-line program end to end: synthetic data sets in, calibrations out, checked against the
// data set's ground truth.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <nlohmann/json.hpp>

#include <Eigen/Geometry>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::HasSubstr;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Outcome Tarn(const std::string& arguments) {
  // CTest runs the cases of this program in parallel processes: each has files of its own.
  const fs::path dir = fs::path(::testing::TempDir());
  const std::string stem = "tarn-cli-" + std::to_string(::getpid());
  const fs::path out = dir / (stem + ".out");
  const fs::path err = dir / (stem + ".err");
  const std::string command = std::string(TARN_PROGRAM) + " " + arguments + " >" + out.string() + " 2>" + err.string();
  const int raw = std::system(command.c_str());
  Outcome o;
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  o.out = Slurp(out);
  o.err = Slurp(err);
  std::error_code ignored;
  fs::remove(out, ignored);
  fs::remove(err, ignored);
  return o;
}

fs::path DataSet(const std::string& name) { return fs::path(::testing::TempDir()) / ("tarn-cli-" + name); }

Eigen::Matrix4d MatrixOf(const json& rows) {
  Eigen::Matrix4d m;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) m(r, c) = rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
  }
  return m;
}

// Translation error (mm) and rotation error (degrees) of a solved camera matrix against the truth.
std::pair<double, double> Errors(const json& solved, const json& truth) {
  const Eigen::Matrix4d s = MatrixOf(solved["camera_matrix"]);
  const Eigen::Matrix4d t = MatrixOf(truth["camera"]["matrixMm"]);
  const double translation = (s.topRightCorner<3, 1>() - t.topRightCorner<3, 1>()).norm();
  const double rotation =
      Eigen::AngleAxisd(Eigen::Matrix3d(s.topLeftCorner<3, 3>() * t.topLeftCorner<3, 3>().transpose())).angle() *
      180.0 / 3.14159265358979323846;
  return {translation, rotation};
}

// Small shots keep the test quick; the bound is looser than the demo's for it: at 640 x 480 one pixel of
// the centroid's perspective shift is about 0.7 mm on the board at 0.5 m, and 10 poses average less.
constexpr double kTranslationMm = 3.0;
constexpr double kRotationDeg = 0.3;

json Synthesise(const std::string& name, const std::string& extra, const std::string& resolution = "640x480") {
  const fs::path dir = DataSet(name);
  fs::remove_all(dir);
  const Outcome o = Tarn("synth " + dir.string() + " --poses 10 --resolution " + resolution + " " + extra);
  EXPECT_EQ(o.status, 0) << o.err;
  std::ifstream truth(dir / "truth.json");
  return json::parse(truth);
}

json Calibrate(const std::string& name, const std::string& robot, const std::string& extra = "") {
  const fs::path dir = DataSet(name);
  const Outcome o = Tarn("calibrate --images " + (dir / "images").string() + " --clouds " + (dir / "clouds").string() +
                         " --poses " + (dir / "robot.txt").string() + " --robot " + robot + " --json " + extra);
  EXPECT_EQ(o.status, 0) << o.err;
  return o.status == 0 ? json::parse(o.out) : json();
}

TEST(TarnCli, EveryRobotTypeCalibratesItsOwnRows) {
  for (const std::string robot : {"generic3", "generic4", "fanuc", "abb-euler", "kuka", "yaskawa", "abb-quat", "ur"}) {
    SCOPED_TRACE(robot);
    const json truth = Synthesise(robot, "--robot " + robot + " --seed 3");
    const json result = Calibrate(robot, robot);
    ASSERT_FALSE(result.is_null());
    const auto [translation, rotation] = Errors(result, truth);
    EXPECT_LT(translation, kTranslationMm);
    EXPECT_LT(rotation, kRotationDeg);
    const std::size_t values = robot == "generic4" || robot == "abb-quat" ? 7 : 6;
    EXPECT_EQ(result["camera_row"].size(), values);
  }
}

TEST(TarnCli, EyeToHandWithThePoseSearchAndSaving) {
  // The marker rides on the flange further from the camera and more tilted: larger shots keep its
  // innermost ring big enough to stay round.
  const json truth = Synthesise("eth", "--eye-to-hand --robot kuka --noise 0.1", "1024x768");
  const fs::path saved = DataSet("eth") / "result.csv";
  const json result = Calibrate("eth", "kuka", "--eye-to-hand --ransac 3 --save " + saved.string());
  ASSERT_FALSE(result.is_null());
  const auto [translation, rotation] = Errors(result, truth);
  EXPECT_LT(translation, kTranslationMm);
  EXPECT_LT(rotation, kRotationDeg);
  EXPECT_EQ(result["mask"].size(), 10u);
  ASSERT_EQ(result["shots"].size(), 10u);  // each shot's fitted centre and its figures
  EXPECT_LT(result["shots"][3]["fit"]["ratio_deviation"].get<double>(), 0.003);
  const Eigen::Vector3d marker(result["marker_position"][0], result["marker_position"][1],
                               result["marker_position"][2]);
  const Eigen::Vector3d markerTruth(truth["markerMm"][0], truth["markerMm"][1], truth["markerMm"][2]);
  EXPECT_LT((marker - markerTruth).norm(), kTranslationMm);

  // The desktop program's result file: settings, then the pose row, the matrix and the marker, in GB2312.
  const std::string text = Slurp(saved);
  EXPECT_THAT(text,
              testing::StartsWith(
                  "HandEyeType:1\nRobotType:KUKA [X,Y,Z]mm|[A B C]deg\nIsMeter:0\nIsRadian:0\n"
                  "Exhaust:1\nRansacDist:0.003\nMarkerType:\xCD\xAC\xD0\xC4\xD4\xB2(\xC6\xBD\xC3\xE6\xC4\xE2\xBA\xCF)\n"
                  "Covariance:"));
  EXPECT_THAT(text, HasSubstr("\nEND:\nX,Y,Z,R1,R2,R3,\n"));
  EXPECT_THAT(text, HasSubstr("\n\n\xC1\xD0"
                              "1,\xC1\xD0"
                              "2,\xC1\xD0"
                              "3,\xC1\xD0"
                              "4,\n"));
  EXPECT_THAT(text, HasSubstr("\n0,0,0,1,\n\nX,Y,Z,\n"));
  EXPECT_FALSE(fs::exists(saved.string() + ".part"));
}

TEST(TarnCli, DetectThenCalibrateFromAMarkersFile) {
  const json truth = Synthesise("markers", "--robot fanuc --format bmp");
  const fs::path dir = DataSet("markers");
  const Outcome detected = Tarn("detect --json --format bmp --images " + (dir / "images").string() + " --clouds " +
                                (dir / "clouds").string());
  ASSERT_EQ(detected.status, 0) << detected.err;
  const json shots = json::parse(detected.out);
  ASSERT_EQ(shots.size(), 10u);
  // The default centre is fitted, with its quality figures; the centroid method has none and is coarser.
  const Outcome centroids = Tarn("detect --json --centre centroid --format bmp --images " + (dir / "images").string() +
                                 " --clouds " + (dir / "clouds").string());
  ASSERT_EQ(centroids.status, 0) << centroids.err;
  const json coarse = json::parse(centroids.out);
  double fitWorst = 0.0, centroidWorst = 0.0;
  std::ofstream markers(dir / "markers.txt");
  markers << "# x y z u v\n";
  for (std::size_t i = 0; i < shots.size(); ++i) {
    EXPECT_EQ(shots[i]["code"], 0);
    EXPECT_LT(shots[i]["fit"]["ratio_deviation"].get<double>(), 0.003);
    EXPECT_FALSE(coarse[i].contains("fit"));
    const auto pixelError = [&](const json& shot) {
      return std::hypot(shot["u"].get<double>() - truth["imageCentresPx"][i][0].get<double>(),
                        shot["v"].get<double>() - truth["imageCentresPx"][i][1].get<double>());
    };
    fitWorst = std::max(fitWorst, pixelError(shots[i]));
    centroidWorst = std::max(centroidWorst, pixelError(coarse[i]));
    markers << shots[i]["x"] << " " << shots[i]["y"] << " " << shots[i]["z"] << " " << shots[i]["u"] << " "
            << shots[i]["v"] << "\n";
  }
  markers.close();
  EXPECT_LT(fitWorst, 0.05);
  EXPECT_GT(centroidWorst, 0.2);
  EXPECT_EQ(
      Tarn("detect --centre middle --images " + (dir / "images").string() + " --clouds " + (dir / "clouds").string())
          .status,
      1);
  const Outcome o = Tarn("calibrate --markers " + (dir / "markers.txt").string() + " --poses " +
                         (dir / "robot.txt").string() + " --robot fanuc");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.out, HasSubstr("Camera in the flange frame"));
  EXPECT_THAT(o.out, HasSubstr("RMS "));
}

TEST(TarnCli, BadInputGivesAMessageAndAFailingStatus) {
  Synthesise("bad-input", "--robot fanuc --seed 3");
  const fs::path dir = DataSet("bad-input");
  const std::string images = " --images " + (dir / "images").string() + " --clouds " + (dir / "clouds").string();
  const std::string poses = " --poses " + (dir / "robot.txt").string();

  Outcome o = Tarn("calibrate" + images + poses + " --robot motoman");
  EXPECT_NE(o.status, 0);
  EXPECT_THAT(o.err, HasSubstr("unknown robot type \"motoman\""));
  EXPECT_THAT(o.err, HasSubstr("generic3, generic4, fanuc"));

  o = Tarn("calibrate" + images + " --robot fanuc --poses " + (dir / "nothing.txt").string());
  EXPECT_NE(o.status, 0);
  EXPECT_THAT(o.err, HasSubstr("cannot open the robot data file"));

  // Seven values per row read as a six-value type.
  o = Tarn("calibrate" + images + poses + " --robot abb-quat");
  EXPECT_NE(o.status, 0);
  EXPECT_THAT(o.err, HasSubstr("but a abb-quat row has 7"));

  o = Tarn("calibrate --images /nonexistent --clouds /nonexistent" + poses + " --robot fanuc");
  EXPECT_NE(o.status, 0);
  EXPECT_THAT(o.err, HasSubstr("the image folder does not exist"));

  std::ofstream(dir / "short.txt") << "1 2 3 4 5 6\n";
  o = Tarn("calibrate" + images + " --robot fanuc --poses " + (dir / "short.txt").string());
  EXPECT_NE(o.status, 0);
  EXPECT_THAT(o.err, HasSubstr("marker positions but 1 robot poses"));

  std::ofstream(dir / "bad.txt") << "1 2 3 4 5 x6\n";
  o = Tarn("calibrate" + images + " --robot fanuc --poses " + (dir / "bad.txt").string());
  EXPECT_NE(o.status, 0);
  EXPECT_THAT(o.err, HasSubstr("line 1: \"x6\" is not a number"));

  o = Tarn("calibrate" + poses + " --robot fanuc");
  EXPECT_NE(o.status, 0);
  EXPECT_THAT(o.err, HasSubstr("--markers"));

  o = Tarn("calibrate --markers m.txt --images a --clouds b" + poses + " --robot fanuc");
  EXPECT_NE(o.status, 0);

  o = Tarn("frobnicate");
  EXPECT_NE(o.status, 0);

  o = Tarn("detect --images " + (dir / "images").string() + " --clouds " + (dir / "images").string());
  EXPECT_NE(o.status, 0);
  EXPECT_THAT(o.err, HasSubstr("no point cloud with the number"));

  o = Tarn("synth " + (dir / "x").string() + " --resolution big");
  EXPECT_NE(o.status, 0);
  EXPECT_THAT(o.err, HasSubstr("--resolution"));
}

TEST(TarnCli, HelpAndVersion) {
  for (const std::string command : {"", "synth", "detect", "calibrate", "demo"}) {
    const Outcome o = Tarn(command + " --help");
    EXPECT_EQ(o.status, 0) << command;
    EXPECT_THAT(o.out, HasSubstr("Usage")) << command;
  }
  EXPECT_THAT(Tarn("--version").out, HasSubstr("2.1.1-733fd48"));
}

// Careless and hostile input: each ends in a clear message and the documented status, and nothing
// computed or owned by the user is lost.
TEST(TarnCli, BrokenInputsEndInAMessageAndLoseNothing) {
  Synthesise("hostile", "--robot fanuc --seed 5", "480x360");
  const fs::path dir = DataSet("hostile");
  const std::string images = (dir / "images").string(), clouds = (dir / "clouds").string();
  const std::string shots = " --images " + images + " --clouds " + clouds;

  // Option errors exit 1, as every bad input does; so does a distance that is not a finite one.
  for (const std::string& bad :
       std::vector<std::string>{"calibrate --poses", "detect --images", "calibrate --bogus", "frobnicate",
                                "synth " + (dir / "x").string() + " --poses 2"}) {
    EXPECT_EQ(Tarn(bad).status, 1) << bad;
  }
  for (const std::string distance : {"nan", "inf", "-1", "1e400", "3mm"}) {
    const Outcome o =
        Tarn("calibrate" + shots + " --poses " + (dir / "robot.txt").string() + " --robot fanuc --ransac " + distance);
    EXPECT_EQ(o.status, 1) << distance;
    EXPECT_THAT(o.err, HasSubstr("--ransac")) << distance;
  }

  // A data set is not overwritten unless asked.
  Outcome o = Tarn("synth " + dir.string() + " --poses 3 --resolution 480x360");
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("--force"));
  EXPECT_TRUE(fs::exists(dir / "images" / "shot_9.png"));

  // A robot file whose blank lines hold spaces, and a user's own file where a save might put its
  // temporary one.
  std::ofstream(dir / "spaced.txt") << "   \n" << Slurp(dir / "robot.txt") << " \t \n";
  const fs::path saved = dir / "result.csv";
  std::ofstream(saved.string() + ".part") << "mine";
  o = Tarn("calibrate" + shots + " --robot fanuc --poses " + (dir / "spaced.txt").string() + " --save " +
           saved.string());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Slurp(saved.string() + ".part"), "mine");
  EXPECT_THAT(Slurp(saved), testing::StartsWith("HandEyeType:0\n"));
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) files += entry.is_regular_file();
  EXPECT_EQ(files, 5u) << "robot.txt, truth.json, spaced.txt, result.csv and the user's file, no temporary";

  // A robot file of one endless line is refused at the first line, without reading it all.
  std::ofstream(dir / "endless.txt") << std::string(3u << 20, '1');
  o = Tarn("calibrate" + shots + " --robot fanuc --poses " + (dir / "endless.txt").string());
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("line 1 is longer than"));

  // A symbolic link loop among the shots is reported and skipped; the other shots are detected.
  fs::create_symlink("loop_77.png", dir / "images" / "loop_77.png");
  // A name that is not UTF-8 (GBK bytes from a Windows share): the JSON keeps every result.
  fs::rename(dir / "images" / "shot_4.png", dir / "images" / "\xC9\xE3_4.png");
  // An image that is not an image: its file and the reason are named.
  std::ofstream(dir / "images" / "shot_6.png", std::ios::trunc) << "not an image";
  o = Tarn("detect --json" + shots);
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("loop_77.png: cannot be read"));
  const json detected = json::parse(o.out);
  ASSERT_EQ(detected.size(), 10u);
  EXPECT_THAT(detected[4]["image"].get<std::string>(), HasSubstr("\xEF\xBF\xBD_4.png"));
  EXPECT_EQ(detected[4]["code"], 0);
  EXPECT_EQ(detected[6]["code"], 107);
  EXPECT_THAT(detected[6]["message"].get<std::string>(),
              HasSubstr("the image shot_6.png cannot be used: not an image"));
  o = Tarn("detect" + shots);
  EXPECT_THAT(o.out, HasSubstr("shot_6.png cannot be used"));
}

// Files that are not what they seem, each named with what was expected; a pipe is refused, not waited on.
TEST(TarnCli, OddFilesAndOptionsGetMessagesThatNameThem) {
  const fs::path dir = DataSet("odd-files");
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "markers.txt") << "0.1 0.2 0.5\n0.1 0.3 0.5\n";
  const std::string markers = " --markers " + (dir / "markers.txt").string();
  const auto calibrate = [&](const std::string& robotFile, const std::string& extra = "") {
    std::ofstream(dir / "robot.txt") << robotFile;
    return Tarn("calibrate --robot fanuc --poses " + (dir / "robot.txt").string() + extra);
  };
  // A byte-order mark is not a name column: the row is read whole.
  EXPECT_THAT(calibrate("\xEF\xBB\xBF"
                        "1 2 3 4 5 6\n",
                        markers)
                  .err,
              HasSubstr("2 marker positions but 1 robot poses"));
  EXPECT_THAT(calibrate("nan 2 3 4 5 6\n", markers).err, HasSubstr("\"nan\" is not a finite number"));
  EXPECT_THAT(calibrate("1 2 3 1e308 5 6\n2 3 4 5 6 7\n", markers).err,
              HasSubstr("robot row 1: value 4 (1e+308) is beyond"));
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  Outcome o = calibrate("1 2 3 4 5 6\n", " --markers " + (dir / "pipe").string());
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("is not a regular file (it is a pipe)"));
  std::ofstream(dir / "object.json") << "{\"x\": 1}";
  EXPECT_THAT(calibrate("1 2 3 4 5 6\n", " --markers " + (dir / "object.json").string()).err,
              HasSubstr("is JSON, but not the output of tarn detect"));
  o = calibrate("1 2 3 4 5 6\n", markers + " --output ''");
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("--output: must name a file"));
  o = Tarn("frob");
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("there is no command \"frob\"; the commands are synth, detect, calibrate"));
}

// The calibration report through the command line: a set-up mistake is named and --strict fails on it,
// the pose search repeats under the same seed, and failures come as one JSON object that says what to do.
TEST(TarnCli, ReportNamesMistakesAndFailuresSayWhatToDo) {
  Synthesise("report", "--robot fanuc --seed 5");
  const fs::path dir = DataSet("report");
  Outcome o = Tarn("detect --json --images " + (dir / "images").string() + " --clouds " + (dir / "clouds").string());
  ASSERT_EQ(o.status, 0) << o.err;
  std::ofstream markers(dir / "markers.txt");
  for (const json& shot : json::parse(o.out)) markers << shot["x"] << " " << shot["y"] << " " << shot["z"] << "\n";
  markers.close();
  std::vector<std::string> rows;
  std::ifstream robot(dir / "robot.txt");
  for (std::string line; std::getline(robot, line);) rows.push_back(line);
  std::ofstream reversed(dir / "reversed.txt");
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) reversed << *it << "\n";
  reversed.close();
  std::ofstream few(dir / "few.txt");
  for (std::size_t i = 0; i < 4; ++i) few << rows[i] << "\n";
  few.close();
  const std::string base = "calibrate --json --robot fanuc --markers " + (dir / "markers.txt").string();

  o = Tarn(base + " --strict --poses " + (dir / "reversed.txt").string());
  EXPECT_EQ(o.status, 3) << o.err;
  const json report = json::parse(o.out);
  EXPECT_EQ(report["convention"], "sxyz");
  EXPECT_EQ(report["leave_one_out_mm"].size(), 10u);
  EXPECT_GT(report["uncertainty"]["translation_mm"]["norm"].get<double>(), 1.0);
  bool named = false;
  for (const json& w : report["warnings"]) {
    named |= w["code"] == "likely-setup" && w["message"].get<std::string>().find("reverse order") != std::string::npos;
  }
  EXPECT_TRUE(named) << report["warnings"].dump();

  const std::string search = base + " --ransac 1 --poses " + (dir / "robot.txt").string();
  const Outcome first = Tarn(search + " --seed 42");
  const Outcome second = Tarn(search + " --seed 42");
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, second.out);
  EXPECT_EQ(json::parse(first.out)["seed"], 42);
  EXPECT_TRUE(json::parse(first.out)["warnings"].empty());

  // A search without a distance follows the data; a tolerance tighter than the data allows is "uncertain",
  // and --strict holds the result to it.
  o = Tarn(base + " --ransac --tolerance 0.001,5 --strict --poses " + (dir / "robot.txt").string());
  EXPECT_EQ(o.status, 3) << o.err;
  const json tight = json::parse(o.out);
  EXPECT_TRUE(tight["search"]["distance_from_data"].get<bool>());
  EXPECT_GT(tight["search"]["samples"].get<int>(), 0);  // what the search itself did
  EXPECT_FALSE(tight["search"]["fell_back"].get<bool>());
  EXPECT_TRUE(tight["search"]["dropped"].empty());
  EXPECT_FALSE(tight["tolerance"]["met"].get<bool>());
  EXPECT_EQ(tight["warnings"].size(), 1u);
  EXPECT_EQ(tight["warnings"][0]["code"], "uncertain");
  for (const std::string bad : {"0", "1,-1", "x", "1,nan"}) {
    o = Tarn(base + " --tolerance " + bad + " --poses " + (dir / "robot.txt").string());
    EXPECT_EQ(o.status, 1) << bad;
    EXPECT_THAT(o.err, HasSubstr("--tolerance")) << bad;
  }

  // Poses are counted from 1, as the robot file's lines: a marker moved on line 7 is "pose 7" everywhere.
  std::ifstream points(dir / "markers.txt");
  std::ofstream bumped(dir / "bumped.txt");
  int lineNumber = 0;
  for (std::string text; std::getline(points, text);) {
    std::istringstream values(text);
    double x = 0.0, y = 0.0, z = 0.0;
    values >> x >> y >> z;
    bumped << std::setprecision(17) << x + (++lineNumber == 7 ? 0.03 : 0.0) << " " << y << " " << z << "\n";
  }
  bumped.close();
  const std::string bumpedRun =
      "calibrate --robot fanuc --markers " + (dir / "bumped.txt").string() + " --poses " + (dir / "robot.txt").string();
  o = Tarn(bumpedRun);
  EXPECT_THAT(o.out, HasSubstr("Pose 7: ")) << o.out;
  EXPECT_THAT(o.out, testing::ContainsRegex("\n +10 +yes"));  // the residual table's last line
  o = Tarn(bumpedRun + " --json");
  bool seven = false;
  const json bumpedReport = json::parse(o.out);
  for (const json& w : bumpedReport["warnings"]) seven |= w["code"] == "suspect-pose" && w["pose"] == 7;
  EXPECT_TRUE(seven) << o.out;

  o = Tarn(base + " --poses " + (dir / "few.txt").string());
  EXPECT_EQ(o.status, 1);  // 10 markers, 4 rows: the command line's own check
  EXPECT_THAT(o.out, HasSubstr("\"error\""));
  std::ofstream fewMarkers(dir / "few-markers.txt");
  std::ifstream all(dir / "markers.txt");
  std::string line;
  for (int i = 0; i < 4 && std::getline(all, line); ++i) fewMarkers << line << "\n";
  fewMarkers.close();
  o = Tarn("calibrate --json --robot fanuc --markers " + (dir / "few-markers.txt").string() + " --poses " +
           (dir / "few.txt").string());
  EXPECT_EQ(o.status, 2);
  const json error = json::parse(o.out)["error"];
  EXPECT_EQ(error["code"], 201);
  EXPECT_THAT(error["message"].get<std::string>(), HasSubstr("needs at least 5 poses, got 4"));
}

// Integrators' formats: flange poses as 4 x 4 matrices and targets as full poses, comma-separated with a
// header line, in millimetres; tarn detect's JSON as the markers file. Each gives the calibration of the
// same data in the robot type's rows and a markers file of points.
TEST(TarnCli, MatricesTargetsAndDetectOutputGiveTheSameCalibration) {
  const json truth = Synthesise("formats", "--robot fanuc --seed 6");
  const fs::path dir = DataSet("formats");
  Outcome o = Tarn("detect --json --images " + (dir / "images").string() + " --clouds " + (dir / "clouds").string());
  ASSERT_EQ(o.status, 0) << o.err;
  std::ofstream(dir / "detect.json") << o.out;
  const json shots = json::parse(o.out);
  std::ofstream markers(dir / "markers.txt");
  std::ofstream targets(dir / "targets.csv");
  std::ofstream normals(dir / "normals.txt");  // x y z and the board's normal
  targets.precision(17);
  markers.precision(17);
  normals.precision(17);
  targets << "x_mm,y_mm,z_mm,qw,qx,qy,qz\n";
  for (const json& shot : shots) {
    const double x = shot["x"], y = shot["y"], z = shot["z"];
    markers << x << " " << y << " " << z << "\n";
    const json& n = shot["normal"];
    ASSERT_NEAR(std::hypot(n[0].get<double>(), n[1].get<double>(), n[2].get<double>()), 1.0, 1e-12);
    EXPECT_LT(n[2].get<double>(), 0.0);  // towards the camera
    normals << x << " " << y << " " << z << " " << n[0] << " " << n[1] << " " << n[2] << "\n";
    targets << x * 1000 << "," << y * 1000 << "," << z * 1000 << ",1,0,0,0\n";
  }
  markers.close();
  targets.close();
  normals.close();
  // FANUC rows as matrices: R = Rz(R)·Ry(P)·Rx(W), built here with Eigen.
  std::ifstream rows(dir / "robot.txt");
  std::ofstream matrices(dir / "poses.csv");
  std::ofstream whole(dir /
                      "whole-targets.txt");  // the target's true pose: (flange·camera)⁻¹ · board (the base's axes)
  whole.precision(17);
  const Eigen::Matrix4d camera = MatrixOf(truth["camera"]["matrixMm"]);
  std::size_t shot = 0;
  std::ofstream inverted(dir / "inverted.csv");
  matrices.precision(17);
  inverted.precision(17);
  matrices << "m00,m01,m02,m03,m10,m11,m12,m13,m20,m21,m22,m23,m30,m31,m32,m33\n";
  for (double x, y, z, w, p, r; rows >> x >> y >> z >> w >> p >> r;) {
    const auto rad = [](double d) { return d * 3.14159265358979323846 / 180.0; };
    Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
    pose.linear() =
        (Eigen::AngleAxisd(rad(r), Eigen::Vector3d::UnitZ()) * Eigen::AngleAxisd(rad(p), Eigen::Vector3d::UnitY()) *
         Eigen::AngleAxisd(rad(w), Eigen::Vector3d::UnitX()))
            .toRotationMatrix();
    pose.translation() = Eigen::Vector3d(x, y, z);
    for (const auto& [m, out] : {std::pair{pose.matrix(), &matrices}, std::pair{pose.inverse().matrix(), &inverted}}) {
      for (int k = 0; k < 16; ++k) *out << m(k / 4, k % 4) << (k < 15 ? "," : "\n");
    }
    Eigen::Matrix4d target = Eigen::Matrix4d::Identity();
    target.topLeftCorner<3, 3>() = (pose.linear() * camera.topLeftCorner<3, 3>()).transpose();
    const json& s = shots[shot++];
    target.topRightCorner<3, 1>() = Eigen::Vector3d(s["x"], s["y"], s["z"]);
    for (int k = 0; k < 12; ++k) whole << target(k / 4, k % 4) << (k < 11 ? " " : "\n");
  }
  matrices.close();
  inverted.close();
  whole.close();

  o = Tarn("calibrate --json --all-conventions --robot fanuc --poses " + (dir / "robot.txt").string() + " --markers " +
           (dir / "markers.txt").string());
  ASSERT_EQ(o.status, 0) << o.err;
  const json reference = json::parse(o.out);
  for (std::size_t k = 0; k < 6; ++k) {
    EXPECT_NEAR(reference["camera_rows"]["fanuc"][k].get<double>(), reference["camera_row"][k].get<double>(), 1e-9);
  }
  const Eigen::Matrix4d expected = MatrixOf(reference["camera_matrix"]);
  const fs::path yaml = dir / "result.yaml";
  for (const std::string& variant :
       {"--robot matrix --model point --poses " + (dir / "poses.csv").string() + " --targets " +
            (dir / "targets.csv").string() + " --marker-unit mm --output " + yaml.string(),
        "--robot matrix --invert --model point --poses " + (dir / "inverted.csv").string() + " --markers " +
            (dir / "detect.json").string(),
        "--robot fanuc --model point --poses " + (dir / "robot.txt").string() + " --markers " +
            (dir / "detect.json").string(),
        "--robot fanuc --model point --poses " + (dir / "robot.txt").string() + " --markers " +
            (dir / "normals.txt").string()}) {
    SCOPED_TRACE(variant);
    o = Tarn("calibrate --json " + variant);
    ASSERT_EQ(o.status, 0) << o.err;
    const json result = json::parse(o.out);
    EXPECT_LT((MatrixOf(result["camera_matrix"]) - expected).cwiseAbs().maxCoeff(), 1e-6);
    EXPECT_EQ(result["residuals_mm"].size(), 10u);
  }
  EXPECT_EQ(reference["model"], "point");
  // With the normals the file carries, the solve uses them: near the points' solution on these clean renders, and
  // held to no looser a σ.
  for (const std::string file : {"detect.json", "normals.txt"}) {
    SCOPED_TRACE(file);
    o = Tarn("calibrate --json --robot-noise 0.01mm,0.002deg --robot fanuc --poses " + (dir / "robot.txt").string() +
             " --markers " + (dir / file).string());
    ASSERT_EQ(o.status, 0) << o.err;
    const json result = json::parse(o.out);
    EXPECT_EQ(result["model"], "point+normal");
    EXPECT_EQ(result["shots_with_normal"], 10);
    EXPECT_LT((MatrixOf(result["camera_matrix"]) - expected).cwiseAbs().maxCoeff(), 0.05);
    EXPECT_NEAR(result["board"]["normal"][2].get<double>(), 1.0, 0.01);  // the board lies flat in the base
    // The saved board plane judges the shots' normals too: its own shots agree with it.
    std::ofstream(dir / "joint.json") << o.out;
    o = Tarn("verify --json --result " + (dir / "joint.json").string() + " --poses " + (dir / "robot.txt").string() +
             " --markers " + (dir / file).string());
    ASSERT_EQ(o.status, 0) << o.err;
    const json check = json::parse(o.out);
    EXPECT_EQ(check["shots_with_normal"], 10);
    EXPECT_LT(check["normal_rms_deg"].get<double>(), 0.5);
    EXPECT_NE(check["verdict"], "drift");
  }
  // The suggestions scored with the file's normals, and by points alone when asked.
  for (const std::string model : {"auto", "point"}) {
    o = Tarn("suggest --json --count 2 --model " + model + " --robot-noise 0.01mm,0.002deg --robot fanuc --poses " +
             (dir / "robot.txt").string() + " --markers " + (dir / "normals.txt").string());
    ASSERT_EQ(o.status, 0) << o.err;
    const json next = json::parse(o.out);
    EXPECT_EQ(next["model"], model == "auto" ? "point+normal" : "point");
    EXPECT_EQ(next["suggestions"].size(), 2u);
  }
  // Whole target poses: their rotations are measured too.
  o = Tarn("calibrate --json --robot fanuc --poses " + (dir / "robot.txt").string() + " --targets " +
           (dir / "whole-targets.txt").string());
  ASSERT_EQ(o.status, 0) << o.err;
  const json targeted = json::parse(o.out);
  EXPECT_EQ(targeted["model"], "point+rotation");
  EXPECT_EQ(targeted["shots_with_normal"], 10);
  const Eigen::Matrix4d off = MatrixOf(targeted["camera_matrix"]) - camera;
  const Eigen::Matrix3d turnOff = off.topLeftCorner<3, 3>();
  const Eigen::Vector3d shiftOff = off.topRightCorner<3, 1>();
  EXPECT_LT(turnOff.cwiseAbs().maxCoeff(), 1e-4);
  EXPECT_LT(shiftOff.norm(), 0.1);
  o = Tarn("calibrate --robot fanuc --robot-noise 0.03 --poses " + (dir / "robot.txt").string() + " --markers " +
           (dir / "normals.txt").string());
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("MM,DEG"));
  const std::string written = Slurp(yaml);
  EXPECT_THAT(written, HasSubstr("robot: \"matrix\"\n"));
  EXPECT_THAT(written, HasSubstr("camera_matrix:\n  - ["));
  EXPECT_THAT(written, HasSubstr("schema: 1\n"));
  EXPECT_THAT(written, HasSubstr("warnings: []\n"));

  // tarn detect's table as it stands.
  o = Tarn("detect --images " + (dir / "images").string() + " --clouds " + (dir / "clouds").string());
  std::ofstream(dir / "detect.txt") << o.out;
  o = Tarn("calibrate --json --model point --robot fanuc --poses " + (dir / "robot.txt").string() + " --markers " +
           (dir / "detect.txt").string());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_LT((MatrixOf(json::parse(o.out)["camera_matrix"]) - expected).cwiseAbs().maxCoeff(), 1e-3);  // 6 decimals

  // A markers file in JSON with a shot that has no marker is refused, naming the shot.
  std::ofstream(dir / "missing.json") << R"([{"image": "a.png", "code": 0, "x": 0.1, "y": 0, "z": 0.5},
                                           {"image": "b.png", "code": 101, "message": "no marker"}])";
  o = Tarn("calibrate --robot fanuc --poses " + (dir / "robot.txt").string() + " --markers " +
           (dir / "missing.json").string());
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("shot 2 has no marker"));
}

// A calibration saved both ways (--json and the desktop program's result file) checked against new shots
// of the same set-up (robot type and set-up taken from the saved file): ok; the same shots seen by a
// camera moved 2 mm along its x axis: drift, exit status 3 under --strict, the move recovered.
TEST(TarnCli, VerifyASavedCalibrationAgainstNewShots) {
  Synthesise("verify-old", "--robot kuka");
  Synthesise("verify-new", "--robot kuka --seed 7");
  const fs::path old = DataSet("verify-old"), fresh = DataSet("verify-new");
  const json saved = Calibrate(
      "verify-old", "kuka", "--save " + (old / "saved.csv").string() + " --output " + (old / "result.YAML").string());
  std::ofstream(old / "result.json") << saved.dump();
  // A result written before the keys were snake_case is still read.
  json earlier = saved;
  for (const auto& [key, was] : std::map<std::string, std::string>{{"camera_matrix", "cameraMatrix"},
                                                                   {"marker_position", "markerPosition"},
                                                                   {"hand_eye", "handEye"},
                                                                   {"rms_error_mm", "rmsErrorMm"}}) {
    earlier[was] = earlier[key];
    earlier.erase(key);
  }
  earlier.erase("schema");
  std::ofstream(old / "earlier.json") << earlier.dump();
  const Outcome detected =
      Tarn("detect --json --images " + (fresh / "images").string() + " --clouds " + (fresh / "clouds").string());
  ASSERT_EQ(detected.status, 0) << detected.err;
  std::ofstream same(fresh / "markers.txt"), moved(fresh / "moved.txt");
  for (const json& shot : json::parse(detected.out)) {
    same << shot["x"] << " " << shot["y"] << " " << shot["z"] << "\n";
    moved << shot["x"].get<double>() - 0.002 << " " << shot["y"] << " " << shot["z"] << "\n";
  }
  same.close();
  moved.close();
  for (const std::string result : {"result.json", "result.YAML", "earlier.json", "saved.csv"}) {
    SCOPED_TRACE(result);
    const std::string common = "verify --json --result " + (old / result).string() + " --poses " +
                               (fresh / "robot.txt").string() + " --markers " + (fresh / "").string();
    const Outcome ok = Tarn(common + "markers.txt");
    ASSERT_EQ(ok.status, 0) << ok.err << ok.out;
    const json okJson = json::parse(ok.out);
    EXPECT_EQ(okJson["verdict"], "ok");
    EXPECT_EQ(okJson["shots"].size(), 10u);
    EXPECT_LT(okJson["rms_mm"].get<double>(), okJson["limit_mm"].get<double>());
    const Outcome drift = Tarn(common + "moved.txt --strict");
    ASSERT_EQ(drift.status, 3) << drift.err << drift.out;
    const json driftJson = json::parse(drift.out);
    EXPECT_EQ(driftJson["verdict"], "drift");
    EXPECT_NEAR(driftJson["drift"]["translation_xyz_mm"][0].get<double>(), 2.0, 0.4);
    EXPECT_NEAR(driftJson["drift"]["translation_mm"].get<double>(), 2.0, 0.4);
  }
  const Outcome wrongType =
      Tarn("verify --result " + (old / "result.json").string() + " --poses " + (fresh / "robot.txt").string() +
           " --markers " + (fresh / "markers.txt").string() + " --robot fanuc");
  EXPECT_EQ(wrongType.status, 1);
  EXPECT_THAT(wrongType.err, HasSubstr("saved with robot type kuka"));
  // A limit must be a finite number above 0: "nan" is not ignored.
  for (const std::string bad : {"nan", "0", "-1", "inf"}) {
    const Outcome o =
        Tarn("verify --result " + (old / "result.json").string() + " --poses " + (fresh / "robot.txt").string() +
             " --markers " + (fresh / "moved.txt").string() + " --limit " + bad);
    EXPECT_EQ(o.status, 1) << bad;
    EXPECT_THAT(o.err, HasSubstr("--limit")) << bad;
  }
}

// The suggested rows of a generic type come in the convention the calibration found and in the rows' units,
// best first, each σ below the one before; read back as KUKA rows (Rz(A)·Ry(B)·Rx(C)) with the true camera
// they keep the marker inside the rendered image, a tenth from its border (the pinhole estimated from the
// clouds). Matrix rows have no convention to suggest in.
TEST(TarnCli, SuggestTheNextPosesAsRowsToTypeIn) {
  const json truth = Synthesise("suggest", "--robot kuka --seed 5");
  const fs::path set = DataSet("suggest");
  const std::string common = "suggest --images " + (set / "images").string() + " --clouds " +
                             (set / "clouds").string() + " --poses " + (set / "robot.txt").string();
  const Outcome o = Tarn(common + " --robot generic3 --json --count 3");
  ASSERT_EQ(o.status, 0) << o.err << o.out;
  const json j = json::parse(o.out);
  EXPECT_EQ(j["convention"], "rzyx");
  EXPECT_EQ(j["columns"], "X Y Z R1 R2 R3 (mm, deg)");
  ASSERT_EQ(j["suggestions"].size(), 3u);
  double before = j["sigma_mm"].get<double>();
  const Eigen::Matrix4d camera = MatrixOf(truth["camera"]["matrixMm"]);
  const Eigen::Vector3d marker(truth["markerMm"][0], truth["markerMm"][1], truth["markerMm"][2]);
  const auto rad = [](double deg) { return deg * 3.14159265358979323846 / 180.0; };
  for (const json& s : j["suggestions"]) {
    EXPECT_LT(s["sigma_mm_after"].get<double>(), before);
    before = s["sigma_mm_after"].get<double>();
    const std::vector<double> row = s["row"];
    ASSERT_EQ(row.size(), 6u);
    Eigen::Matrix4d flange = Eigen::Matrix4d::Identity();
    flange.topLeftCorner<3, 3>() = (Eigen::AngleAxisd(rad(row[3]), Eigen::Vector3d::UnitZ()) *
                                    Eigen::AngleAxisd(rad(row[4]), Eigen::Vector3d::UnitY()) *
                                    Eigen::AngleAxisd(rad(row[5]), Eigen::Vector3d::UnitX()))
                                       .toRotationMatrix();
    flange.topRightCorner<3, 1>() = Eigen::Vector3d(row[0], row[1], row[2]);
    const Eigen::Vector4d seen = (flange * camera).inverse() * marker.homogeneous();
    // Inside the rendered image, a tenth of it from the border, through the renderer's own camera.
    const double f = truth["focalPx"].get<double>();
    const double u = f * seen.x() / seen.z() + 511.5;
    const double v = f * seen.y() / seen.z() + 383.5;
    EXPECT_TRUE(u > 0.1 * 1024 - 2 && u < 0.9 * 1024 && v > 0.1 * 768 - 2 && v < 0.9 * 768) << u << " " << v;
  }
  // The pinhole came from the clouds, as the renderer's.
  EXPECT_EQ(j["kept_in"], "image");
  EXPECT_EQ(j["pinhole"]["from"], "clouds");
  EXPECT_NEAR(j["pinhole"]["fx"].get<double>(), truth["focalPx"].get<double>(), 0.5);
  const Outcome matrix = Tarn(common + " --robot matrix");
  EXPECT_EQ(matrix.status, 1);
  EXPECT_THAT(matrix.err, HasSubstr("no row convention"));
}

// A plan from the taught pose and its shot with a camera guess, as a CSV that calibrate reads back: shots at its
// rows (marker points from the truth) calibrate to the truth; without a guess, the first stage.
TEST(TarnCli, PlanAroundATaughtPoseAndCalibrateFromIt) {
  const json truth = Synthesise("plan", "--robot fanuc --seed 7");
  const fs::path set = DataSet("plan");
  const fs::path one = DataSet("plan-one");
  fs::remove_all(one);
  fs::create_directories(one / "images");
  fs::create_directories(one / "clouds");
  fs::copy(set / "images" / "shot_0.png", one / "images" / "shot_0.png");
  fs::copy(set / "clouds" / "shot_0.ply", one / "clouds" / "shot_0.ply");
  std::ifstream rows(set / "robot.txt");
  std::string taught;
  std::getline(rows, taught);
  const Eigen::Matrix4d camera = MatrixOf(truth["camera"]["matrixMm"]);
  const Eigen::Matrix3d r = camera.topLeftCorner<3, 3>();
  const double deg = 180.0 / 3.14159265358979323846;
  std::ostringstream guess;
  guess << "\"" << camera(0, 3) << "," << camera(1, 3) << "," << camera(2, 3) << ","
        << std::atan2(r(2, 1), r(2, 2)) * deg << "," << std::asin(-r(2, 0)) * deg << ","
        << std::atan2(r(1, 0), r(0, 0)) * deg << "\"";
  const fs::path csv = one / "plan.csv";
  const std::string shot = " --images " + (one / "images").string() + " --clouds " + (one / "clouds").string();
  Outcome o = Tarn("plan --json --robot fanuc --count 12 --taught \"" + taught + "\"" + shot + " --camera-guess " +
                   guess.str() + " --out " + csv.string());
  ASSERT_EQ(o.status, 0) << o.err << o.out;
  const json plan = json::parse(o.out);
  EXPECT_FALSE(plan["first_stage"].get<bool>());
  ASSERT_EQ(plan["poses"].size(), 12u);
  EXPECT_TRUE(plan["in_image"].get<bool>());
  EXPECT_GT(plan["sigma_mm"].get<double>(), 0.0);
  // Shots at the CSV's rows, as tarn calibrate --poses reads them.
  const Eigen::Vector3d marker(truth["markerMm"][0], truth["markerMm"][1], truth["markerMm"][2]);
  std::ofstream markers(one / "markers.txt");
  for (const json& pose : plan["poses"]) {
    const std::vector<double> row = pose["row"];
    Eigen::Matrix4d flange = Eigen::Matrix4d::Identity();
    flange.topLeftCorner<3, 3>() = (Eigen::AngleAxisd(row[5] / deg, Eigen::Vector3d::UnitZ()) *
                                    Eigen::AngleAxisd(row[4] / deg, Eigen::Vector3d::UnitY()) *
                                    Eigen::AngleAxisd(row[3] / deg, Eigen::Vector3d::UnitX()))
                                       .toRotationMatrix();
    flange.topRightCorner<3, 1>() = Eigen::Vector3d(row[0], row[1], row[2]);
    const Eigen::Vector4d seen = (flange * camera).inverse() * marker.homogeneous();
    markers << seen.x() / 1000.0 << " " << seen.y() / 1000.0 << " " << seen.z() / 1000.0 << "\n";
  }
  markers.close();
  o = Tarn("calibrate --json --robot fanuc --poses " + csv.string() + " --markers " + (one / "markers.txt").string());
  ASSERT_EQ(o.status, 0) << o.err << Slurp(csv);
  const auto [translation, rotation] = Errors(json::parse(o.out), truth);
  EXPECT_LT(translation, 0.01);
  EXPECT_LT(rotation, 0.001);
  EXPECT_THAT(Slurp(csv), HasSubstr("# Check reach and collisions before running\nX,Y,Z,W,P,R\n"));
  // Without a guess: the short first stage, here from the marker typed in.
  o = Tarn("plan --json --robot fanuc --taught \"" + taught + "\" --marker 0.01,0.02,0.5");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(json::parse(o.out)["first_stage"].get<bool>());
  EXPECT_EQ(json::parse(o.out)["poses"].size(), 6u);
  o = Tarn("plan --robot fanuc --taught \"" + taught + "\"");
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("--marker X,Y,Z"));
  o = Tarn("plan --robot fanuc --marker 0,0,0.5 --taught \"" + taught + "\" --out " + (one / "plan.txt").string());
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("ls (FANUC)"));
}

}  // namespace

namespace {

// A SCARA with the camera on its flange (the flange's axes those of the base turned by A about z), looking down at
// a marker 20 mm above the base's plane: rows X Y Z A and the marker points it measured (metres).
Eigen::Isometry3d WriteScaraSet(const fs::path& dir) {
  fs::create_directories(dir);
  Eigen::Isometry3d camera = Eigen::Isometry3d::Identity();  // flange_from_camera, mm
  camera.translate(Eigen::Vector3d(30.0, -20.0, -80.0));
  camera.rotate(Eigen::AngleAxisd(3.2, Eigen::Vector3d::UnitX()) * Eigen::AngleAxisd(0.2, Eigen::Vector3d::UnitZ()));
  const Eigen::Vector3d marker(600.0, 50.0, 20.0);
  std::ofstream rows(dir / "scara.txt");
  std::ofstream points(dir / "points.txt");
  for (int i = 0; i < 12; ++i) {
    const double a = -60.0 + 11.0 * i;
    const Eigen::Vector3d at =
        marker + Eigen::Vector3d(40.0 * std::sin(1.7 * i), 40.0 * std::cos(2.3 * i), 450.0 + 25.0 * (i % 4));
    const Eigen::Isometry3d flange =
        Eigen::Translation3d(at) * Eigen::AngleAxisd(a * 3.14159265358979323846 / 180.0, Eigen::Vector3d::UnitZ());
    const Eigen::Vector3d noise(0.3 * std::sin(5.1 * i), 0.3 * std::cos(3.7 * i), 0.6 * std::sin(2.9 * i));
    const Eigen::Vector3d p = ((flange * camera).inverse() * marker + noise) / 1000.0;
    rows << at.x() << " " << at.y() << " " << at.z() << " " << a << "\n";
    points << p.x() << " " << p.y() << " " << p.z() << "\n";
  }
  return camera;
}

}  // namespace

TEST(TarnCli, AScaraCalibratesWithTheQuantityItCannotSeeGiven) {
  const fs::path dir = DataSet("scara");
  const Eigen::Isometry3d truth = WriteScaraSet(dir);
  const std::string base =
      "calibrate --robot scara --markers " + (dir / "points.txt").string() + " --poses " + (dir / "scara.txt").string();
  Outcome o = Tarn(base);
  EXPECT_NE(o.status, 0);
  EXPECT_THAT(o.err, HasSubstr("one axis only"));
  EXPECT_THAT(o.err, HasSubstr("--fixed-height MM or --camera-offset-z MM"));

  for (const std::string given : {"--fixed-height 20", "--camera-offset-z -80"}) {
    o = Tarn(base + " --json " + given);
    ASSERT_EQ(o.status, 0) << o.err;
    const json j = json::parse(o.out);
    EXPECT_EQ(j["fixed_quantity"], given[2] == 'f' ? "marker-height" : "camera-offset-z");
    const Eigen::Matrix4d solved = MatrixOf(j["camera_matrix"]);
    // Within 3σ of the report's own uncertainty (the noise's pattern is fixed: this set's figures).
    const json& u = j["uncertainty"];
    EXPECT_LT((solved.topRightCorner<3, 1>() - truth.translation()).norm(),
              3.0 * u["translation_mm"]["norm"].get<double>())
        << given;
    EXPECT_LT(Eigen::AngleAxisd(Eigen::Matrix3d(solved.topLeftCorner<3, 3>() * truth.linear().transpose())).angle() *
                  180.0 / 3.14159265358979323846,
              3.0 * u["rotation_deg"].get<double>())
        << given << " " << u;
  }
  o = Tarn(base + " --fixed-height 20");
  EXPECT_THAT(o.out, HasSubstr("Held (4-axis robot: no shot sees it): the marker's height in the base frame = 20.000"));

  // A plan for it: rows of X Y Z A, turned about the vertical only, that calibrate reads back.
  const fs::path csv = dir / "plan.csv";
  o = Tarn(
      "plan --robot scara --json --taught 600,50,500,0 --marker 0.01,0,0.48 --camera-guess 30,-20,-80,183,0,-11 "
      "--count 8 --out " +
      csv.string());
  ASSERT_EQ(o.status, 0) << o.err;
  const json plan = json::parse(o.out);
  ASSERT_EQ(plan["poses"].size(), 8u);
  for (const json& pose : plan["poses"]) {
    EXPECT_EQ(pose["row"].size(), 4u);
    EXPECT_LE(std::abs(pose["row"][3].get<double>()), 30.0 + 1e-9);
    EXPECT_NEAR(std::abs(pose["axis"][2].get<double>()), pose["turn_deg"].get<double>() > 0.0 ? 1.0 : 0.0, 1e-9);
  }
  EXPECT_THAT(Slurp(csv), HasSubstr("\nX,Y,Z,A\n600.000000,50.000000,500.000000,0.000000\n"));
}

// The marker on paper: pages of the paper named in any case, Chinese texts unless --lang en; on paper only PDF.
TEST(TarnCli, MarkerOnPaper) {
  const fs::path dir = fs::path(::testing::TempDir()) / ("tarn-marker-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  Outcome o = Tarn("marker --radius 100mm --paper a4 --out " + (dir / "m.pdf").string());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.out, HasSubstr("on 8 pages of 210 x 297 mm (2 rows of 4)"));
  const std::string pdf = Slurp(dir / "m.pdf");
  EXPECT_THAT(pdf, HasSubstr("/Count 8 >>"));
  EXPECT_THAT(pdf, HasSubstr("/BaseFont /STSong-Light"));  // Chinese texts by default
  o = Tarn("marker --radius 40mm --paper Letter --lang en --out " + (dir / "s.pdf").string());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.out, HasSubstr("on 1 page of 279.4 x 215.9 mm"));
  EXPECT_THAT(Slurp(dir / "s.pdf"),
              HasSubstr("(Tarn concentric-circle marker: R = 40 mm \\(outer diameter 80 mm\\)) Tj"));
  o = Tarn("marker --paper A4 --out " + (dir / "m.svg").string());
  EXPECT_NE(o.status, 0);
  EXPECT_THAT(o.err, HasSubstr("written as PDF"));
  EXPECT_FALSE(fs::exists(dir / "m.svg"));
  o = Tarn("marker --paper B5 --out " + (dir / "b.pdf").string());
  EXPECT_NE(o.status, 0);
  EXPECT_THAT(o.err, HasSubstr("B5 not in {A4,A3,letter}"));
  fs::remove_all(dir);
}
