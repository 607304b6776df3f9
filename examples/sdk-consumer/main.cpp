// SPDX-License-Identifier: Apache-2.0
// An integrator's program using the installed Tarn SDK: prints the library's version and the message of a
// detection code, then calibrates a small generated eye-in-hand scene through the FANUC entry point and
// checks the answer.

#include <tarn/Tarn.h>

#include <Eigen/Geometry>

#include <cmath>
#include <cstdio>
#include <vector>

int main() {
  using namespace TamoHandEye;
  std::printf("version %s\n", GetVersion());
  const ErrorCode code = Err_Algo_Marker_Fail_ExceedOneCircle;
  std::printf("code %d: %s\n", static_cast<int>(code), parseCode(code));

  // The truth: the camera on the flange (flange_from_camera) and the marker fixed in the base frame.
  Eigen::Isometry3d camera = Eigen::Isometry3d::Identity();
  camera.translate(Eigen::Vector3d(0.05, -0.03, 0.12));
  camera.rotate(Eigen::AngleAxisd(0.3, Eigen::Vector3d(1, 2, 0.5).normalized()));
  const Eigen::Vector3d marker(0.8, 0.1, 0.02);

  std::vector<MarkerBoardResult> markers;
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < 10; ++i) {
    // The flange above the marker, turned a different way each time.
    Eigen::Isometry3d flange = Eigen::Isometry3d::Identity();
    flange.translate(marker + Eigen::Vector3d(0.05 * std::sin(i), 0.05 * std::cos(2 * i), 0.45 + 0.02 * i));
    flange.rotate(Eigen::AngleAxisd(3.1 + 0.3 * std::sin(3 * i), Eigen::Vector3d::UnitX()) *
                  Eigen::AngleAxisd(0.3 * std::cos(i), Eigen::Vector3d::UnitY()) *
                  Eigen::AngleAxisd(0.5 * i, Eigen::Vector3d::UnitZ()));
    const Eigen::Vector3d seen = (flange * camera).inverse() * marker;  // the marker in the camera frame
    markers.push_back({seen.x(), seen.y(), seen.z(), 0.0, 0.0});
    // A FANUC row: X Y Z in mm, then W P R in degrees with R = Rz(R)·Ry(P)·Rx(W).
    const Eigen::Vector3d zyx = flange.linear().eulerAngles(2, 1, 0) * 180.0 / 3.14159265358979323846;
    const Eigen::Vector3d t = flange.translation() * 1000.0;
    rows.push_back({t.x(), t.y(), t.z(), zyx(2), zyx(1), zyx(0)});
  }

  AlgoParam param;  // eye-in-hand, millimetres and degrees, no pose search
  FinalResult result;
  const ErrorCode solved = FanucSolveFinalResult(markers, rows, param, result);
  if (solved != Success) {
    std::printf("calibration failed: %s\n", parseCode(solved));
    return 1;
  }
  double error = 0.0;
  for (int k = 0; k < 3; ++k) error += std::pow(result.cameraMatrix[k][3] - camera.translation()(k) * 1000.0, 2);
  error = std::sqrt(error);
  std::printf("camera in flange: X %.3f Y %.3f Z %.3f mm, W %.3f P %.3f R %.3f deg\n", result.cameraPose[0],
              result.cameraPose[1], result.cameraPose[2], result.cameraPose[3], result.cameraPose[4],
              result.cameraPose[5]);
  std::printf("calibration %s: camera translation error %.2e mm, RMS %.2e mm\n", error < 1e-6 ? "ok" : "WRONG", error,
              result.rmsError);

  // The same calibration with its report: the same result, and how far to trust it.
  CalibrationReport report;
  const ErrorCode reported = SolveCalibrationReport(markers, rows, param, RobotKind::Fanuc, ReportOptions{}, report);
  const bool same = reported == Success && report.result.cameraMatrix == result.cameraMatrix;
  std::printf("report %s: convention %s, %zu warning(s)\n", same ? "ok" : "WRONG", report.convention.c_str(),
              report.warnings.size());
  return error < 1e-6 && same ? 0 : 1;
}
