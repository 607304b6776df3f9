// SPDX-License-Identifier: Apache-2.0
#include "MarkerBatch.h"

#include <tarn/ErrorCode.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <thread>

namespace TarnWorkflow {

using namespace TamoHandEye;

ShotDetection DetectShot(const ShotPair& pair, Centre centre, const std::optional<ImageIntrinsics>& intrinsics) {
  ShotDetection d;
  d.pair = pair;
  if (centre == Centre::Fit) {
    d.code = SolveFittedMarkerPlane(pair.image, pair.cloud, d.plane, d.quality, intrinsics ? &*intrinsics : nullptr);
    if (d.code == Success) {
      d.marker = MarkerBoardResult{d.plane.x, d.plane.y, d.plane.z, d.plane.u, d.plane.v};
      d.hasNormal = true;
    }
    d.fitted =
        d.code == Success || d.code == Err_Algo_Marker_Fit_NotMarker || d.code == Err_Algo_Marker_Fit_TooFewPoints;
  } else {
    d.code = SolveMarkerBoardResults(pair.image, pair.cloud, d.marker);
  }
  if (d.code == Err_Data_Invalid_Image || d.code == Err_Data_Invalid_PointCloud) {
    d.problem = DescribeShotFiles(pair.image, pair.cloud);
  }
  d.done = true;
  return d;
}

void AddFittedRadii(const std::vector<ShotDetection>& detections, ReportOptions& options) {
  options.outerRadiiMm.clear();
  options.outerRadiusSigmasMm.clear();
  const bool fitted = std::any_of(detections.begin(), detections.end(),
                                  [](const ShotDetection& d) { return d.fitted && d.code == Success; });
  if (!fitted) return;
  for (const ShotDetection& d : detections) {
    const bool known = d.fitted && d.code == Success;
    options.outerRadiiMm.push_back(known ? d.quality.markerRadiusMm : 0.0);
    options.outerRadiusSigmasMm.push_back(known ? d.quality.outerRadiusSigmaMm : 0.0);
  }
}

ShotPlane PlaneOf(const MarkerPlaneResult& plane) {
  ShotPlane out;
  out.hasNormal = true;
  out.normal = {plane.nx, plane.ny, plane.nz};
  std::copy(std::begin(plane.normalAxes), std::end(plane.normalAxes), out.normalAxes.begin());
  std::copy(std::begin(plane.normalCovariance), std::end(plane.normalCovariance), out.normalCovariance.begin());
  std::copy(std::begin(plane.centreCovariance), std::end(plane.centreCovariance), out.centreCovariance.begin());
  return out;
}

std::vector<ShotPlane> ShotPlanesOf(const std::vector<ShotDetection>& detections) {
  std::vector<ShotPlane> planes;
  const auto withNormal = [](const ShotDetection& d) { return d.hasNormal && d.code == Success; };
  if (std::none_of(detections.begin(), detections.end(), withNormal)) return planes;
  for (const ShotDetection& d : detections) planes.push_back(withNormal(d) ? PlaneOf(d.plane) : ShotPlane{});
  return planes;
}

void AddShotPlanes(const std::vector<ShotDetection>& detections, ReportOptions& options) {
  options.shots = ShotPlanesOf(detections);
}

std::vector<ShotDetection> DetectShots(const std::vector<ShotPair>& pairs, const BatchOptions& options) {
  std::vector<ShotDetection> detections(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) detections[i].pair = pairs[i];
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t workers = std::min<std::size_t>(options.threads == 0 ? cores : options.threads, pairs.size());
  std::atomic<std::size_t> next{0};
  std::size_t done = 0;
  std::mutex reporting;
  const auto work = [&] {
    for (;;) {
      if (options.cancel != nullptr && options.cancel->load()) return;
      const std::size_t i = next.fetch_add(1);
      if (i >= pairs.size()) return;
      detections[i] = DetectShot(pairs[i], options.centre, options.intrinsics);
      const std::lock_guard<std::mutex> lock(reporting);
      ++done;
      if (options.onShot) options.onShot(detections[i], i, done);
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t k = 1; k < workers; ++k) threads.emplace_back(work);
  work();  // the calling thread is one of the workers
  for (std::thread& t : threads) t.join();
  return detections;
}

std::string FailureText(const ShotDetection& d) {
  namespace fs = std::filesystem;
  switch (d.problem.file) {
    case ShotFileProblem::Image:
      return "the image " + fs::path(d.pair.image).filename().string() + " cannot be used: " + d.problem.reason;
    case ShotFileProblem::PointCloud:
      return "the point cloud " + fs::path(d.pair.cloud).filename().string() + " cannot be used: " + d.problem.reason;
    case ShotFileProblem::None: break;
  }
  return parseCode(d.code);
}

}  // namespace TarnWorkflow
