#include "solver/CalibrationPipeline.h"

#include "robot/IRobot.h"
#include "solver/HandEyeKel.h"

#include <algorithm>
#include <cstdio>
#include <limits>

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

int IRobot::Solve(const SolverParam& solverParam, FinalResult& result) {
  param = solverParam;
  std::printf("type:%d\n", param.type ? 1 : 0);
  std::fflush(stdout);

  std::vector<Kel::SE3d> robotTransforms;
  std::vector<Kel::SE3d> markerTransforms;
  robotTransforms.reserve(robotData.size());
  markerTransforms.reserve(robotData.size());
  for (std::size_t i = 0; i < robotData.size(); ++i) {
    AddRobotPose(static_cast<int>(i), robotTransforms);
    const MarkerBoardResult& m = markers.at(i);
    Kel::SO3d noRotation(0.0, 0.0, 0.0, 0.0);
    noRotation.Normalize();  // the identity
    markerTransforms.emplace_back(Eigen::Vector3d(m.x, m.y, m.z), noRotation);
  }

  PoseSearchOptions search;
  search.seed = searchSeed ? searchSeed : PoseSearchSeed();
  std::vector<int> mask;
  PoseSearchReport report;
  const int status =
      CalibratePoses(param, robotTransforms, markerTransforms, search, handEye, mask, report, &degenerateFit);
  if (status != 0) return status;

  robotPoses = std::move(robotTransforms);
  markerPoses = std::move(markerTransforms);
  WriteFinalResult(
      *handEye, param, mask, [this](const Kel::SE3d& pose, std::vector<double>& row) { ToRobotData(pose, row); },
      result);
  return 0;
}

int IRobot::SearchPoses(const std::shared_ptr<IHandEye>& solver, const std::vector<Kel::SE3d>& robotTransforms,
                        const std::vector<Kel::SE3d>& markerTransforms, std::vector<int>& outMask, bool exhaust,
                        double ransacDist) {
  outMask.clear();
  PoseSearchOptions search;
  search.seed = searchSeed ? searchSeed : PoseSearchSeed();
  search.inlierDistance = ransacDist;
  if (!exhaust || robotTransforms.size() <= search.sampleSize)
    return solver->Solve(robotTransforms, markerTransforms, {});
  PoseSearchReport report;
  return SearchPoseConsensus(*solver, robotTransforms, markerTransforms, search, outMask, report);
}

int IRobot::SolveOverConventions(const std::vector<std::string>& candidates, std::string& axes,
                                 const SolverParam& solverParam, FinalResult& result) {
  struct Best {
    std::string axes;
    FinalResult result;
    std::size_t selected = 0;
    std::vector<Kel::SE3d> robotPoses;
    std::vector<Kel::SE3d> markerPoses;
    std::shared_ptr<IHandEye> handEye;
  };
  std::unique_ptr<Best> best;
  int status = 0;
  double bestDegenerateFit = std::numeric_limits<double>::infinity();  // metres
  conventionFits.clear();
  for (const std::string& candidate : candidates) {
    axes = candidate;
    FinalResult trial;
    status = IRobot::Solve(solverParam, trial);
    conventionFits.push_back(ConventionFit{candidate, status, 0, 0.0});
    if (status == kDegeneratePoses) bestDegenerateFit = std::min(bestDegenerateFit, degenerateFit);
    if (status != 0) continue;
    const std::size_t selected = trial.mask.empty() ? trial.residuals.size() : CountSelected(trial.mask);
    conventionFits.back().selected = selected;
    conventionFits.back().rmsMm = trial.rmsError;
    const bool better =
        !best || selected > best->selected || (selected == best->selected && trial.rmsError < best->result.rmsError);
    if (better) {
      best = std::make_unique<Best>(Best{candidate, std::move(trial), selected, robotPoses, markerPoses, handEye});
    }
  }
  // Rows rotating about one axis read under a wrong convention look spread, and a solve fits them, badly.
  // A reading under which the poses are degenerate and that fits them about as well as the best solved
  // one (a linear RMS within twice its RMS) says the set is degenerate.
  if (bestDegenerateFit < std::numeric_limits<double>::infinity() &&
      (!best || bestDegenerateFit * 1000.0 <= 2.0 * best->result.rmsError + 1e-9)) {
    return kDegeneratePoses;
  }
  if (!best) return status;

  axes = best->axes;
  result = std::move(best->result);
  robotPoses = std::move(best->robotPoses);
  markerPoses = std::move(best->markerPoses);
  handEye = std::move(best->handEye);
  return 0;
}

}  // namespace TamoHandEye
