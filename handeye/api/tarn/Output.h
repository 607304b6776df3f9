// SPDX-License-Identifier: Apache-2.0
#pragma once

// The library's own lines on standard output: the progress texts its entry points print ("type:0" at each
// solve, "detect params size:200" at each detection, why a detection found no marker, an unknown axes
// key). They are on when the library is loaded, as the entry points document; a program that owns its
// standard output (a JSON report, a script's own prints) turns them off once, for the whole process. No
// call ever redirects the process's descriptors.

#include <tarn/TarnExport.h>

namespace TamoHandEye {

/// Turns the library's standard-output texts on or off for the whole process; safe from any thread.
TARN_EXPORT void SetStandardOutputTexts(bool on);
/// Whether they are on.
TARN_EXPORT bool StandardOutputTexts();

}  // namespace TamoHandEye
