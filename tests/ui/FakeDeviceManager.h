#pragma once

#include "platform/DeviceManager.h"

#include <QList>

// Detector whose drives the test sets; the window owns it, the test keeps a
// raw pointer to change the drives between refreshes.
class FakeDeviceManager : public Keldra::Platform::DeviceManager
{
public:
    QList<Keldra::Platform::UsbDevice> devices;

    QList<Keldra::Platform::UsbDevice> detectUsbDevices() const override { return devices; }

    static Keldra::Platform::UsbDevice mounted(const QString& name, const QString& root)
    {
        Keldra::Platform::UsbDevice device;
        device.id = QStringLiteral("/dev/sdx1:%1").arg(root);
        device.devicePath = QStringLiteral("/dev/sdx1");
        device.displayName = name;
        device.rootPath = root;
        device.removable = true;
        device.mounted = true;
        return device;
    }

    static Keldra::Platform::UsbDevice unmounted(const QString& name, const QString& devicePath)
    {
        Keldra::Platform::UsbDevice device;
        device.id = devicePath;
        device.devicePath = devicePath;
        device.displayName = name;
        device.removable = true;
        return device;
    }
};
