// SPDX-License-Identifier: Apache-2.0
#include <tarn/Tarn.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using TamoHandEye::ErrorCode;
namespace Detect = TamoHandEye::Detect;

struct Message {
  int code;
  const char* text;
};

constexpr Message kDetectionMessages[] = {
    {0, "无错误"},
    {101, "识别标记中心时, 无法找到圆心"},
    {102, "识别标记中心时, 无法从点云数据中找到圆心对应的点"},
    {103, "识别标记中心时, 圆心和点云数据均无法找到对应的点, 请检查成像质量"},
    {104, "识别标记中心时, 发现超过一个圆心"},
    {105, "2D图像或点云数据为空"},
    {106, "非法的2D图像数据, 2D图像必须为:Gray或RGB或BGR"},
    {107, "非法的点云数据, 点云可能被裁剪, 点云数据必须与2D图像一一对应"},
    {108, "2D图像数据和点云数据的尺寸不相等, 点云可能被裁剪, 点云数据必须与2D图像一一对应"},
    {109, "拟合标记中心时, 圆环半径的比例与同心圆标记不符, 可能不是本标记或成像质量差"},
    {110, "拟合标记中心时, 清晰的边缘点或标记周围的点云点太少, 请检查成像和点云质量"},
};

constexpr Message kSolveMessages[] = {
    {201, "求解方程失败, 请检查机器人数据和标记位置数据"},
    {202, "求解方程时, 机器人数据或标记位置数据为空"},
    {203, "求解方程时, 机器人数据的个数与标记位置数据的个数不相等"},
    {204, "求解方程时, 机器人数据类型与要计算的机器人数据类型不符"},
};

constexpr const char* kUnknown = "未知错误";

TEST(ParseCode, DetectionCodesHaveTheSameMessageThroughBothInterfaces) {
  for (const auto& m : kDetectionMessages) {
    EXPECT_STREQ(Detect::parseCode(static_cast<Detect::ErrorCode>(m.code)), m.text) << m.code;
    EXPECT_STREQ(TamoHandEye::parseCode(static_cast<ErrorCode>(m.code)), m.text) << m.code;
  }
}

TEST(ParseCode, SolveCodesAreKnownOnlyAtTheTopLevel) {
  for (const auto& m : kSolveMessages) {
    EXPECT_STREQ(TamoHandEye::parseCode(static_cast<ErrorCode>(m.code)), m.text) << m.code;
    EXPECT_STREQ(Detect::parseCode(static_cast<Detect::ErrorCode>(m.code)), kUnknown) << m.code;
  }
}

TEST(ParseCode, AnyOtherValueIsUnknown) {
  for (const int code : {1, 100, 111, 200, 205, -1, -101, 2147483647}) {
    EXPECT_STREQ(TamoHandEye::parseCode(static_cast<ErrorCode>(code)), kUnknown) << code;
    EXPECT_STREQ(Detect::parseCode(static_cast<Detect::ErrorCode>(code)), kUnknown) << code;
  }
}

TEST(ParseCode, DetectionCodeValuesPassThroughUnchanged) {
  EXPECT_EQ(static_cast<int>(TamoHandEye::Err_Data_Size_Mismatch), static_cast<int>(Detect::Err_Data_Size_Mismatch));
  EXPECT_EQ(sizeof(ErrorCode), 4u);
  EXPECT_EQ(sizeof(Detect::ErrorCode), 4u);
}

TEST(Version, SameStaticTextOnEveryCall) {
  const char* first = TamoHandEye::GetVersion();
  EXPECT_STREQ(first, "2.1.1-733fd48");
  EXPECT_EQ(TamoHandEye::GetVersion(), first);
}

}  // namespace
