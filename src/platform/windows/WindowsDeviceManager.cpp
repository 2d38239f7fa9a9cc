#include "platform/windows/WindowsDeviceManager.h"

#include <QString>

#include <utility>

namespace Keldra::Platform::Windows {

#ifdef _WIN32
WindowsDeviceManager::WindowsDeviceManager() : WindowsDeviceManager(createNativeWin32VolumeApi()) {}
#endif

WindowsDeviceManager::WindowsDeviceManager(std::shared_ptr<const Win32VolumeApi> api) : m_api(std::move(api))
{
}

WindowsDeviceManager::~WindowsDeviceManager() = default;

QList<UsbDevice> WindowsDeviceManager::detectUsbDevices() const
{
    QList<UsbDevice> devices;
    if (!m_api)
        return devices;

    const std::uint32_t drives = m_api->logicalDrives();
    for (int index = 0; index < 26; ++index) {
        if ((drives & (std::uint32_t{1} << index)) == 0)
            continue;
        const QChar letter(u'A' + index);
        const QString rootPath = QStringLiteral("%1:\\").arg(letter);
        const unsigned driveType = m_api->driveType(rootPath.toStdWString());
        // USB hard disks report as fixed; network, optical and RAM drives never qualify.
        if (driveType != Win32VolumeApi::DriveRemovable && driveType != Win32VolumeApi::DriveFixed)
            continue;

        const Win32VolumeApi::VolumeHandle volume =
            m_api->openVolume(QStringLiteral("\\\\.\\%1:").arg(letter).toStdWString());
        if (!volume)
            continue; // e.g. a card reader without a card
        std::uint32_t busType = 0;
        const bool queried = m_api->queryBusType(volume, &busType);
        m_api->closeVolume(volume);
        if (!queried || busType != Win32VolumeApi::BusTypeUsb)
            continue;

        Win32VolumeInformation info;
        const bool haveInfo = m_api->volumeInformation(rootPath.toStdWString(), &info);

        UsbDevice device;
        device.rootPath = rootPath;
        device.devicePath = rootPath;
        const QString label = haveInfo ? QString::fromStdWString(info.label) : QString();
        device.displayName = label.isEmpty() ? QStringLiteral("USB %1:").arg(letter) : label;
        device.fileSystemType = haveInfo ? QString::fromStdWString(info.fileSystemName) : QString();
        device.id = haveInfo ? QStringLiteral("%1-%2").arg(rootPath, QString::number(info.serialNumber, 16))
                             : rootPath;
        device.removable = driveType == Win32VolumeApi::DriveRemovable;
        device.mounted = true;
        devices.append(device);
    }
    return devices;
}

} // namespace Keldra::Platform::Windows
