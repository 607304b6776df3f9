#pragma once

// A calibration run through a robot type's entry point, and its report as text and as JSON.

#include "MarkerBatch.h"
#include "RobotTypes.h"

#include <nlohmann/json.hpp>

#include <ostream>
#include <vector>

namespace TarnWorkflow {

struct Calibration {
  TamoHandEye::AlgoParam param;
  TamoHandEye::FinalResult result;
  TamoHandEye::ErrorCode code = TamoHandEye::Success;
};

/// Solves `markers` and `rows` with the robot type's entry point.
Calibration Calibrate(const RobotType& robot, const std::vector<TamoHandEye::MarkerBoardResult>& markers,
                      const TamoHandEye::RobotRows& rows, const TamoHandEye::AlgoParam& param);

/// The result for a reader: the camera as a robot row and a matrix, the marker, every pose's residual and
/// whether it was used, RMS and maximum, and the poses the search dropped.
void WriteCalibrationText(std::ostream& out, const Calibration& calibration, const RobotType& robot);
/// The same as JSON: robot, handEye, unit, cameraPose, cameraMatrix, markerPosition, rmsErrorMm, maxErrorMm,
/// mask, residualsMm, and "shots" with each shot's detection when `detections` is not empty.
nlohmann::json CalibrationJson(const Calibration& calibration, const RobotType& robot,
                               const std::vector<ShotDetection>& detections);
/// One shot's detection: its files, code, and the marker or the reason; the fit's figures when the centre
/// was fitted.
nlohmann::json ShotJson(const ShotDetection& detection);

}  // namespace TarnWorkflow
