// SPDX-License-Identifier: Apache-2.0
#include "detect/BorderScan.h"

#if defined(__SSE2__)
#  include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace TamoHandEye {
namespace Detect {

namespace {

constexpr int kTileColumns = 16;
constexpr unsigned char kWhite = 255;
// The eight neighbours, counter-clockwise from the right as the image is drawn (rows run downwards).
constexpr int kStepX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int kStepY[8] = {0, -1, -1, -1, 0, 1, 1, 1};

// Sixteen pixels of the threshold from column c: written to d (255 white, 0 black), returned as a mask
// with bit k set when pixel c + k is white.
unsigned Threshold16(const unsigned char* s, const unsigned char* m, int delta, int c, unsigned char* d) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i bound = _mm_set1_epi16(static_cast<short>(-delta));
  const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + c));
  const __m128i mv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m + c));
  const __m128i low = _mm_sub_epi16(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(mv, zero));
  const __m128i high = _mm_sub_epi16(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(mv, zero));
  const __m128i out = _mm_packs_epi16(_mm_cmpgt_epi16(low, bound), _mm_cmpgt_epi16(high, bound));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + c), out);
  return static_cast<unsigned>(_mm_movemask_epi8(out));
#else
  unsigned mask = 0;
  for (int k = 0; k < 16; ++k) {
    const bool white = static_cast<int>(s[c + k]) - static_cast<int>(m[c + k]) > -delta;
    d[c + k] = white ? kWhite : 0;
    mask |= static_cast<unsigned>(white) << k;
  }
  return mask;
#endif
}

// The first tile from t on (up to n) whose least is at or below bound: one holding a black pixel.
int NextDark(const short* least, int t, int n, int bound) {
#if defined(__SSE2__)
  const __m128i above = _mm_set1_epi16(static_cast<short>(bound + 1));
  for (; t + 8 <= n; t += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(least + t));
    const auto dark = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi16(v, above)));
    if (dark != 0) return t + (__builtin_ctz(dark) >> 1);
  }
#endif
  while (t < n && least[t] > bound) ++t;
  return t;
}

}  // namespace

void BorderScan::Restore() {
  const int rows = framed.rows - 2;
  for (const auto& [band, columns] : thresholded) {
    for (int r = band * bandRows; r < std::min(rows, (band + 1) * bandRows); ++r) {
      std::memset(framed.ptr<unsigned char>(r + 1) + 1 + columns.first, kWhite,
                  static_cast<std::size_t>(columns.second - columns.first));
    }
  }
  thresholded.clear();
}

int BorderScan::Find(int run) {
  int root = run;
  while (up[static_cast<std::size_t>(root)] != root) root = up[static_cast<std::size_t>(root)];
  while (up[static_cast<std::size_t>(run)] != root) {
    const int next = up[static_cast<std::size_t>(run)];
    up[static_cast<std::size_t>(run)] = root;
    run = next;
  }
  return root;
}

void BorderScan::Unite(int a, int b) {
  // A region's root is its first run in raster order: the first pixel its border starts from.
  a = Find(a);
  b = Find(b);
  if (a < b) {
    up[static_cast<std::size_t>(b)] = a;
  } else if (b < a) {
    up[static_cast<std::size_t>(a)] = b;
  }
}

void BorderScan::CutRow(int y, const cv::Mat& grey, const cv::Mat& mean, int delta, const std::pair<int, int>* dark,
                        const std::pair<int, int>* darkEnd) {
  const int cols = grey.cols;
  const unsigned char* s = grey.ptr<unsigned char>(y);
  const unsigned char* m = mean.ptr<unsigned char>(y);
  unsigned char* d = framed.ptr<unsigned char>(y + 1) + 1;
  int start = 0;
  bool white = true;  // the colour of the run open since `start` (an empty white one before the row)
  const auto cut = [&](int x) {
    if (x > start) runs.push_back({start, x, y, white});
    start = x;
    white = !white;
  };
  for (; dark != darkEnd; ++dark) {
    const auto [c0, c1] = *dark;
    // The run of dark tiles c0 to c1, sixteen pixels at a time (the last ones maybe fewer, the pixels beyond
    // the image's edge taken as the last one's colour); white before and after it.
    for (int c = c0; c < c1; c += 16) {
      unsigned mask = 0;
      if (c + 16 <= cols) {
        mask = Threshold16(s, m, delta, c, d);
      } else {
        for (int k = 0; c + k < cols; ++k) {
          const bool w = static_cast<int>(s[c + k]) - static_cast<int>(m[c + k]) > -delta;
          d[c + k] = w ? kWhite : 0;
          mask |= static_cast<unsigned>(w) << k;
        }
        const int last = cols - 1 - c;
        if ((mask >> last) & 1U) mask |= 0xFFFFU << last;
      }
      mask &= 0xFFFFU;
      // Bit k of `changes`: pixel c + k differs from the one before it.
      unsigned changes = (mask ^ ((mask << 1) | (white ? 1U : 0U))) & 0xFFFFU;
      while (changes != 0) {
        const int k = __builtin_ctz(changes);
        if (c + k < cols) cut(c + k);
        changes &= changes - 1;
      }
    }
    if (!white && c1 < cols) cut(c1);
  }
  if (cols > start) runs.push_back({start, cols, y, white});
}

void BorderScan::JoinRows(std::size_t previous, std::size_t current, std::size_t end) {
  // A white run meets the white runs of the row above that it touches at a corner or more; a black run
  // the black runs it shares a column with.
  std::size_t k = previous;
  for (std::size_t j = current; j < end; ++j) {
    const Run& run = runs[j];
    while (k < current && runs[k].end < run.start) ++k;
    for (std::size_t above = k; above < current && runs[above].start <= run.end; ++above) {
      const Run& other = runs[above];
      if (other.white != run.white) continue;
      if (!run.white && (other.start >= run.end || run.start >= other.end)) continue;
      if (up[j] == static_cast<int>(j)) {
        up[j] = Find(static_cast<int>(above));  // its first meeting: it joins that region, whose root comes first
      } else {
        Unite(static_cast<int>(above), static_cast<int>(j));
      }
    }
  }
}

void BorderScan::Scan(const cv::Mat& grey, const cv::Mat& mean, const cv::Mat& leasts, int tileRows, int delta) {
  const int rows = grey.rows;
  const int cols = grey.cols;
  if (framed.rows != rows + 2 || framed.cols != cols + 2) {
    framed.create(rows + 2, cols + 2, CV_8UC1);
    framed.setTo(0);
    framed(cv::Rect(1, 1, cols, rows)).setTo(kWhite);
    thresholded.clear();
  }
  Restore();
  bandRows = tileRows;
  runs.assign(1, Run{0, 0, -1, false});  // the black beyond the edge
  up.assign(1, 0);
  borders.clear();

  // Each band's runs of tiles holding a black pixel: only they are read.
  spans.clear();
  spanStarts.assign(static_cast<std::size_t>(leasts.rows) + 1, 0);
  int firstDark = leasts.rows;
  int lastDark = -1;
  for (int b = 0; b < leasts.rows; ++b) {
    const short* least = leasts.ptr<short>(b);
    for (int t = NextDark(least, 0, leasts.cols, -delta); t < leasts.cols;
         t = NextDark(least, t + 1, leasts.cols, -delta)) {
      int t1 = t + 1;
      while (t1 < leasts.cols && least[t1] <= -delta) ++t1;
      spans.emplace_back(kTileColumns * t, std::min(cols, kTileColumns * t1));
      thresholded.emplace_back(b, spans.back());
      t = t1;
    }
    spanStarts[static_cast<std::size_t>(b) + 1] = static_cast<int>(spans.size());
    if (spans.size() > static_cast<std::size_t>(spanStarts[static_cast<std::size_t>(b)])) {
      firstDark = std::min(firstDark, b);
      lastDark = b;
    }
  }
  // Rows white throughout above the first dark band and below the last add no region and no border: the
  // first row stands for those above (their region starts there), the row after the last dark band for
  // those below.
  const int skipFrom = 1;
  const int skipTo = lastDark < 0 ? rows : std::max(1, firstDark * tileRows - 1);
  const int endRow = lastDark < 0 ? std::min(rows, 1) : std::min(rows, (lastDark + 1) * tileRows + 1);
  std::size_t previous = 0;
  for (int y = 0; y < endRow; y = y + 1 == skipFrom ? std::max(skipFrom, skipTo) : y + 1) {
    const auto band = static_cast<std::size_t>(y / tileRows);
    const std::size_t current = runs.size();
    CutRow(y, grey, mean, delta, spans.data() + spanStarts[band], spans.data() + spanStarts[band + 1]);
    up.resize(runs.size());
    for (std::size_t j = current; j < runs.size(); ++j) {
      up[j] = static_cast<int>(j);
      // Black touching the image's edge is one region with the black beyond it.
      const Run& run = runs[j];
      if (!run.white && (y == 0 || y == rows - 1 || run.start == 0 || run.end == cols)) Unite(0, static_cast<int>(j));
    }
    if (y > 0) JoinRows(previous, current, runs.size());
    previous = current;
  }

  // Each region but the outer black has a border; the region holding it is the one left of its first
  // pixel (the image's edge: the outer black), whose border is its parent.
  std::vector<int> borderOf(runs.size(), -1);
  for (std::size_t i = 1; i < runs.size(); ++i) {
    if (Find(static_cast<int>(i)) != static_cast<int>(i)) continue;
    const Run& first = runs[i];
    const bool leftInRow = runs[i - 1].row == first.row;
    const int holder = leftInRow ? Find(static_cast<int>(i) - 1) : 0;
    Border border;
    border.hole = !first.white;
    border.origin = cv::Point(first.white ? first.start : first.start - 1, first.row);
    border.parent = borderOf[static_cast<std::size_t>(holder)];
    borderOf[i] = static_cast<int>(borders.size());
    borders.push_back(border);
  }
}

BorderScan::Walk BorderScan::WalkOf(int index) const {
  const Border& border = borders[static_cast<std::size_t>(index)];
  const auto step = static_cast<std::ptrdiff_t>(framed.step1());
  std::ptrdiff_t deltas[16];
  for (int s = 0; s < 8; ++s) deltas[s] = deltas[s + 8] = kStepX[s] + kStepY[s] * step;
  int x = border.origin.x;
  int y = border.origin.y;
  const unsigned char* const i0 = framed.ptr<unsigned char>(y + 1) + x + 1;
  Walk walk;

  // The walk's second pixel: the first white neighbour clockwise from the black one beside the origin
  // (left of an outer border's first pixel, right of a hole border's).
  const int sStart = border.hole ? 0 : 4;
  int s = sStart;
  const unsigned char* i1 = nullptr;
  do {
    s = (s - 1) & 7;
    i1 = i0 + deltas[s];
  } while (*i1 == 0 && s != sStart);
  if (s == sStart) return walk;  // a pixel on its own
  const unsigned char* i3 = i0;
  for (;;) {
    // The next pixel: the first white neighbour counter-clockwise from the one the walk came from.
    const unsigned char* i4 = nullptr;
    do {
      i4 = i3 + deltas[++s];
    } while (*i4 == 0);
    s &= 7;
    const int dx = kStepX[s];
    const int dy = kStepY[s];
    walk.twiceArea += static_cast<long long>(x) * dy - static_cast<long long>(dx) * y;
    if (dx != 0 && dy != 0) {
      ++walk.diagonal;
    } else {
      ++walk.straight;
    }
    x += dx;
    y += dy;
    if (i4 == i0 && i3 == i1) break;
    i3 = i4;
    s = (s + 4) & 7;
  }
  return walk;
}

bool BorderScan::Circular(const Walk& walk, double minimum, double maximum) {
  // cv::moments of a closed walk of integer points: half its shoelace sum, made in doubles from integers
  // (exact). cv::arcLength: each step's float length, 1 or √2 in float, summed in double — exact for any
  // walk this short, whatever the order.
  const double area = static_cast<double>(std::llabs(walk.twiceArea)) * 0.5;
  if (area <= std::max(area * 1e-10, 1e-8)) return false;
  const double length =
      static_cast<double>(walk.straight) + static_cast<double>(walk.diagonal) * static_cast<double>(std::sqrt(2.0f));
  const double circularity = 4.0 * CV_PI * area / (length * length);
  return minimum <= circularity && circularity <= maximum;
}

}  // namespace Detect
}  // namespace TamoHandEye
