// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <tarn/TarnExport.h>

namespace TamoHandEye {

/// The library's version text, "2.1.1-733fd48": the same static pointer on every call.
TARN_EXPORT const char* GetVersion();

}  // namespace TamoHandEye
