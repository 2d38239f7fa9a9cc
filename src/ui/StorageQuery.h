#pragma once

#include <QString>

#include <functional>

namespace Keldra::UI {

// Free space and file system of the drive that holds a path. The window's
// pre-import checks read the drive through here so tests can pretend a drive
// is nearly full or formatted with FAT without owning such a drive.
class StorageQuery
{
public:
    struct Volume
    {
        bool ready = false; // valid and ready; the other fields mean nothing otherwise
        qint64 bytesAvailable = 0;
        QString fileSystemType;
    };
    using Provider = std::function<Volume(const QString& directory)>;

    static Volume volumeFor(const QString& directory);
    // An empty provider restores the real query.
    static void setProvider(const Provider& provider);
};

} // namespace Keldra::UI
