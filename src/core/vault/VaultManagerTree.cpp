// Tree operations: move, rename and delete files, create, rename and delete
// folders. They rewrite only the encrypted index; payload blocks stay put.

#include "vault/VaultManager.h"
#include "vault/VaultManagerHelpers.h"


#include <QDateTime>

namespace Keldra::Core {

using detail::ensureParentDirectories;
using detail::indexContainsDirectoryPath;
using detail::indexContainsFilePath;
using detail::lastPathComponent;
using detail::normalizedVaultPath;
using detail::pathIsInsideDirectory;

namespace {

bool samePath(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

// Copy of the index with the file at oldPath (any letter case) moved to
// newPath; everything else, including the entry's identity, is unchanged.
SecureFileIndex withFileRenamed(const SecureFileIndex& index, const QString& oldPath, const QString& newPath)
{
    SecureFileIndex result;
    const QList<VaultDirectoryEntry> directories = index.directories();
    for (const VaultDirectoryEntry& directory : directories)
        result.addDirectory(directory);
    const QList<VaultFileEntry> entries = index.entries();
    bool renamed = false;
    for (VaultFileEntry entry : entries) {
        if (!renamed && samePath(entry.vaultPath, oldPath)) {
            entry.vaultPath = newPath;
            renamed = true;
        }
        result.addOrReplace(entry);
    }
    return result;
}

} // namespace

bool VaultManager::isTracked(const QString& vaultPath) const
{
    const QList<TrackedTempFile> tracked = m_fileSync.trackedFiles();
    for (const TrackedTempFile& file : tracked) {
        if (samePath(file.vaultPath, vaultPath))
            return true;
    }
    return false;
}

bool VaultManager::isTrackedInside(const QString& directory) const
{
    const QList<TrackedTempFile> tracked = m_fileSync.trackedFiles();
    for (const TrackedTempFile& file : tracked) {
        if (samePath(file.vaultPath, directory) || pathIsInsideDirectory(file.vaultPath, directory))
            return true;
    }
    return false;
}

bool VaultManager::moveFile(const QString& vaultPath, const QString& targetDirectory)
{
    const QString source = normalizedVaultPath(vaultPath);
    const QString target = normalizedVaultPath(targetDirectory);
    if (m_state != VaultState::Unlocked || source.isEmpty())
        return false;
    // Slashes alone mean the root; a target such as ".." is refused rather
    // than taken as the root.
    QString rawTarget = targetDirectory;
    rawTarget.remove(QLatin1Char('/')).remove(QLatin1Char('\\'));
    if (target.isEmpty() && !rawTarget.trimmed().isEmpty())
        return false;
    if (!indexContainsFilePath(m_index, source))
        return false;
    if (!target.isEmpty() && !indexContainsDirectoryPath(m_index, target))
        return false;

    // The file keeps its stored spelling, whatever case the caller used.
    QString storedPath = source;
    const QList<VaultFileEntry> entries = m_index.entries();
    for (const VaultFileEntry& entry : entries) {
        if (samePath(entry.vaultPath, source)) {
            storedPath = entry.vaultPath;
            break;
        }
    }
    const QString name = lastPathComponent(storedPath);
    const QString destination = target.isEmpty() ? name : target + QLatin1Char('/') + name;
    if (destination.isEmpty() || samePath(destination, source)
        || indexContainsFilePath(m_index, destination) || indexContainsDirectoryPath(m_index, destination))
        return false;
    if (isTracked(source))
        return false;

    return saveIndex(withFileRenamed(m_index, source, destination));
}

bool VaultManager::renameFile(const QString& vaultPath, const QString& newVaultPath)
{
    const QString source = normalizedVaultPath(vaultPath);
    const QString destination = normalizedVaultPath(newVaultPath);
    if (m_state != VaultState::Unlocked || source.isEmpty() || destination.isEmpty())
        return false;
    if (samePath(source, destination))
        return false;
    if (!indexContainsFilePath(m_index, source))
        return false;
    if (indexContainsFilePath(m_index, destination) || indexContainsDirectoryPath(m_index, destination))
        return false;
    if (isTracked(source))
        return false;

    return saveIndex(withFileRenamed(m_index, source, destination));
}

bool VaultManager::deleteFile(const QString& vaultPath)
{
    const QString path = normalizedVaultPath(vaultPath);
    if (m_state != VaultState::Unlocked || path.isEmpty())
        return false;
    if (!indexContainsFilePath(m_index, path))
        return false;

    ContainerDocument document;
    if (!readSettledDocument(m_containerPath, &document))
        return false;

    SecureFileIndex newIndex = m_index;
    const QList<VaultFileEntry> entries = m_index.entries();
    bool removed = false;
    for (const VaultFileEntry& entry : entries) {
        if (samePath(entry.vaultPath, path)) {
            removed = newIndex.remove(entry.vaultPath);
            break;
        }
    }
    if (!removed)
        return false;
    return saveIndexWithDocument(document, newIndex);
}

bool VaultManager::createDirectory(const QString& path)
{
    const QString normalized = normalizedVaultPath(path);
    if (m_state != VaultState::Unlocked || normalized.isEmpty())
        return false;
    if (indexContainsDirectoryPath(m_index, normalized) || indexContainsFilePath(m_index, normalized))
        return false;

    SecureFileIndex newIndex = m_index;
    ensureParentDirectories(&newIndex, normalized);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    newIndex.addDirectory(VaultDirectoryEntry{normalized, now, now});
    return saveIndex(newIndex);
}

bool VaultManager::renameDirectory(const QString& path, const QString& newPath)
{
    const QString source = normalizedVaultPath(path);
    const QString destination = normalizedVaultPath(newPath);
    if (m_state != VaultState::Unlocked || source.isEmpty() || destination.isEmpty())
        return false;
    if (samePath(source, destination) || pathIsInsideDirectory(destination, source))
        return false;
    if (!indexContainsDirectoryPath(m_index, source))
        return false;
    if (indexContainsDirectoryPath(m_index, destination) || indexContainsFilePath(m_index, destination))
        return false;
    if (isTrackedInside(source))
        return false;

    const auto moved = [&](const QString& oldPath) { return destination + oldPath.mid(source.size()); };

    SecureFileIndex newIndex;
    ensureParentDirectories(&newIndex, destination);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QList<VaultDirectoryEntry> directories = m_index.directories();
    for (VaultDirectoryEntry directory : directories) {
        if (samePath(directory.path, source) || pathIsInsideDirectory(directory.path, source)) {
            directory.path = moved(directory.path);
            directory.modifiedUtc = now;
        }
        newIndex.addDirectory(directory);
    }
    const QList<VaultFileEntry> entries = m_index.entries();
    for (VaultFileEntry entry : entries) {
        if (pathIsInsideDirectory(entry.vaultPath, source))
            entry.vaultPath = moved(entry.vaultPath);
        if (!newIndex.addOrReplace(entry))
            return false;
    }
    return saveIndex(newIndex);
}

bool VaultManager::deleteDirectory(const QString& path)
{
    const QString normalized = normalizedVaultPath(path);
    if (m_state != VaultState::Unlocked || normalized.isEmpty())
        return false;
    if (!indexContainsDirectoryPath(m_index, normalized))
        return false;

    const QList<VaultDirectoryEntry> directories = m_index.directories();
    for (const VaultDirectoryEntry& directory : directories) {
        if (pathIsInsideDirectory(directory.path, normalized))
            return false;
    }
    const QList<VaultFileEntry> entries = m_index.entries();
    for (const VaultFileEntry& entry : entries) {
        if (pathIsInsideDirectory(entry.vaultPath, normalized))
            return false;
    }

    SecureFileIndex newIndex = m_index;
    for (const VaultDirectoryEntry& directory : directories) {
        if (samePath(directory.path, normalized)) {
            if (!newIndex.removeDirectory(directory.path))
                return false;
            return saveIndex(newIndex);
        }
    }
    return false;
}

} // namespace Keldra::Core
