// SPDX-License-Identifier: Apache-2.0
#include "solver/CalibrationPipeline.h"
#include <tarn/Output.h>

#include "robot/IRobot.h"
#include "solver/HandEyeKel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <numeric>

namespace TamoHandEye {

int CalibratePoses(const SolverParam& param, const std::vector<Kel::SE3d>& robotPoses,
                   const std::vector<Kel::SE3d>& markerPoses, PoseSearchOptions search,
                   std::shared_ptr<IHandEye>& handEye, std::vector<int>& mask, PoseSearchReport& report,
                   double* degenerateRms) {
  const auto kel = std::make_shared<HandEyeKel>(param.type ? 1 : 0);
  handEye = kel;
  mask.clear();
  report = PoseSearchReport{};
  int status = 0;
  if (!param.Exhaust || robotPoses.size() <= search.sampleSize) {
    status = handEye->Solve(robotPoses, markerPoses, {});
  } else {
    search.inlierDistance = param.RansacDist;
    status = SearchPoseConsensus(*handEye, robotPoses, markerPoses, search, mask, report);
  }
  if (status != 0 && kel->IsDegenerate(robotPoses, markerPoses, degenerateRms)) return kDegeneratePoses;
  return status;
}

void WriteFinalResult(const IHandEye& handEye, const SolverParam& param, const std::vector<int>& mask,
                      const std::function<void(const Kel::SE3d&, std::vector<double>&)>& toRow, FinalResult& result) {
  result.mask = mask;
  // Residuals are always millimetres.
  result.residuals.clear();
  for (const Eigen::Vector3d& r : handEye.GetResiduals()) {
    result.residuals.push_back(PoseResidual{r.norm() * 1000.0, r.x() * 1000.0, r.y() * 1000.0, r.z() * 1000.0});
  }
  double maxError = 0.0;
  double rmsError = 0.0;
  handEye.GetErrors(maxError, rmsError);
  result.rmsError = rmsError * 1000.0;
  result.maxError = maxError * 1000.0;

  Kel::SE3d camera = param.type ? handEye.GetCameraToBase() : handEye.GetCameraToFlange();
  const Kel::SE3d marker = param.type ? handEye.GetMarkerToFlange() : handEye.GetMarkerToBase();
  result.cameraPose.clear();
  toRow(camera, result.cameraPose);

  const double scale = param.IsMeter ? 1.0 : 1000.0;
  for (int i = 0; i < 3; ++i) camera[i] *= scale;
  const Eigen::Matrix4d matrix = camera.Matrix();
  result.cameraMatrix.assign(4, std::vector<double>(4, 0.0));
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c)
      result.cameraMatrix[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = matrix(r, c);
  }
  result.markerPosition = {marker[0] * scale, marker[1] * scale, marker[2] * scale};
}

// ---- The solving members of the robot convention base: the conventions convert, this layer solves ----

namespace {

std::optional<std::uint32_t>& PoseSearchSeed() {
  static std::optional<std::uint32_t> seed;
  return seed;
}

std::size_t CountSelected(const std::vector<int>& mask) {
  return static_cast<std::size_t>(std::count_if(mask.begin(), mask.end(), [](int m) { return m != 0; }));
}

}  // namespace

void IRobot::SetPoseSearchSeed(std::optional<std::uint32_t> seed) { PoseSearchSeed() = seed; }

int IRobot::Solve(const SolverParam& solverParam, FinalResult& result, SolveRecord& record) {
  param = solverParam;
  if (StandardOutputTexts()) {
    std::printf("type:%d\n", param.type ? 1 : 0);
    std::fflush(stdout);
  }
  record = SolveRecord{};
  BuildTransforms(record.robotPoses, record.markerPoses);

  PoseSearchOptions search;
  search.seed = searchSeed ? searchSeed : PoseSearchSeed();
  record.searched = param.Exhaust && record.robotPoses.size() > search.sampleSize;
  std::vector<int> mask;
  const int status = CalibratePoses(param, record.robotPoses, record.markerPoses, search, record.handEye, mask,
                                    record.search, &record.degenerateFit);
  if (status != 0) return status;
  WriteFinalResult(
      *record.handEye, param, mask, [this](const Kel::SE3d& pose, std::vector<double>& row) { ToRobotData(pose, row); },
      result);
  return 0;
}

void IRobot::BuildTransforms(std::vector<Kel::SE3d>& robotTransforms, std::vector<Kel::SE3d>& markerTransforms) {
  robotTransforms.clear();
  markerTransforms.clear();
  robotTransforms.reserve(robotData.size());
  markerTransforms.reserve(robotData.size());
  for (std::size_t i = 0; i < robotData.size(); ++i) {
    AddRobotPose(static_cast<int>(i), robotTransforms);
    const MarkerBoardResult& m = markers.at(i);
    markerTransforms.emplace_back(Eigen::Vector3d(m.x, m.y, m.z), Kel::SO3d());  // a point: no rotation
  }
}

namespace {

// Leaving two poses out is bounded pair by pair: up to this many poses.
constexpr std::size_t kMaxLeaveTwoOut = 40;

// Bounds of one candidate convention's fit, from its relaxed linear fit (HandEyeKel::FitRelaxed; m²; NaN
// bounds nothing).
struct FitBounds {
  HandEyeKel::RelaxedFit fit;
  double all = std::numeric_limits<double>::quiet_NaN();  ///< over every pose
  std::vector<double> leavingOut;                         ///< over all but pose j
  /// The least over all but two poses, made when first asked (NaN: not made, or bounds nothing).
  double LeavingTwoOut() {
    if (!twoMade) {
      twoMade = true;
      if (leavingOut.size() <= kMaxLeaveTwoOut) leavingTwo = fit.LeastLeavingTwoOut();
    }
    return leavingTwo;
  }

 private:
  bool twoMade = false;
  double leavingTwo = std::numeric_limits<double>::quiet_NaN();
};

// Safety margins of the bounds against rounding: a factor on the squared figures, and per pose (0.02 mm)².
constexpr double kBoundFactor = 2.0;
constexpr double kBoundFloor = 4e-10;

// Whether a candidate with these bounds surely fits worse than twice `rms` (metres) over all poses, so
// that a degenerate reading of it could not fail the search against a best of that RMS.
bool SurelyNotDegenerate(const FitBounds& b, std::size_t n, double rms) {
  const double count = static_cast<double>(n);
  return b.all > kBoundFactor * count * 4.0 * rms * rms + kBoundFloor * count;
}

// Whether a candidate with these bounds can be neither chosen over a best that selected `selected` of
// `n` poses with `rms` (metres) nor said degenerate against it. Its selected poses all agreed (residual
// below `distance`) with a solution once, and its RMS is that of a solution over them; a solution over
// a set of poses fits them no better than the set's bound. Decided for a best that keeps every pose, or
// all but one or two (beyond, the candidate is solved).
bool CannotWin(FitBounds& b, std::size_t n, std::size_t selected, double rms, double distance, std::size_t sampleSize) {
  const double count = static_cast<double>(n);
  // Whether a bound over m poses (m² summed) exceeds what m poses within `per` of a solution would sum to.
  const auto above = [](double bound, double m, double per) {
    return bound > kBoundFactor * m * per * per + kBoundFloor * m;
  };
  const auto allAbove = [&](const std::vector<double>& bounds, double m, double per) {
    return std::all_of(bounds.begin(), bounds.end(), [&](double cost) { return above(cost, m, per); });
  };
  if (!SurelyNotDegenerate(b, n, rms)) return false;
  if (selected == n) return above(b.all, count, rms);
  if (selected + 2 < n || selected <= sampleSize || b.leavingOut.size() != n) return false;
  // No solution has every pose agreeing: none can select all n.
  if (!above(b.all, count, distance)) return false;
  if (selected + 1 == n) {
    // No set of n − 1 poses is fitted better than the best.
    return allAbove(b.leavingOut, count - 1.0, rms);
  }
  // The best left two out: no set of n − 1 poses agrees, and no set of n − 2 is fitted better.
  return allAbove(b.leavingOut, count - 1.0, distance) && above(b.LeavingTwoOut(), count - 2.0, rms);
}

// The best candidate reading so far.
struct ChosenReading {
  std::size_t index = 0;
  FinalResult result;
  std::size_t selected = 0;
  SolveRecord record;
};

// Whether candidate `index`, solved with `selected` poses at `rmsMm`, is chosen over `best`: most poses,
// then the best fit, then the earlier candidate (the candidates may be solved out of order).
bool Better(const ChosenReading* best, std::size_t index, std::size_t selected, double rmsMm) {
  if (best == nullptr || selected != best->selected) return best == nullptr || selected > best->selected;
  return rmsMm < best->result.rmsError || (rmsMm == best->result.rmsError && index < best->index);
}

// Every candidate's bounds over `n` poses (`transforms` gives candidate c's poses), and `order` sorted by
// the bound over all poses: unbounded candidates last, ties in the candidates' order.
void BoundAndOrder(std::size_t n, int type,
                   const std::function<void(std::size_t, std::vector<Kel::SE3d>&, std::vector<Kel::SE3d>&)>& transforms,
                   std::vector<FitBounds>& bounds, std::vector<std::size_t>& order) {
  std::vector<Kel::SE3d> robot, marker;
  for (std::size_t c = 0; c < bounds.size(); ++c) {
    transforms(c, robot, marker);
    bounds[c].fit = HandEyeKel::FitRelaxed(type, robot, marker);
    bounds[c].all = bounds[c].fit.cost;
    bounds[c].leavingOut = bounds[c].fit.LeavingOut();
    if (bounds[c].leavingOut.size() != n) bounds[c].leavingOut.clear();
  }
  const auto key = [&](std::size_t c) {
    return std::isnan(bounds[c].all) ? std::numeric_limits<double>::infinity() : bounds[c].all;
  };
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
}

}  // namespace

int IRobot::SolveOverConventions(const std::vector<std::string>& candidates, std::string& axes,
                                 const SolverParam& solverParam, FinalResult& result, SolveRecord& record) {
  std::unique_ptr<ChosenReading> best;
  double bestDegenerateFit = std::numeric_limits<double>::infinity();  // metres
  std::vector<int> statuses(candidates.size(), 0);
  std::vector<ConventionFit> conventionFits;
  for (const std::string& candidate : candidates) {
    conventionFits.push_back(ConventionFit{candidate, ConventionFit::kNotTried, 0, 0.0});
  }

  const auto solveCandidate = [&](std::size_t c) {
    axes = candidates[c];
    FinalResult trial;
    SolveRecord trialRecord;
    const int status = IRobot::Solve(solverParam, trial, trialRecord);
    statuses[c] = status;
    conventionFits[c].status = status;
    if (status == kDegeneratePoses) bestDegenerateFit = std::min(bestDegenerateFit, trialRecord.degenerateFit);
    if (status != 0) return;
    const std::size_t selected = trial.mask.empty() ? trial.residuals.size() : CountSelected(trial.mask);
    conventionFits[c].selected = selected;
    conventionFits[c].rmsMm = trial.rmsError;
    if (Better(best.get(), c, selected, trial.rmsError)) {
      best = std::make_unique<ChosenReading>(ChosenReading{c, std::move(trial), selected, std::move(trialRecord)});
    }
  };

  // With the pose search, every candidate costs up to a hundred solves (without it, one over every pose).
  // Solved in the order of their bound over all poses, the right reading usually comes first, and the
  // readings that the bounds prove cannot beat it are left out.
  const std::size_t n = robotData.size();
  const PoseSearchOptions search;
  const bool screen = screenConventions && (!solverParam.Exhaust || n > search.sampleSize) && candidates.size() > 1;
  std::vector<FitBounds> bounds(candidates.size());
  std::vector<std::size_t> order(candidates.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  if (screen) {
    param = solverParam;
    const auto transforms = [&](std::size_t c, std::vector<Kel::SE3d>& robot, std::vector<Kel::SE3d>& marker) {
      axes = candidates[c];
      BuildTransforms(robot, marker);
    };
    BoundAndOrder(n, param.type ? 1 : 0, transforms, bounds, order);
  }
  std::vector<std::size_t> left;
  for (const std::size_t c : order) {
    if (screen && best &&
        CannotWin(bounds[c], n, best->selected, best->result.rmsError * kMillimetre, solverParam.RansacDist,
                  search.sampleSize)) {
      left.push_back(c);
      continue;
    }
    solveCandidate(c);
  }
  // The best may have changed since a candidate was left out; one whose degenerate reading could now count
  // is solved after all.
  for (const std::size_t c : left) {
    if (!SurelyNotDegenerate(bounds[c], n, best->result.rmsError * kMillimetre)) solveCandidate(c);
  }

  // Rows rotating about one axis read under a wrong convention look spread, and a solve fits them, badly.
  // A reading under which the poses are degenerate and that fits them about as well as the best solved
  // one (a linear RMS within twice its RMS) says the set is degenerate.
  record = SolveRecord{};
  if (bestDegenerateFit < std::numeric_limits<double>::infinity() &&
      (!best || bestDegenerateFit * 1000.0 <= 2.0 * best->result.rmsError + 1e-9)) {
    record.degenerateFit = bestDegenerateFit;
    record.conventionFits = std::move(conventionFits);
    return kDegeneratePoses;
  }
  if (!best) {
    if (!candidates.empty()) axes = candidates.back();
    record.conventionFits = std::move(conventionFits);
    return statuses.empty() ? 0 : statuses.back();
  }

  axes = candidates[best->index];
  result = std::move(best->result);
  record = std::move(best->record);
  record.conventionFits = std::move(conventionFits);
  return 0;
}

}  // namespace TamoHandEye
