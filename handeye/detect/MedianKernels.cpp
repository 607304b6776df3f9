// SPDX-License-Identifier: Apache-2.0
// The scalar and SSE2 kernels of the 5 × 5 median.

#include "detect/MedianKernels.h"

#include "detect/MedianNetwork.h"

#if defined(__SSE2__)
#  include <emmintrin.h>
#endif

namespace TamoHandEye {
namespace Detect {
namespace {

struct ScalarOps {
  using V = std::uint8_t;
  static constexpr std::size_t kLanes = 1;
  static V Load(const std::uint8_t* p) { return *p; }
  static void Store(std::uint8_t* p, V v) { *p = v; }
  static void Exchange(V& a, V& b) {
    const V low = a < b ? a : b;
    b = a < b ? b : a;
    a = low;
  }
};

#if defined(__SSE2__)
struct Sse2Ops {
  using V = __m128i;
  static constexpr std::size_t kLanes = 16;
  static V Load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void Store(std::uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static void Exchange(V& a, V& b) {
    const V low = _mm_min_epu8(a, b);
    b = _mm_max_epu8(a, b);
    a = low;
  }
};
#endif

}  // namespace

void SortColumnsScalar(const std::uint8_t* const rows[5], std::uint8_t* const sorted[5], std::size_t n) {
  SortColumns<ScalarOps>(rows, sorted, n);
}
void MedianRowScalar(const std::uint8_t* const sorted[5], std::uint8_t* out, std::size_t width) {
  MedianRow<ScalarOps>(sorted, out, width);
}

#if defined(__SSE2__)
bool HaveSse2Kernel() { return true; }
void SortColumnsSse2(const std::uint8_t* const rows[5], std::uint8_t* const sorted[5], std::size_t n) {
  SortColumns<Sse2Ops>(rows, sorted, n);
}
void MedianRowSse2(const std::uint8_t* const sorted[5], std::uint8_t* out, std::size_t width) {
  MedianRow<Sse2Ops>(sorted, out, width);
}
#else
bool HaveSse2Kernel() { return false; }
void SortColumnsSse2(const std::uint8_t* const rows[5], std::uint8_t* const sorted[5], std::size_t n) {
  SortColumnsScalar(rows, sorted, n);
}
void MedianRowSse2(const std::uint8_t* const sorted[5], std::uint8_t* out, std::size_t width) {
  MedianRowScalar(sorted, out, width);
}
#endif

}  // namespace Detect
}  // namespace TamoHandEye
