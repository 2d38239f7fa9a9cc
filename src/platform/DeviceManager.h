#pragma once

#include "platform/UsbDevice.h"

#include <QList>

namespace Keldra::Platform {

// Finds the USB storage volumes attached right now. Implementations are stateless:
// every call re-reads the system and returns volumes in discovery order.
class DeviceManager
{
public:
    virtual ~DeviceManager();

    // Empty when nothing was found; detection itself never fails.
    virtual QList<UsbDevice> detectUsbDevices() const = 0;

protected:
    DeviceManager() = default;
    DeviceManager(const DeviceManager&) = default;
    DeviceManager& operator=(const DeviceManager&) = default;
};

} // namespace Keldra::Platform
