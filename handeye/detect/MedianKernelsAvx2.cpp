// SPDX-License-Identifier: Apache-2.0
// The AVX2 kernel of the 5 × 5 median. This file alone is built for AVX2 (x86-64) and is called only
// where the processor has it; it includes nothing whose inline functions other files share.

#include "detect/MedianKernels.h"

#include "detect/MedianNetwork.h"

#if defined(__AVX2__)
#  include <immintrin.h>
#endif

namespace TamoHandEye {
namespace Detect {

#if defined(__AVX2__)
namespace {

struct Avx2Ops {
  using V = __m256i;
  static constexpr std::size_t kLanes = 32;
  static V Load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void Store(std::uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static void Exchange(V& a, V& b) {
    const V low = _mm256_min_epu8(a, b);
    b = _mm256_max_epu8(a, b);
    a = low;
  }
};

}  // namespace

bool HaveAvx2Kernel() { return true; }
void SortColumnsAvx2(const std::uint8_t* const rows[5], std::uint8_t* const sorted[5], std::size_t n) {
  SortColumns<Avx2Ops>(rows, sorted, n);
}
void MedianRowAvx2(const std::uint8_t* const sorted[5], std::uint8_t* out, std::size_t width) {
  MedianRow<Avx2Ops>(sorted, out, width);
}
#else
bool HaveAvx2Kernel() { return false; }
void SortColumnsAvx2(const std::uint8_t* const rows[5], std::uint8_t* const sorted[5], std::size_t n) {
  SortColumnsSse2(rows, sorted, n);
}
void MedianRowAvx2(const std::uint8_t* const sorted[5], std::uint8_t* out, std::size_t width) {
  MedianRowSse2(sorted, out, width);
}
#endif

}  // namespace Detect
}  // namespace TamoHandEye
