// SPDX-License-Identifier: Apache-2.0
#pragma once

// Marks the exported interface of libtarn; everything else is hidden.
#if defined(_WIN32)
#  if defined(TARN_BUILDING)
#    define TARN_EXPORT __declspec(dllexport)
#  else
#    define TARN_EXPORT __declspec(dllimport)
#  endif
#else
#  define TARN_EXPORT __attribute__((visibility("default")))
#endif
