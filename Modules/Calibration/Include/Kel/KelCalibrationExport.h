// SPDX-License-Identifier: Apache-2.0
#pragma once

// Marks the exported interface of kel_calibration; everything else is hidden.
#if defined(_WIN32)
#  if defined(KEL_CALIBRATION_BUILDING)
#    define KEL_CALIBRATION_EXPORT __declspec(dllexport)
#  else
#    define KEL_CALIBRATION_EXPORT __declspec(dllimport)
#  endif
#else
#  define KEL_CALIBRATION_EXPORT __attribute__((visibility("default")))
#endif
