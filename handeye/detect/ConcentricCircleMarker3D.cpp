// SPDX-License-Identifier: Apache-2.0
#include "detect/ConcentricCircleMarker3D.h"
#include <tarn/Output.h>

#include "api/LibraryLogger.h"
#include "detect/BoxMean.h"
#include "detect/MedianFilter.h"

#include <opencv2/imgproc.hpp>

#if defined(__SSE2__)
#  include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>

namespace TamoHandEye {
namespace Detect {

ConcentricCircleMarker3D::ConcentricCircleMarker3D(const std::string& imageFile, const std::string& cloudFile)
    : IMarkerAlgo3D(imageFile, cloudFile) {
  Initialise();
}

ConcentricCircleMarker3D::ConcentricCircleMarker3D(const cv::Mat& image, const cv::Mat& cloud)
    : IMarkerAlgo3D(image, cloud) {
  Initialise();
}

void ConcentricCircleMarker3D::Initialise() {
  rings.clear();
  noCircleCodes.clear();
  noPointCodes.clear();
  multiCircleCodes.clear();
  pointValid.clear();
  points3D.clear();
  centers.clear();
  lastGoodParams = {-1, -1};
  BuildParamQueue();
}

void ConcentricCircleMarker3D::BuildParamQueue() {
  paramQueue.clear();
  for (int j = 0; j < offsetSteps; ++j) {
    const int up = offsetStart + j;
    const int down = std::max(offsetStart - j, 0);
    if (blockHalfRange <= 0) continue;
    int hUp = blockHalfStart;
    int hDown = blockHalfStart;
    do {
      const int hLow = std::max(hDown, 1);
      paramQueue.emplace_back(hUp, up);
      paramQueue.emplace_back(hUp, down);
      paramQueue.emplace_back(hLow, up);
      paramQueue.emplace_back(hLow, down);
      hUp += paramStep;
      hDown -= paramStep;
    } while (hUp - blockHalfStart < blockHalfRange);
  }
  if (StandardOutputTexts()) std::cout << "detect params size:" << paramQueue.size() << "\n";
  paramCount = static_cast<int>(paramQueue.size());
}

ErrorCode ConcentricCircleMarker3D::Run(MarkerBoardResult& result) {
  ErrorCode firstFitFailure = Success;
  for (int attempt = 0; attempt < paramCount; ++attempt) {
    MarkerBoardResult local;
    const ErrorCode code = DetectMarker(local);
    switch (code) {
      case Success: result = local; return Success;
      case Err_Algo_Marker_Fail_NoCircle: noCircleCodes.push_back(code); break;
      case Err_Algo_Marker_Fail_NoPoint: noPointCodes.push_back(code); break;
      case Err_Algo_Marker_Fail_ExceedOneCircle: multiCircleCodes.push_back(code); break;
      // A fit refused under one threshold pair (contours that starve a boundary, a ring cut by another
      // pair's threshold) may pass under the next.
      case Err_Algo_Marker_Fit_NotMarker:
      case Err_Algo_Marker_Fit_TooFewPoints:
        if (firstFitFailure == Success) firstFitFailure = code;
        break;
      default: return code;
    }
  }
  return firstFitFailure != Success ? firstFitFailure : SummarizeFailures();
}

ErrorCode ConcentricCircleMarker3D::SummarizeFailures() const {
  const std::size_t nc = noCircleCodes.size();
  const std::size_t np = noPointCodes.size();
  const std::size_t nm = multiCircleCodes.size();
  const std::size_t m = std::max({nc, np, nm});
  if (m != nc && m != np) return Err_Algo_Marker_Fail_ExceedOneCircle;
  if ((nc > np ? nc - np : np - nc) <= 10) return Err_Algo_Marker_Fail_NoCircleNoPoint;
  if (m == nc) return Err_Algo_Marker_Fail_NoCircle;
  return Err_Algo_Marker_Fail_NoPoint;
}

ErrorCode ConcentricCircleMarker3D::DetectMarker(MarkerBoardResult& result) {
  if (const ErrorCode code = CheckAttempt(); code != Success) return code;
  NextAttempt();
  if (const ErrorCode code = CheckAttempt(); code != Success) return code;
  if (centers.empty()) {
    if (StandardOutputTexts()) std::cout << "Err_Algo_Marker_Fail_NoCircle\n";
    return Err_Algo_Marker_Fail_NoCircle;
  }
  if (centers.size() > 1) {
    if (StandardOutputTexts()) {
      for (const cv::Point2f& c : centers) std::cout << "x:" << c.x << ",y:" << c.y << "\t";
      std::cout << "\nErr_Algo_Marker_Fail_ExceedOneCircle\n";
    }
    return Err_Algo_Marker_Fail_ExceedOneCircle;
  }
  if (points3D.empty() || pointValid.empty() || pointValid[0] == 0) {
    if (StandardOutputTexts()) std::cout << "Err_Algo_Marker_Fail_NoPoint\n";
    return Err_Algo_Marker_Fail_NoPoint;
  }
  result.x = static_cast<double>(points3D[0].x);
  result.y = static_cast<double>(points3D[0].y);
  result.z = static_cast<double>(points3D[0].z);
  result.u = static_cast<double>(centers[0].x);
  result.v = static_cast<double>(centers[0].y);
  return Success;
}

void ConcentricCircleMarker3D::NextAttempt() {
  if (lastGoodParams != Pair(-1, -1)) {
    if (!RunAttempt(lastGoodParams.first, lastGoodParams.second)) {
      lastGoodParams = {-1, -1};
      if (StandardOutputTexts()) std::cout << "reset flags\n";
    }
    return;
  }
  if (paramQueue.empty()) return;
  const Pair front = paramQueue.front();
  if (RunAttempt(front.first, front.second) && centers.size() == 1) {
    lastGoodParams = front;
  } else {
    paramQueue.pop_front();
  }
}

bool ConcentricCircleMarker3D::RunAttempt(int halfBlock, int offset) {
  const Pair key(halfBlock, offset);
  auto known = outcomes.find(key);
  if (known == outcomes.end()) {
    Outcome outcome;
    outcome.found = FindCenters(halfBlock, offset, outcome.centers, &outcome.rings);
    if (outcome.found) {
      for (const cv::Point2f& c : outcome.centers) {
        const int row = CloudIndex(static_cast<double>(c.y), data->cloud.rows);
        if (!data->LoadRows(row, row + 1)) return false;  // the cloud's file changed: the attempt says 107
        const cv::Vec3d p = SampleCloud(data->cloud, static_cast<double>(c.y), static_cast<double>(c.x));
        // A point is valid when each coordinate is finite in the float it is kept in: NaN is a missing
        // point, and an infinite one (or one beyond float's range) is no measurement either.
        const bool valid = std::all_of(p.val, p.val + 3, [](double v) {
          return std::isfinite(v) && std::abs(v) <= static_cast<double>(std::numeric_limits<float>::max());
        });
        const cv::Point3f point =
            valid ? cv::Point3f(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]))
                  : cv::Point3f(std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::quiet_NaN(),
                                std::numeric_limits<float>::quiet_NaN());
        outcome.points3D.push_back(point);
        outcome.pointValid.push_back(valid ? 1 : 0);
      }
    }
    known = outcomes.emplace(key, std::move(outcome)).first;
  }
  const Outcome& outcome = known->second;
  centers = outcome.centers;
  points3D = outcome.points3D;
  pointValid = outcome.pointValid;
  rings = outcome.rings;
  return outcome.found;
}

const cv::Mat& ConcentricCircleMarker3D::Filtered() {
  if (filtered.empty()) {
    // Filtered straight from the grey image into its own buffer (in place, the filter copies its input).
    cv::Mat grey = data->image;
    if (grey.type() != CV_8UC1) cv::cvtColor(data->image, grey, cv::COLOR_BGR2GRAY);
    if (medianHalfSize != 2 || !MedianBlur5(grey, filtered)) cv::medianBlur(grey, filtered, 2 * medianHalfSize + 1);
  }
  return filtered;
}

namespace {

// The threshold's bound on pixel − mean for offset C: a pixel is white when pixel − mean > −bound. The
// difference lies in [−255, 255]: beyond that range the threshold passes every pixel or none, so the bound
// is clamped there and fits 16 bits.
int ThresholdBound(int offset) {
  return std::clamp(static_cast<int>(std::ceil(static_cast<double>(offset))), -256, 256);
}

}  // namespace

const cv::Mat& ConcentricCircleMarker3D::Leasts(int halfBlock) {
  cv::Mat& leasts = tileLeasts[halfBlock];
  if (leasts.empty()) leasts = TileLeasts(filtered, blockMeans.at(halfBlock));
  return leasts;
}

cv::Mat ConcentricCircleMarker3D::Binarise(int halfBlock, int offset) {
  // cv::adaptiveThreshold(MEAN_C, THRESH_BINARY) split in two, so that the block mean is computed once
  // per block size: a pixel becomes 255 when pixel - mean > -ceil(C), with the mean rounded to 8 bits.
  const cv::Mat& grey = Filtered();
  cv::Mat& mean = blockMeans[halfBlock];
  // The first threshold of a block size reads every pixel (a marker is mostly found at once); the tiles'
  // least differences are made for the next ones.
  const bool first = mean.empty();
  if (first) BoxMean(grey, halfBlock, mean);
  const int delta = ThresholdBound(offset);
  cv::Mat binary = contourSearch.Frame(grey.size());
  if (first) {
    for (int r = 0; r < grey.rows; ++r) {
      ThresholdRow(grey.ptr<unsigned char>(r), mean.ptr<unsigned char>(r), delta, 0, grey.cols,
                   binary.ptr<unsigned char>(r));
    }
    return binary;
  }
  ThresholdTiles(mean, Leasts(halfBlock), delta, cv::Rect(0, 0, grey.cols, grey.rows), binary);
  return binary;
}

void ConcentricCircleMarker3D::ThresholdTiles(const cv::Mat& mean, const cv::Mat& leasts, int delta,
                                              const cv::Rect& area, cv::Mat& binary) {
  // Each band of tile rows as runs of tiles white throughout (written as such, their pixels unread) between
  // tiles to threshold pixel by pixel; columns counted from the area's left.
  const cv::Mat& grey = filtered;
  std::vector<std::pair<int, int>> whiteRuns;  // first column, end column
  for (int band = area.y / kTileRows; band * kTileRows < area.y + area.height; ++band) {
    const short* least = leasts.ptr<short>(band);
    whiteRuns.clear();
    for (int t = area.x / 16; 16 * t < area.x + area.width; ++t) {
      if (least[t] <= -delta) continue;
      const int from = std::max(16 * t, area.x) - area.x;
      const int to = std::min(16 * t + 16, area.x + area.width) - area.x;
      if (!whiteRuns.empty() && whiteRuns.back().second == from) {
        whiteRuns.back().second = to;
      } else {
        whiteRuns.emplace_back(from, to);
      }
    }
    const int lastRow = std::min((band + 1) * kTileRows, area.y + area.height);
    for (int r = std::max(band * kTileRows, area.y); r < lastRow; ++r) {
      const unsigned char* s = grey.ptr<unsigned char>(r) + area.x;
      const unsigned char* m = mean.ptr<unsigned char>(r) + area.x;
      unsigned char* d = binary.ptr<unsigned char>(r - area.y);
      int from = 0;  // the first column not yet written
      for (const auto& [first, end] : whiteRuns) {
        ThresholdRow(s, m, delta, from, first, d);
        std::memset(d + first, 255, static_cast<std::size_t>(end - first));
        from = end;
      }
      ThresholdRow(s, m, delta, from, area.width, d);
    }
  }
}

void ConcentricCircleMarker3D::ThresholdRow(const unsigned char* s, const unsigned char* m, int delta, int c, int end,
                                            unsigned char* d) {
#if defined(__SSE2__)
  // Sixteen pixels at a time: widened to 16 bits, compared, narrowed back (all ones stays 0xFF).
  const __m128i zero = _mm_setzero_si128();
  const __m128i bound = _mm_set1_epi16(static_cast<short>(-delta));
  for (; c + 16 <= end; c += 16) {
    const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + c));
    const __m128i mv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m + c));
    const __m128i low = _mm_sub_epi16(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(mv, zero));
    const __m128i high = _mm_sub_epi16(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(mv, zero));
    const __m128i out = _mm_packs_epi16(_mm_cmpgt_epi16(low, bound), _mm_cmpgt_epi16(high, bound));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + c), out);
  }
#endif
  for (; c < end; ++c) d[c] = static_cast<int>(s[c]) - static_cast<int>(m[c]) > -delta ? 255 : 0;
}

cv::Mat ConcentricCircleMarker3D::TileLeasts(const cv::Mat& grey, const cv::Mat& mean) {
  const int tiles = (grey.cols + 15) / 16;
  cv::Mat leasts((grey.rows + kTileRows - 1) / kTileRows, tiles, CV_16SC1, cv::Scalar(SHRT_MAX));
  for (int r = 0; r < grey.rows; ++r) {
    const unsigned char* s = grey.ptr<unsigned char>(r);
    const unsigned char* m = mean.ptr<unsigned char>(r);
    short* least = leasts.ptr<short>(r / kTileRows);
    int c = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; c + 16 <= grey.cols; c += 16) {
      const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + c));
      const __m128i mv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m + c));
      __m128i v = _mm_min_epi16(_mm_sub_epi16(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(mv, zero)),
                                _mm_sub_epi16(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(mv, zero)));
      v = _mm_min_epi16(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
      v = _mm_min_epi16(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
      v = _mm_min_epi16(v, _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1)));
      least[c / 16] = std::min(least[c / 16], static_cast<short>(_mm_cvtsi128_si32(v)));
    }
#endif
    for (; c < grey.cols; ++c) {
      least[c / 16] = std::min(least[c / 16], static_cast<short>(static_cast<int>(s[c]) - static_cast<int>(m[c])));
    }
  }
  return leasts;
}

bool ConcentricCircleMarker3D::IsCircular(const std::vector<cv::Point>& contour, double minimum, double maximum) {
  const cv::Moments m = cv::moments(contour);
  if (std::abs(m.m00) <= std::max(std::abs(m.m00) * 1e-10, 1e-8)) return false;
  const double perimeter = cv::arcLength(contour, true);
  const double circularity = 4.0 * CV_PI * m.m00 / (perimeter * perimeter);
  return minimum <= circularity && circularity <= maximum;
}

std::vector<std::array<int, 4>> ConcentricCircleMarker3D::FindChains(
    const std::vector<std::vector<cv::Point>>& contours, const std::vector<cv::Vec4i>& hierarchy,
    double minCircularity) {
  std::vector<std::array<int, 4>> groups;
  const int n = static_cast<int>(contours.size());
  if (n == 0) return groups;
  const auto circular = [&](int i) { return IsCircular(contours[static_cast<std::size_t>(i)], minCircularity, 1.0); };
  const auto child = [&](int i) { return hierarchy[static_cast<std::size_t>(i)][2]; };
  const auto parent = [&](int i) { return hierarchy[static_cast<std::size_t>(i)][3]; };

  // A chain: circular contours each of which is the first child's parent of the next (k, k+1, k+2), then
  // the innermost boundary k+3, whose parent is k+2.
  int expected = INT_MIN;
  if (circular(0)) expected = child(0) + 1;
  int start = 0;
  int length = 1;
  int i = 1;
  while (i < n) {
    if (child(i) == expected && circular(i)) {
      ++length;
      ++expected;
      ++i;
      continue;
    }
    if (length == 3) {
      // Only a whole group of four contours of this one chain is used.
      if (i - start == 3 && parent(i) == i - 1) {
        groups.push_back({start, start + 1, start + 2, i});
        ++i;
        if (i == n) break;
      }
    }
    // A contour without a child that is circular leaves no child to expect; one that is not keeps the
    // expected one, which only a later contour can have while it lies beyond i + 1 (a first child comes
    // after its parent). Otherwise both ways end the same, and the circularity is not measured.
    const bool undecided = child(i) >= 0 || (expected != INT_MIN && expected > i + 1);
    if (undecided && circular(i)) {
      expected = child(i) + 1;
      start = i;
    }
    length = 1;
    ++i;
  }
  return groups;
}

bool ConcentricCircleMarker3D::SureOfNoChain(int halfBlock, int offset) {
  // Not on the first attempt: that one reads every pixel (a marker is mostly found at once). Once it has
  // found nothing, a block size's mean is made for its first attempt here.
  if (!cutOutAttempts || blockMeans.empty()) return false;
  const cv::Mat& grey = Filtered();
  cv::Mat& mean = blockMeans[halfBlock];
  if (mean.empty()) BoxMean(grey, halfBlock, mean);
  const cv::Mat& leasts = Leasts(halfBlock);
  const int delta = ThresholdBound(offset);
  // The whole image's borders, its dark tiles and their neighbours read: without three nested circles
  // holding a fourth border, no chain.
  borderScan.Scan(grey, mean, leasts, kTileRows, delta);
  if (!AnyNestedCircles(borderScan, minCircularity)) return true;
  int left = INT_MAX, right = -1, top = INT_MAX, bottom = -1;  // the tiles not white throughout
  for (int band = 0; band < leasts.rows; ++band) {
    const short* least = leasts.ptr<short>(band);
    for (int t = 0; t < leasts.cols; ++t) {
      if (least[t] > -delta) continue;
      left = std::min(left, t);
      right = std::max(right, t);
      top = std::min(top, band);
      bottom = std::max(bottom, band);
    }
  }
  if (right < 0) return true;  // white throughout (the scan has said so already)
  // Their box with a white margin of one pixel inside the image. Every contour there is the whole image's,
  // where it lies, but the outer border of the white around the box (its shape is cut), as long as that
  // white stays in one piece: the box spans neither the image's width nor its height.
  const int x0 = std::max(0, 16 * left - 1), x1 = std::min(grey.cols, 16 * (right + 1) + 1);
  const int y0 = std::max(0, kTileRows * top - 1), y1 = std::min(grey.rows, kTileRows * (bottom + 1) + 1);
  if ((x0 == 0 && x1 == grey.cols) || (y0 == 0 && y1 == grey.rows)) return false;
  cv::Mat cut = cutOutSearch.Frame(cv::Size(x1 - x0, y1 - y0));
  ThresholdTiles(mean, leasts, delta, cv::Rect(x0, y0, x1 - x0, y1 - y0), cut);
  std::vector<std::vector<cv::Point>> contours;
  std::vector<cv::Vec4i> hierarchy;
  cutOutSearch.Find(contours, hierarchy);
  return !AnyChainShape(contours, hierarchy, minCircularity);
}

bool ConcentricCircleMarker3D::AnyNestedCircles(const BorderScan& scan, double minCircularity) {
  // A chain's first three contours (a, b, c): circular, each inside the one before, c holding a fourth.
  const std::vector<BorderScan::Border>& borders = scan.Borders();
  std::vector<signed char> known(borders.size(), -1);  // each border walked at most once
  const auto circular = [&](int i) {
    signed char& circle = known[static_cast<std::size_t>(i)];
    if (circle < 0) circle = BorderScan::Circular(scan.WalkOf(i), minCircularity, 1.0) ? 1 : 0;
    return circle == 1;
  };
  const auto parent = [&](int i) { return borders[static_cast<std::size_t>(i)].parent; };
  for (const BorderScan::Border& innermost : borders) {
    const int c = innermost.parent;
    if (c < 0) continue;
    const int b = parent(c);
    if (b < 0) continue;
    const int a = parent(b);
    if (a >= 0 && circular(c) && circular(b) && circular(a)) return true;
  }
  return false;
}

bool ConcentricCircleMarker3D::AnyChainShape(const std::vector<std::vector<cv::Point>>& contours,
                                             const std::vector<cv::Vec4i>& hierarchy, double minCircularity) {
  const auto child = [&](int i) { return hierarchy[static_cast<std::size_t>(i)][2]; };
  const auto circular = [&](int i) { return IsCircular(contours[static_cast<std::size_t>(i)], minCircularity, 1.0); };
  const int n = static_cast<int>(contours.size());
  for (int s = 0; s + 3 < n; ++s) {
    if (child(s) != s + 1 || child(s + 1) != s + 2 || child(s + 2) != s + 3) continue;
    if (hierarchy[static_cast<std::size_t>(s) + 3][3] != s + 2) continue;
    if (child(s + 3) == s + 4 && circular(s + 3)) continue;  // a fifth nested circle: no group
    if ((hierarchy[static_cast<std::size_t>(s)][3] < 0 || circular(s)) && circular(s + 1) && circular(s + 2)) {
      return true;
    }
  }
  return false;
}

bool ConcentricCircleMarker3D::FindCenters(int halfBlock, int offset, std::vector<cv::Point2f>& found,
                                           std::vector<Rings>* boundaries) {
  if (SureOfNoChain(halfBlock, offset)) return false;
  Binarise(halfBlock, offset);
  std::vector<std::vector<cv::Point>> contours;
  std::vector<cv::Vec4i> hierarchy;
  contourSearch.Find(contours, hierarchy);

  const std::vector<std::array<int, 4>> groups = FindChains(contours, hierarchy, minCircularity);
  if (groups.empty()) return false;
  for (const auto& group : groups) {
    float sumX = 0.0f;
    float sumY = 0.0f;
    bool finite = true;
    for (const int index : group) {
      const cv::Moments m = cv::moments(contours[static_cast<std::size_t>(index)]);
      const auto cx = static_cast<float>(m.m10 / m.m00);
      const auto cy = static_cast<float>(m.m01 / m.m00);
      finite = finite && std::isfinite(cx) && std::isfinite(cy);
      sumX += cx;
      sumY += cy;
    }
    // The innermost boundary is not tested for area: a zero-area one has no centroid, and its group is
    // dropped rather than used to index the cloud.
    if (!finite) continue;
    found.emplace_back(static_cast<float>(static_cast<double>(sumX) * 0.25),
                       static_cast<float>(static_cast<double>(sumY) * 0.25));
    if (boundaries) {
      Rings four;
      for (std::size_t k = 0; k < 4; ++k) four[k] = contours[static_cast<std::size_t>(group[k])];
      boundaries->push_back(std::move(four));
    }
  }
  return true;
}

int CloudIndex(double v, int size) {
  const double t = std::trunc(v);
  if (!(t >= 0.0)) return 0;
  return t >= size - 1 ? size - 1 : static_cast<int>(t);
}

cv::Vec3d SampleCloud(const cv::Mat& cloud, double y, double x) {
  const int r = CloudIndex(y, cloud.rows);
  const int c = CloudIndex(x, cloud.cols);
  const int r1 = std::min(r + 1, cloud.rows - 1);
  const int c1 = std::min(c + 1, cloud.cols - 1);
  const double fy = std::fmod(y, 1.0);
  const double fx = std::fmod(x, 1.0);
  const cv::Vec3d& b = cloud.at<cv::Vec3d>(r, c);
  const cv::Vec3d& a = cloud.at<cv::Vec3d>(r1, c);
  const cv::Vec3d& d = cloud.at<cv::Vec3d>(r, c1);
  const cv::Vec3d& e = cloud.at<cv::Vec3d>(r1, c1);
  cv::Vec3d out;
  for (int k = 0; k < 3; ++k) {
    out[k] = ((fy * a[k] + (1.0 - fy) * b[k]) * (1.0 - fx)) + ((fy * e[k] + (1.0 - fy) * d[k]) * fx);
  }
  return out;
}

}  // namespace Detect
}  // namespace TamoHandEye
