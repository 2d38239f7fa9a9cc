#pragma once

#include <QString>

namespace Keldra::Platform {

// One detected USB volume. Plain value type; the detectors always set both flags.
struct UsbDevice
{
    // "<devicePath>:<rootPath>" for mounted Linux volumes, the device path alone for
    // unmounted ones, "<root>-<hex serial>" (or the root alone) on Windows.
    QString id;
    QString devicePath;     // e.g. /dev/sdb1, or E:\ on Windows
    QString displayName;    // volume label or a fallback
    QString rootPath;       // mount directory; empty when none is known
    QString fileSystemType; // as the system reports it; may be empty
    bool removable = false;
    bool mounted = false;

    friend bool operator==(const UsbDevice& a, const UsbDevice& b)
    {
        return a.id == b.id && a.devicePath == b.devicePath && a.displayName == b.displayName &&
               a.rootPath == b.rootPath && a.fileSystemType == b.fileSystemType &&
               a.removable == b.removable && a.mounted == b.mounted;
    }
    friend bool operator!=(const UsbDevice& a, const UsbDevice& b) { return !(a == b); }
};

} // namespace Keldra::Platform
