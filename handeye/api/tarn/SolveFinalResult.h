// SPDX-License-Identifier: Apache-2.0
#pragma once

// The calibration entry points, one per robot data convention.
//
// Each takes the marker records (the marker centre in the camera frame per pose, metres) and one robot row
// per record, in the same order, plus the settings; it returns a result code and, on success only, fills
// `result`. Rows hold X, Y, Z followed by the rotation values of the convention:
//
//   FanucSolveFinalResult    X Y Z W P R      mm, degrees; fixed axes Rz(R)·Ry(P)·Rx(W) (also YASKAWA Rx Ry Rz)
//   KukaSolveFinalResult     X Y Z A B C      mm, degrees; moving axes Rz(A)·Ry(B)·Rx(C) (also ABB Euler EZ EY EX)
//   ABBQuatSolveFinalResult  X Y Z Q1 Q2 Q3 Q4  mm; quaternion with the scalar first
//   UrSolveFinalResult       X Y Z RX RY RZ   rotation vector; mm unless IsMeter, degrees unless IsRadian
//   Common3SolveFinalResult  X Y Z R1 R2 R3   any of the 24 Euler conventions or a rotation vector, found
//                                            by trying each; mm unless IsMeter, degrees unless IsRadian
//   Common4SolveFinalResult  X Y Z R1 R2 R3 R4  quaternion, scalar first or last, found by trying both;
//                                            mm unless IsMeter
//
// Codes: 0 success; 202 no markers or no rows; 203 different counts; 204 a row of the wrong length;
// 201 the solve failed (also for a value that is not finite, and for any unexpected internal error).

#include <tarn/AlgoParam.h>
#include <tarn/ErrorCode.h>
#include <tarn/FinalResult.h>
#include <tarn/MarkerBoardResult.h>
#include <tarn/TarnExport.h>

#include <vector>

namespace TamoHandEye {

using RobotRows = std::vector<std::vector<double>>;

TARN_EXPORT ErrorCode ABBQuatSolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                              const AlgoParam& param, FinalResult& result);
TARN_EXPORT ErrorCode Common3SolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                              const AlgoParam& param, FinalResult& result);
TARN_EXPORT ErrorCode Common4SolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                              const AlgoParam& param, FinalResult& result);
TARN_EXPORT ErrorCode FanucSolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                            const AlgoParam& param, FinalResult& result);
TARN_EXPORT ErrorCode KukaSolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                           const AlgoParam& param, FinalResult& result);
TARN_EXPORT ErrorCode UrSolveFinalResult(const std::vector<MarkerBoardResult>& markers, const RobotRows& robotRows,
                                         const AlgoParam& param, FinalResult& result);

}  // namespace TamoHandEye
