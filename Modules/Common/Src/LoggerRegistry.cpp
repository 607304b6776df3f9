// SPDX-License-Identifier: Apache-2.0
#include "LoggerRegistry.h"

namespace Kel {

LoggerRegistry& LoggerRegistry::Instance() {
  // Never destroyed: loggers must outlive every static object that may log during shutdown.
  static LoggerRegistry* const registry = new LoggerRegistry();
  return *registry;
}

std::shared_ptr<Logger> LoggerRegistry::Find(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex);
  const auto it = loggers.find(name);
  return it == loggers.end() ? nullptr : it->second;
}

bool LoggerRegistry::InsertIfAbsent(const std::string& name, const std::shared_ptr<Logger>& logger) {
  std::lock_guard<std::mutex> lock(mutex);
  return loggers.emplace(name, logger).second;
}

}  // namespace Kel
