// SPDX-License-Identifier: Apache-2.0
#pragma once

// Marks the exported interface of kel_common; everything else is hidden.
#if defined(_WIN32)
#  if defined(KEL_COMMON_BUILDING)
#    define KEL_COMMON_EXPORT __declspec(dllexport)
#  else
#    define KEL_COMMON_EXPORT __declspec(dllimport)
#  endif
#else
#  define KEL_COMMON_EXPORT __attribute__((visibility("default")))
#endif
