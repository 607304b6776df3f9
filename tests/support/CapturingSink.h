// SPDX-License-Identifier: Apache-2.0
#pragma once

// A spdlog sink that keeps every message it receives, to be attached to a back-end logger in tests.

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace TarnTest {

class CapturingSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  struct Entry {
    spdlog::level::level_enum level;
    std::string text;
  };

  std::vector<Entry> Entries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries;
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    entries.push_back({msg.level, std::string(msg.payload.begin(), msg.payload.end())});
  }
  void flush_() override {}

 private:
  std::vector<Entry> entries;
};

/// Attaches a capturing sink to the back end registered as `name` for the lifetime of this object.
class ScopedCapture {
 public:
  explicit ScopedCapture(const std::string& name)
      : backend(spdlog::get(name)), sink(std::make_shared<CapturingSink>()) {
    if (backend) backend->sinks().push_back(sink);
  }
  ~ScopedCapture() {
    if (!backend) return;
    auto& sinks = backend->sinks();
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());
  }
  ScopedCapture(const ScopedCapture&) = delete;
  ScopedCapture& operator=(const ScopedCapture&) = delete;

  bool Attached() const { return backend != nullptr; }
  std::vector<CapturingSink::Entry> Entries() { return sink->Entries(); }

 private:
  std::shared_ptr<spdlog::logger> backend;
  std::shared_ptr<CapturingSink> sink;
};

}  // namespace TarnTest
