// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the processor running the library has, for the kernels built for more than the baseline.

namespace TamoHandEye {
namespace Detect {

/// Whether the processor has AVX2 (asked once).
inline bool ProcessorHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
#else
  return false;
#endif
}

}  // namespace Detect
}  // namespace TamoHandEye
