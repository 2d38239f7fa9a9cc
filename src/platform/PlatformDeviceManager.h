#pragma once

#include "platform/DeviceManager.h"

#include <memory>

namespace Keldra::Platform {

// The detector of the platform this build targets (Linux or Windows), reading the real system.
std::unique_ptr<DeviceManager> createPlatformDeviceManager();

} // namespace Keldra::Platform
