// SPDX-License-Identifier: Apache-2.0
#include "detect/BoxMean.h"

#include "detect/BoxMeanRows.h"
#include "detect/ProcessorFeatures.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <mutex>
#include <vector>

#if defined(__SSE2__)
#  include <emmintrin.h>
#endif

namespace TamoHandEye {
namespace Detect {
namespace {

// A block of at most 256 pixels is summed by the filter in 16 bits and divided in fixed point: those are
// left to it.
constexpr int kSmallestHalf = 8;

void FilterMean(const cv::Mat& grey, int half, cv::Mat& mean) {
  const int block = 2 * half + 1;
  cv::boxFilter(grey, mean, grey.type(), cv::Size(block, block), cv::Point(-1, -1), true,
                cv::BORDER_REPLICATE | cv::BORDER_ISOLATED);
}

// The baseline row kernels (see BoxMeanRows.h).
void UpdateColumnSums(const std::uint8_t* add, const std::uint8_t* sub, int width, int* sums) {
  int x = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; x + 16 <= width; x += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(add + x));
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sub + x));
    const __m128i low = _mm_sub_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(s, zero));
    const __m128i high = _mm_sub_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(s, zero));
    __m128i* p = reinterpret_cast<__m128i*>(sums + x);
    _mm_storeu_si128(p, _mm_add_epi32(_mm_loadu_si128(p), _mm_srai_epi32(_mm_unpacklo_epi16(low, low), 16)));
    _mm_storeu_si128(p + 1, _mm_add_epi32(_mm_loadu_si128(p + 1), _mm_srai_epi32(_mm_unpackhi_epi16(low, low), 16)));
    _mm_storeu_si128(p + 2, _mm_add_epi32(_mm_loadu_si128(p + 2), _mm_srai_epi32(_mm_unpacklo_epi16(high, high), 16)));
    _mm_storeu_si128(p + 3, _mm_add_epi32(_mm_loadu_si128(p + 3), _mm_srai_epi32(_mm_unpackhi_epi16(high, high), 16)));
  }
#endif
  for (; x < width; ++x) sums[x] += static_cast<int>(add[x]) - static_cast<int>(sub[x]);
}

void PrefixSums(const int* values, int count, int* prefix) {
  prefix[0] = 0;
  int j = 0;
#if defined(__SSE2__)
  __m128i carry = _mm_setzero_si128();
  for (; j + 4 <= count; j += 4) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + j));
    v = _mm_add_epi32(v, _mm_slli_si128(v, 4));
    v = _mm_add_epi32(v, _mm_slli_si128(v, 8));
    // The carry's chain is one addition a step: the block's own total is broadcast beside it.
    const __m128i total = _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 3, 3, 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(prefix + j + 1), _mm_add_epi32(v, carry));
    carry = _mm_add_epi32(carry, total);
  }
#endif
  for (; j < count; ++j) prefix[j + 1] = prefix[j] + values[j];
}

// Which rounding the filter gives each column of a row `width` wide: its vector loop rounds in single
// precision, the columns of its tail — the last few, fewer than a vector — in double. Learnt once per width
// from the filter itself: a two-row image whose block sums at the last kProbed columns all equal one sum
// the two roundings give apart (block 281: a column's sum is 141 × its first row + 140 × its second).
constexpr int kProbed = 64;
constexpr int kProbeHalf = 140;

struct Roundings {
  bool known = false;
  std::vector<char> inDouble;   ///< per column of the last min(width, kProbed): rounded in double precision
  int firstInDouble = INT_MAX;  ///< the first column rounded in double precision
};

// t = 141 a + 140 b with a, b in 0…255, or false.
bool TwoRows(int t, int& a, int& b) {
  for (a = t % 140; a <= 255; a += 140) {
    const int rest = t - 141 * a;
    b = rest / 140;
    if (rest >= 0 && rest % 140 == 0 && b <= 255) return true;
  }
  return false;
}

Roundings Probe(int width) {
  Roundings r;
  if (width < 3) return r;
  const int block = 2 * kProbeHalf + 1;
  const double twice = 1.0 / (static_cast<double>(block) * block);
  const auto single = static_cast<float>(twice);
  const int probed = std::min(width, kProbed);
  // Every probed column's window holds the column `odd` once and the others' (equal) sums elsewhere.
  const int odd = std::max(1, width - kProbeHalf - 1);
  for (int sum = 128 * block * block; sum < 200 * block * block; ++sum) {
    if (std::lrint(static_cast<float>(sum) * single) == std::lrint(static_cast<double>(sum) * twice)) continue;
    const int even = sum / block;
    int a = 0, b = 0, oddA = 0, oddB = 0;
    if (!TwoRows(even, a, b) || !TwoRows(even + sum % block, oddA, oddB)) continue;
    cv::Mat grey(2, width, CV_8UC1);
    grey.row(0).setTo(a);
    grey.row(1).setTo(b);
    grey.at<unsigned char>(0, odd) = static_cast<unsigned char>(oddA);
    grey.at<unsigned char>(1, odd) = static_cast<unsigned char>(oddB);
    cv::Mat mean;
    FilterMean(grey, kProbeHalf, mean);
    const auto inSingle = static_cast<int>(std::lrint(static_cast<float>(sum) * single));
    const auto inDouble = static_cast<int>(std::lrint(static_cast<double>(sum) * twice));
    for (int x = width - probed; x < width; ++x) {
      const int got = mean.at<unsigned char>(0, x);
      if (got != inSingle && got != inDouble) return r;
      r.inDouble.push_back(got == inDouble ? 1 : 0);
      if (got == inDouble && got != inSingle) r.firstInDouble = std::min(r.firstInDouble, x);
    }
    r.known = true;
    return r;
  }
  return r;
}

const Roundings& RoundingsOf(int width) {
  static std::mutex guard;
  static std::map<int, Roundings> known;
  const std::lock_guard<std::mutex> lock(guard);
  auto found = known.find(width);
  if (found == known.end()) found = known.emplace(width, Probe(width)).first;
  return found->second;
}

#if defined(__SSE2__)
inline __m128i RoundFour(const int* prefix, int block, __m128 singles, __m128 magnitude, __m128 hair, __m128& near) {
  const __m128i sum = _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(prefix + block)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(prefix)));
  const __m128 mean = _mm_mul_ps(_mm_cvtepi32_ps(sum), singles);
  const __m128i rounded = _mm_cvtps_epi32(mean);
  near = _mm_or_ps(near, _mm_cmpgt_ps(_mm_and_ps(_mm_sub_ps(mean, _mm_cvtepi32_ps(rounded)), magnitude), hair));
  return rounded;
}
#endif

int RoundSingle(const int* prefix, int block, int width, std::uint8_t* out, std::uint8_t* near) {
  int x = 0;
#if defined(__SSE2__)
  const __m128 singles = _mm_set1_ps(static_cast<float>(1.0 / (static_cast<double>(block) * block)));
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  const __m128 hair = _mm_set1_ps(0.4999F);
  for (; x + 16 <= width; x += 16) {
    __m128 close = _mm_setzero_ps();
    const __m128i r0 = RoundFour(prefix + x, block, singles, magnitude, hair, close);
    const __m128i r1 = RoundFour(prefix + x + 4, block, singles, magnitude, hair, close);
    const __m128i r2 = RoundFour(prefix + x + 8, block, singles, magnitude, hair, close);
    const __m128i r3 = RoundFour(prefix + x + 12, block, singles, magnitude, hair, close);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                     _mm_packus_epi16(_mm_packs_epi32(r0, r1), _mm_packs_epi32(r2, r3)));
    near[x / 16] = _mm_movemask_ps(close) != 0 ? 1 : 0;
  }
#else
  static_cast<void>(prefix);
  static_cast<void>(block);
  static_cast<void>(width);
  static_cast<void>(out);
  static_cast<void>(near);
#endif
  return x;
}

const BoxMeanRows kBaseline{UpdateColumnSums, PrefixSums, RoundSingle, 16};

// out[x] = the mean of the sum prefix[x + block] − prefix[x], rounded as the filter rounds column x. The
// single-precision rounding's error is below 5e-5 (three roundings of 2^-24 of at most 255): where it lies
// within 0.4999 of its integer, the double one gives the same.
void RoundMeans(const BoxMeanRows& rows, const int* prefix, int block, int width, const Roundings& roundings,
                std::vector<std::uint8_t>& near, unsigned char* out) {
  const double twice = 1.0 / (static_cast<double>(block) * block);
  const auto single = static_cast<float>(twice);
  const int firstProbed = width - static_cast<int>(roundings.inDouble.size());
  const auto scalar = [&](int from, int to) {
    for (int x = from; x < to; ++x) {
      const int s = prefix[x + block] - prefix[x];
      const bool inDouble = x >= firstProbed && roundings.inDouble[static_cast<std::size_t>(x - firstProbed)];
      out[x] = static_cast<unsigned char>(inDouble ? std::lrint(static_cast<double>(s) * twice)
                                                   : std::lrint(static_cast<float>(s) * single));
    }
  };
  const int done = rows.round(prefix, block, width, out, near.data());
  // A mean within a hair of a half, or a column the filter rounds in double: each as the filter does.
  for (int g = 0; g * rows.lanes < done; ++g) {
    const int from = g * rows.lanes;
    if (near[static_cast<std::size_t>(g)] != 0 || from + rows.lanes > roundings.firstInDouble) {
      scalar(from, from + rows.lanes);
    }
  }
  scalar(done, width);
}

// Whether this build's filter sums and rounds as described: checked once against it on a small noisy image.
bool RoundsAsTheFilter() {
  static const bool same = [] {
    cv::Mat grey(45, 67, CV_8UC1);
    cv::RNG noise(45067);  // its own generator: OpenCV's shared one is left as it is
    noise.fill(grey, cv::RNG::UNIFORM, 0, 256);
    for (const int half : {kSmallestHalf, 9, 23, 50, 140}) {
      cv::Mat own, filtered;
      FilterMean(grey, half, filtered);
      if (BoxMeanOwn(grey, half, own) && cv::norm(own, filtered, cv::NORM_INF) != 0.0) return false;
    }
    return true;
  }();
  return same;
}

}  // namespace

bool BoxMeanOwn(const cv::Mat& grey, int half, cv::Mat& mean, const BoxMeanRows* rows) {
  const BoxMeanRows& kernels = rows ? *rows : BestBoxMeanRows();
  const int block = 2 * half + 1;
  const int width = grey.cols;
  const int height = grey.rows;
  if (grey.type() != CV_8UC1 || grey.empty() || half < kSmallestHalf) return false;
  // The prefix sums along a row with its replicated ends stay within 31 bits.
  if (static_cast<long long>(width + 2 * half) * block * 255 >= INT_MAX) return false;
  const Roundings& roundings = RoundingsOf(width);
  if (!roundings.known) return false;
  mean.create(height, width, CV_8UC1);
  // The sums of each column over the block's rows, with `half` replicated columns at either end.
  std::vector<int> columns(static_cast<std::size_t>(width + 2 * half), 0);
  std::vector<int> prefix(columns.size() + 1);
  std::vector<std::uint8_t> near(static_cast<std::size_t>(width / kernels.lanes + 1));
  int* sums = columns.data() + half;
  const auto row = [&](int r) { return grey.ptr<unsigned char>(std::clamp(r, 0, height - 1)); };
  const std::vector<unsigned char> zeros(static_cast<std::size_t>(width), 0);
  for (int r = -half; r <= half; ++r) kernels.update(row(r), zeros.data(), width, sums);
  for (int y = 0; y < height; ++y) {
    if (y > 0) kernels.update(row(y + half), row(y - half - 1), width, sums);
    std::fill(columns.begin(), columns.begin() + half, sums[0]);
    std::fill(columns.end() - half, columns.end(), sums[width - 1]);
    kernels.prefix(columns.data(), static_cast<int>(columns.size()), prefix.data());
    RoundMeans(kernels, prefix.data(), block, width, roundings, near, mean.ptr<unsigned char>(y));
  }
  return true;
}

const BoxMeanRows& BaselineBoxMeanRows() { return kBaseline; }

const BoxMeanRows& BestBoxMeanRows() {
  static const BoxMeanRows& best = Avx2BoxMeanRows() && ProcessorHasAvx2() ? *Avx2BoxMeanRows() : kBaseline;
  return best;
}

void BoxMean(const cv::Mat& grey, int half, cv::Mat& mean) {
  if (RoundsAsTheFilter() && BoxMeanOwn(grey, half, mean)) return;
  FilterMean(grey, half, mean);
}

}  // namespace Detect
}  // namespace TamoHandEye
