// SPDX-License-Identifier: Apache-2.0
// The block mean's AVX2 row kernels. This file alone is built for AVX2 (x86-64) and is called only where
// the processor has it; it includes nothing whose inline functions other files share.

#include "detect/BoxMeanRows.h"

#if defined(__AVX2__)
#  include <immintrin.h>
#endif

namespace TamoHandEye {
namespace Detect {

#if defined(__AVX2__)
namespace {

void Update(const std::uint8_t* add, const std::uint8_t* sub, int width, int* sums) {
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m256i a = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(add + x)));
    const __m256i s = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(sub + x)));
    __m256i* p = reinterpret_cast<__m256i*>(sums + x);
    _mm256_storeu_si256(p, _mm256_add_epi32(_mm256_loadu_si256(p), _mm256_sub_epi32(a, s)));
  }
  for (; x < width; ++x) sums[x] += static_cast<int>(add[x]) - static_cast<int>(sub[x]);
}

void Prefix(const int* values, int count, int* prefix) {
  prefix[0] = 0;
  int j = 0;
  __m256i carry = _mm256_setzero_si256();
  const __m256i third = _mm256_set1_epi32(3);
  const __m256i seventh = _mm256_set1_epi32(7);
  for (; j + 8 <= count; j += 8) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + j));
    v = _mm256_add_epi32(v, _mm256_slli_si256(v, 4));  // within each half
    v = _mm256_add_epi32(v, _mm256_slli_si256(v, 8));
    v = _mm256_add_epi32(v, _mm256_blend_epi32(_mm256_setzero_si256(), _mm256_permutevar8x32_epi32(v, third), 0xF0));
    // The carry's chain is one addition a step: the block's own total is broadcast beside it.
    const __m256i total = _mm256_permutevar8x32_epi32(v, seventh);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(prefix + j + 1), _mm256_add_epi32(v, carry));
    carry = _mm256_add_epi32(carry, total);
  }
  for (; j < count; ++j) prefix[j + 1] = prefix[j] + values[j];
}

inline __m256i RoundEight(const int* prefix, int block, __m256 singles, __m256 magnitude, __m256 hair, __m256& near) {
  const __m256i sum = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(prefix + block)),
                                       _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prefix)));
  const __m256 mean = _mm256_mul_ps(_mm256_cvtepi32_ps(sum), singles);
  const __m256i rounded = _mm256_cvtps_epi32(mean);
  const __m256 residual = _mm256_and_ps(_mm256_sub_ps(mean, _mm256_cvtepi32_ps(rounded)), magnitude);
  near = _mm256_or_ps(near, _mm256_cmp_ps(residual, hair, _CMP_GT_OQ));
  return rounded;
}

int Round(const int* prefix, int block, int width, std::uint8_t* out, std::uint8_t* near) {
  const auto singles = _mm256_set1_ps(static_cast<float>(1.0 / (static_cast<double>(block) * block)));
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  const __m256 hair = _mm256_set1_ps(0.4999F);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    __m256 close = _mm256_setzero_ps();
    const __m256i r0 = RoundEight(prefix + x, block, singles, magnitude, hair, close);
    const __m256i r1 = RoundEight(prefix + x + 8, block, singles, magnitude, hair, close);
    const __m256i r2 = RoundEight(prefix + x + 16, block, singles, magnitude, hair, close);
    const __m256i r3 = RoundEight(prefix + x + 24, block, singles, magnitude, hair, close);
    // Packing works within each half: the eight groups of four come out as 0 2 4 6 1 3 5 7.
    const __m256i packed = _mm256_packus_epi16(_mm256_packs_epi32(r0, r1), _mm256_packs_epi32(r2, r3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_permutevar8x32_epi32(packed, order));
    near[x / 32] = _mm256_movemask_ps(close) != 0 ? 1 : 0;
  }
  return x;
}

const BoxMeanRows kRows{Update, Prefix, Round, 32};

}  // namespace

const BoxMeanRows* Avx2BoxMeanRows() { return &kRows; }
#else
const BoxMeanRows* Avx2BoxMeanRows() { return nullptr; }
#endif

}  // namespace Detect
}  // namespace TamoHandEye
