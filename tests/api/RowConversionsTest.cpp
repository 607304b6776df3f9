// SPDX-License-Identifier: Apache-2.0
// Robot rows to matrices and back through the exported conversions, against flange poses written as rows
// independently of the library.

#include <tarn/RowConversions.h>

#include "HandEyeScene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace TamoHandEye;
using TarnSim::RowFormat;

Eigen::Matrix4d ToEigen(const std::vector<std::vector<double>>& m) {
  Eigen::Matrix4d e;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) e(r, c) = m[std::size_t(r)][std::size_t(c)];
  }
  return e;
}

TEST(RowConversions, EveryKindReadsItsRowsAndWritesThemBack) {
  TarnSim::SceneOptions options;
  options.poses = 6;
  const TarnSim::Scene scene = TarnSim::MakeScene(options);
  struct Case {
    RobotKind kind;
    std::string convention;
    RowFormat format;
    bool meter, radian;
  };
  for (const Case& k : {Case{RobotKind::Fanuc, "", RowFormat::Fanuc, false, false},
                        Case{RobotKind::Kuka, "rzyx", RowFormat::Kuka, false, false},
                        Case{RobotKind::ABBQuat, "", RowFormat::AbbQuat, false, false},
                        Case{RobotKind::Ur, "", RowFormat::Ur, true, true},
                        Case{RobotKind::Common3, "rzyx", RowFormat::Kuka, false, true},
                        Case{RobotKind::Common4, "xyzw", RowFormat::Xyzw, true, false}}) {
    SCOPED_TRACE(static_cast<int>(k.kind));
    AlgoParam units;
    units.IsMeter = k.meter;
    units.IsRadian = k.radian;
    const auto rows = TarnSim::RobotRows(scene, k.format, k.meter, k.radian);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      std::vector<std::vector<double>> matrix;
      ASSERT_EQ(RobotRowToMatrix(k.kind, k.convention, units, rows[i], matrix), Success);
      Eigen::Matrix4d truth = scene.flange[i].matrix();
      truth.topRightCorner<3, 1>() *= k.meter ? 1.0 : 1000.0;
      EXPECT_LT((ToEigen(matrix) - truth).cwiseAbs().maxCoeff(), 1e-9);
      std::vector<double> row;
      ASSERT_EQ(MatrixToRobotRow(k.kind, k.convention, units, matrix, row), Success);
      std::vector<std::vector<double>> again;
      ASSERT_EQ(RobotRowToMatrix(k.kind, k.convention, units, row, again), Success);
      EXPECT_LT((ToEigen(again) - truth).cwiseAbs().maxCoeff(), 1e-9);
    }
  }
  std::vector<std::vector<double>> matrix;
  const std::vector<double> row{1, 2, 3, 4, 5, 6};
  EXPECT_EQ(RobotRowToMatrix(RobotKind::Common3, "", AlgoParam{}, row, matrix), Err_Solve_RobotType_Mismatch);
  EXPECT_EQ(RobotRowToMatrix(RobotKind::Fanuc, "rzyx", AlgoParam{}, row, matrix), Err_Solve_RobotType_Mismatch);
  EXPECT_EQ(RobotRowToMatrix(RobotKind::ABBQuat, "", AlgoParam{}, row, matrix), Err_Solve_RobotType_Mismatch);
  EXPECT_EQ(RobotRowToMatrix(RobotKind::Fanuc, "", AlgoParam{}, {1, 2, 3, 4, 5, NAN}, matrix), Err_Solve_Fail);
  EXPECT_TRUE(matrix.empty());
  std::vector<double> out;
  const std::vector<std::vector<double>> sheared{{1, 0.1, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  EXPECT_EQ(MatrixToRobotRow(RobotKind::Fanuc, "", AlgoParam{}, sheared, out), Err_Solve_Fail);
  EXPECT_TRUE(out.empty());
}

}  // namespace
