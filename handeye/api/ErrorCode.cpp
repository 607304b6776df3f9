// SPDX-License-Identifier: Apache-2.0
#include <tarn/ErrorCode.h>

#include "LibraryLogger.h"

#include <cstring>

namespace TamoHandEye {
namespace {
constexpr const char* kUnknown = "未知错误";
}  // namespace

namespace Detect {

const char* parseCode(const ErrorCode& code) {
  switch (code) {
    case Success: return "无错误";
    case Err_Algo_Marker_Fail_NoCircle: return "识别标记中心时, 无法找到圆心";
    case Err_Algo_Marker_Fail_NoPoint: return "识别标记中心时, 无法从点云数据中找到圆心对应的点";
    case Err_Algo_Marker_Fail_NoCircleNoPoint:
      return "识别标记中心时, 圆心和点云数据均无法找到对应的点, 请检查成像质量";
    case Err_Algo_Marker_Fail_ExceedOneCircle: return "识别标记中心时, 发现超过一个圆心";
    case Err_Data_Empty: return "2D图像或点云数据为空";
    case Err_Data_Invalid_Image: return "非法的2D图像数据, 2D图像必须为:Gray或RGB或BGR";
    case Err_Data_Invalid_PointCloud: return "非法的点云数据, 点云可能被裁剪, 点云数据必须与2D图像一一对应";
    case Err_Data_Size_Mismatch:
      return "2D图像数据和点云数据的尺寸不相等, 点云可能被裁剪, 点云数据必须与2D图像一一对应";
    case Err_Algo_Marker_Fit_NotMarker:
      return "拟合标记中心时, 圆环半径的比例与同心圆标记不符, 可能不是本标记或成像质量差";
    case Err_Algo_Marker_Fit_TooFewPoints:
      return "拟合标记中心时, 清晰的边缘点或标记周围的点云点太少, 请检查成像和点云质量";
  }
  return kUnknown;
}

}  // namespace Detect

const char* parseCode(const ErrorCode& code) {
  // Detection codes pass through unchanged, so their messages come from the detection table.
  const auto detectCode = static_cast<Detect::ErrorCode>(static_cast<std::int32_t>(code));
  const char* detectMessage = Detect::parseCode(detectCode);
  if (std::strcmp(detectMessage, kUnknown) != 0) return detectMessage;

  switch (code) {
    case Err_Solve_Fail: return "求解方程失败, 请检查机器人数据和标记位置数据";
    case Err_Solve_Data_Empty: return "求解方程时, 机器人数据或标记位置数据为空";
    case Err_Solve_Count_Mismatch: return "求解方程时, 机器人数据的个数与标记位置数据的个数不相等";
    case Err_Solve_RobotType_Mismatch: return "求解方程时, 机器人数据类型与要计算的机器人数据类型不符";
    default: return kUnknown;
  }
}

}  // namespace TamoHandEye
