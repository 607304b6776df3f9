// SPDX-License-Identifier: Apache-2.0
#include "LibraryOutput.h"

#include <Kel/Logger.h>
#include <tarn/Output.h>

namespace TarnWorkflow {

void SilenceLibraryOutput() {
  TamoHandEye::SetStandardOutputTexts(false);
  constexpr int kOff = 6;
  if (const auto logger = Kel::Logger::GetConsoleLogger("Kel")) logger->SetLevel(kOff);
}

}  // namespace TarnWorkflow
