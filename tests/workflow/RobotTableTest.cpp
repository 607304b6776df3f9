// SPDX-License-Identifier: Apache-2.0
// The robot table as every front end reads it: a type added by one row reaches the names, columns,
// settings and solve; and every set-up fix the report gives names only controls the type has.

#include "Report.h"
#include "RobotTypes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>

namespace {

using namespace TarnWorkflow;
using TamoHandEye::RobotKind;
using testing::HasSubstr;
using testing::Not;

TarnSim::Scene SceneOf(int poses, double noiseMetres) {
  TarnSim::SceneOptions o;
  o.poses = poses;
  o.pointNoise = noiseMetres;
  o.seed = 11;
  return TarnSim::MakeScene(o);
}

TEST(RobotTable, ANinthTypeByOneRowReachesNamesColumnsSettingsAndTheSolve) {
  std::vector<TamoHandEye::RobotTypeInfo> table(std::begin(TamoHandEye::kRobotTypes),
                                                std::end(TamoHandEye::kRobotTypes));
  table.push_back({"cell-zyx", "CELL [X,Y,Z]mm|[RZ RY RX]deg", RobotKind::Kuka, {"RZ", "RY", "RX", nullptr}});
  const std::vector<RobotType> types = RobotTypesOf(table);
  ASSERT_EQ(types.size(), 9u);

  // The command line's and Python's names, the desktop's list text and table header.
  EXPECT_THAT(RobotTypeNames(table), HasSubstr("ur, cell-zyx"));
  const RobotType* added = FindRobotType("CELL-ZYX", types);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->index, 8);
  EXPECT_EQ(added->text, "CELL [X,Y,Z]mm|[RZ RY RX]deg");
  EXPECT_EQ(added->ColumnNames(), (std::vector<std::string>{"X", "Y", "Z", "RZ", "RY", "RX"}));
  // Its units are its kind's: millimetres and degrees, whatever is asked.
  const TamoHandEye::AlgoParam param = added->Settings(false, true, true, -1.0);
  EXPECT_FALSE(param.IsMeter);
  EXPECT_FALSE(param.IsRadian);

  // Solved as its kind's rows: the camera of the scene.
  const TarnSim::Scene scene = SceneOf(12, 0.00005);
  const Calibration c = Calibrate(*added, scene.Markers(), TarnSim::RobotRows(scene, added->format), param, {});
  ASSERT_EQ(c.code, TamoHandEye::Success);
  for (int r = 0; r < 3; ++r) {
    EXPECT_NEAR(c.result.cameraMatrix[static_cast<std::size_t>(r)][3], scene.camera.translation()(r) * 1000.0, 0.5);
  }
}

// A control a fix may name, and the words that name it.
struct Control {
  bool offered;
  std::vector<std::string> words;
};

void ExpectOnlyOfferedControls(const std::string& fix, const std::vector<Control>& controls) {
  for (const Control& control : controls) {
    if (control.offered) continue;
    for (const std::string& word : control.words) EXPECT_THAT(fix, Not(HasSubstr(word)));
  }
}

TEST(RobotTable, EverySetUpFixNamesOnlyControlsTheTypeHas) {
  // A real camera's noise (1 mm per axis) on a short set: the mistakes still stand out.
  const TarnSim::Scene scene = SceneOf(8, 0.001);
  for (const RobotType& type : RobotTypes()) {
    const TamoHandEye::RobotKindInfo& kind = TamoHandEye::KindInfo(type.kind);
    // Each type's rows as the front end reads them, then in the other translation and angle unit.
    struct Mistake {
      std::string name;
      bool meter;
      bool radian;
      std::string code;
    };
    std::vector<Mistake> mistakes{{"metres", true, type.radian, "meter"}};
    if (!kind.quaternion) {
      mistakes.push_back({"other angle unit", false, !type.radian, type.radian ? "degree" : "radian"});
    }
    for (const Mistake& m : mistakes) {
      SCOPED_TRACE(type.name + ": " + m.name);
      const TamoHandEye::AlgoParam param = type.Settings(false, false, type.radian, -1.0);
      const Calibration c =
          Calibrate(type, scene.Markers(), TarnSim::RobotRows(scene, type.format, m.meter, m.radian), param, {});
      ASSERT_FALSE(c.report.alternatives.empty());
      EXPECT_EQ(c.report.alternatives.front().code, m.code);
      std::string fix;
      for (const TamoHandEye::ReportWarning& w : c.report.warnings) {
        if (w.code == "likely-setup") fix = w.fix + " " + w.fixZh;
      }
      ASSERT_FALSE(fix.empty());
      ExpectOnlyOfferedControls(fix, {{type.meterChoice, {"Select metres", "Select millimetres", "单位设为"}},
                                      {type.radianChoice, {"Select radians", "Select degrees", "角度单位设为"}}});
      if (!type.meterChoice && m.code == "meter") {
        EXPECT_THAT(fix, HasSubstr("by 1000"));
      }
    }
  }
}

}  // namespace
