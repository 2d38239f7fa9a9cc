#include "platform/DeviceManager.h"

namespace Keldra::Platform {

// Out of line so the vtable lives in one translation unit.
DeviceManager::~DeviceManager() = default;

} // namespace Keldra::Platform
