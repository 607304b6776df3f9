// SPDX-License-Identifier: Apache-2.0
#include "ProcessMemory.h"

#include <cstdlib>  // defines __GLIBC__ with the GNU C library

#if defined(__GLIBC__)
#  include <malloc.h>
#endif

namespace TarnWorkflow {

void KeepFreedMemory() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}

}  // namespace TarnWorkflow
