#pragma once

#include "platform/DeviceManager.h"
#include "platform/linux/LinuxSystemView.h"

namespace Keldra::Platform::Linux {

// Finds USB volumes through the kernel's and the desktop's views of block devices:
// mounted volumes first, then mounts only /proc/self/mountinfo lists, then unmounted
// USB block devices from sysfs. Reads only; needs no privileges.
class LinuxDeviceManager : public DeviceManager
{
public:
    LinuxDeviceManager();
    explicit LinuxDeviceManager(LinuxSystemView system);
    ~LinuxDeviceManager() override;

    QList<UsbDevice> detectUsbDevices() const override;

private:
    LinuxSystemView m_system;
};

} // namespace Keldra::Platform::Linux
