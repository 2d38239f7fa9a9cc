#include "platform/windows/WindowsDeviceManager.h"

#include <QtTest>

#include <map>
#include <set>

using Keldra::Platform::UsbDevice;
using Keldra::Platform::Windows::Win32VolumeApi;
using Keldra::Platform::Windows::Win32VolumeInformation;
using Keldra::Platform::Windows::WindowsDeviceManager;

namespace {

struct FakeDrive
{
    unsigned driveType = Win32VolumeApi::DriveRemovable;
    bool opens = true;
    bool busQueryWorks = true;
    std::uint32_t busType = Win32VolumeApi::BusTypeUsb;
    bool informationReadable = true;
    Win32VolumeInformation information;
};

// Answers only for the exact path forms Windows expects ("E:\" and "\\.\E:"), so a detector
// passing anything else finds nothing. Tracks open handles to catch leaks.
class FakeWin32 final : public Win32VolumeApi
{
public:
    std::uint32_t logicalDrives() const override
    {
        std::uint32_t mask = extraDriveBits;
        for (const auto& [letter, drive] : drives)
            mask |= std::uint32_t{1} << (letter - L'A');
        return mask;
    }

    unsigned driveType(const std::wstring& rootPath) const override
    {
        const FakeDrive* drive = find(rootPath, L":\\");
        return drive ? drive->driveType : 1; // DRIVE_NO_ROOT_DIR
    }

    VolumeHandle openVolume(const std::wstring& volumePath) const override
    {
        if (volumePath.size() != 6 || volumePath.compare(0, 4, L"\\\\.\\") != 0)
            return nullptr;
        const FakeDrive* drive = find(volumePath.substr(4), L":");
        if (!drive || !drive->opens)
            return nullptr;
        auto* handle = const_cast<FakeDrive*>(drive);
        openHandles.insert(handle);
        return handle;
    }

    bool queryBusType(VolumeHandle volume, std::uint32_t* busType) const override
    {
        if (!openHandles.count(volume))
            return false;
        const auto* drive = static_cast<const FakeDrive*>(volume);
        if (!drive->busQueryWorks)
            return false;
        *busType = drive->busType;
        return true;
    }

    void closeVolume(VolumeHandle volume) const override { QVERIFY(openHandles.erase(volume) == 1); }

    bool volumeInformation(const std::wstring& rootPath, Win32VolumeInformation* info) const override
    {
        const FakeDrive* drive = find(rootPath, L":\\");
        if (!drive || !drive->informationReadable)
            return false;
        *info = drive->information;
        return true;
    }

    std::map<wchar_t, FakeDrive> drives;
    std::uint32_t extraDriveBits = 0;
    mutable std::set<VolumeHandle> openHandles;

private:
    const FakeDrive* find(const std::wstring& path, const std::wstring& suffix) const
    {
        if (path.size() != 1 + suffix.size() || path.compare(1, std::wstring::npos, suffix) != 0)
            return nullptr;
        const auto it = drives.find(path.front());
        return it == drives.end() ? nullptr : &it->second;
    }
};

FakeDrive usbDrive(unsigned type, const std::wstring& label, std::uint32_t serial, const std::wstring& fs)
{
    FakeDrive drive;
    drive.driveType = type;
    drive.information = {label, serial, fs};
    return drive;
}

} // namespace

class TestWindowsDeviceManager : public QObject
{
    Q_OBJECT

private slots:
    void listsUsbVolumesInDriveLetterOrder();
    void skipsNonUsbAndUnreadableDrives();
    void withoutAnyDriveListsNothing();
};

void TestWindowsDeviceManager::listsUsbVolumesInDriveLetterOrder()
{
    auto fake = std::make_shared<FakeWin32>();
    fake->drives[L'Z'] = usbDrive(Win32VolumeApi::DriveFixed, L"", 0x1, L"NTFS"); // USB hard disk, no label
    fake->drives[L'F'] = usbDrive(Win32VolumeApi::DriveRemovable, L"DADOS", 0x00AB12CDu, L"FAT32");
    fake->drives[L'J'] = usbDrive(Win32VolumeApi::DriveRemovable, L"FOTOS JO\u00C3O", 0xFFFFFFFFu, L"exFAT");
    fake->drives[L'K'] = usbDrive(Win32VolumeApi::DriveRemovable, L"IGNORED", 0x10, L"FAT");
    fake->drives[L'K'].informationReadable = false;
    fake->extraDriveBits = 0xFC000000u; // bits past Z mean nothing

    const QList<UsbDevice> devices = WindowsDeviceManager(fake).detectUsbDevices();
    QCOMPARE(devices.size(), 4);

    const UsbDevice& f = devices[0];
    QCOMPARE(f.id, QStringLiteral("F:\\-ab12cd"));
    QCOMPARE(f.devicePath, QStringLiteral("F:\\"));
    QCOMPARE(f.rootPath, QStringLiteral("F:\\"));
    QCOMPARE(f.displayName, QStringLiteral("DADOS"));
    QCOMPARE(f.fileSystemType, QStringLiteral("FAT32"));
    QVERIFY(f.removable);
    QVERIFY(f.mounted);

    QCOMPARE(devices[1].id, QStringLiteral("J:\\-ffffffff"));
    QCOMPARE(devices[1].displayName, QStringLiteral("FOTOS JO\u00C3O"));

    // Volume information unreadable: listed with fallbacks.
    QCOMPARE(devices[2].id, QStringLiteral("K:\\"));
    QCOMPARE(devices[2].displayName, QStringLiteral("USB K:"));
    QVERIFY(devices[2].fileSystemType.isEmpty());
    QVERIFY(devices[2].mounted);

    const UsbDevice& z = devices[3];
    QCOMPARE(z.id, QStringLiteral("Z:\\-1"));
    QCOMPARE(z.displayName, QStringLiteral("USB Z:"));
    QCOMPARE(z.fileSystemType, QStringLiteral("NTFS"));
    QVERIFY(!z.removable);
    QVERIFY(z.mounted);

    QVERIFY(fake->openHandles.empty());
}

void TestWindowsDeviceManager::skipsNonUsbAndUnreadableDrives()
{
    auto fake = std::make_shared<FakeWin32>();
    fake->drives[L'C'] = usbDrive(Win32VolumeApi::DriveFixed, L"SISTEMA", 0x2, L"NTFS");
    fake->drives[L'C'].busType = 11; // SATA
    fake->drives[L'D'] = usbDrive(Win32VolumeApi::DriveFixed, L"DADOS", 0x3, L"NTFS");
    fake->drives[L'D'].busType = 17;                         // NVMe
    fake->drives[L'E'] = usbDrive(5, L"DVD", 0x4, L"CDFS");  // optical, even on USB
    fake->drives[L'G'] = usbDrive(4, L"REDE", 0x5, L"NTFS"); // network share
    fake->drives[L'H'] = usbDrive(Win32VolumeApi::DriveRemovable, L"", 0x6, L"");
    fake->drives[L'H'].opens = false; // reader without a card
    fake->drives[L'I'] = usbDrive(Win32VolumeApi::DriveRemovable, L"SD", 0x7, L"FAT32");
    fake->drives[L'I'].busType = 12; // SD card reader on its own bus
    fake->drives[L'L'] = usbDrive(Win32VolumeApi::DriveRemovable, L"X", 0x8, L"FAT32");
    fake->drives[L'L'].busQueryWorks = false;
    fake->drives[L'M'] = usbDrive(6, L"RAM", 0x9, L"FAT"); // RAM disk
    fake->drives[L'P'] = usbDrive(Win32VolumeApi::DriveRemovable, L"PEN", 0xA, L"FAT32");

    const QList<UsbDevice> devices = WindowsDeviceManager(fake).detectUsbDevices();
    QCOMPARE(devices.size(), 1);
    QCOMPARE(devices[0].id, QStringLiteral("P:\\-a"));
    QVERIFY(fake->openHandles.empty());
}

void TestWindowsDeviceManager::withoutAnyDriveListsNothing()
{
    QVERIFY(WindowsDeviceManager(std::make_shared<FakeWin32>()).detectUsbDevices().isEmpty());
    QVERIFY(WindowsDeviceManager(nullptr).detectUsbDevices().isEmpty());
}

QTEST_GUILESS_MAIN(TestWindowsDeviceManager)
#include "test_windows_device_manager.moc"
