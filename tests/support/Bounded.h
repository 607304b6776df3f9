// SPDX-License-Identifier: Apache-2.0
#pragma once

// Running code that might hang or blow up without taking the test program down with it, and measuring
// what a call costs in memory.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace TarnTest {

/// Runs `body` in a forked child that is killed after `seconds`. Returns the child's exit status
/// (body's result, 0–255), or -1 when the child was killed (a hang) or crashed.
inline int RunInChild(unsigned seconds, const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(seconds);
    ::_exit(body() & 0xff);
  }
  if (child < 0) return -1;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// The process's peak resident memory (kB) since the last ResetPeakMemory, or -1 when the system does
/// not say.
inline long PeakMemoryKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) {
      std::istringstream words(line.substr(6));
      long kb = -1;
      words >> kb;
      return kb;
    }
  }
  return -1;
}

/// Starts a new peak: afterwards PeakMemoryKb reports the peak from now on. False when unsupported.
inline bool ResetPeakMemory() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.close();
  return static_cast<bool>(clear);
}

}  // namespace TarnTest
