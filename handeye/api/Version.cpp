#include <tarn/Version.h>

#include "LibraryLogger.h"

namespace TamoHandEye {

const char* GetVersion() {
  static constexpr const char kVersion[] = "2.1.1-733fd48";
  return kVersion;
}

}  // namespace TamoHandEye
