#include "vault/FileSyncManager.h"

#include <QFileInfo>

namespace Keldra::Core {

bool FileSyncManager::attach(const QString& workspacePath, const QString& containerPath,
                             const QByteArray& vaultId)
{
    m_workspacePath = workspacePath;
    m_record.containerPath = containerPath;
    m_record.vaultId = vaultId;
    return saveRecord();
}

void FileSyncManager::detach()
{
    m_workspacePath.clear();
    m_record = WorkspaceRecord();
}

bool FileSyncManager::saveRecord() const
{
    if (m_workspacePath.isEmpty())
        return true;
    WorkspaceRecord record = m_record;
    record.copies = m_files.values();
    return record.save(m_workspacePath);
}

bool FileSyncManager::track(const QString& vaultPath, const QString& tempPath)
{
    const QFileInfo info(tempPath);
    if (!info.exists() || !info.isFile())
        return false;
    TrackedTempFile copy{vaultPath, info.absoluteFilePath(),
                         info.fileTime(QFileDevice::FileModificationTime).toUTC(), -1, QByteArray()};
    if (!WorkspaceRecord::measure(tempPath, &copy.openedSize, &copy.openedSha256))
        return false;
    const auto previous = m_files.constFind(vaultPath);
    const bool hadPrevious = previous != m_files.constEnd();
    const TrackedTempFile before = hadPrevious ? *previous : TrackedTempFile();
    m_files.insert(vaultPath, copy);
    if (saveRecord())
        return true;
    // Untracked beats tracked without a record: the caller wipes the copy and says so.
    if (hadPrevious)
        m_files.insert(vaultPath, before);
    else
        m_files.remove(vaultPath);
    return false;
}

void FileSyncManager::untrack(const QString& vaultPath)
{
    if (m_files.remove(vaultPath) > 0)
        (void)saveRecord(); // a stale entry names a copy that is gone: nothing to recover
}

void FileSyncManager::retarget(const QString& oldVaultPath, const QString& newVaultPath)
{
    TrackedTempFile copy;
    if (!find(oldVaultPath, &copy))
        return;
    m_files.remove(copy.vaultPath);
    copy.vaultPath = newVaultPath;
    m_files.insert(newVaultPath, copy);
    // On failure a crash would offer the copy under its old name; still recoverable.
    (void)saveRecord();
}

bool FileSyncManager::find(const QString& vaultPath, TrackedTempFile* out) const
{
    for (auto it = m_files.constBegin(); it != m_files.constEnd(); ++it) {
        if (QString::compare(it.key(), vaultPath, Qt::CaseInsensitive) == 0) {
            if (out)
                *out = it.value();
            return true;
        }
    }
    return false;
}

bool FileSyncManager::isModified(const QString& vaultPath) const
{
    const auto it = m_files.constFind(vaultPath);
    return it != m_files.constEnd() && WorkspaceRecord::copyChanged(*it);
}

QList<TrackedTempFile> FileSyncManager::trackedFiles() const
{
    return m_files.values();
}

QList<TrackedTempFile> FileSyncManager::modifiedFiles() const
{
    QList<TrackedTempFile> result;
    for (auto it = m_files.constBegin(); it != m_files.constEnd(); ++it) {
        if (WorkspaceRecord::copyChanged(it.value()))
            result.append(it.value());
    }
    return result;
}

void FileSyncManager::clear()
{
    m_files.clear();
}

} // namespace Keldra::Core
