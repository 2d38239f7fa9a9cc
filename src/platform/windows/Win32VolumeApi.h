#pragma once

// The few Win32 volume calls the Windows detector makes, behind an interface so the
// detector's logic builds and is tested anywhere. Standard C++ only: no Qt, no <windows.h>.

#include <cstdint>
#include <memory>
#include <string>

namespace Keldra::Platform::Windows {

struct Win32VolumeInformation
{
    std::wstring label;
    std::uint32_t serialNumber = 0;
    std::wstring fileSystemName;
};

class Win32VolumeApi
{
public:
    using VolumeHandle = void*; // nullptr when the volume could not be opened

    static constexpr unsigned DriveRemovable = 2; // DRIVE_REMOVABLE
    static constexpr unsigned DriveFixed = 3;     // DRIVE_FIXED
    static constexpr std::uint32_t BusTypeUsb = 7;

    virtual ~Win32VolumeApi() = default;

    // GetLogicalDrives: bit 0 is A.
    virtual std::uint32_t logicalDrives() const = 0;
    // GetDriveTypeW of a root path such as L"E:\\".
    virtual unsigned driveType(const std::wstring& rootPath) const = 0;
    // CreateFileW on L"\\\\.\\E:" with no access rights, only to query the device.
    virtual VolumeHandle openVolume(const std::wstring& volumePath) const = 0;
    // IOCTL_STORAGE_QUERY_PROPERTY (StorageDeviceProperty): BusType of the descriptor.
    virtual bool queryBusType(VolumeHandle volume, std::uint32_t* busType) const = 0;
    // CloseHandle.
    virtual void closeVolume(VolumeHandle volume) const = 0;
    // GetVolumeInformationW of a root path.
    virtual bool volumeInformation(const std::wstring& rootPath, Win32VolumeInformation* info) const = 0;
};

#ifdef _WIN32
// The binding to the real Win32 API (Windows builds only).
std::unique_ptr<Win32VolumeApi> createNativeWin32VolumeApi();
#endif

} // namespace Keldra::Platform::Windows
