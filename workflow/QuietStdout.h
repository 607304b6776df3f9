#pragma once

// While one lives, the process's standard output goes to /dev/null: detection and solving print their own
// progress lines there, which must stay out of a program's report. The original output stays reachable
// through Original().

namespace TarnWorkflow {

class QuietStdout {
 public:
  QuietStdout();
  ~QuietStdout();
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

  /// A descriptor of the original standard output (-1 when it could not be kept).
  int Original() const { return saved; }

 private:
  int saved = -1;
};

}  // namespace TarnWorkflow
