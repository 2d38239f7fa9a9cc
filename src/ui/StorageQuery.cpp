#include "ui/StorageQuery.h"

#include <QStorageInfo>

namespace Keldra::UI {

namespace {

StorageQuery::Provider& provider()
{
    static StorageQuery::Provider current;
    return current;
}

} // namespace

StorageQuery::Volume StorageQuery::volumeFor(const QString& directory)
{
    if (provider())
        return provider()(directory);

    const QStorageInfo storage(directory);
    Volume volume;
    volume.ready = storage.isValid() && storage.isReady();
    if (volume.ready) {
        volume.bytesAvailable = storage.bytesAvailable();
        volume.fileSystemType = QString::fromLatin1(storage.fileSystemType());
    }
    return volume;
}

void StorageQuery::setProvider(const Provider& replacement)
{
    provider() = replacement;
}

} // namespace Keldra::UI
