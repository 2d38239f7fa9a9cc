#pragma once

#include <QByteArray>
#include <QString>

namespace Keldra::Platform::Linux {

// What the detector needs to know about one mounted volume (the fields of QStorageInfo it reads),
// so a test can describe volumes without mounting anything.
struct MountedVolume
{
    QByteArray device;         // e.g. /dev/sdb1, in the local 8-bit encoding
    QString rootPath;          // mount directory
    QByteArray fileSystemType; // e.g. vfat
    QString displayName;
    QString name; // volume label
    bool valid = false;
    bool ready = false;
};

} // namespace Keldra::Platform::Linux
