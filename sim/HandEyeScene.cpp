// SPDX-License-Identifier: Apache-2.0
#include "HandEyeScene.h"

#include <cmath>
#include <random>

namespace TarnSim {
namespace {

using Eigen::AngleAxisd;
using Eigen::Isometry3d;
using Eigen::Matrix3d;
using Eigen::Vector3d;

constexpr double kPi = 3.14159265358979323846;

Isometry3d MakeIsometry(const Matrix3d& r, const Vector3d& t) {
  Isometry3d iso = Isometry3d::Identity();
  iso.linear() = r;
  iso.translation() = t;
  return iso;
}

// A camera orientation whose optical axis (+Z) points along `forward`, rolled by `roll` about it.
Matrix3d LookAlong(const Vector3d& forward, double roll) {
  const Vector3d z = forward.normalized();
  const Vector3d helper = std::abs(z.x()) < 0.9 ? Vector3d::UnitX() : Vector3d::UnitY();
  const Vector3d x = helper.cross(z).normalized();
  const Vector3d y = z.cross(x);
  Matrix3d r;
  r.col(0) = x;
  r.col(1) = y;
  r.col(2) = z;
  return r * AngleAxisd(roll, Vector3d::UnitZ()).toRotationMatrix();
}

Vector3d RotationVector(const Matrix3d& r) {
  const AngleAxisd aa(r);
  return aa.axis() * aa.angle();
}

}  // namespace

std::vector<TamoHandEye::MarkerBoardResult> Scene::Markers() const {
  std::vector<TamoHandEye::MarkerBoardResult> markers;
  for (const Vector3d& p : points) markers.push_back({p.x(), p.y(), p.z(), 0.0, 0.0});
  return markers;
}

namespace {

// The random draws of a scene's poses, and what every pose shares.
struct PoseDraws {
  const SceneOptions& o;
  std::mt19937& rng;
  std::uniform_real_distribution<double> unit{-1.0, 1.0};
  double spread = 0.0;
  Vector3d singleAxis = Vector3d(0.2, -0.3, 1.0).normalized();
  Matrix3d fixedFlange = LookAlong(Vector3d(0.1, 0.05, -1.0), 0.7);
};

// The camera looks at the fixed marker from about 0.5 m, from directions spread around "above".
Isometry3d EyeInHandFlange(PoseDraws& d, const Scene& scene) {
  std::mt19937& rng = d.rng;
  auto& unit = d.unit;
  const double spread = d.spread;
  const Vector3d offset(std::sin(spread * unit(rng)), std::sin(spread * unit(rng)), 1.0);
  const Vector3d cameraPosition = scene.marker + offset.normalized() * (0.45 + 0.1 * unit(rng));
  // It aims near the marker, not at it: the marker shows away from the image centre.
  const Vector3d aim = scene.marker + Vector3d(0.12 * unit(rng), 0.12 * unit(rng), 0.0);
  Matrix3d cameraRotation = LookAlong(aim - cameraPosition, spread * unit(rng));
  if (d.o.motion == Motion::TranslationOnly) cameraRotation = d.fixedFlange * scene.camera.linear();
  if (d.o.motion == Motion::SingleAxis || d.o.motion == Motion::FourAxis) {
    cameraRotation = AngleAxisd(2.0 * spread * unit(rng), d.singleAxis) * d.fixedFlange * scene.camera.linear();
  }
  return MakeIsometry(cameraRotation, cameraPosition) * scene.camera.inverse();
}

// The marker on the flange moves in front of the fixed camera, about 0.6 m from it.
Isometry3d EyeToHandFlange(PoseDraws& d, const Scene& scene) {
  std::mt19937& rng = d.rng;
  auto& unit = d.unit;
  const double spread = d.spread;
  const Vector3d markerInBase = scene.camera * Vector3d(0.12 * unit(rng), 0.12 * unit(rng), 0.6 + 0.1 * unit(rng));
  Matrix3d r = AngleAxisd(spread * unit(rng), Vector3d::UnitX()) * AngleAxisd(spread * unit(rng), Vector3d::UnitY()) *
               AngleAxisd(spread * unit(rng), Vector3d::UnitZ()) * d.fixedFlange;
  if (d.o.motion == Motion::TranslationOnly) r = d.fixedFlange;
  if (d.o.motion == Motion::SingleAxis || d.o.motion == Motion::FourAxis) {
    r = AngleAxisd(2.0 * spread * unit(rng), d.singleAxis) * d.fixedFlange;
  }
  return MakeIsometry(r, markerInBase - r * scene.marker);
}

// The marker as the camera measures pose i from the true flange pose, with noise and outliers.
Vector3d MeasuredPoint(const SceneOptions& o, const Scene& scene, const Isometry3d& flange, int i,
                       std::mt19937& noiseRng, std::normal_distribution<double>& normal) {
  const Vector3d truePoint = o.eyeToHand ? Vector3d(scene.camera.inverse() * (flange * scene.marker))
                                         : Vector3d((flange * scene.camera).inverse() * scene.marker);
  Vector3d point = truePoint + o.pointNoise * Vector3d(normal(noiseRng), normal(noiseRng), normal(noiseRng));
  if (o.depthNoise > 0.0) point += o.depthNoise * normal(noiseRng) * truePoint.normalized();
  for (const int outlier : o.outliers) {
    if (outlier == i) point += o.outlierOffset * Vector3d(1, -1, 1).normalized();
  }
  return point;
}

// The board's normal as the camera measures it at the true flange pose, turned by the noise across it.
Vector3d MeasuredNormal(const SceneOptions& o, const Scene& scene, const Isometry3d& flange, std::mt19937& noiseRng,
                        std::normal_distribution<double>& normal) {
  const Matrix3d toCamera = o.eyeToHand ? Matrix3d(scene.camera.linear().transpose() * flange.linear())
                                        : Matrix3d((flange.linear() * scene.camera.linear()).transpose());
  const Vector3d n = toCamera * scene.boardNormal;
  const Vector3d a1 = n.cross(std::abs(n.x()) < 0.9 ? Vector3d::UnitX() : Vector3d::UnitY()).normalized();
  const Vector3d a2 = n.cross(a1);
  const Vector3d turn = o.normalNoise * (normal(noiseRng) * a1 + normal(noiseRng) * a2);
  const double angle = turn.norm();
  return angle > 0.0 ? Vector3d(AngleAxisd(angle, turn / angle) * n) : n;
}

// The pose as the robot reports it.
Isometry3d ReportedPose(const SceneOptions& o, const Isometry3d& flange, std::mt19937& noiseRng,
                        std::normal_distribution<double>& normal) {
  const Vector3d rotationNoise = o.robotRotationNoise * Vector3d(normal(noiseRng), normal(noiseRng), normal(noiseRng));
  const double angle = rotationNoise.norm();
  Isometry3d reported = flange;
  if (angle > 0.0) reported.linear() = flange.linear() * AngleAxisd(angle, rotationNoise / angle).toRotationMatrix();
  reported.translation() += o.robotTranslationNoise * Vector3d(normal(noiseRng), normal(noiseRng), normal(noiseRng));
  return reported;
}

}  // namespace

Scene MakeScene(const SceneOptions& o) {
  // Poses and noise come from separate engines, so that the poses do not depend on the noise settings.
  std::mt19937 rng(o.seed);
  std::mt19937 noiseRng(o.noiseSeed != 0 ? o.noiseSeed : o.seed + 0x9e3779b9u);
  std::normal_distribution<double> normal(0.0, 1.0);
  PoseDraws draws{o, rng};
  draws.spread = o.rotationSpreadDeg * kPi / 180.0;
  if (o.motion == Motion::FourAxis) {
    draws.singleAxis = Vector3d::UnitZ();
    draws.fixedFlange = AngleAxisd(o.fourAxisTiltDeg * kPi / 180.0, Vector3d::UnitX()).toRotationMatrix();
  }

  Scene scene;
  scene.eyeToHand = o.eyeToHand;
  // Truth: a camera a little off the flange axis and tilted, or a fixed camera looking down at the cell.
  if (!o.eyeToHand) {
    scene.camera = MakeIsometry(AngleAxisd(0.3, Vector3d(1, 2, 0.5).normalized()).toRotationMatrix(),
                                Vector3d(0.052, -0.031, 0.118));
    scene.marker = Vector3d(0.82, 0.13, 0.02);
    scene.boardNormal = Vector3d(0.05, -0.03, 1.0).normalized();
  } else {
    scene.camera = MakeIsometry(LookAlong(Vector3d(-0.2, 0.1, -1.0), 0.4), Vector3d(0.9, -0.1, 1.2));
    scene.marker = Vector3d(0.012, -0.025, 0.135);
    scene.boardNormal = Vector3d(0.03, 0.02, -1.0).normalized();
  }
  std::mt19937 normalRng(o.noiseSeed != 0 ? o.noiseSeed + 0x5bd1e995u : o.seed + 0x27d4eb2du);
  std::normal_distribution<double> normalTurn(0.0, 1.0);  // its own: a distribution keeps a draw between calls
  for (int i = 0; i < o.poses; ++i) {
    const Isometry3d flange = o.eyeToHand ? EyeToHandFlange(draws, scene) : EyeInHandFlange(draws, scene);
    scene.points.push_back(MeasuredPoint(o, scene, flange, i, noiseRng, normal));
    scene.normals.push_back(MeasuredNormal(o, scene, flange, normalRng, normalTurn));
    scene.flange.push_back(ReportedPose(o, flange, noiseRng, normal));
  }
  return scene;
}

std::vector<std::vector<double>> RobotRows(const Scene& scene, RowFormat format, bool meter, bool radian) {
  const double length = meter ? 1.0 : 1000.0;
  const double angle = radian ? 1.0 : 180.0 / kPi;
  std::vector<std::vector<double>> rows;
  for (const Isometry3d& pose : scene.flange) {
    const Vector3d t = pose.translation() * length;
    const Matrix3d r = pose.linear();
    std::vector<double> row{t.x(), t.y(), t.z()};
    const Eigen::Quaterniond q(r);
    // Eigen's eulerAngles(2, 1, 0) gives (a, b, c) with R = Rz(a)·Ry(b)·Rx(c).
    const Vector3d zyx = r.eulerAngles(2, 1, 0);
    switch (format) {
      case RowFormat::Fanuc: row.insert(row.end(), {zyx(2) * angle, zyx(1) * angle, zyx(0) * angle}); break;
      case RowFormat::Kuka: row.insert(row.end(), {zyx(0) * angle, zyx(1) * angle, zyx(2) * angle}); break;
      case RowFormat::AbbQuat: row.insert(row.end(), {q.w(), q.x(), q.y(), q.z()}); break;
      case RowFormat::Ur: {
        const Vector3d v = RotationVector(r) * angle;
        row.insert(row.end(), {v.x(), v.y(), v.z()});
        break;
      }
      case RowFormat::Xyzw: row.insert(row.end(), {q.x(), q.y(), q.z(), q.w()}); break;
    }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace TarnSim
