// SPDX-License-Identifier: Apache-2.0
#include "detect/PlaneCircleFit.h"

#include "detect/RowStretches.h"

#include "api/LibraryLogger.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <Eigen/LU>
#include <Eigen/QR>

#if defined(__SSE2__)
#  include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace TamoHandEye {
namespace Detect {
namespace {

constexpr int kMinEdgePointsPerRing = 12;
constexpr int kMinPlanePoints = 50;
constexpr double kMaxRatioDeviation = 0.01;
constexpr double kRegionScale = 1.3;
constexpr double kPi = 3.14159265358979323846;

// Halir–Flusser on points already normalised; false when no ellipse fits.
bool DirectEllipse(const std::vector<Eigen::Vector2d>& p, Eigen::Matrix<double, 6, 1>& a) {
  // The scatter matrices S1 = Σ d1 d1ᵀ, S2 = Σ d1 d2ᵀ, S3 = Σ d2 d2ᵀ of d1 = (x², xy, y²), d2 = (x, y, 1),
  // each distinct sum taken once: S1 and S3 are symmetric, S3's x², xy and y² are S2's last column.
  double xxxx = 0, xxxy = 0, xxyy = 0, xyxy = 0, xyyy = 0, yyyy = 0;  // S1
  double xxx = 0, xxy = 0, xyx = 0, xyy = 0, yyx = 0, yyy = 0;        // S2's first two columns
  double xx = 0, xy = 0, yy = 0, sx = 0, sy = 0, n = 0;               // S2's last column; S3's last one
  for (const Eigen::Vector2d& q : p) {
    const double x = q.x(), y = q.y(), dxx = x * x, dxy = x * y, dyy = y * y;
    xxxx += dxx * dxx;
    xxxy += dxx * dxy;
    xxyy += dxx * dyy;
    xyxy += dxy * dxy;
    xyyy += dxy * dyy;
    yyyy += dyy * dyy;
    xxx += dxx * x;
    xxy += dxx * y;
    xyx += dxy * x;
    xyy += dxy * y;
    yyx += dyy * x;
    yyy += dyy * y;
    xx += dxx;
    xy += dxy;
    yy += dyy;
    sx += x;
    sy += y;
    n += 1.0;
  }
  Eigen::Matrix3d s1, s2, s3;
  s1 << xxxx, xxxy, xxyy, xxxy, xyxy, xyyy, xxyy, xyyy, yyyy;
  s2 << xxx, xxy, xx, xyx, xyy, xy, yyx, yyy, yy;
  s3 << xx, xy, sx, xy, yy, sy, sx, sy, n;
  const Eigen::FullPivLU<Eigen::Matrix3d> lu(s3);
  if (!lu.isInvertible()) return false;
  const Eigen::Matrix3d t = -lu.inverse() * s2.transpose();
  const Eigen::Matrix3d m = s1 + s2 * t;
  Eigen::Matrix3d reduced;  // C1⁻¹ M with C1 the ellipse constraint 4ac − b² = 1
  reduced.row(0) = m.row(2) / 2.0;
  reduced.row(1) = -m.row(1);
  reduced.row(2) = m.row(0) / 2.0;
  const Eigen::EigenSolver<Eigen::Matrix3d> eigen(reduced);
  if (eigen.info() != Eigen::Success) return false;
  for (int k = 0; k < 3; ++k) {
    const Eigen::Vector3d v = eigen.eigenvectors().col(k).real();
    if (4.0 * v(0) * v(2) - v(1) * v(1) > 0.0) {
      a.head<3>() = v;
      a.tail<3>() = t * v;
      return a.allFinite();
    }
  }
  return false;
}

Conic ToConic(const Eigen::Matrix<double, 6, 1>& a) {
  Conic q;
  q << a(0), a(1) / 2.0, a(3) / 2.0, a(1) / 2.0, a(2), a(4) / 2.0, a(3) / 2.0, a(4) / 2.0, a(5);
  return q;
}

// |Sampson distance| of a point to a conic, in the conic's units.
double Sampson(const Conic& q, const Eigen::Vector2d& p) {
  const Eigen::Vector3d x(p.x(), p.y(), 1.0);
  const Eigen::Vector3d qx = q * x;
  const double gradient = 2.0 * qx.head<2>().norm();
  return gradient > 0.0 ? std::abs(x.dot(qx)) / gradient : std::numeric_limits<double>::infinity();
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// The grey level at (u, v), 0 <= u < cols − 1 and 0 <= v < rows − 1.
double Bilinear(const cv::Mat& grey, double u, double v) {
  const int c = static_cast<int>(u), r = static_cast<int>(v);
  const double fu = u - c, fv = v - r;
  const unsigned char* top = grey.ptr<unsigned char>(r) + c;
  const unsigned char* bottom = top + grey.step[0];
  return (1 - fv) * ((1 - fu) * top[0] + fu * top[1]) + fv * ((1 - fu) * bottom[0] + fu * bottom[1]);
}

// The ellipse of a conic as centre and shape: inside when (x − c)ᵀ M (x − c) <= 1.
bool EllipseShape(const Conic& q, Eigen::Vector2d& centre, Eigen::Matrix2d& shape) {
  const Eigen::Matrix2d a = q.topLeftCorner<2, 2>();
  const Eigen::Vector2d b = q.topRightCorner<2, 1>();
  if (std::abs(a.determinant()) < 1e-300) return false;
  centre = -a.inverse() * b;
  const double g = b.dot(a.inverse() * b) - q(2, 2);
  if (g == 0.0) return false;
  shape = a / g;
  return shape.determinant() > 0.0 && shape(0, 0) > 0.0;
}

}  // namespace

bool FitEllipseRobust(const std::vector<Eigen::Vector2d>& points, Conic& conic, std::vector<Eigen::Vector2d>* kept) {
  if (points.size() < 6) return false;
  // Normalisation: mean to the origin, RMS radius to 1.
  Eigen::Vector2d mean = Eigen::Vector2d::Zero();
  for (const Eigen::Vector2d& p : points) mean += p;
  mean /= static_cast<double>(points.size());
  double spread = 0.0;
  for (const Eigen::Vector2d& p : points) spread += (p - mean).squaredNorm();
  const double scale = std::sqrt(spread / static_cast<double>(points.size()));
  if (!(scale > 0.0)) return false;
  Eigen::Matrix3d toNormal;  // x̃_normal = toNormal · x̃_pixel
  toNormal << 1.0 / scale, 0.0, -mean.x() / scale, 0.0, 1.0 / scale, -mean.y() / scale, 0.0, 0.0, 1.0;

  std::vector<Eigen::Vector2d> used = points;
  for (int round = 0;; ++round) {
    std::vector<Eigen::Vector2d> normal;
    normal.reserve(used.size());
    for (const Eigen::Vector2d& p : used) normal.emplace_back((p - mean) / scale);
    Eigen::Matrix<double, 6, 1> a;
    if (!DirectEllipse(normal, a)) return false;
    conic = toNormal.transpose() * ToConic(a) * toNormal;  // back to pixels
    if (round == 2) break;
    std::vector<double> distances;
    distances.reserve(used.size());
    for (const Eigen::Vector2d& p : used) distances.push_back(Sampson(conic, p));
    const double limit = std::max(1.0, 4.0 * 1.4826 * Median(distances));
    std::vector<Eigen::Vector2d> inliers;
    inliers.reserve(used.size());
    for (std::size_t k = 0; k < used.size(); ++k) {
      if (distances[k] < limit) inliers.push_back(used[k]);
    }
    if (inliers.size() == used.size()) break;  // nothing dropped: this fit stands
    if (inliers.size() < 6) return false;
    used = std::move(inliers);
  }
  if (kept) *kept = std::move(used);
  return conic.allFinite();
}

namespace {

// The offset t along `n` from `p` of the grey level's crossing of (min + max) / 2 nearest p, in a window
// of ±3 px sampled every 0.25 px; false when the window leaves the image or spans fewer than 20 levels.
// `blur` receives the σ of a Gaussian-blurred step with that contrast and the slope at the crossing.
bool EdgeCrossing(const cv::Mat& grey, const Eigen::Vector2d& p, const Eigen::Vector2d& n, double& offset,
                  double& blur) {
  constexpr double kReach = 3.0, kStep = 0.25;
  constexpr int kSamples = 25;
  const Eigen::Vector2d first = p - kReach * n, last = p + kReach * n;
  const auto inside = [&](const Eigen::Vector2d& q) {
    return q.x() >= 0.0 && q.y() >= 0.0 && q.x() < grey.cols - 1 && q.y() < grey.rows - 1;
  };
  if (!inside(first) || !inside(last)) return false;
  double samples[kSamples];
  int k = 0;
#if defined(__SSE2__)
  // Two samples at a time, each by the same operations as Bilinear at first + (k·step)·n; the grey
  // levels are read as doubles from a table (the same values a conversion gives, without one a byte).
  static const std::array<double, 256> kLevels = [] {
    std::array<double, 256> levels{};
    for (std::size_t i = 0; i < levels.size(); ++i) levels[i] = static_cast<double>(i);
    return levels;
  }();
  const double* levels = kLevels.data();
  const __m128d fx = _mm_set1_pd(first.x()), fy = _mm_set1_pd(first.y());
  const __m128d nx = _mm_set1_pd(n.x()), ny = _mm_set1_pd(n.y()), one = _mm_set1_pd(1.0);
  const std::size_t below = grey.step[0];
  for (; k + 2 <= kSamples; k += 2) {
    const __m128d t = _mm_set_pd((k + 1) * kStep, k * kStep);
    const __m128d u = _mm_add_pd(fx, _mm_mul_pd(t, nx)), v = _mm_add_pd(fy, _mm_mul_pd(t, ny));
    const __m128i c = _mm_cvttpd_epi32(u), r = _mm_cvttpd_epi32(v);
    const __m128d fu = _mm_sub_pd(u, _mm_cvtepi32_pd(c)), fv = _mm_sub_pd(v, _mm_cvtepi32_pd(r));
    const unsigned char* a = grey.ptr<unsigned char>(_mm_cvtsi128_si32(r)) + _mm_cvtsi128_si32(c);
    const unsigned char* b =
        grey.ptr<unsigned char>(_mm_cvtsi128_si32(_mm_srli_si128(r, 4))) + _mm_cvtsi128_si32(_mm_srli_si128(c, 4));
    const __m128d leftFu = _mm_sub_pd(one, fu);
    const auto pair = [levels](const unsigned char* low, const unsigned char* high, std::size_t at) {
      return _mm_loadh_pd(_mm_load_sd(levels + low[at]), levels + high[at]);
    };
    const __m128d top = _mm_add_pd(_mm_mul_pd(leftFu, pair(a, b, 0)), _mm_mul_pd(fu, pair(a, b, 1)));
    const __m128d bottom = _mm_add_pd(_mm_mul_pd(leftFu, pair(a, b, below)), _mm_mul_pd(fu, pair(a, b, below + 1)));
    _mm_storeu_pd(samples + k, _mm_add_pd(_mm_mul_pd(_mm_sub_pd(one, fv), top), _mm_mul_pd(fv, bottom)));
  }
#endif
  for (; k < kSamples; ++k) {
    const Eigen::Vector2d q = first + (k * kStep) * n;
    samples[k] = Bilinear(grey, q.x(), q.y());
  }
  double low = 255.0, high = 0.0;
  for (const double sample : samples) {
    low = std::min(low, sample);
    high = std::max(high, sample);
  }
  if (high - low < 20.0) return false;
  const double level = (low + high) / 2.0;
  offset = std::numeric_limits<double>::infinity();
  for (k = 0; k + 1 < kSamples; ++k) {
    const double a = samples[k] - level, b = samples[k + 1] - level;
    const bool crosses = (a <= 0.0 && b >= 0.0) || (a >= 0.0 && b <= 0.0);
    if (!crosses || a == b) continue;
    const double t = -kReach + (k + a / (a - b)) * kStep;
    if (std::abs(t) < std::abs(offset)) {
      offset = t;
      blur = (high - low) / (std::abs(b - a) / kStep * std::sqrt(2.0 * kPi));
    }
  }
  return std::isfinite(offset);
}

// The curvature of the conic's curve at p (1 / px).
double Curvature(const Conic& q, const Eigen::Vector2d& p) {
  const Eigen::Vector2d g = (q * Eigen::Vector3d(p.x(), p.y(), 1.0)).head<2>();
  const double norm = g.norm();
  if (!(norm > 0.0)) return 0.0;
  return std::abs(g.y() * g.y() * q(0, 0) - 2.0 * g.x() * g.y() * q(0, 1) + g.x() * g.x() * q(1, 1)) /
         (norm * norm * norm);
}

}  // namespace

std::vector<Eigen::Vector2d> SubPixelEdges(const cv::Mat& grey, const std::vector<Eigen::Vector2d>& points,
                                           const Conic& conic) {
  std::vector<Eigen::Vector2d> edges, normals;
  std::vector<double> blurs;
  edges.reserve(points.size());
  for (const Eigen::Vector2d& p : points) {
    Eigen::Vector2d n = (conic * Eigen::Vector3d(p.x(), p.y(), 1.0)).head<2>();
    if (!(n.norm() > 0.0)) continue;
    n.normalize();
    // The window is centred again on the crossing found: a contour found by a threshold other than the
    // edge's midpoint starts off to one side, and a window reaching less far into that side would not
    // see its plateau, so that (min + max) / 2 would not be the edge's midpoint either.
    Eigen::Vector2d edge = p;
    double blur = 0.0;
    bool found = false;
    for (int pass = 0; pass < 3; ++pass) {
      double t = 0.0;
      if (!EdgeCrossing(grey, edge, n, t, blur)) break;
      edge += t * n;
      found = true;
      if (std::abs(t) < 0.05) break;
    }
    if (!found || (edge - p).norm() > 3.0) continue;
    edges.push_back(edge);
    normals.push_back(n);
    blurs.push_back(blur);
  }
  // The blurred image of a curved edge crosses its midpoint level inside the curve, by κσ²/2 (κ the
  // curvature, σ the blur): each edge point moves back out by that much, with the boundary's median σ.
  Eigen::Vector2d centre;
  Eigen::Matrix2d shape;
  if (!edges.empty() && EllipseShape(conic, centre, shape)) {
    const double sigma = Median(std::move(blurs));
    for (std::size_t k = 0; k < edges.size(); ++k) {
      const double shift = Curvature(conic, edges[k]) * sigma * sigma / 2.0;
      const double outward = (edges[k] - centre).dot(normals[k]) >= 0.0 ? 1.0 : -1.0;
      if (std::isfinite(shift) && shift < 1.0) edges[k] += outward * shift * normals[k];
    }
  }
  return edges;
}

Eigen::Vector3d PlaneMap::At(double u, double v) const {
  const Eigen::Vector3d a(1.0, u - u0, v - v0);
  const double z = 1.0 / a.dot(cz);
  return z * Eigen::Vector3d(a.dot(cx), a.dot(cy), 1.0);
}

Eigen::Vector2d PlaneMap::PixelOf(const Eigen::Vector3d& point) const {
  // X/Z = cx · a and Y/Z = cy · a, two linear equations in (u − ū, v − v̄).
  Eigen::Matrix2d m;
  m << cx(1), cx(2), cy(1), cy(2);
  const Eigen::Vector2d rhs(point.x() / point.z() - cx(0), point.y() / point.z() - cy(0));
  const Eigen::Vector2d d = m.inverse() * rhs;
  return Eigen::Vector2d(u0 + d.x(), v0 + d.y());
}

Eigen::Vector3d PlaneMap::Normal(Eigen::Matrix3d* derivative) const {
  // (β, γ) = (cz₁, cz₂)·J⁻¹ with J = ∂(X/Z, Y/Z)/∂(u, v); α = cz₀ − β·cx₀ − γ·cy₀.
  Eigen::Matrix2d j;
  j << cx(1), cx(2), cy(1), cy(2);
  const Eigen::Matrix2d inverse = j.inverse();
  const Eigen::RowVector2d slopes = Eigen::RowVector2d(cz(1), cz(2)) * inverse;
  const Eigen::Vector3d n(slopes(0), slopes(1), cz(0) - slopes(0) * cx(0) - slopes(1) * cy(0));
  const double length = n.norm();
  if (derivative) {
    Eigen::Matrix3d dn;  // ∂n'/∂cz
    dn.setZero();
    dn.block<2, 2>(0, 1) = inverse.transpose();
    dn(2, 0) = 1.0;
    for (int k = 1; k < 3; ++k) dn(2, k) = -(cx(0) * dn(0, k) + cy(0) * dn(1, k));
    // ∂(−n'/‖n'‖)/∂n' = −(I − n̂n̂ᵀ)/‖n'‖
    const Eigen::Vector3d unit = n / length;
    *derivative = -(Eigen::Matrix3d::Identity() - unit * unit.transpose()) / length * dn;
  }
  return -n / length;
}

namespace {

// A cloud point for the plane fit: its pixel and the three targets X/Z, Y/Z, 1/Z.
struct PlaneSample {
  PlaneSample() {}  // left unset: a row's room is made before its samples are written into it
  PlaneSample(double u_, double v_, double x_, double y_, double w_) : u(u_), v(v_), x(x_), y(y_), w(w_) {}
  double u, v, x, y, w;
};
static_assert(sizeof(PlaneSample) == 5 * sizeof(double), "u, v and x, y are read in pairs");

// The finite cloud points (Z ≠ 0) inside the ellipse `region` scaled by `scale`, walking each row's
// stretch inside it only; with `surface` given, only those it accepts (asked a row at a time: its
// Row(r, c0, c1, mask) sets mask[c − c0] for pixels c0 to c1 of row r). `sum` receives the sum of their pixel
// coordinates, taken in their order.
template <class Test>
bool CollectPlaneSamples(const cv::Mat& cloud, const Conic& region, double scale, const RowLoader& loadRows,
                         const Test* surface, std::vector<PlaneSample>& samples, Eigen::Vector2d& sum) {
  Eigen::Vector2d centre;
  Eigen::Matrix2d shape;
  if (!EllipseShape(region, centre, shape)) return false;
  const double s2 = scale * scale;
  const double rowReach = scale * std::sqrt(shape.inverse()(1, 1));
  const int r0 = std::max(0, static_cast<int>(std::ceil(centre.y() - rowReach)));
  const int r1 = std::min(cloud.rows - 1, static_cast<int>(std::floor(centre.y() + rowReach)));
  samples.clear();
  samples.reserve(static_cast<std::size_t>(kPi * s2 / std::sqrt(shape.determinant())) + 16);
  double sumU = 0.0, sumV = 0.0;  // summed here, not through `sum`, which a sample's store could alias
  std::vector<unsigned char> onSurface(surface != nullptr ? static_cast<std::size_t>(cloud.cols) : 0);
  for (int r = r0; r <= r1; ++r) {
    // The row's stretch inside: shape₀₀ dx² + 2 shape₀₁ dx dy + shape₁₁ dy² <= s².
    const double dy = r - centre.y();
    const double disc = shape(0, 1) * shape(0, 1) * dy * dy - shape(0, 0) * (shape(1, 1) * dy * dy - s2);
    if (disc < 0.0) continue;
    const double mid = centre.x() - shape(0, 1) * dy / shape(0, 0), half = std::sqrt(disc) / shape(0, 0);
    const int c0 = std::max(0, static_cast<int>(std::ceil(mid - half)));
    const int c1 = std::min(cloud.cols - 1, static_cast<int>(std::floor(mid + half)));
    if (c0 > c1) continue;
    // Only the stretch is read (a quarter of the box round the ellipse lies outside it), and its samples
    // taken at once, while its points are still in the cache.
    if (loadRows && !loadRows(r, r, c0, c1)) return false;
    if (surface != nullptr) surface->Row(r, c0, c1, onSurface.data());
    const cv::Vec3d* row = cloud.ptr<cv::Vec3d>(r);
    const std::size_t before = samples.size();
    samples.resize(before + static_cast<std::size_t>(c1 - c0 + 1));  // room for the whole stretch
    PlaneSample* out = samples.data() + before;
    for (int c = c0; c <= c1; ++c) {
      const cv::Vec3d& p = row[c];
      if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !(std::isfinite(p[2]) && p[2] != 0.0)) continue;
      const auto u = static_cast<double>(c), v = static_cast<double>(r);
      if (surface != nullptr && onSurface[static_cast<std::size_t>(c - c0)] == 0) continue;
      const double w = 1.0 / p[2];
      *out++ = PlaneSample(u, v, p[0] * w, p[1] * w, w);
      sumU += u;
      sumV += v;
    }
    samples.resize(static_cast<std::size_t>(out - samples.data()));
  }
  sum = Eigen::Vector2d(sumU, sumV);
  return true;
}

}  // namespace

namespace {

// One least-squares pass on the normal equations of a = (1, u − ū, v − v̄) over the samples `use` accepts:
// the plane's three maps and its point count; false when fewer than `minPoints` or singular. With `kCentre`,
// each sample's pixel coordinates are first moved to the origin (plane.u0, plane.v0), on the same pass.
template <bool kCentre, class Use>
bool SolvePlanePass(std::vector<PlaneSample>& samples, const Use& use, int minPoints, PlaneMap& plane) {
  double n = 0, su = 0, sv = 0, suu = 0, suv = 0, svv = 0;
  Eigen::Matrix3d rhs = Eigen::Matrix3d::Zero();  // one column per target: X/Z, Y/Z, 1/Z
#if defined(__SSE2__)
  // Two sums in each register, each summed in the samples' order as one at a time would: the same
  // additions and products, half the instructions.
  const __m128d one = _mm_set1_pd(1.0);
  __m128d nSu = _mm_setzero_pd(), svSuu = nSu, suvSvv = nSu, row0 = nSu, row1 = nSu, row2 = nSu, wColumn = nSu;
  double r22 = 0.0;
  const __m128d origin = _mm_set_pd(plane.v0, plane.u0);
  for (PlaneSample& s : samples) {
    if constexpr (kCentre) _mm_storeu_pd(&s.u, _mm_sub_pd(_mm_loadu_pd(&s.u), origin));
    if (!use(s)) continue;
    const __m128d uv = _mm_loadu_pd(&s.u);
    const __m128d xy = _mm_loadu_pd(&s.x);
    const __m128d uu = _mm_unpacklo_pd(uv, uv), vv = _mm_unpackhi_pd(uv, uv), oneU = _mm_unpacklo_pd(one, uv);
    nSu = _mm_add_pd(nSu, oneU);                                             // n, Σu
    svSuu = _mm_add_pd(svSuu, _mm_mul_pd(_mm_shuffle_pd(uv, uv, 1), oneU));  // Σv, Σu²
    suvSvv = _mm_add_pd(suvSvv, _mm_mul_pd(uv, vv));                         // Σuv, Σv²
    row0 = _mm_add_pd(row0, xy);                                             // ΣX/Z, ΣY/Z
    row1 = _mm_add_pd(row1, _mm_mul_pd(uu, xy));                             // Σu·X/Z, Σu·Y/Z
    row2 = _mm_add_pd(row2, _mm_mul_pd(vv, xy));                             // Σv·X/Z, Σv·Y/Z
    wColumn = _mm_add_pd(wColumn, _mm_mul_pd(_mm_set1_pd(s.w), oneU));       // Σ1/Z, Σu/Z
    r22 += _mm_cvtsd_f64(vv) * s.w;
  }
  double lanes[2];
  const auto unpack = [&lanes](__m128d pair, double& first, double& second) {
    _mm_storeu_pd(lanes, pair);
    first = lanes[0];
    second = lanes[1];
  };
  unpack(nSu, n, su);
  unpack(svSuu, sv, suu);
  unpack(suvSvv, suv, svv);
  unpack(row0, rhs(0, 0), rhs(0, 1));
  unpack(row1, rhs(1, 0), rhs(1, 1));
  unpack(row2, rhs(2, 0), rhs(2, 1));
  unpack(wColumn, rhs(0, 2), rhs(1, 2));
  rhs(2, 2) = r22;
#else
  for (PlaneSample& s : samples) {
    if constexpr (kCentre) {
      s.u -= plane.u0;
      s.v -= plane.v0;
    }
    if (!use(s)) continue;
    const Eigen::RowVector3d targets(s.x, s.y, s.w);
    n += 1;
    su += s.u;
    sv += s.v;
    suu += s.u * s.u;
    suv += s.u * s.v;
    svv += s.v * s.v;
    rhs.row(0) += targets;
    rhs.row(1) += s.u * targets;
    rhs.row(2) += s.v * targets;
  }
#endif
  if (n < minPoints) return false;
  Eigen::Matrix3d normal;
  normal << n, su, sv, su, suu, suv, sv, suv, svv;
  const Eigen::LDLT<Eigen::Matrix3d> ldlt(normal);
  if (ldlt.info() != Eigen::Success) return false;
  const Eigen::Matrix3d solution = ldlt.solve(rhs);
  if (!solution.allFinite()) return false;
  plane.cx = solution.col(0);
  plane.cy = solution.col(1);
  plane.cz = solution.col(2);
  plane.points = static_cast<int>(n);
  plane.czCovariance = ldlt.solve(Eigen::Matrix3d::Identity());  // times the residual variance, later
  return true;
}

// The depth's RMS about the plane, and its solution's covariance scaled by the variance of 1/Z's residuals,
// over the samples `used` marks; false when the RMS is not finite.
bool PlaneSpread(const std::vector<PlaneSample>& samples, const std::vector<char>& used, PlaneMap& plane) {
  double depth = 0.0;
  double squares = 0.0;
  std::size_t k = 0;
#if defined(__SSE2__)
  // Two samples at a time, by the same operations as one at a time (two divisions each), summed in order.
  const __m128d one = _mm_set1_pd(1.0), c0 = _mm_set1_pd(plane.cz(0)), c1 = _mm_set1_pd(plane.cz(1)),
                c2 = _mm_set1_pd(plane.cz(2));
  for (; k + 2 <= samples.size(); k += 2) {
    if (used[k] == 0 && used[k + 1] == 0) continue;
    const PlaneSample &a = samples[k], &b = samples[k + 1];
    const __m128d w = _mm_set_pd(b.w, a.w);
    const __m128d fitted =
        _mm_add_pd(_mm_add_pd(c0, _mm_mul_pd(c1, _mm_set_pd(b.u, a.u))), _mm_mul_pd(c2, _mm_set_pd(b.v, a.v)));
    double errors[2], residuals[2];
    _mm_storeu_pd(errors, _mm_sub_pd(_mm_div_pd(one, w), _mm_div_pd(one, fitted)));
    _mm_storeu_pd(residuals, _mm_sub_pd(w, fitted));
    for (std::size_t j = 0; j < 2; ++j) {
      if (used[k + j] == 0) continue;
      depth += errors[j] * errors[j];
      squares += residuals[j] * residuals[j];
    }
  }
#endif
  for (; k < samples.size(); ++k) {
    const PlaneSample& s = samples[k];
    if (used[k] == 0) continue;
    const double error = 1.0 / s.w - 1.0 / (plane.cz(0) + plane.cz(1) * s.u + plane.cz(2) * s.v);
    depth += error * error;
    const double r = s.w - (plane.cz(0) + plane.cz(1) * s.u + plane.cz(2) * s.v);
    squares += r * r;
  }
  plane.rms = std::sqrt(depth / plane.points);
  plane.czCovariance *= plane.points > 3 ? squares / (plane.points - 3) : 0.0;
  return std::isfinite(plane.rms);
}

// FitPlaneMap with the surface test (none when null) called directly, so that it can be inlined into the
// walk over the samples.
template <class Test>
bool FitPlaneMapOn(const cv::Mat& cloud, const Conic& region, double scale, int minPoints, PlaneMap& plane,
                   const RowLoader& loadRows, const Test* surface) {
  // Those on the surface alone when there are enough, else every one.
  std::vector<PlaneSample> samples;
  Eigen::Vector2d sum;
  if (!CollectPlaneSamples(cloud, region, scale, loadRows, surface, samples, sum)) return false;
  if (surface != nullptr && static_cast<int>(samples.size()) < minPoints &&
      !CollectPlaneSamples<Test>(cloud, region, scale, loadRows, nullptr, samples, sum)) {
    return false;
  }
  if (static_cast<int>(samples.size()) < minPoints) return false;
  // The samples' pixel coordinates are taken about their mean.
  plane.u0 = sum.x() / static_cast<double>(samples.size());
  plane.v0 = sum.y() / static_cast<double>(samples.size());

  // A fit over all samples (moved to that origin on the way), then twice more without the points beyond
  // 3 robust σ of the fit before.
  std::vector<char> used(samples.size(), 1);
  const auto all = [](const PlaneSample&) { return true; };
  if (!SolvePlanePass<true>(samples, all, minPoints, plane)) return false;
  for (int pass = 0; pass < 2; ++pass) {
    const Eigen::Vector3d fitted = plane.cz;
    const auto residual = [&fitted](const PlaneSample& s) {
      return s.w - (fitted(0) + fitted(1) * s.u + fitted(2) * s.v);
    };
    // The median over an even subsample of at most about 4,096 of the points in use.
    const std::size_t stride = 1 + static_cast<std::size_t>(plane.points) / 4096;
    std::vector<double> sizes;
    sizes.reserve(static_cast<std::size_t>(plane.points) / stride + 1);
    for (std::size_t k = 0, untilNext = 0; k < samples.size(); ++k) {  // every stride-th point in use
      if (used[k] == 0) continue;
      if (untilNext == 0) {
        sizes.push_back(std::abs(residual(samples[k])));
        untilNext = stride;
      }
      --untilNext;
    }
    // A floor far below any camera's noise keeps an exact plane's rounding from dropping points.
    const double limit = std::max(3.0 * 1.4826 * Median(std::move(sizes)), 1e-9 * std::abs(fitted(0)));
    // The points kept are marked on the way through the fit that uses them: one pass over the samples.
    const auto within = [&](const PlaneSample& s) {
      const bool in = std::abs(residual(s)) <= limit;
      used[static_cast<std::size_t>(&s - samples.data())] = in ? 1 : 0;
      return in;
    };
    if (!SolvePlanePass<false>(samples, within, minPoints, plane)) return false;
  }

  return PlaneSpread(samples, used, plane);
}

}  // namespace

bool FitPlaneMap(const cv::Mat& cloud, const Conic& region, double scale, int minPoints, PlaneMap& plane,
                 const RowLoader& loadRows, const SurfaceTest& surface) {
  // The caller's test is asked pixel by pixel.
  struct PixelByPixel {
    const SurfaceTest& test;
    void Row(int r, int c0, int c1, unsigned char* mask) const {
      for (int c = c0; c <= c1; ++c) mask[c - c0] = test(static_cast<double>(c), static_cast<double>(r)) ? 1 : 0;
    }
  };
  const PixelByPixel pixels{surface};
  return FitPlaneMapOn(cloud, region, scale, minPoints, plane, loadRows, surface ? &pixels : nullptr);
}

namespace {

// Points of several rings in the plane's own coordinates: origin o (their mean) and axes e1, e2 (the two
// main directions of their scatter).
struct PlanePoints {
  Eigen::Vector3d origin = Eigen::Vector3d::Zero(), e1, e2;
  std::vector<Eigen::Vector2d> q;
  std::vector<int> ringOf;
};

bool InPlaneCoordinates(const std::vector<std::vector<Eigen::Vector3d>>& rings, PlanePoints& points) {
  std::size_t total = 0;
  for (const auto& ring : rings) {
    if (ring.size() < 3) return false;
    for (const Eigen::Vector3d& p : ring) points.origin += p;
    total += ring.size();
  }
  points.origin /= static_cast<double>(total);
  Eigen::Matrix3d scatter = Eigen::Matrix3d::Zero();
  for (const auto& ring : rings) {
    for (const Eigen::Vector3d& p : ring) scatter += (p - points.origin) * (p - points.origin).transpose();
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(scatter);
  if (eigen.info() != Eigen::Success) return false;
  points.e1 = eigen.eigenvectors().col(2);
  points.e2 = eigen.eigenvectors().col(1);
  points.q.reserve(total);
  points.ringOf.reserve(total);
  for (std::size_t i = 0; i < rings.size(); ++i) {
    for (const Eigen::Vector3d& p : rings[i]) {
      points.q.emplace_back((p - points.origin).dot(points.e1), (p - points.origin).dot(points.e2));
      points.ringOf.push_back(static_cast<int>(i));
    }
  }
  return true;
}

}  // namespace

bool FitConcentricCircles(const std::vector<std::vector<Eigen::Vector3d>>& rings, ConcentricCircles& circles) {
  const int n = static_cast<int>(rings.size());
  PlanePoints plane;
  if (!InPlaneCoordinates(rings, plane)) return false;
  const std::vector<Eigen::Vector2d>& q = plane.q;
  const std::vector<int>& ringOf = plane.ringOf;
  const std::size_t total = q.size();
  // Each row of both systems has three entries: at cₓ, c_y and ring i's own unknown. Their normal
  // equations are accumulated row by row.
  const Eigen::Index m = 2 + n;
  Eigen::MatrixXd normal(m, m);
  Eigen::VectorXd rhs(m);
  const auto add = [&](int ring, double a0, double a1, double a2, double target) {
    const Eigen::Index j = 2 + ring;
    normal(0, 0) += a0 * a0;
    normal(0, 1) += a0 * a1;
    normal(1, 1) += a1 * a1;
    normal(0, j) += a0 * a2;
    normal(1, j) += a1 * a2;
    normal(j, j) += a2 * a2;
    rhs(0) += a0 * target;
    rhs(1) += a1 * target;
    rhs(j) += a2 * target;
  };
  const auto solve = [&](Eigen::VectorXd& solution) {
    const Eigen::MatrixXd full = normal.selfadjointView<Eigen::Upper>();
    const Eigen::LDLT<Eigen::MatrixXd> ldlt(full);
    if (ldlt.info() != Eigen::Success) return false;
    solution = ldlt.solve(rhs);
    return solution.allFinite();
  };
  // Linear: x² + y² = 2cₓx + 2c_y y + kᵢ.
  normal.setZero();
  rhs.setZero();
  for (std::size_t k = 0; k < total; ++k) add(ringOf[k], 2.0 * q[k].x(), 2.0 * q[k].y(), 1.0, q[k].squaredNorm());
  // From kᵢ to rᵢ = √(kᵢ + |c|²): x holds cₓ, c_y, r₀ … r_{n−1}.
  Eigen::VectorXd x;
  if (!solve(x)) return false;
  const Eigen::ArrayXd squared = x.tail(n).array() + x.head<2>().squaredNorm();
  if (!(squared > 0.0).all()) return false;
  x.tail(n) = squared.sqrt().matrix();
  // Gauss–Newton on the geometric distances ‖q − c‖ − rᵢ.
  for (int step = 0; step < 3; ++step) {
    normal.setZero();
    rhs.setZero();
    for (std::size_t k = 0; k < total; ++k) {
      const Eigen::Vector2d d = q[k] - x.head<2>();
      const double length = d.norm();
      if (!(length > 0.0)) return false;
      add(ringOf[k], -d.x() / length, -d.y() / length, -1.0, -(length - x(2 + ringOf[k])));
    }
    Eigen::VectorXd delta;
    if (!solve(delta)) return false;
    x += delta;
  }
  if (!x.allFinite()) return false;
  circles.centre = plane.origin + x(0) * plane.e1 + x(1) * plane.e2;
  circles.radii.assign(x.data() + 2, x.data() + 2 + n);
  // The 1σ figures: the last step's normal matrix inverted, times the residuals' variance.
  double squares = 0.0;
  for (std::size_t k = 0; k < total; ++k) {
    const double r = (q[k] - x.head<2>()).norm() - x(2 + ringOf[k]);
    squares += r * r;
  }
  const double freedom = static_cast<double>(total) - static_cast<double>(m);
  const Eigen::MatrixXd full = normal.selfadjointView<Eigen::Upper>();
  const Eigen::MatrixXd covariance =
      full.ldlt().solve(Eigen::MatrixXd::Identity(m, m)) * (freedom > 0.0 ? squares / freedom : 0.0);
  circles.centreSigma = std::sqrt(std::max(0.0, covariance(0, 0) + covariance(1, 1)));
  Eigen::Matrix<double, 3, 2> axes;
  axes << plane.e1, plane.e2;
  circles.centreCovariance = axes * covariance.topLeftCorner<2, 2>() * axes.transpose();
  circles.radiusSigmas.resize(rings.size());
  for (int i = 0; i < n; ++i)
    circles.radiusSigmas[static_cast<std::size_t>(i)] = std::sqrt(std::max(0.0, covariance(2 + i, 2 + i)));
  return true;
}

namespace {

constexpr double kSurfaceMarginPx = 2.0;
// Which way each boundary (outer to inner) moves into the black: the outer and third inwards.
constexpr std::array<double, 4> kIntoBlack = {-1.0, 1.0, -1.0, 1.0};

// A fitted boundary: its conic, and its ellipse (x − c)ᵀ M (x − c) = 1, with the levels of that form a
// margin inside and outside it (the margin measured along the ellipse's short axis, where a level is
// nearest the curve, so that it is at least the margin everywhere).
struct Boundary {
  Conic conic = Conic::Zero();
  Eigen::Vector2d centre = Eigen::Vector2d::Zero();
  Eigen::Matrix2d shape = Eigen::Matrix2d::Identity();
  double inner = 1.0, outer = 1.0;  ///< the form's levels kSurfaceMarginPx inside and outside

  bool Set(const Conic& q, double margin) {
    conic = q;
    if (!EllipseShape(q, centre, shape)) return false;
    const double shortAxis = 1.0 / std::sqrt(shape.eigenvalues().real().maxCoeff());
    inner = std::pow(std::max(0.0, 1.0 - margin / shortAxis), 2);
    outer = std::pow(1.0 + margin / shortAxis, 2);
    return true;
  }
  double Level(double u, double v) const {
    const Eigen::Vector2d d(u - centre.x(), v - centre.y());
    return d.dot(shape * d);
  }
};

// Whether pixel (u, v) sees a white surface of the marker's board, clear of every boundary (outer to
// inner): the board outside, the ring between the second and third boundaries, the centre dot. A white
// surface next to a boundary that was not fitted is left out.
bool OnWhite(const std::array<Boundary, 4>& b, const std::array<bool, 4>& used, double u, double v) {
  const double outer = b[0].Level(u, v);
  if (outer >= b[0].outer) return true;
  if (outer > b[0].inner || !used[1] || !used[2] || b[1].Level(u, v) > b[1].inner) return false;
  const double ring = b[2].Level(u, v);
  if (ring >= b[2].outer) return true;
  return used[3] && ring <= b[2].inner && b[3].Level(u, v) <= b[3].inner;
}

// OnWhite a row at a time: asked near the crossings of the levels it compares with, and once for each
// stretch between them.
class WhiteRows {
 public:
  WhiteRows(const std::array<Boundary, 4>& b, const std::array<bool, 4>& used) : boundaries(b), fitted(used) {
    const auto add = [&](const Boundary& boundary, double level) {
      levels[static_cast<std::size_t>(count++)] = EllipseLevel{boundary.centre, boundary.shape, level};
    };
    add(b[0], b[0].outer);
    add(b[0], b[0].inner);
    if (used[1] && used[2]) {
      add(b[1], b[1].inner);
      add(b[2], b[2].outer);
      add(b[2], b[2].inner);
      if (used[3]) add(b[3], b[3].inner);
    }
  }
  void Row(int r, int c0, int c1, unsigned char* mask) const {
    const auto white = [this](int u, int v) {
      return OnWhite(boundaries, fitted, static_cast<double>(u), static_cast<double>(v));
    };
    ClassifyRow(r, c0, c1, levels.data(), count, white, mask, near);
  }

 private:
  const std::array<Boundary, 4>& boundaries;
  const std::array<bool, 4>& fitted;
  std::array<EllipseLevel, 6> levels;
  int count = 0;
  mutable std::vector<unsigned char> near;
};

// The fewest boundaries a fit uses, the outer among them.
constexpr int kMinBoundaries = 3;

// 1–2: each boundary as an ellipse through its sub-pixel edge; one with too few sharp edge points (a
// small centre dot, a ring cut by the image border or by something in front of it) is left out.
// With the image's own lens model, the edge points are taken into the cloud's grid before the refit.
bool FitBoundaries(const cv::Mat& grey, const std::array<std::vector<cv::Point>, 4>& contours, const ImageModel* model,
                   std::array<std::vector<Eigen::Vector2d>, 4>& edges, std::array<Boundary, 4>& boundaries,
                   MarkerFit& fit) {
  int used = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    std::vector<Eigen::Vector2d> points;
    points.reserve(contours[i].size());
    for (const cv::Point& p : contours[i]) points.emplace_back(p.x, p.y);
    Conic conic;
    std::vector<Eigen::Vector2d> kept;
    std::vector<Eigen::Vector2d> moved;
    if (FitEllipseRobust(points, conic, &kept)) moved = SubPixelEdges(grey, kept, conic);
    if (model) {
      std::size_t mapped = 0;
      for (const Eigen::Vector2d& e : moved) {
        if (model->ToGrid(e, moved[mapped])) ++mapped;
      }
      moved.resize(mapped);
    }
    fit.used[i] =
        static_cast<int>(moved.size()) >= kMinEdgePointsPerRing && FitEllipseRobust(moved, conic, &edges[i]) &&
        static_cast<int>(edges[i].size()) >= kMinEdgePointsPerRing && boundaries[i].Set(conic, kSurfaceMarginPx);
    if (!fit.used[i]) {
      edges[i].clear();
      continue;
    }
    fit.edgePoints += static_cast<int>(edges[i].size());
    ++used;
  }
  return fit.used[0] && used >= kMinBoundaries;
}

// 5: how well the rings match the marker's design: rᵢ = ρᵢ·R + sᵢ·δ by least squares over the radii
// fitted, and δ in pixels at the outer boundary's mean radius in the image.
bool CheckRatios(const Boundary& outer, MarkerFit& fit) {
  Eigen::Matrix2d normal = Eigen::Matrix2d::Zero();
  Eigen::Vector2d rhs = Eigen::Vector2d::Zero();
  for (std::size_t i = 0; i < 4; ++i) {
    if (!fit.used[i]) continue;
    const Eigen::Vector2d row(kRingRatios[i], kIntoBlack[i]);
    normal += row * row.transpose();
    rhs += row * fit.radii[i];
  }
  const Eigen::Vector2d design = normal.ldlt().solve(rhs);  // R, δ
  if (!(design(0) > 0.0)) return false;
  fit.markerRadius = design(0);
  for (std::size_t i = 0; i < 4; ++i) {
    if (!fit.used[i]) continue;
    const double ratio = (fit.radii[i] - kIntoBlack[i] * design(1)) / design(0);
    fit.ratioDeviation = std::max(fit.ratioDeviation, std::abs(ratio - kRingRatios[i]));
  }
  const double outerPx = 1.0 / std::sqrt(std::sqrt(outer.shape.determinant()));
  fit.edgeOffsetPx = design(1) * outerPx / fit.radii[0];
  return fit.ratioDeviation <= kMaxRatioDeviation;
}

}  // namespace

MarkerFit FitMarker(const cv::Mat& grey, const cv::Mat& cloud, const std::array<std::vector<cv::Point>, 4>& contours,
                    const RowLoader& loadRows, const ImageModel* model) {
  MarkerFit fit;
  const auto refuse = [&](const std::string& why, bool points) {
    fit.refusal = why;
    fit.tooFewPoints = points;
    return fit;
  };
  std::array<std::vector<Eigen::Vector2d>, 4> edges;
  std::array<Boundary, 4> boundaries;
  if (!FitBoundaries(grey, contours, model, edges, boundaries, fit)) {
    return refuse(fit.used[0] ? "too few sharp edge points on the rings' boundaries"
                              : "too few sharp edge points on the outer boundary",
                  true);
  }
  // 3: the board plane, from its white surfaces.
  PlaneMap plane;
  const WhiteRows white(boundaries, fit.used);
  if (!FitPlaneMapOn(cloud, boundaries[0].conic, kRegionScale, kMinPlanePoints, plane, loadRows, &white)) {
    return refuse("too few cloud points on the board around the marker", true);
  }
  fit.planePoints = plane.points;
  fit.planeRms = plane.rms;
  // 4: the edges on the plane, and concentric circles there.
  std::vector<std::vector<Eigen::Vector3d>> rings;
  for (std::size_t i = 0; i < 4; ++i) {
    if (!fit.used[i]) continue;
    rings.emplace_back();
    for (const Eigen::Vector2d& e : edges[i]) rings.back().push_back(plane.At(e.x(), e.y()));
  }
  ConcentricCircles circles;
  if (!FitConcentricCircles(rings, circles) || !(circles.radii[0] > 0.0)) {
    return refuse("the boundaries are not concentric circles", false);
  }
  fit.centre = circles.centre;
  fit.pixel = plane.PixelOf(circles.centre);
  if (model) fit.pixel = model->ToImage(fit.pixel);
  fit.centreSigma = circles.centreSigma;
  fit.outerRadiusSigma = circles.radiusSigmas.front();
  Eigen::Matrix3d derivative;
  fit.normal = plane.Normal(&derivative);
  fit.normalCovariance = derivative * plane.czCovariance * derivative.transpose();
  // Along the line of sight: the plane's depth at the centre's pixel, Z = 1 / (cz · a).
  const Eigen::Vector2d grid = plane.PixelOf(circles.centre);
  const Eigen::Vector3d a(1.0, grid.x() - plane.u0, grid.y() - plane.v0);
  const double w = plane.cz.dot(a);
  const Eigen::Vector3d ray = circles.centre / circles.centre.z();
  fit.centreCovariance =
      circles.centreCovariance + ray * ray.transpose() * (a.dot(plane.czCovariance * a) / std::pow(w, 4));
  for (std::size_t i = 0, k = 0; i < 4; ++i) fit.radii[i] = fit.used[i] ? circles.radii[k++] : 0.0;
  if (!fit.centre.allFinite() || !fit.pixel.allFinite()) return refuse("the fit did not converge", false);
  if (!CheckRatios(boundaries[0], fit)) return refuse("the rings' radii do not have the marker's ratios", false);
  return fit;
}

}  // namespace Detect
}  // namespace TamoHandEye
