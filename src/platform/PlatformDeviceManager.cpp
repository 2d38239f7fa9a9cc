#include "platform/PlatformDeviceManager.h"

#ifdef _WIN32
#include "platform/windows/WindowsDeviceManager.h"
#else
#include "platform/linux/LinuxDeviceManager.h"
#endif

namespace Keldra::Platform {

std::unique_ptr<DeviceManager> createPlatformDeviceManager()
{
#ifdef _WIN32
    return std::make_unique<Windows::WindowsDeviceManager>();
#else
    return std::make_unique<Linux::LinuxDeviceManager>();
#endif
}

} // namespace Keldra::Platform
