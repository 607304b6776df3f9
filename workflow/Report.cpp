#include "Report.h"

#include "Text.h"

#include <iomanip>

namespace TarnWorkflow {

using namespace TamoHandEye;
using nlohmann::json;

Calibration Calibrate(const RobotType& robot, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                      const AlgoParam& param) {
  Calibration c;
  c.param = param;
  c.code = robot.entry(markers, rows, c.param, c.result);
  return c;
}

namespace {

void WriteResiduals(std::ostream& out, const Calibration& c) {
  const FinalResult& r = c.result;
  out << "Residuals (mm):\n  pose  used  distance        dx        dy        dz\n";
  std::vector<std::size_t> dropped;
  for (std::size_t i = 0; i < r.residuals.size(); ++i) {
    const bool used = r.mask.empty() || r.mask[i] != 0;
    if (!used) dropped.push_back(i);
    const PoseResidual& p = r.residuals[i];
    out << std::setw(6) << i << std::setw(6) << (used ? "yes" : "no") << std::setw(10) << Fixed(p.distance, 3)
        << std::setw(10) << Fixed(p.dx, 3) << std::setw(10) << Fixed(p.dy, 3) << std::setw(10) << Fixed(p.dz, 3)
        << "\n";
  }
  out << "RMS " << Fixed(r.rmsError, 3) << " mm, maximum " << Fixed(r.maxError, 3) << " mm\n";
  out << "Dropped by the pose search: ";
  if (!c.param.Exhaust) {
    out << "no search\n";
  } else if (dropped.empty()) {
    out << "none\n";
  } else {
    for (std::size_t k = 0; k < dropped.size(); ++k) out << (k ? ", " : "") << dropped[k];
    out << "\n";
  }
}

}  // namespace

void WriteCalibrationText(std::ostream& out, const Calibration& c, const RobotType& robot) {
  const FinalResult& r = c.result;
  const bool eyeToHand = c.param.HandEyeType != 0;
  const std::string unit = c.param.IsMeter ? "m" : "mm";
  out << "Robot type: " << robot.text << " (" << (eyeToHand ? "eye-to-hand" : "eye-in-hand") << ")\n";
  out << (eyeToHand ? "Camera in the base frame" : "Camera in the flange frame") << ", as a robot row:\n ";
  const std::vector<std::string> names = robot.ColumnNames();
  for (std::size_t k = 0; k < r.cameraPose.size() && k < names.size(); ++k) {
    out << " " << names[k] << " " << Fixed(r.cameraPose[k]);
  }
  out << "\nCamera matrix (" << unit << "):\n";
  for (const auto& row : r.cameraMatrix) {
    out << " ";
    for (const double v : row) out << std::setw(14) << Fixed(v, 6);
    out << "\n";
  }
  out << (eyeToHand ? "Marker in the flange frame" : "Marker in the base frame") << " (" << unit
      << "): " << Fixed(r.markerPosition[0]) << " " << Fixed(r.markerPosition[1]) << " " << Fixed(r.markerPosition[2])
      << "\n";
  WriteResiduals(out, c);
}

json ShotJson(const ShotDetection& d) {
  json j{{"image", Utf8Name(d.pair.image)}, {"cloud", Utf8Name(d.pair.cloud)}, {"code", static_cast<int>(d.code)}};
  if (d.code == Success) {
    j["x"] = d.marker.x;
    j["y"] = d.marker.y;
    j["z"] = d.marker.z;
    j["u"] = d.marker.u;
    j["v"] = d.marker.v;
  } else {
    j["message"] = Utf8Name(FailureText(d));
  }
  if (d.fitted) {
    const MarkerFitQuality& q = d.quality;
    j["fit"] = {{"radiiMm", {q.radiiMm[0], q.radiiMm[1], q.radiiMm[2], q.radiiMm[3]}},
                {"ratioDeviation", q.ratioDeviation},
                {"planeRmsMm", q.planeRmsMm},
                {"edgePoints", q.edgePoints},
                {"planePoints", q.planePoints}};
  }
  return j;
}

json CalibrationJson(const Calibration& c, const RobotType& robot, const std::vector<ShotDetection>& detections) {
  json j;
  j["robot"] = robot.name;
  j["handEye"] = c.param.HandEyeType != 0 ? "eye-to-hand" : "eye-in-hand";
  j["unit"] = c.param.IsMeter ? "m" : "mm";
  j["cameraPose"] = c.result.cameraPose;
  j["cameraMatrix"] = c.result.cameraMatrix;
  j["markerPosition"] = c.result.markerPosition;
  j["rmsErrorMm"] = c.result.rmsError;
  j["maxErrorMm"] = c.result.maxError;
  j["mask"] = c.result.mask;
  json residuals = json::array();
  for (const PoseResidual& p : c.result.residuals) {
    residuals.push_back({{"distance", p.distance}, {"dx", p.dx}, {"dy", p.dy}, {"dz", p.dz}});
  }
  j["residualsMm"] = residuals;
  if (!detections.empty()) {
    json shots = json::array();
    for (const ShotDetection& d : detections) shots.push_back(ShotJson(d));
    j["shots"] = shots;
  }
  return j;
}

}  // namespace TarnWorkflow
