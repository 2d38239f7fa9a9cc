#include "storage/ContainerRecovery.h"

#include "storage/ContainerFile.h"
#include "storage/HeaderJournal.h"

#include <QFileInfo>

namespace Keldra::Core {

QString ContainerRecovery::compactTempPath(const QString& containerPath)
{
    return containerPath + QStringLiteral("-compact");
}

bool ContainerRecovery::recover(const QString& containerPath)
{
    if (HeaderJournal::recover(containerPath) == HeaderJournal::Recovery::Failed)
        return false;
    // A compacted copy that was not renamed over the container is only a
    // copy; the container itself is intact. A leftover we cannot remove does
    // not endanger the vault, so it does not fail the open.
    const QString leftover = compactTempPath(containerPath);
    if (QFileInfo::exists(leftover) && ContainerFile::removeFile(leftover))
        (void)ContainerFile::syncFolderOf(leftover);
    return true;
}

} // namespace Keldra::Core
