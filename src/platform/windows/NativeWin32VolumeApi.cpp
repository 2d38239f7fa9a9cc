// Binding of Win32VolumeApi to the real Win32 API. Win32 and standard C++ only, so it can be
// compiled with any Windows toolchain without Qt.

#include "platform/windows/Win32VolumeApi.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>

#include <cstddef>

namespace Keldra::Platform::Windows {

namespace {

static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12, "query layout");
static_assert(sizeof(STORAGE_DEVICE_DESCRIPTOR) == 40, "descriptor layout");
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28, "descriptor layout");

constexpr DWORD TextBufferUnits = MAX_PATH + 1;

class NativeWin32VolumeApi final : public Win32VolumeApi
{
public:
    std::uint32_t logicalDrives() const override { return static_cast<std::uint32_t>(GetLogicalDrives()); }

    unsigned driveType(const std::wstring& rootPath) const override
    {
        return static_cast<unsigned>(GetDriveTypeW(rootPath.c_str()));
    }

    VolumeHandle openVolume(const std::wstring& volumePath) const override
    {
        // No access rights are needed to ask the storage stack about the device.
        HANDLE handle =
            CreateFileW(volumePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    }

    bool queryBusType(VolumeHandle volume, std::uint32_t* busType) const override
    {
        if (!volume || !busType)
            return false;
        STORAGE_PROPERTY_QUERY query{};
        query.PropertyId = StorageDeviceProperty;
        query.QueryType = PropertyStandardQuery;
        // Only the fixed part of the descriptor is needed; the driver fills what fits.
        STORAGE_DEVICE_DESCRIPTOR descriptor{};
        DWORD returned = 0;
        const BOOL ok = DeviceIoControl(static_cast<HANDLE>(volume), IOCTL_STORAGE_QUERY_PROPERTY, &query,
                                        sizeof(query), &descriptor, sizeof(descriptor), &returned, nullptr);
        // A short answer that stops before BusType would leave it zero-filled, not known.
        if (!ok || returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(descriptor.BusType))
            return false;
        *busType = static_cast<std::uint32_t>(descriptor.BusType);
        return true;
    }

    void closeVolume(VolumeHandle volume) const override
    {
        if (volume)
            CloseHandle(static_cast<HANDLE>(volume));
    }

    bool volumeInformation(const std::wstring& rootPath, Win32VolumeInformation* info) const override
    {
        if (!info)
            return false;
        wchar_t label[TextBufferUnits] = {};
        wchar_t fileSystem[TextBufferUnits] = {};
        DWORD serial = 0;
        if (!GetVolumeInformationW(rootPath.c_str(), label, MAX_PATH, &serial, nullptr, nullptr, fileSystem,
                                   MAX_PATH))
            return false;
        info->label = label;
        info->serialNumber = static_cast<std::uint32_t>(serial);
        info->fileSystemName = fileSystem;
        return true;
    }
};

} // namespace

std::unique_ptr<Win32VolumeApi> createNativeWin32VolumeApi()
{
    return std::make_unique<NativeWin32VolumeApi>();
}

} // namespace Keldra::Platform::Windows
