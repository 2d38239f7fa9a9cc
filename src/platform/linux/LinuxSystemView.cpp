#include "platform/linux/LinuxSystemView.h"

#include <QStorageInfo>

namespace Keldra::Platform::Linux {

namespace {

MountedVolume fromStorageInfo(const QStorageInfo& storage)
{
    MountedVolume volume;
    volume.device = storage.device();
    volume.rootPath = storage.rootPath();
    volume.fileSystemType = storage.fileSystemType();
    volume.displayName = storage.displayName();
    volume.name = storage.name();
    volume.valid = storage.isValid();
    volume.ready = storage.isReady();
    return volume;
}

} // namespace

LinuxSystemView LinuxSystemView::real()
{
    LinuxSystemView view;
    view.systemRoot = QStringLiteral("/");
    view.mountedVolumes = [] {
        QList<MountedVolume> volumes;
        const QList<QStorageInfo> storages = QStorageInfo::mountedVolumes();
        volumes.reserve(storages.size());
        for (const QStorageInfo& storage : storages)
            volumes.append(fromStorageInfo(storage));
        return volumes;
    };
    view.volumeAt = [](const QString& path) { return fromStorageInfo(QStorageInfo(path)); };
    view.environmentVariable = [](const char* name) { return qgetenv(name); };
    return view;
}

} // namespace Keldra::Platform::Linux
