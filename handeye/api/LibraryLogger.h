#pragma once

// Every source unit of the library includes this header and so takes, when the library is loaded, its
// own handle to the process-wide console logger "Kel".

#include <Kel/Logger.h>

#include <memory>

namespace TamoHandEye {
namespace {
const std::shared_ptr<Kel::Logger> kLogger = Kel::Logger::GetConsoleLogger("Kel");
}  // namespace
}  // namespace TamoHandEye

/// Writes "file:line : signature : message" to "Kel" at `level` (3 warning, 4 error) when it lets it through.
#define TARN_LOG(level, message)                                                                                     \
  do {                                                                                                               \
    if (::TamoHandEye::kLogger) {                                                                                    \
      ::TamoHandEye::kLogger->Write(level, "{0}:{1} : {2} : {3}", __FILE__, __LINE__, __PRETTY_FUNCTION__, message); \
    }                                                                                                                \
  } while (false)
