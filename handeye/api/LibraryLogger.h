// SPDX-License-Identifier: Apache-2.0
#pragma once

// Every source unit of the library includes this header and so takes, when the library is loaded, its
// own handle to the process-wide console logger "Kel".

#include <Kel/Logger.h>

#include <memory>

namespace TamoHandEye {
namespace {
const std::shared_ptr<Kel::Logger> kLogger = Kel::Logger::GetConsoleLogger("Kel");
}  // namespace
}  // namespace TamoHandEye
