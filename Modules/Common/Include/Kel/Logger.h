// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <Kel/KelCommonExport.h>

#include <fmt/format.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace spdlog {
class logger;
}

namespace Kel {

struct LoggerState;

/// A named, process-wide logger.
///
/// Asking twice for the logger of a name returns the same object; a name keeps the type it was first
/// created with (1 console, 2 file, 8 console and file), and asking for it with another type yields an
/// empty pointer. Loggers are never removed and live until the process ends.
///
/// Levels: 0 trace, 1 debug, 2 info, 3 warning, 4 error, 5 critical, 6 off. A message of level L is
/// written when L >= the logger's level.
///
/// The default logger "Kel" (console) is created when kel_common is loaded.
class KEL_COMMON_EXPORT Logger {
 public:
  enum Type : int { kConsole = 1, kFile = 2, kConsoleFile = 8 };

  /// The registered logger of that name, or an empty pointer.
  static std::shared_ptr<Logger> Get(const std::string& name);
  /// Gets or creates a colour console logger on standard output.
  static std::shared_ptr<Logger> GetConsoleLogger(const std::string& name);
  /// Gets or creates a logger appending to `fileName`.
  static std::shared_ptr<Logger> GetFileLogger(const std::string& name, const std::string& fileName);
  /// Gets or creates a logger writing both to standard output and to `fileName` (appending).
  static std::shared_ptr<Logger> GetConsoleFileLogger(const std::string& name, const std::string& fileName);
  /// Sets the level of every console and file back end, and the level new ones start with. The levels
  /// reported by GetLevel are left as they are.
  static void SetAllLevel(int level);

  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  /// The level recorded by the last SetLevel (2 at creation).
  int GetLevel() const;
  const std::string GetName() const;
  int GetType() const;
  void SetLevel(int level);
  bool ShouldLog(int level) const;

  /// Formats with fmt syntax ("{}" placeholders) and writes at `level` when the level lets it through.
  template <typename... Args>
  void Write(int level, fmt::format_string<Args...> format, Args&&... args) {
    if (ShouldLog(level)) {
      WriteText(level, fmt::format(format, std::forward<Args>(args)...));
    }
  }
  template <typename... Args>
  void Warn(fmt::format_string<Args...> format, Args&&... args) {
    Write(3, format, std::forward<Args>(args)...);
  }
  template <typename... Args>
  void Error(fmt::format_string<Args...> format, Args&&... args) {
    Write(4, format, std::forward<Args>(args)...);
  }

 private:
  Logger(std::string name, int type, std::shared_ptr<spdlog::logger> backend);
  static std::shared_ptr<Logger> GetOrCreate(const std::string& name, int type, const std::string& fileName);
  void WriteText(int level, std::string_view text);

  std::shared_ptr<spdlog::logger> backend;
  std::shared_ptr<LoggerState> state;
};

}  // namespace Kel
