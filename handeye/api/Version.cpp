// SPDX-License-Identifier: Apache-2.0
#include <tarn/Version.h>

#include "LibraryLogger.h"
#include "VersionText.h"

namespace TamoHandEye {

const char* GetVersion() {
  static constexpr const char kVersion[] = TARN_VERSION_TEXT;
  return kVersion;
}

}  // namespace TamoHandEye
