#include "QuietStdout.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace TarnWorkflow {

QuietStdout::QuietStdout() {
  std::fflush(stdout);
  saved = ::dup(STDOUT_FILENO);
  const int null = ::open("/dev/null", O_WRONLY);
  if (null >= 0) {
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
}

QuietStdout::~QuietStdout() {
  std::fflush(stdout);
  if (saved >= 0) {
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
  }
}

}  // namespace TarnWorkflow
