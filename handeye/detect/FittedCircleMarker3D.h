// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "detect/ConcentricCircleMarker3D.h"
#include "detect/PlaneCircleFit.h"

#include <opencv2/core.hpp>

#include <string>

namespace TamoHandEye {
namespace Detect {

/// The concentric-circle marker's centre fitted on the board plane (see FitMarker): the same search for
/// the marker as ConcentricCircleMarker3D, then, instead of the mean of the four boundaries' centroids
/// read from one cloud pixel, the boundaries fitted as concentric circles on the plane the cloud
/// measures around the marker. A hole in the cloud at the centre does not matter.
class FittedCircleMarker3D : public ConcentricCircleMarker3D {
 public:
  using ConcentricCircleMarker3D::ConcentricCircleMarker3D;

  /// One attempt: 0 with `result` filled (the fitted centre, metres if the cloud is, and its pixel),
  /// 101 no centre, 104 several, 109 a marker whose rings do not have the design's ratios, 110 too few
  /// edge or plane points, 106/107 when the input is gone. `fit` holds what the last fit measured.
  ErrorCode DetectMarker(MarkerBoardResult& result) override;

  MarkerFit fit;
  bool fitted = false;     ///< a fit was made (fit holds its figures)
  MarkerFit firstRefused;  ///< the first fit refused, what a run that ends refused reports
  bool refused = false;    ///< a fit was refused (firstRefused holds its figures)
  /// The image's own lens model and registration, when it has them (see FitMarker); not owned.
  const ImageModel* model = nullptr;

 private:
  cv::Mat grey;  ///< the image's grey version, unfiltered, made once
};

}  // namespace Detect
}  // namespace TamoHandEye
