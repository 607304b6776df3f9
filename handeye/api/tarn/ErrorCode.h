// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <tarn/TarnExport.h>

#include <cstdint>

namespace TamoHandEye {

namespace Detect {

/// Result codes of marker detection: 0 success, 101 to 108 detection and input failures; 109 and 110
/// refusals of the fitted centre (tarn/FittedMarkerDetect.h).
enum ErrorCode : std::int32_t {
  Success = 0,
  Err_Algo_Marker_Fail_NoCircle = 101,
  Err_Algo_Marker_Fail_NoPoint = 102,
  Err_Algo_Marker_Fail_NoCircleNoPoint = 103,
  Err_Algo_Marker_Fail_ExceedOneCircle = 104,
  Err_Data_Empty = 105,
  Err_Data_Invalid_Image = 106,
  Err_Data_Invalid_PointCloud = 107,
  Err_Data_Size_Mismatch = 108,
  Err_Algo_Marker_Fit_NotMarker = 109,     ///< the fitted rings' radii do not have the marker's ratios
  Err_Algo_Marker_Fit_TooFewPoints = 110,  ///< too few sharp edge points, or cloud points on the board
};

/// The user-facing message of a detection code ("未知错误" for any other value). A static UTF-8 text
/// that the caller never frees.
TARN_EXPORT const char* parseCode(const ErrorCode& code);

}  // namespace Detect

/// Result codes of every exported function: the detection codes with the same values and meaning, so that
/// they pass through unchanged, plus the solve codes 201 to 204.
enum ErrorCode : std::int32_t {
  Success = 0,
  Err_Algo_Marker_Fail_NoCircle = 101,
  Err_Algo_Marker_Fail_NoPoint = 102,
  Err_Algo_Marker_Fail_NoCircleNoPoint = 103,
  Err_Algo_Marker_Fail_ExceedOneCircle = 104,
  Err_Data_Empty = 105,
  Err_Data_Invalid_Image = 106,
  Err_Data_Invalid_PointCloud = 107,
  Err_Data_Size_Mismatch = 108,
  Err_Algo_Marker_Fit_NotMarker = 109,
  Err_Algo_Marker_Fit_TooFewPoints = 110,
  Err_Solve_Fail = 201,
  Err_Solve_Data_Empty = 202,
  Err_Solve_Count_Mismatch = 203,
  Err_Solve_RobotType_Mismatch = 204,
};

/// The user-facing message of any code ("未知错误" for a value not listed). A static UTF-8 text that the
/// caller never frees.
TARN_EXPORT const char* parseCode(const ErrorCode& code);

}  // namespace TamoHandEye
