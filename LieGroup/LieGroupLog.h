// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <Kel/Logger.h>

#include <memory>
#include <stdexcept>

namespace Kel {
namespace internal {

/// The process-wide console logger "Kel", taken on first use by the group code of this binary.
inline const std::shared_ptr<Logger>& LieGroupLogger() {
  static const std::shared_ptr<Logger> logger = Logger::GetConsoleLogger("Kel");
  return logger;
}

inline void LieGroupLog(int level, const char* file, int line, const char* function, const char* message) {
  const auto& logger = LieGroupLogger();
  if (logger) logger->Write(level, "{0}:{1} : {2} : {3}", file, line, function, message);
}

[[noreturn]] inline void LieGroupFail(const char* file, int line, const char* function, const char* message) {
  LieGroupLog(4, file, line, function, message);
  throw std::runtime_error(message);
}

}  // namespace internal
}  // namespace Kel

/// Logs `message` at warning level with the file, line and signature of the check.
#define KEL_LIEGROUP_WARN(message) ::Kel::internal::LieGroupLog(3, __FILE__, __LINE__, __PRETTY_FUNCTION__, message)
/// Logs `message` at error level with the file, line and signature of the check, then throws it as
/// std::runtime_error.
#define KEL_LIEGROUP_FAIL(message) ::Kel::internal::LieGroupFail(__FILE__, __LINE__, __PRETTY_FUNCTION__, message)
