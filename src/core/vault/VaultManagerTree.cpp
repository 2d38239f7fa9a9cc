// Tree operations: move, rename and delete files, create, rename and delete
// folders. They rewrite only the encrypted index; payload blocks stay put.

#include "storage/ContainerLock.h"
#include "vault/VaultManager.h"
#include "vault/VaultPath.h"

#include <QDateTime>

namespace Keldra::Core {

namespace {

using Reason = Error::Reason;

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

bool VaultManager::moveFile(const QString& vaultPath, const QString& targetDirectory)
{
    m_lastError = Error();
    const QString source = VaultPath::normalized(vaultPath);
    const QString target = VaultPath::normalized(targetDirectory);
    if (m_state != VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    if (source.isEmpty())
        return fail(Reason::InvalidPath, vaultPath);
    // Slashes alone mean the root; a target such as ".." is refused rather
    // than taken as the root.
    QString rawTarget = targetDirectory;
    rawTarget.remove(QLatin1Char('/')).remove(QLatin1Char('\\'));
    if (target.isEmpty() && !rawTarget.trimmed().isEmpty())
        return fail(Reason::InvalidPath, targetDirectory);
    const ContainerLock lock(m_containerPath);
    ContainerDocument document;
    if (const Error began = beginChange(lock, &document); !began.ok())
        return fail(began);
    if (!VaultPath::hasFile(m_index, source))
        return fail(Reason::FileNotFound, source);
    if (!target.isEmpty() && !VaultPath::hasFolder(m_index, target))
        return fail(Reason::FolderNotFound, target);

    // The file keeps its stored spelling, whatever case the caller used.
    QString storedPath = source;
    const QList<VaultFileEntry> entries = m_index.entries();
    for (const VaultFileEntry& entry : entries) {
        if (samePath(entry.vaultPath, source)) {
            storedPath = entry.vaultPath;
            break;
        }
    }
    const QString name = VaultPath::baseName(storedPath);
    const QString destination = target.isEmpty() ? name : target + QLatin1Char('/') + name;
    if (!VaultPath::isPortable(destination))
        return fail(Reason::InvalidPath, destination);
    // Moving a file into its own folder clashes with the file itself.
    return storeFileAt(document, source, destination);
}

bool VaultManager::renameFile(const QString& vaultPath, const QString& newVaultPath)
{
    m_lastError = Error();
    const QString source = VaultPath::normalized(vaultPath);
    const QString destination = VaultPath::normalized(newVaultPath);
    if (m_state != VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    if (source.isEmpty() || destination.isEmpty())
        return fail(Reason::InvalidPath, source.isEmpty() ? vaultPath : newVaultPath);
    // A name made elsewhere may be one Windows cannot hold; renaming it away is how it is fixed.
    if (!VaultPath::isPortable(destination))
        return fail(Reason::InvalidPath, newVaultPath);
    const ContainerLock lock(m_containerPath);
    ContainerDocument document;
    if (const Error began = beginChange(lock, &document); !began.ok())
        return fail(began);
    if (!VaultPath::hasFile(m_index, source))
        return fail(Reason::FileNotFound, source);
    // A change of letter case alone is refused: the new name is taken, by the file itself.
    return storeFileAt(document, source, destination);
}

bool VaultManager::storeFileAt(const ContainerDocument& document, const QString& source,
                               const QString& destination)
{
    if (samePath(source, destination) || VaultPath::hasFile(m_index, destination) ||
        VaultPath::hasFolder(m_index, destination))
        return fail(Reason::AlreadyExists, destination);
    if (!finish(saveIndexWithDocument(document, withFileRenamed(m_index, source, destination))))
        return false;
    // An open copy goes with its file, so lock stores it under the new path.
    m_fileSync.retarget(source, destination);
    return true;
}

bool VaultManager::deleteFile(const QString& vaultPath)
{
    m_lastError = Error();
    const QString path = VaultPath::normalized(vaultPath);
    if (m_state != VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    if (path.isEmpty())
        return fail(Reason::InvalidPath, vaultPath);
    const ContainerLock lock(m_containerPath);
    ContainerDocument document;
    if (const Error began = beginChange(lock, &document); !began.ok())
        return fail(began);
    if (!VaultPath::hasFile(m_index, path))
        return fail(Reason::FileNotFound, path);
    TrackedTempFile openCopy;
    const bool open = m_fileSync.find(path, &openCopy);
    // Deleting would leave the edits with no file to go back to.
    if (open && m_fileSync.isModified(openCopy.vaultPath))
        return fail(Reason::FileInUse, QStringLiteral("open copy holds edits: ") + path);

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
        return fail(Reason::Internal, QStringLiteral("index refused the removal"));
    if (!finish(saveIndexWithDocument(document, newIndex)))
        return false;
    if (open) {
        m_fileSync.untrack(openCopy.vaultPath);
        (void)WorkspaceRecord::wipeFile(openCopy.tempPath);
    }
    return true;
}

bool VaultManager::createDirectory(const QString& path)
{
    m_lastError = Error();
    const QString normalized = VaultPath::normalized(path);
    if (m_state != VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    if (normalized.isEmpty() || !VaultPath::isPortable(normalized))
        return fail(Reason::InvalidPath, path);
    const ContainerLock lock(m_containerPath);
    ContainerDocument document;
    if (const Error began = beginChange(lock, &document); !began.ok())
        return fail(began);
    if (VaultPath::hasFolder(m_index, normalized) || VaultPath::hasFile(m_index, normalized))
        return fail(Reason::AlreadyExists, normalized);

    SecureFileIndex newIndex = m_index;
    VaultPath::addMissingParents(&newIndex, normalized);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    newIndex.addDirectory(VaultDirectoryEntry{normalized, now, now});
    return finish(saveIndexWithDocument(document, newIndex));
}

bool VaultManager::renameDirectory(const QString& path, const QString& newPath)
{
    m_lastError = Error();
    const QString source = VaultPath::normalized(path);
    const QString destination = VaultPath::normalized(newPath);
    if (m_state != VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    if (source.isEmpty() || destination.isEmpty())
        return fail(Reason::InvalidPath, source.isEmpty() ? path : newPath);
    if (!VaultPath::isPortable(destination))
        return fail(Reason::InvalidPath, newPath);
    const ContainerLock lock(m_containerPath);
    ContainerDocument document;
    if (const Error began = beginChange(lock, &document); !began.ok())
        return fail(began);
    if (!VaultPath::hasFolder(m_index, source))
        return fail(Reason::FolderNotFound, source);
    if (VaultPath::isInside(destination, source))
        return fail(Reason::InvalidPath, QStringLiteral("a folder cannot move into itself"));
    if (samePath(source, destination) || VaultPath::hasFolder(m_index, destination) ||
        VaultPath::hasFile(m_index, destination))
        return fail(Reason::AlreadyExists, destination);

    const auto moved = [&](const QString& oldPath) { return destination + oldPath.mid(source.size()); };

    SecureFileIndex newIndex;
    VaultPath::addMissingParents(&newIndex, destination);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QList<VaultDirectoryEntry> directories = m_index.directories();
    for (VaultDirectoryEntry directory : directories) {
        if (samePath(directory.path, source) || VaultPath::isInside(directory.path, source)) {
            directory.path = moved(directory.path);
            directory.modifiedUtc = now;
        }
        newIndex.addDirectory(directory);
    }
    const QList<VaultFileEntry> entries = m_index.entries();
    for (VaultFileEntry entry : entries) {
        if (VaultPath::isInside(entry.vaultPath, source))
            entry.vaultPath = moved(entry.vaultPath);
        if (!newIndex.addOrReplace(entry))
            return fail(Reason::Internal, QStringLiteral("index refused an entry"));
    }
    if (!finish(saveIndexWithDocument(document, newIndex)))
        return false;
    const QList<TrackedTempFile> tracked = m_fileSync.trackedFiles();
    for (const TrackedTempFile& copy : tracked) {
        if (VaultPath::isInside(copy.vaultPath, source))
            m_fileSync.retarget(copy.vaultPath, moved(copy.vaultPath));
    }
    return true;
}

bool VaultManager::deleteDirectory(const QString& path)
{
    m_lastError = Error();
    const QString normalized = VaultPath::normalized(path);
    if (m_state != VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    if (normalized.isEmpty())
        return fail(Reason::InvalidPath, path);
    const ContainerLock lock(m_containerPath);
    ContainerDocument document;
    if (const Error began = beginChange(lock, &document); !began.ok())
        return fail(began);
    if (!VaultPath::hasFolder(m_index, normalized))
        return fail(Reason::FolderNotFound, normalized);

    const QList<VaultDirectoryEntry> directories = m_index.directories();
    for (const VaultDirectoryEntry& directory : directories) {
        if (VaultPath::isInside(directory.path, normalized))
            return fail(Reason::NotEmpty, normalized);
    }
    const QList<VaultFileEntry> entries = m_index.entries();
    for (const VaultFileEntry& entry : entries) {
        if (VaultPath::isInside(entry.vaultPath, normalized))
            return fail(Reason::NotEmpty, normalized);
    }

    SecureFileIndex newIndex = m_index;
    for (const VaultDirectoryEntry& directory : directories) {
        if (samePath(directory.path, normalized)) {
            if (!newIndex.removeDirectory(directory.path))
                return fail(Reason::Internal, QStringLiteral("index refused the removal"));
            return finish(saveIndexWithDocument(document, newIndex));
        }
    }
    return fail(Reason::FolderNotFound, normalized);
}

} // namespace Keldra::Core
