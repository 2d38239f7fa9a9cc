#include "vault/FileSyncManager.h"

#include <QFileInfo>

namespace Keldra::Core {

namespace {

QDateTime modificationTimeUtc(const QFileInfo& info)
{
    return info.fileTime(QFileDevice::FileModificationTime).toUTC();
}

} // namespace

bool FileSyncManager::track(const QString& vaultPath, const QString& tempPath)
{
    const QFileInfo info(tempPath);
    if (!info.exists() || !info.isFile())
        return false;
    m_files.insert(vaultPath, TrackedTempFile{vaultPath, info.absoluteFilePath(), modificationTimeUtc(info)});
    return true;
}

void FileSyncManager::untrack(const QString& vaultPath)
{
    m_files.remove(vaultPath);
}

bool FileSyncManager::isModified(const QString& vaultPath) const
{
    const auto it = m_files.constFind(vaultPath);
    if (it == m_files.constEnd())
        return false;
    const QFileInfo info(it->tempPath);
    if (!info.exists())
        return false;
    return it->lastModifiedUtc < modificationTimeUtc(info);
}

QList<TrackedTempFile> FileSyncManager::trackedFiles() const
{
    return m_files.values();
}

QList<TrackedTempFile> FileSyncManager::modifiedFiles() const
{
    QList<TrackedTempFile> result;
    for (auto it = m_files.constBegin(); it != m_files.constEnd(); ++it) {
        if (isModified(it.key()))
            result.append(it.value());
    }
    return result;
}

void FileSyncManager::clear()
{
    m_files.clear();
}

} // namespace Keldra::Core
