// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace Kel {

class Logger;

/// The process-wide map from logger name to Logger. Entries are never removed.
class LoggerRegistry {
 public:
  static LoggerRegistry& Instance();

  /// The logger of that name, or an empty pointer.
  std::shared_ptr<Logger> Find(const std::string& name);
  /// Inserts `logger` under `name` unless the name is taken; true when it was inserted.
  bool InsertIfAbsent(const std::string& name, const std::shared_ptr<Logger>& logger);
  /// Held while a logger is created, from the second lookup to the insertion.
  std::mutex& CreationMutex() { return creation; }

 private:
  LoggerRegistry() = default;

  std::mutex mutex;
  std::mutex creation;
  std::unordered_map<std::string, std::shared_ptr<Logger>> loggers;
};

}  // namespace Kel
