// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <Kel/Logger.h>

#include <memory>

namespace Kel {

/// The console logger "Kel" that kel_common creates when it is loaded.
const std::shared_ptr<Logger>& DefaultLogger();

}  // namespace Kel
