#pragma once

#include "platform/DeviceManager.h"
#include "platform/windows/Win32VolumeApi.h"

#include <memory>

namespace Keldra::Platform::Windows {

// Lists USB volumes that have drive letters, A to Z, through the Win32 volume functions.
class WindowsDeviceManager : public DeviceManager
{
public:
#ifdef _WIN32
    WindowsDeviceManager(); // the real Win32 API
#endif
    explicit WindowsDeviceManager(std::shared_ptr<const Win32VolumeApi> api);
    ~WindowsDeviceManager() override;

    QList<UsbDevice> detectUsbDevices() const override;

private:
    std::shared_ptr<const Win32VolumeApi> m_api;
};

} // namespace Keldra::Platform::Windows
