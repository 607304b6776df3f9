#include "robot/IRobot.h"

#include "api/LibraryLogger.h"
#include "robot/RotationConversions.h"
#include "solver/HandEyeKel.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace TamoHandEye {

IRobot::IRobot(const std::vector<MarkerBoardResult>& markerRecords) : markers(markerRecords) {}

IRobot::~IRobot() = default;

namespace {

std::optional<std::uint32_t>& PoseSearchSeed() {
  static std::optional<std::uint32_t> seed;
  return seed;
}

constexpr int kSelected = 255;
constexpr std::size_t kSampleSize = 5;
constexpr int kSearchIterations = 100;

std::size_t CountSelected(const std::vector<int>& mask) {
  return static_cast<std::size_t>(std::count_if(mask.begin(), mask.end(), [](int m) { return m != 0; }));
}

}  // namespace

void IRobot::SetPoseSearchSeed(std::optional<std::uint32_t> seed) { PoseSearchSeed() = seed; }

int IRobot::Solve(const SolverParam& solverParam, FinalResult& result) {
  param = solverParam;
  std::printf("type:%d\n", param.type ? 1 : 0);
  std::fflush(stdout);
  handEye = std::make_shared<HandEyeKel>(param.type ? 1 : 0);

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

  std::vector<int> mask;
  const int status = SearchPoses(handEye, robotTransforms, markerTransforms, mask, param.Exhaust, param.RansacDist);
  if (status != 0) return status;

  result.mask = mask;
  robotPoses = std::move(robotTransforms);
  markerPoses = std::move(markerTransforms);

  // Residuals are always millimetres.
  result.residuals.clear();
  for (const Eigen::Vector3d& r : handEye->GetResiduals()) {
    result.residuals.push_back(PoseResidual{r.norm() * 1000.0, r.x() * 1000.0, r.y() * 1000.0, r.z() * 1000.0});
  }
  double maxError = 0.0;
  double rmsError = 0.0;
  handEye->GetErrors(maxError, rmsError);
  result.rmsError = rmsError * 1000.0;
  result.maxError = maxError * 1000.0;

  Kel::SE3d camera = param.type ? handEye->GetCameraToBase() : handEye->GetCameraToFlange();
  const Kel::SE3d marker = param.type ? handEye->GetMarkerToFlange() : handEye->GetMarkerToBase();
  result.cameraPose.clear();
  ToRobotData(camera, result.cameraPose);

  const double scale = param.IsMeter ? 1.0 : 1000.0;
  for (int i = 0; i < 3; ++i) camera[i] *= scale;
  const Eigen::Matrix4d matrix = camera.Matrix();
  result.cameraMatrix.assign(4, std::vector<double>(4, 0.0));
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) result.cameraMatrix[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = matrix(r, c);
  }
  result.markerPosition = {marker[0] * scale, marker[1] * scale, marker[2] * scale};
  return 0;
}

int IRobot::SearchPoses(const std::shared_ptr<IHandEye>& solver, const std::vector<Kel::SE3d>& robotTransforms,
                        const std::vector<Kel::SE3d>& markerTransforms, std::vector<int>& outMask, bool exhaust,
                        double ransacDist) {
  outMask.clear();
  const std::size_t n = robotTransforms.size();
  if (!exhaust || n <= kSampleSize) return solver->Solve(robotTransforms, markerTransforms, {});

  std::mt19937 engine(PoseSearchSeed() ? *PoseSearchSeed() : std::random_device{}());
  const auto minInliers = static_cast<std::size_t>(static_cast<double>(n) * 0.8);
  long best = -1;
  std::vector<int> bestInliers;
  std::vector<int> bestSample;

  // Solves with `preferred`; if that fails, solves again with `fallback` so that the solver holds the
  // fallback's solution, whose mask is then the one reported.
  const auto finish = [&](const std::vector<int>& preferred, const std::vector<int>& fallback) {
    if (solver->Solve(robotTransforms, markerTransforms, preferred) == 0) {
      outMask = preferred;
    } else {
      solver->Solve(robotTransforms, markerTransforms, fallback);
      outMask = fallback;
    }
    return 0;
  };

  for (int iteration = 0; iteration < kSearchIterations; ++iteration) {
    std::vector<int> sample(n, 0);
    std::fill_n(sample.begin(), kSampleSize, kSelected);
    std::shuffle(sample.begin(), sample.end(), engine);
    if (solver->Solve(robotTransforms, markerTransforms, sample) != 0) continue;

    const std::vector<Eigen::Vector3d> residuals = solver->GetResiduals();
    std::vector<int> inliers(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
      if (ransacDist > residuals[i].norm()) inliers[i] = kSelected;
    }
    const std::size_t count = CountSelected(inliers);
    if (count > minInliers) return finish(inliers, sample);
    if (static_cast<long>(count) > best) {
      best = static_cast<long>(count);
      bestInliers = std::move(inliers);
      bestSample = std::move(sample);
    }
  }
  if (best < static_cast<long>(kSampleSize)) return -1;
  return finish(bestInliers, bestSample);
}

void IRobot::AddRobotPose(int /*index*/, std::vector<Kel::SE3d>& poses) { poses.clear(); }

void IRobot::ToRobotData(const Kel::SE3d& /*pose*/, std::vector<double>& row) { row.clear(); }

void IRobot::AppendPose(const std::vector<double>& row, double toMetre, const Eigen::Vector4d& xyzw,
                        std::vector<Kel::SE3d>& poses) {
  Kel::SO3d rotation(xyzw);
  rotation.Normalize();
  poses.emplace_back(Eigen::Vector3d(row[0], row[1], row[2]) * toMetre, rotation);
}

void IRobot::WriteRow(const Kel::SE3d& pose, double fromMetre, const Eigen::VectorXd& rotation,
                      std::vector<double>& row) {
  row.clear();
  row.reserve(3 + static_cast<std::size_t>(rotation.size()));
  for (int i = 0; i < 3; ++i) row.push_back(pose[i] * fromMetre);
  for (Eigen::Index i = 0; i < rotation.size(); ++i) row.push_back(rotation(i));
}

void IRobot::AppendEulerPose(const std::vector<double>& row, double toMetre, double toRadian,
                             const std::string& axes, std::vector<Kel::SE3d>& poses) {
  AppendPose(row, toMetre, QuaternionFromEuler(row[3] * toRadian, row[4] * toRadian, row[5] * toRadian, axes), poses);
}

void IRobot::WriteEulerRow(const Kel::SE3d& pose, double fromMetre, double fromRadian, const std::string& axes,
                           std::vector<double>& row) {
  WriteRow(pose, fromMetre, EulerFromQuaternion(Quaternion(pose), axes) * fromRadian, row);
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
  for (const std::string& candidate : candidates) {
    axes = candidate;
    FinalResult trial;
    status = IRobot::Solve(solverParam, trial);
    if (status != 0) continue;
    const std::size_t selected = trial.mask.empty() ? trial.residuals.size() : CountSelected(trial.mask);
    const bool better = !best || selected > best->selected ||
                        (selected == best->selected && trial.rmsError < best->result.rmsError);
    if (better) {
      best = std::make_unique<Best>(Best{candidate, std::move(trial), selected, robotPoses, markerPoses, handEye});
    }
  }
  if (!best) return status;

  axes = best->axes;
  result = std::move(best->result);
  robotPoses = std::move(best->robotPoses);
  markerPoses = std::move(best->markerPoses);
  handEye = std::move(best->handEye);
  return 0;
}

Eigen::Vector4d IRobot::QuaternionFromRotationVector(double r1, double r2, double r3, double toRadian) {
  const Eigen::Vector3d r = Eigen::Vector3d(r1, r2, r3) * toRadian;
  return QuaternionAboutAxis(r.norm(), r);
}

}  // namespace TamoHandEye
