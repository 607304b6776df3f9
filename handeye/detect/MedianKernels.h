// SPDX-License-Identifier: Apache-2.0
#pragma once

// The 5 × 5 median's row kernels for each instruction set (see MedianNetwork.h and MedianFilter.h).

#include <cstddef>
#include <cstdint>

namespace TamoHandEye {
namespace Detect {

/// The widest vector of any kernel: rows are readable this many bytes past their end.
inline constexpr std::size_t kMaxMedianLanes = 32;

void SortColumnsScalar(const std::uint8_t* const rows[5], std::uint8_t* const sorted[5], std::size_t n);
void MedianRowScalar(const std::uint8_t* const sorted[5], std::uint8_t* out, std::size_t width);
/// Sixteen pixels at a time; present where SSE2 is (x86-64).
bool HaveSse2Kernel();
void SortColumnsSse2(const std::uint8_t* const rows[5], std::uint8_t* const sorted[5], std::size_t n);
void MedianRowSse2(const std::uint8_t* const sorted[5], std::uint8_t* out, std::size_t width);
/// Thirty-two pixels at a time; built on x86-64, to be called only where the processor has AVX2.
bool HaveAvx2Kernel();
void SortColumnsAvx2(const std::uint8_t* const rows[5], std::uint8_t* const sorted[5], std::size_t n);
void MedianRowAvx2(const std::uint8_t* const sorted[5], std::uint8_t* out, std::size_t width);

}  // namespace Detect
}  // namespace TamoHandEye
