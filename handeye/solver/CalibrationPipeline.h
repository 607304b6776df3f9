// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "robot/SolverParam.h"
#include "solver/IHandEye.h"
#include "solver/PoseSearch.h"

#include <tarn/FinalResult.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace TamoHandEye {

/// How one candidate convention of a generic kind fared.
struct ConventionFit {
  /// The status of a candidate that was not solved: it could not have been chosen.
  static constexpr int kNotTried = -1000;
  std::string axes;
  int status = 0;            ///< its solve's code
  std::size_t selected = 0;  ///< poses used (on success)
  double rmsMm = 0.0;        ///< RMS over those (on success)
};

/// What one solve of a robot object leaves beside its result: the poses it solved, its solver, what the
/// pose search did, and for a generic kind how each candidate convention fared. The poses, solver and
/// search describe the solution only when the solve succeeded.
struct SolveRecord {
  std::vector<Kel::SE3d> robotPoses;          ///< the rows as poses (base_from_flange, metres)
  std::vector<Kel::SE3d> markerPoses;         ///< the marker points as poses without rotation
  std::shared_ptr<IHandEye> handEye;          ///< the solver holding the solution
  bool searched = false;                      ///< the pose search ran
  PoseSearchReport search;                    ///< what it did
  double degenerateFit = 0.0;                 ///< on kDegeneratePoses: the linear fit's RMS (metres)
  std::vector<ConventionFit> conventionFits;  ///< generic kinds: every candidate, in their order
};

/// The status of a calibration whose poses cannot fix a solution (rotations about one axis, or none): the
/// solve failed, and would under any noise. The entry points report it as any failed solve.
constexpr int kDegeneratePoses = 130;

/// One calibration over flange poses (base_from_flange, metres) and marker points (as poses without
/// rotation, metres): creates the hand-eye solver for the set-up in `handEye`, then, with `Exhaust` and
/// more than `search.sampleSize` poses, runs the pose search (its distance is `RansacDist`) and writes its
/// mask (and `report`), otherwise solves over all poses (`mask` empty). 0 solved, 129 the numerical solve
/// failed, -1 the pose search found no consensus, kDegeneratePoses either failure on a degenerate set
/// (then `degenerateRms`, when given, receives the linear estimate's RMS, metres).
int CalibratePoses(const SolverParam& param, const std::vector<Kel::SE3d>& robotPoses,
                   const std::vector<Kel::SE3d>& markerPoses, PoseSearchOptions search,
                   std::shared_ptr<IHandEye>& handEye, std::vector<int>& mask, PoseSearchReport& report,
                   double* degenerateRms = nullptr);

/// Fills `result` from a solved `handEye`: the mask, every pose's residual and the errors in millimetres
/// (whatever the rows' unit), the camera transform as a row of the convention (`toRow`), as a 4 x 4
/// matrix and the marker position in the rows' translation unit.
void WriteFinalResult(const IHandEye& handEye, const SolverParam& param, const std::vector<int>& mask,
                      const std::function<void(const Kel::SE3d&, std::vector<double>&)>& toRow, FinalResult& result);

}  // namespace TamoHandEye
