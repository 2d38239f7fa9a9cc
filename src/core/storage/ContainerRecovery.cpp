#include "storage/ContainerRecovery.h"

#include "storage/ContainerFile.h"
#include "storage/ContainerLock.h"
#include "storage/HeaderJournal.h"

#include <QFileInfo>

namespace Keldra::Core {

QString ContainerRecovery::compactTempPath(const QString& containerPath)
{
    return containerPath + QStringLiteral("-compact");
}

Error ContainerRecovery::recover(const QString& containerPath)
{
    return recover(containerPath, HeaderJournal::Judge());
}

Error ContainerRecovery::recover(const QString& containerPath, const HeaderJournal::Judge& judge)
{
    const QString leftover = compactTempPath(containerPath);
    if (!QFileInfo::exists(HeaderJournal::journalPath(containerPath)) && !QFileInfo::exists(leftover))
        return Error();
    // While another program holds the container its journal and copy are its
    // change in progress, not leftovers: neither rolled back nor removed.
    const ContainerLock lock(containerPath);
    if (!lock.error().ok())
        return lock.error();
    const HeaderJournal::RecoveryResult journal = HeaderJournal::recover(containerPath, judge);
    if (journal.outcome == HeaderJournal::Recovery::Failed)
        return journal.error;
    // A compacted copy that was not renamed over the container is only a
    // copy; the container itself is intact. A leftover we cannot remove does
    // not endanger the vault, so it does not fail the open.
    if (QFileInfo::exists(leftover) && ContainerFile::removeFile(leftover).ok())
        (void)ContainerFile::syncFolderOf(leftover);
    return Error();
}

} // namespace Keldra::Core
