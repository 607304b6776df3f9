// SPDX-License-Identifier: Apache-2.0
#include <Kel/Logger.h>

#include "DefaultLogger.h"
#include "LoggerRegistry.h"
#include "LoggerState.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <iostream>
#include <mutex>

namespace Kel {
namespace {

spdlog::level::level_enum ToBackendLevel(int level) {
  if (level < spdlog::level::trace) return spdlog::level::trace;
  if (level > spdlog::level::off) return spdlog::level::off;
  return static_cast<spdlog::level::level_enum>(level);
}

// The back end for a new logger; spdlog's factories register the loggers they make in spdlog's own
// registry and throw spdlog::spdlog_ex when a back-end logger of that name exists already or the file
// cannot be opened.
std::shared_ptr<spdlog::logger> MakeBackend(const std::string& name, int type, const std::string& fileName) {
  switch (type) {
    case Logger::kConsole: return spdlog::stdout_color_mt(name);
    case Logger::kFile: return spdlog::basic_logger_mt(name, fileName, /*truncate=*/false);
    default: {
      const auto console = spdlog::stdout_color_mt(name + "_console_log");
      const auto file = spdlog::basic_logger_mt(name + "_file_log", fileName, /*truncate=*/false);
      auto both = std::make_shared<spdlog::logger>(
          name, spdlog::sinks_init_list{console->sinks().front(), file->sinks().front()});
      both->set_level(spdlog::level::info);
      return both;
    }
  }
}

}  // namespace

Logger::Logger(std::string name, int type, std::shared_ptr<spdlog::logger> backendLogger)
    : backend(std::move(backendLogger)), state(std::make_shared<LoggerState>()) {
  state->name = std::move(name);
  state->type = type;
  state->level = 2;
}

Logger::~Logger() = default;

std::shared_ptr<Logger> Logger::Get(const std::string& name) { return LoggerRegistry::Instance().Find(name); }

std::shared_ptr<Logger> Logger::GetConsoleLogger(const std::string& name) { return GetOrCreate(name, kConsole, {}); }

std::shared_ptr<Logger> Logger::GetFileLogger(const std::string& name, const std::string& fileName) {
  return GetOrCreate(name, kFile, fileName);
}

std::shared_ptr<Logger> Logger::GetConsoleFileLogger(const std::string& name, const std::string& fileName) {
  return GetOrCreate(name, kConsoleFile, fileName);
}

std::shared_ptr<Logger> Logger::GetOrCreate(const std::string& name, int type, const std::string& fileName) {
  auto& registry = LoggerRegistry::Instance();
  // A registered logger is handed out when it has the asked type.
  const auto existing = [type](const std::shared_ptr<Logger>& found) -> std::shared_ptr<Logger> {
    if (found->GetType() == type) return found;
    if (type == kConsoleFile)
      std::cerr << "The type of existence logger is inconsistent with expected one." << std::endl;
    return nullptr;
  };
  if (auto found = registry.Find(name)) return existing(found);

  // Creations are serialised: two threads asking for the same new name at once would otherwise both
  // create a back end, and the back end's registry refuses the second with an exception. Lookups of
  // existing names above do not wait for this.
  std::lock_guard<std::mutex> creating(registry.CreationMutex());
  if (auto found = registry.Find(name)) return existing(found);

  std::shared_ptr<Logger> created(new Logger(name, type, MakeBackend(name, type, fileName)));
  if (registry.InsertIfAbsent(name, created)) return created;

  // Every creation holds the creation lock, so the name is still free here; should it not be, the
  // registered logger wins and ours is dropped.
  auto registered = registry.Find(name);
  if (registered->GetType() != type) {
    if (type == kConsoleFile) {
      std::cerr << "The logger type conflict: one was created with type " << registered->GetType()
                << ", and another is created with type " << type << "." << std::endl;
    }
    return nullptr;
  }
  return registered;
}

void Logger::SetAllLevel(int level) { spdlog::set_level(ToBackendLevel(level)); }

int Logger::GetLevel() const { return state->level; }

const std::string Logger::GetName() const { return backend ? state->name : std::string(); }

int Logger::GetType() const { return state->type; }

void Logger::SetLevel(int level) {
  if (!backend) return;
  state->level = level;
  backend->set_level(ToBackendLevel(level));
}

bool Logger::ShouldLog(int level) const { return backend && level >= static_cast<int>(backend->level()); }

void Logger::WriteText(int level, std::string_view text) {
  if (backend) backend->log(ToBackendLevel(level), text);
}

const std::shared_ptr<Logger>& DefaultLogger() {
  static const std::shared_ptr<Logger> logger = Logger::GetConsoleLogger("Kel");
  return logger;
}

namespace {
// The default logger exists as soon as the library is loaded.
const bool kDefaultLoggerCreated = static_cast<bool>(DefaultLogger());
}  // namespace

}  // namespace Kel
