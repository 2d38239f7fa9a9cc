#include "storage/ContainerReplacer.h"

#include "storage/ContainerFile.h"
#include "storage/ContainerRecovery.h"
#include "storage/WriteBehind.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#ifndef Q_OS_WIN
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Keldra::Core {

namespace {

// Removes the partial copy; the old container was never touched.
ContainerReplacer::Outcome abandon(const QString& copyPath, Error why)
{
    if (ContainerFile::removeFile(copyPath).ok())
        (void)ContainerFile::syncFolderOf(copyPath);
    return {ContainerReplacer::Result::Failed, why};
}

// The copy takes the container's permissions, and its owner and group where
// this user may set them (root may; others keep theirs): the rename must not
// open a private container to others, nor hand it to whoever compacted it.
// File systems without owners or permissions (FAT) refuse quietly.
Error keepOwnership(const QString& containerPath, int handle)
{
#ifdef Q_OS_WIN
    Q_UNUSED(containerPath);
    Q_UNUSED(handle);
    return Error();
#else
    struct stat original = {};
    if (::stat(QFile::encodeName(containerPath).constData(), &original) != 0)
        return Error(); // nothing there to take after
    const auto ignorable = [](int error) { return error == EPERM || error == EOPNOTSUPP; };
    if (::fchown(handle, original.st_uid, original.st_gid) != 0 && !ignorable(errno))
        return Error(Error::Reason::WriteFailed, QStringLiteral("cannot set the copy's owner"));
    if (::fchmod(handle, original.st_mode & 07777) != 0 && !ignorable(errno))
        return Error(Error::Reason::WriteFailed, QStringLiteral("cannot set the copy's permissions"));
    return Error();
#endif
}

ContainerReplacer::RoomProbe& roomProbe()
{
    static ContainerReplacer::RoomProbe probe;
    return probe;
}

} // namespace

void ContainerReplacer::setRoomProbe(const RoomProbe& probe)
{
    roomProbe() = probe;
}

ContainerReplacer::Room ContainerReplacer::roomFor(const QString& containerPath, qint64 bytes)
{
    if (roomProbe())
        return roomProbe()(containerPath, bytes);
    QStorageInfo storage(QFileInfo(containerPath).absolutePath());
    storage.refresh();
    if (!storage.isValid() || !storage.isReady() || storage.bytesAvailable() < 0)
        return Room::Unknown;
    return storage.bytesAvailable() >= bytes + Headroom ? Room::Enough : Room::Short;
}

ContainerReplacer::Outcome ContainerReplacer::replace(const QString& newContainer,
                                                      const QString& containerPath, const Verifier& verify,
                                                      const Progress& progress)
{
    QFile source(newContainer);
    if (!source.open(QIODevice::ReadOnly))
        return {Result::Failed, Error(Error::Reason::WorkspaceUnavailable, source.errorString())};
    const qint64 total = source.size();
    const QString copyPath = ContainerRecovery::compactTempPath(containerPath);
    if (const Error leftover = ContainerFile::removeFile(copyPath); !leftover.ok()) // of an interrupted run
        return {Result::Failed, leftover};
    // Unknown free space must not send the caller to its fallback, which removes the old
    // container first: try the safe copy, and only a drive that fills up during it is short.
    const Room room = roomFor(containerPath, total);
    if (room == Room::Short)
        return {Result::NoRoom, Error()};
    const auto giveUp = [&](const Error& why) {
        Outcome outcome = abandon(copyPath, why);
        if (room == Room::Unknown && why.is(Error::Reason::DriveFull))
            outcome = {Result::NoRoom, Error()};
        return outcome;
    };

    if (progress)
        progress(0, total);
    {
        ContainerFile copy(copyPath);
        if (!copy.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return giveUp(copy.error());
        if (const Error kept = keepOwnership(containerPath, copy.handle()); !kept.ok())
            return giveUp(kept);
        qint64 done = 0;
        WriteBehind writeBehind(copy.handle());
        while (done < total) {
            const qint64 chunk = qMin(ChunkSize, total - done);
            if (!copy.copyFrom(source, done, chunk))
                return giveUp(copy.error());
            // The drive works on this chunk while the next one is copied; the sync below decides.
            if (const Error behind = writeBehind.written(done, chunk); !behind.ok())
                return giveUp(behind);
            done += chunk;
            if (progress)
                progress(done, total);
        }
        if (!copy.sync())
            return giveUp(copy.error());
    }
    if (const Error synced = ContainerFile::syncFolderOf(copyPath); !synced.ok())
        return giveUp(synced);
    // Check what the drive gives back, not what we meant to write.
    if (verify) {
        if (const Error checked = verify(copyPath); !checked.ok())
            return abandon(copyPath, checked);
    }
    if (const Error renamed = ContainerFile::replaceFile(copyPath, containerPath); !renamed.ok())
        return abandon(copyPath, renamed);
    // The rename is done: old or new, either is a complete container. A failed
    // folder sync only leaves open which one survives a power cut.
    (void)ContainerFile::syncFolderOf(containerPath);
    return {Result::Replaced, Error()};
}

} // namespace Keldra::Core
