// SPDX-License-Identifier: Apache-2.0
#include <tarn/Output.h>

#include <atomic>

namespace TamoHandEye {
namespace {
std::atomic<bool> printing{true};
}  // namespace

void SetStandardOutputTexts(bool on) { printing.store(on, std::memory_order_relaxed); }

bool StandardOutputTexts() { return printing.load(std::memory_order_relaxed); }

}  // namespace TamoHandEye
