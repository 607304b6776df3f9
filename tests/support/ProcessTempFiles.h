// SPDX-License-Identifier: Apache-2.0
#pragma once

// Files a test process writes to the temporary directory: named after the process (test cases run as
// parallel processes) and removed when it ends, so that test runs do not fill the disk.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace TarnTest {

/// The start of every name ProcessTempPath gives in this process.
inline std::string ProcessTempPrefix() { return ::testing::TempDir() + "tarn-" + std::to_string(::getpid()) + "-"; }

/// Removes the files and folders named with this process's prefix.
inline void RemoveProcessTempFiles() {
  namespace fs = std::filesystem;
  const fs::path prefix(ProcessTempPrefix());
  const std::string stem = prefix.filename().string();
  std::error_code error;
  for (fs::directory_iterator entry(prefix.parent_path(), error), end; !error && entry != end; entry.increment(error)) {
    if (entry->path().filename().string().compare(0, stem.size(), stem) == 0) {
      std::error_code ignored;
      fs::remove_all(entry->path(), ignored);
    }
  }
}

/// A path in the temporary directory for this process's file `name`; every such file is removed when the
/// process exits.
inline std::string ProcessTempPath(const std::string& name) {
  struct RemoveAtExit {
    const pid_t owner = ::getpid();
    ~RemoveAtExit() {
      if (::getpid() == owner) RemoveProcessTempFiles();  // not from a forked child's exit
    }
  };
  static const RemoveAtExit remover;
  return ProcessTempPrefix() + name;
}

}  // namespace TarnTest
