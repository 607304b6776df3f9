// SPDX-License-Identifier: Apache-2.0
#pragma once

// A saved calibration checked against new shots: each shot's marker predicted from the saved transforms
// under each reading the robot kind allows, the camera's displacement fitted to what is left, and the
// verdict (with the saved covariance, three generalised least-squares tests and what the shots can see;
// without it, the RMS limit).

#include <tarn/CalibrationCheck.h>

#include <vector>

namespace TamoHandEye {

/// The check of input the entry point has already accepted; may throw (the entry point catches).
ErrorCode CheckAgainstSaved(const std::vector<MarkerBoardResult>& markers, const std::vector<ShotPlane>& planes,
                            const RobotRows& rows, const AlgoParam& param, RobotKind kind,
                            const SavedCalibration& saved, const CheckOptions& options, CalibrationCheck& check);

}  // namespace TamoHandEye
