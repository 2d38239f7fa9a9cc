#pragma once

#include "platform/linux/MountedVolume.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace Keldra::Platform::Linux {

// Everything the Linux detector reads from the machine. The defaults are the real system;
// tests point the root at a directory tree they build and replace the other views.
struct LinuxSystemView
{
    // Prefix for /proc, /sys, /dev/disk and the mount directories ("/" on a real system).
    QString systemRoot = QStringLiteral("/");
    // QStorageInfo::mountedVolumes().
    std::function<QList<MountedVolume>()> mountedVolumes;
    // QStorageInfo for one path.
    std::function<MountedVolume(const QString& path)> volumeAt;
    // Raw value of an environment variable (only USER and LOGNAME are asked for).
    std::function<QByteArray(const char* name)> environmentVariable;

    // The running system: "/" as root, QStorageInfo and the process environment.
    static LinuxSystemView real();
};

} // namespace Keldra::Platform::Linux
