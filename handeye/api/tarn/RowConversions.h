// SPDX-License-Identifier: Apache-2.0
#pragma once

// Robot rows to poses and back, in any robot kind's convention and units: what a script needs to turn a
// controller's numbers into a 4 x 4 matrix, or a result into a row to type into the controller.
//
// `convention` names the rotation convention: an Euler axes key ("sxyz" … "rzyz", 24 of them; "sxyz" is
// R = Rz(c)·Ry(b)·Rx(a) about fixed axes, "rzyx" R = Rz(a)·Ry(b)·Rx(c) about moving ones), "axis" (a rotation
// vector) or a quaternion order ("wxyz", "xyzw"). Empty means the kind's own: "sxyz" FANUC, "rzyx" KUKA,
// "axis" UR, "wxyz" ABB quaternion; the generic kinds have none and need one. A vendor kind takes only its
// own. `units` gives IsMeter and IsRadian where the kind honours them (the generic kinds and UR; quaternions
// have no angle unit). The matrix is 4 x 4, row by row, its translation in the row's unit.
//
// Codes: 0 success; 204 the row's length is not the kind's, or the convention is not one the kind takes;
// 201 a value that is not finite, or a matrix whose top-left 3 x 3 block is not a rotation (within 1e-6) or
// whose last row is not 0 0 0 1. Output is written only on success; nothing throws.

#include <tarn/AlgoParam.h>
#include <tarn/CalibrationReport.h>
#include <tarn/ErrorCode.h>
#include <tarn/TarnExport.h>

#include <string>
#include <vector>

namespace TamoHandEye {

TARN_EXPORT ErrorCode RobotRowToMatrix(RobotKind kind, const std::string& convention, const AlgoParam& units,
                                       const std::vector<double>& row, std::vector<std::vector<double>>& matrix);
TARN_EXPORT ErrorCode MatrixToRobotRow(RobotKind kind, const std::string& convention, const AlgoParam& units,
                                       const std::vector<std::vector<double>>& matrix, std::vector<double>& row);

}  // namespace TamoHandEye
