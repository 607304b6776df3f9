// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the calibration report says about a solve: the analysis of a successful one (uncertainty,
// leave-one-out residuals, pose set, set-up check, warnings), what to say when it failed, and the pose
// search's distance taken from the data.

#include <tarn/CalibrationReport.h>

#include "solver/EntryPath.h"

#include <cstdint>
#include <vector>

namespace TamoHandEye {

/// The share of good calibrations that may raise "suspect-pose" (family-wise, over the poses).
constexpr double kSuspectAlpha = 0.01;

/// The warnings about the pose set (few poses, narrow or single-axis turns) and about the fit (uncertain, poor,
/// suspect poses) of a report whose figures are filled.
void WarnAboutPoseSet(CalibrationReport& report);
void WarnAboutFit(CalibrationReport& report, bool poorFit);

/// Fills the report of a successful run: the convention and its runner-up, what the search did, the
/// uncertainty and covariance, leave-one-out residuals, the pose set, the set-up check (when the options
/// ask) and the warnings.
void Analyse(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
             const AlgoParam& param, const ReportOptions& options, const EntryRun& run, CalibrationReport& report);
/// Why the run failed, in English and Chinese, with what to do.
void ExplainFailure(const EntryRun& run, const std::vector<MarkerBoardResult>& markers, const AlgoParam& param,
                    CalibrationReport& report);
/// A failed solve may still be a set-up mistake: names a reading under which the poses fit.
void NameFailedSetup(RobotKind kind, const std::vector<MarkerBoardResult>& markers, const RobotRows& rows,
                     const AlgoParam& param, CalibrationReport& report);
/// A search without a distance: the distance (into `settings.RansacDist`) from the robust noise scale of a
/// first solve over all poses (ReportOptions::searchDistance says how); false when that solve fails.
bool DistanceFromData(const std::vector<MarkerBoardResult>& markers, const RobotRows& rows, RobotKind robot,
                      std::uint32_t seed, AlgoParam& settings, CalibrationReport& report);

}  // namespace TamoHandEye
