#include "storage/ContainerReplacer.h"

#include "storage/ContainerFile.h"
#include "storage/ContainerRecovery.h"
#include "storage/WriteBehind.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

namespace Keldra::Core {

namespace {

// Removes the partial copy; the old container was never touched.
ContainerReplacer::Result abandon(const QString& copyPath)
{
    if (ContainerFile::removeFile(copyPath))
        (void)ContainerFile::syncFolderOf(copyPath);
    return ContainerReplacer::Result::Failed;
}

} // namespace

bool ContainerReplacer::hasRoomFor(const QString& containerPath, qint64 bytes)
{
    QStorageInfo storage(QFileInfo(containerPath).absolutePath());
    storage.refresh();
    return storage.isValid() && storage.bytesAvailable() >= bytes + Headroom;
}

ContainerReplacer::Result ContainerReplacer::replace(const QString& newContainer, const QString& containerPath,
                                                     const Verifier& verify, const Progress& progress)
{
    QFile source(newContainer);
    if (!source.open(QIODevice::ReadOnly))
        return Result::Failed;
    const qint64 total = source.size();
    const QString copyPath = ContainerRecovery::compactTempPath(containerPath);
    if (!ContainerFile::removeFile(copyPath)) // a leftover of an interrupted run
        return Result::Failed;
    if (!hasRoomFor(containerPath, total))
        return Result::NoRoom;

    if (progress)
        progress(0, total);
    {
        ContainerFile copy(copyPath);
        if (!copy.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return abandon(copyPath);
        qint64 done = 0;
        WriteBehind writeBehind(copy.handle());
        while (done < total) {
            const qint64 chunk = qMin(ChunkSize, total - done);
            // The drive works on this chunk while the next one is copied; the sync below decides.
            if (!copy.copyFrom(source, done, chunk) || !writeBehind.written(done, chunk))
                return abandon(copyPath);
            done += chunk;
            if (progress)
                progress(done, total);
        }
        if (!copy.sync())
            return abandon(copyPath);
    }
    if (!ContainerFile::syncFolderOf(copyPath))
        return abandon(copyPath);
    // Check what the drive gives back, not what we meant to write.
    if (verify && !verify(copyPath))
        return abandon(copyPath);
    if (!ContainerFile::replaceFile(copyPath, containerPath))
        return abandon(copyPath);
    // The rename is done: old or new, either is a complete container. A failed
    // folder sync only leaves open which one survives a power cut.
    (void)ContainerFile::syncFolderOf(containerPath);
    return Result::Replaced;
}

} // namespace Keldra::Core
