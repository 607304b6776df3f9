// SPDX-License-Identifier: Apache-2.0
#include "MarkerRenderer.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

namespace TarnSim {
namespace {

constexpr double kBlack = 25.0;
constexpr double kWhite = 225.0;
constexpr double kBackground = 110.0;

// Brightness of the board at board coordinates (bx, by); NaN off the board.
double BoardShade(const ShotOptions& o, double bx, double by) {
  if (std::abs(bx) > o.boardHalfWidth || std::abs(by) > o.boardHalfHeight) return std::nan("");
  for (const Eigen::Vector2d& m : o.markers) {
    const double r = std::hypot(bx - m.x(), by - m.y()) / o.markerRadius;
    if (r <= 1.0) {
      if (r > o.ringRadii[0]) return kBlack;
      if (r > o.ringRadii[1]) return kWhite;
      if (r > o.ringRadii[2]) return kBlack;
      return kWhite;
    }
  }
  return kWhite;
}

}  // namespace

namespace {

// The board as a pinhole camera sees it.
class BoardView {
 public:
  explicit BoardView(const ShotOptions& options)
      : o(options),
        boardFromCamera(options.cameraFromBoard.inverse()),
        origin(options.cameraFromBoard.translation()),
        normal(options.cameraFromBoard.linear().col(2)),
        cx((options.width - 1) / 2.0),
        cy((options.height - 1) / 2.0) {}

  // Where the ray through image point (u, v) meets the board's plane, in the camera frame.
  bool Hit(double u, double v, Eigen::Vector3d& point) const {
    const Eigen::Vector3d ray((u - cx) / o.focal, (v - cy) / o.focal, 1.0);
    const double denominator = normal.dot(ray);
    if (std::abs(denominator) < 1e-12) return false;
    const double t = normal.dot(origin) / denominator;
    if (t <= 0.0) return false;
    point = t * ray;
    return true;
  }

  // The board's shade at camera-frame point p on its plane; NaN off the board.
  double ShadeOf(const Eigen::Vector3d& p) const {
    const Eigen::Vector3d b = boardFromCamera * p;
    return BoardShade(o, b.x(), b.y());
  }

  // The image's lens and registration: where the image sees grid point q, and the inverse.
  Eigen::Vector2d GridToImage(const Eigen::Vector2d& q) const {
    const double a = o.imageTurnDeg * kDegree;
    const Eigen::Vector2d d = q - Eigen::Vector2d(cx, cy);
    const Eigen::Vector2d ideal(cx + std::cos(a) * d.x() - std::sin(a) * d.y() + o.imageShift.x(),
                                cy + std::sin(a) * d.x() + std::cos(a) * d.y() + o.imageShift.y());
    const Eigen::Vector2d x = Lens((ideal - Eigen::Vector2d(cx, cy)) / o.focal);
    return Eigen::Vector2d(cx, cy) + o.focal * x;
  }
  Eigen::Vector2d ImageToGrid(double u, double v) const {
    if (!distorted) return {u, v};
    // Undistortion by fixed-point iteration: x = (target − tangential(x)) / radial(x).
    const Eigen::Vector2d target = (Eigen::Vector2d(u, v) - Eigen::Vector2d(cx, cy)) / o.focal;
    Eigen::Vector2d x = target;
    for (int k = 0; k < 200; ++k) {
      const Eigen::Vector2d lensed = Lens(x);
      const double radial = Radial(x);
      const Eigen::Vector2d next = (target - (lensed - x * radial)) / radial;
      const bool settled = (next - x).squaredNorm() < 1e-30;
      x = next;
      if (settled) break;
    }
    const Eigen::Vector2d ideal = Eigen::Vector2d(cx, cy) + o.focal * x - o.imageShift;
    const double a = -o.imageTurnDeg * kDegree;
    const Eigen::Vector2d d = ideal - Eigen::Vector2d(cx, cy);
    return {cx + std::cos(a) * d.x() - std::sin(a) * d.y(), cy + std::sin(a) * d.x() + std::cos(a) * d.y()};
  }

  // The mean shade of pixel (r, c) over s x s samples.
  double PixelShade(int r, int c, int s) const {
    double sum = 0.0;
    for (int i = 0; i < s; ++i) {
      for (int j = 0; j < s; ++j) {
        Eigen::Vector3d p;
        double shade = kBackground;
        const Eigen::Vector2d grid = ImageToGrid(c + (j + 0.5) / s - 0.5, r + (i + 0.5) / s - 0.5);
        if (Hit(grid.x(), grid.y(), p)) {
          const double board = ShadeOf(p);
          if (!std::isnan(board)) shade = board;
        }
        sum += shade;
      }
    }
    return sum / (s * s);
  }

  Eigen::Vector2d Project(const Eigen::Vector3d& p) const {
    return {o.focal * p.x() / p.z() + cx, o.focal * p.y() / p.z() + cy};
  }

 private:
  static constexpr double kDegree = 3.14159265358979323846 / 180.0;
  double Radial(const Eigen::Vector2d& x) const {
    const double r2 = x.squaredNorm();
    const auto& k = o.imageDistortion;
    return 1.0 + k[0] * r2 + k[1] * r2 * r2 + k[4] * r2 * r2 * r2;
  }
  // Brown's lens on normalised coordinates, with k = (k1, k2, p1, p2, k3).
  Eigen::Vector2d Lens(const Eigen::Vector2d& x) const {
    const auto& k = o.imageDistortion;
    const double r2 = x.squaredNorm(), xy = x.x() * x.y();
    return {x.x() * Radial(x) + 2.0 * k[2] * xy + k[3] * (r2 + 2.0 * x.x() * x.x()),
            x.y() * Radial(x) + k[2] * (r2 + 2.0 * x.y() * x.y()) + 2.0 * k[3] * xy};
  }

  const ShotOptions& o;
  const bool distorted =
      o.imageDistortion != std::array<double, 5>{} || o.imageShift != Eigen::Vector2d::Zero() || o.imageTurnDeg != 0.0;
  const Eigen::Isometry3d boardFromCamera;
  const Eigen::Vector3d origin;
  const Eigen::Vector3d normal;
  const double cx;
  const double cy;
};

// Lighting, blur and noise, then 8 bits (grey or colour).
cv::Mat FinishImage(cv::Mat& grey, const ShotOptions& o, std::mt19937& rng, std::normal_distribution<double>& gauss) {
  if (o.gradient != 0.0) {
    for (int c = 0; c < o.width; ++c) grey.col(c) *= 1.0 - o.gradient * c / std::max(1, o.width - 1);
  }
  if (o.blurSigma > 0.0) cv::GaussianBlur(grey, grey, cv::Size(0, 0), o.blurSigma);
  if (o.gain != 1.0) grey *= o.gain;
  if (o.greyNoise > 0.0) {
    for (int r = 0; r < o.height; ++r) {
      for (int c = 0; c < o.width; ++c) grey.at<double>(r, c) += o.greyNoise * gauss(rng);
    }
  }
  cv::Mat image;
  grey.convertTo(image, CV_8UC1);  // rounds and saturates
  if (o.colour) cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
  return image;
}

}  // namespace

Shot RenderShot(const ShotOptions& o) {
  const BoardView view(o);
  Shot shot;
  cv::Mat grey(o.height, o.width, CV_64FC1);
  shot.cloud.create(o.height, o.width, CV_64FC3);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::mt19937 rng(o.seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const int s = std::max(1, o.supersample);
  for (int r = 0; r < o.height; ++r) {
    for (int c = 0; c < o.width; ++c) {
      grey.at<double>(r, c) = view.PixelShade(r, c, s);
      Eigen::Vector3d p;
      cv::Vec3d point(nan, nan, nan);
      if (view.Hit(c, r, p) && !std::isnan(view.ShadeOf(p))) {
        const double darkness = (kWhite - view.ShadeOf(p)) / (kWhite - kBlack);
        const double farther = o.darkDepthBias * darkness / p.norm();  // along the ray
        const Eigen::Vector3d noisy = p * (1.0 + farther + o.depthNoise * gauss(rng) / p.z());
        point = cv::Vec3d(noisy.x(), noisy.y(), noisy.z());
      }
      shot.cloud.at<cv::Vec3d>(r, c) = point;
    }
  }
  for (const cv::Rect& hole : o.holes) {
    shot.cloud(hole & cv::Rect(0, 0, o.width, o.height)).setTo(cv::Scalar(nan, nan, nan));
  }
  shot.image = FinishImage(grey, o, rng, gauss);
  for (const Eigen::Vector2d& m : o.markers) {
    const Eigen::Vector3d p = o.cameraFromBoard * Eigen::Vector3d(m.x(), m.y(), 0.0);
    shot.points.push_back(p);
    shot.centres.push_back(view.GridToImage(view.Project(p)));
  }
  return shot;
}

namespace {

template <typename T>
void Put(std::ostream& out, T value, bool bigEndian) {
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  if (bigEndian) std::reverse(bytes, bytes + sizeof(T));
  out.write(reinterpret_cast<const char*>(bytes), sizeof(T));
}

}  // namespace

void WritePly(const std::string& path, const cv::Mat& cloud, const PlyOptions& o) {
  const long long total = static_cast<long long>(cloud.total()) - o.dropVertices;
  const long long claimed = o.claimVertices >= 0 ? o.claimVertices : total;
  std::ofstream out(path, std::ios::binary);
  const char* format = o.format == PlyFormat::Ascii                ? "ascii"
                       : o.format == PlyFormat::BinaryLittleEndian ? "binary_little_endian"
                                                                   : "binary_big_endian";
  const char* type = o.doubles ? "double" : "float";
  out << "ply\nformat " << format << " 1.0\ncomment written by the test renderer\n";
  if (o.leadingElement) out << "element face 2\nproperty list uchar int vertex_indices\n";
  out << "element vertex " << claimed << "\n";
  out << "property " << type << " x\nproperty " << type << " y\n";
  if (o.colour) out << "property uchar red\nproperty uchar green\nproperty uchar blue\n";
  if (!o.omitZ) out << "property " << type << " z\n";
  out << "end_header\n";

  const bool big = o.format == PlyFormat::BinaryBigEndian;
  if (o.leadingElement) {
    if (o.format == PlyFormat::Ascii) {
      out << "3 0 1 2\n4 0 1 2 3\n";
    } else {
      Put<std::uint8_t>(out, 3, big);
      for (int i = 0; i < 3; ++i) Put<std::int32_t>(out, i, big);
      Put<std::uint8_t>(out, 4, big);
      for (int i = 0; i < 4; ++i) Put<std::int32_t>(out, i, big);
    }
  }
  const auto* p = cloud.ptr<double>();
  for (long long k = 0; k < total; ++k) {
    const double x = p[3 * k], y = p[3 * k + 1], z = p[3 * k + 2];
    if (o.format == PlyFormat::Ascii) {
      std::ostringstream line;
      line.precision(17);
      line << x << ' ' << y;
      if (o.colour) line << " 10 20 30";
      if (!o.omitZ) line << ' ' << z;
      out << line.str() << '\n';
      continue;
    }
    const auto write = [&](double v) {
      if (o.doubles)
        Put<double>(out, v, big);
      else
        Put<float>(out, static_cast<float>(v), big);
    };
    write(x);
    write(y);
    if (o.colour) {
      for (const int c : {10, 20, 30}) Put<std::uint8_t>(out, static_cast<std::uint8_t>(c), big);
    }
    if (!o.omitZ) write(z);
  }
}

}  // namespace TarnSim
