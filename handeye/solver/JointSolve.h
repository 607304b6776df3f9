// SPDX-License-Identifier: Apache-2.0
#pragma once

// The calibration from the whole of each shot: the marker point and the board's normal, each weighted by its
// covariance, with the robot's own pose noise carried through every shot's Jacobian.
//
// Unknowns: the camera transform Z, the marker point x and the board's unit normal N in the fixed frame (the
// base for eye-in-hand, the flange for eye-to-hand). A shot at flange pose F (A = F⁻¹ eye-in-hand, F
// eye-to-hand) that measured the point p and the normal n (camera frame) has the residuals
//   point   r_p = R_A·x + t_A − R_Z·p − t_Z                        (3, in Z's parent frame)
//   normal  r_n = Uᵀ·R_Zᵀ·R_A·N                                     (2, U the two axes across the measured n)
// with the covariance C = blockdiag(R_Z·(f_p·Σ_p + s²·uuᵀ)·R_Zᵀ, f_n·Σ_n) + G·S·Gᵀ, u the point's line of sight,
// S the robot noise (per axis, of a turn and shift in the flange frame) and G the residuals' derivative by it.
// The solve minimises Σ rᵀC⁻¹r by Levenberg-Marquardt from the point solution. How far the shots' stated noise
// under-states what the residuals show is estimated from the residuals of each kind over their share of the
// redundancy: f_p from the points across their line of sight, s² (a real camera's depth errors, which no single
// shot shows: dark or shiny surfaces, a depth scale or offset) from them along it, f_n from the normals; f_p and
// f_n never below 1 where the shots stated their noise. The solve is repeated until they settle.

#include <LieGroup/SE3.h>

#include <Eigen/Core>

#include <limits>
#include <vector>

namespace TamoHandEye {

/// One shot's measurement beyond the robot's pose.
struct JointShot {
  Eigen::Vector3d point = Eigen::Vector3d::Zero();  ///< the marker point, camera frame, metres
  /// Its covariance (m²); zero: not stated (then isotropic, its scale taken from the residuals).
  Eigen::Matrix3d pointCovariance = Eigen::Matrix3d::Zero();
  bool hasNormal = false;
  Eigen::Vector3d normal = Eigen::Vector3d::UnitZ();  ///< unit, camera frame
  /// The normal's displacement covariance along two unit axes across it (radians²); zero: not stated.
  Eigen::Matrix<double, 3, 2> normalAxes = Eigen::Matrix<double, 3, 2>::Zero();
  Eigen::Matrix2d normalCovariance = Eigen::Matrix2d::Zero();
  /// A target's full pose measured: its rotation (camera_from_target) and the covariance of its small turn in the
  /// target's frame (radians²; zero: not stated). With any, the rotations are used instead of the normals.
  bool hasRotation = false;
  Eigen::Matrix3d rotation = Eigen::Matrix3d::Identity();
  Eigen::Matrix3d rotationCovariance = Eigen::Matrix3d::Zero();
};

struct JointOptions {
  double robotNoiseM = 0.0;    ///< the robot's pose noise, per axis: shift (metres)
  double robotNoiseRad = 0.0;  ///< and turn (radians)
  int maxIterations = 60;      ///< Levenberg-Marquardt iterations per solve
};

/// The parameters' order in JointSolution::covariance: x (0–2), the camera turned by exp(δ) in its own frame
/// (3–5), t_Z (6–8), the normal's turn about two axes across it (9–10; 11 unused) or, with target rotations, the
/// target turned by exp(φ) in its own frame (9–11).
using Matrix12d = Eigen::Matrix<double, 12, 12>;

struct JointSolution {
  bool solved = false;
  Kel::SE3d marker;                                             ///< X (its translation is the marker point)
  Kel::SE3d camera;                                             ///< Z
  Eigen::Vector3d normal = Eigen::Vector3d::Zero();             ///< N, fixed frame
  Matrix12d covariance = Matrix12d::Zero();                     ///< metres and radians; known only when `solved`
  double pointFactor = 1.0;                                     ///< f_p
  double sightVariance = 0.0;                                   ///< s² (m²)
  double normalFactor = 1.0;                                    ///< f_n
  bool rotations = false;                                       ///< the target rotations were used (not the normals)
  Eigen::Matrix3d boardRotation = Eigen::Matrix3d::Identity();  ///< R_B: the target in the fixed frame
  int normals = 0;                                              ///< shots used that carried a normal (or a rotation)
  double normalRmsRad = 0.0;                                    ///< RMS angle between measured and predicted normals
  /// The covariance of N's three components and of N with the first nine parameters (radians, metres), and one
  /// shot's normal noise per axis across it (rad²): the normals' (a rotation's third axis') squared residuals over
  /// 2m − 5 (`normalFreedom`), m the shots used that carried one. What a later check of new shots' normals needs.
  Eigen::Matrix3d normalCovariance = Eigen::Matrix3d::Zero();
  Eigen::Matrix<double, 3, 9> normalCross = Eigen::Matrix<double, 3, 9>::Zero();
  double shotNormalVariance = 0.0;
  int normalFreedom = 0;
  int iterations = 0;
};

/// A_i as the solver reads a flange pose: flange_from_base eye-in-hand, base_from_flange eye-to-hand.
struct JointProblem {
  bool eyeToHand = false;
  const std::vector<Kel::SE3d>& robotPoses;  ///< base_from_flange, metres
  const std::vector<JointShot>& shots;       ///< one per pose
  const std::vector<int>& mask;              ///< 0 dropped; empty: all used
  JointOptions options;

  bool Used(std::size_t i) const { return mask.empty() || (i < mask.size() && mask[i] != 0); }
};

/// The joint solve from the point solution (`marker`, `camera`). Not solved with fewer than 5 poses used, no
/// normal, a singular system or a diverging one.
JointSolution SolveJoint(const JointProblem& problem, const Kel::SE3d& marker, const Kel::SE3d& camera);

/// Per pose under the joint solution: its point residual without it (metres, one Gauss-Newton step from the
/// solution with the pose's rows taken out of the normal equations: exact for a linear model, and about its
/// noise from it), and that residual over its predicted spread √(eᵀC⁻¹e/3), C the pose's point covariance plus
/// the solution's uncertainty without it there. A pose not used: its residual under the solution, NaN studentised.
struct JointLeftOut {
  double distance = std::numeric_limits<double>::quiet_NaN();
  double studentised = std::numeric_limits<double>::quiet_NaN();
};
std::vector<JointLeftOut> JointLeaveOneOut(const JointProblem& problem, const JointSolution& solution);

/// A shot's derivative over the 12 parameters and its residuals' covariance: 6 rows, zero where the shot has fewer
/// (with unit variance there).
struct JointRows {
  Eigen::Matrix<double, 6, 12> j = Eigen::Matrix<double, 6, 12>::Zero();
  Eigen::Matrix<double, 6, 6> c = Eigen::Matrix<double, 6, 6>::Identity();
};

/// What a shot not yet taken would add to a joint solution: the shot predicted where the solution puts it (its
/// point, and its normal or target rotation), its noise that of the shots used (the mean of their stated noise,
/// across and along the line of sight for the points) scaled as the solve scaled theirs, plus the robot's.
class JointPredictor {
 public:
  /// `problem` and `solution` must outlive the predictor; `solution` solved.
  JointPredictor(const JointProblem& problem, const JointSolution& solution);
  /// The solution's information (the inverse of its covariance), metres and radians.
  const Matrix12d& Information() const { return information_; }
  /// The rows of a shot at flange pose `flange` (base_from_flange, metres).
  JointRows Rows(const Kel::SE3d& flange) const;

 private:
  const JointProblem& problem_;
  const JointSolution& solution_;
  Matrix12d information_ = Matrix12d::Zero();
  double acrossVariance_ = 0.0;  ///< a point's stated variance across its line of sight (m²)
  double alongVariance_ = 0.0;   ///< and along it
  double normalVariance_ = 0.0;  ///< a normal's, per axis (rad²)
  double rotationVariance_ = 0.0;
};

}  // namespace TamoHandEye
