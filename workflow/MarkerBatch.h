// SPDX-License-Identifier: Apache-2.0
#pragma once

// Finds the marker in every shot of a data set, on all cores: each worker takes the next shot not yet
// started, and the results come back in shot order whatever order they finish in.

#include "ShotNames.h"

#include <tarn/CalibrationReport.h>
#include <tarn/FittedMarkerDetect.h>
#include <tarn/MarkerDetect.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace TarnWorkflow {

/// How a shot's marker centre is found: fitted on the board plane (precise), or the mean of the rings'
/// centroids read from one cloud pixel (the desktop program's default).
enum class Centre { Fit, Centroid };

struct ShotDetection {
  ShotPair pair;
  bool done = false;  ///< false for the shots a cancelled batch never started
  TamoHandEye::ErrorCode code = TamoHandEye::Success;
  TamoHandEye::MarkerBoardResult marker{};
  bool fitted = false;  ///< the centre was fitted, and quality holds the fit's figures
  TamoHandEye::MarkerFitQuality quality{};
  /// With the fitted centre found: the board's normal and the covariances (marker holds its centre too).
  bool hasNormal = false;
  TamoHandEye::MarkerPlaneResult plane{};
  TamoHandEye::ShotFileProblem problem;  ///< which file could not be used, and why (codes 106 and 107)
};

struct BatchOptions {
  Centre centre = Centre::Fit;
  /// The 2D camera's own lens model and registration, for the fitted centre; none: the image is the
  /// cloud's grid.
  std::optional<TamoHandEye::ImageIntrinsics> intrinsics;
  unsigned threads = 0;  ///< 0: one per core
  /// Called after each shot with its detection, its index in the batch and the number of shots done so far,
  /// from the worker that did it, one call at a time.
  std::function<void(const ShotDetection& detection, std::size_t index, std::size_t done)> onShot;
  /// When it becomes true, no further shot is started; the batch returns once the running ones end.
  const std::atomic<bool>* cancel = nullptr;
};

/// One shot's detection (with the 2D camera's intrinsics, when given, for the fitted centre).
ShotDetection DetectShot(const ShotPair& pair, Centre centre,
                         const std::optional<TamoHandEye::ImageIntrinsics>& intrinsics = std::nullopt);
/// Every shot's detection, in the order of `pairs`.
std::vector<ShotDetection> DetectShots(const std::vector<ShotPair>& pairs, const BatchOptions& options);
/// The fitted outer radii of the shots and their 1σ, for the report's "registration" check (nothing when
/// the centres were not fitted).
void AddFittedRadii(const std::vector<ShotDetection>& detections, TamoHandEye::ReportOptions& options);
/// The board's plane of a detection with a normal, as the report takes it.
TamoHandEye::ShotPlane PlaneOf(const TamoHandEye::MarkerPlaneResult& plane);
/// Every detection's plane into `options.shots` (none for a detection without a normal); empty when no
/// detection has one.
void AddShotPlanes(const std::vector<ShotDetection>& detections, TamoHandEye::ReportOptions& options);
/// The same planes: one per detection, or none when no detection carries a normal.
std::vector<TamoHandEye::ShotPlane> ShotPlanesOf(const std::vector<ShotDetection>& detections);
/// Why a shot has no marker, naming the file at fault when one of its files could not be used.
std::string FailureText(const ShotDetection& detection);

}  // namespace TarnWorkflow
