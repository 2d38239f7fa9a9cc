#include "storage/FileSizeLimit.h"

#include <QFileInfo>
#include <QStorageInfo>

namespace Keldra::Core {

namespace {

FileSizeLimit::Probe& probe()
{
    static FileSizeLimit::Probe instance;
    return instance;
}

} // namespace

qint64 FileSizeLimit::forFileSystem(const QString& type)
{
    for (const char* name : {"vfat", "msdos", "fat", "fat12", "fat16", "fat32"}) {
        if (type.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return FatLimit;
    }
    return 0;
}

qint64 FileSizeLimit::forPath(const QString& path)
{
    if (probe())
        return forFileSystem(probe()(path));
    const QStorageInfo storage(QFileInfo(path).absolutePath());
    if (!storage.isValid())
        return 0;
    return forFileSystem(QString::fromLatin1(storage.fileSystemType()));
}

void FileSizeLimit::setProbe(const Probe& newProbe)
{
    probe() = newProbe;
}

} // namespace Keldra::Core
