#pragma once

#include <QString>

#include <functional>

namespace Keldra::Core {

// The largest file a drive's file system can hold, so a vault that would
// outgrow it is refused before anything is written rather than after
// minutes of writing.
class FileSizeLimit
{
public:
    // FAT cannot hold a file of 4 GiB or more.
    static constexpr qint64 FatLimit = Q_INT64_C(4294967295);

    // Largest size in bytes of a file on a file system of this type (as the
    // system names it: "vfat", "FAT32", ...); 0 when we know of no limit.
    static qint64 forFileSystem(const QString& type);
    // The same for the file system that holds `path`.
    static qint64 forPath(const QString& path);

    // Names the file system of a path; tests stand in for drives they cannot mount.
    using Probe = std::function<QString(const QString& path)>;
    // An empty probe restores the system's answer.
    static void setProbe(const Probe& probe);
};

} // namespace Keldra::Core
