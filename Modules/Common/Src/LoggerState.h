// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <string>

namespace Kel {

/// Name, type and recorded level of one Logger; created together with it.
struct LoggerState {
  std::string name;
  int type = 0;
  std::atomic<int> level{2};  ///< set and read from any thread
};

}  // namespace Kel
