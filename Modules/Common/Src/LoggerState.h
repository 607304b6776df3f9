#pragma once

#include <string>

namespace Kel {

/// Name, type and recorded level of one Logger; created together with it.
struct LoggerState {
  std::string name;
  int type = 0;
  int level = 2;
};

}  // namespace Kel
