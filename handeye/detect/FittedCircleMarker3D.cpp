// SPDX-License-Identifier: Apache-2.0
#include "detect/FittedCircleMarker3D.h"

#include "api/LibraryLogger.h"

#include <opencv2/imgproc.hpp>

namespace TamoHandEye {
namespace Detect {

ErrorCode FittedCircleMarker3D::DetectMarker(MarkerBoardResult& result) {
  if (const ErrorCode code = CheckAttempt(); code != Success) return code;
  NextAttempt();
  if (const ErrorCode code = CheckAttempt(); code != Success) return code;
  if (centers.empty()) return Err_Algo_Marker_Fail_NoCircle;
  if (centers.size() > 1) return Err_Algo_Marker_Fail_ExceedOneCircle;
  if (grey.empty()) {
    if (data->image.type() == CV_8UC1) {
      grey = data->image;
    } else {
      cv::cvtColor(data->image, grey, cv::COLOR_BGR2GRAY);
    }
  }
  fit = FitMarker(
      grey, data->cloud, rings.front(),
      [this](int first, int last, int firstCol, int lastCol) { return data->LoadRows(first, last, firstCol, lastCol); },
      model);
  if (const ErrorCode code = CheckAttempt(); code != Success) return code;
  fitted = true;
  if (!fit.refusal.empty()) {
    if (!refused) firstRefused = fit;
    refused = true;
    return fit.tooFewPoints ? Err_Algo_Marker_Fit_TooFewPoints : Err_Algo_Marker_Fit_NotMarker;
  }
  result.x = fit.centre.x();
  result.y = fit.centre.y();
  result.z = fit.centre.z();
  result.u = fit.pixel.x();
  result.v = fit.pixel.y();
  return Success;
}

}  // namespace Detect
}  // namespace TamoHandEye
