// Tree operations: move, rename and delete files, create, rename and delete
// folders. They rewrite only the encrypted index; payload blocks stay put.

#include "vault/VaultChange.h"
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
    const QString source = VaultPath::normalized(vaultPath);
    const QString target = VaultPath::normalized(targetDirectory);
    // Slashes alone mean the root; a target such as ".." is refused rather
    // than taken as the root.
    QString rawTarget = targetDirectory;
    rawTarget.remove(QLatin1Char('/')).remove(QLatin1Char('\\'));
    Error refusal;
    if (source.isEmpty())
        refusal = Error(Reason::InvalidPath, vaultPath);
    else if (target.isEmpty() && !rawTarget.trimmed().isEmpty())
        refusal = Error(Reason::InvalidPath, targetDirectory);
    VaultChange change(*this, refusal);
    if (!change.ok())
        return fail(change.error());
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
    return storeFileAt(change, source, destination);
}

bool VaultManager::renameFile(const QString& vaultPath, const QString& newVaultPath)
{
    const QString source = VaultPath::normalized(vaultPath);
    const QString destination = VaultPath::normalized(newVaultPath);
    Error refusal;
    if (source.isEmpty() || destination.isEmpty())
        refusal = Error(Reason::InvalidPath, source.isEmpty() ? vaultPath : newVaultPath);
    // A name made elsewhere may be one Windows cannot hold; renaming it away is how it is fixed.
    else if (!VaultPath::isPortable(destination))
        refusal = Error(Reason::InvalidPath, newVaultPath);
    VaultChange change(*this, refusal);
    if (!change.ok())
        return fail(change.error());
    if (!VaultPath::hasFile(m_index, source))
        return fail(Reason::FileNotFound, source);
    // A change of letter case alone is refused: the new name is taken, by the file itself.
    return storeFileAt(change, source, destination);
}

bool VaultManager::storeFileAt(VaultChange& change, const QString& source, const QString& destination)
{
    if (samePath(source, destination) || VaultPath::hasFile(m_index, destination) ||
        VaultPath::hasFolder(m_index, destination))
        return fail(Reason::AlreadyExists, destination);
    change.index() = withFileRenamed(m_index, source, destination);
    if (!finish(change.commit()))
        return false;
    // An open copy goes with its file, so lock stores it under the new path.
    m_fileSync.retarget(source, destination);
    return true;
}

bool VaultManager::deleteFile(const QString& vaultPath)
{
    const QString path = VaultPath::normalized(vaultPath);
    VaultChange change(*this, path.isEmpty() ? Error(Reason::InvalidPath, vaultPath) : Error());
    if (!change.ok())
        return fail(change.error());
    if (!VaultPath::hasFile(m_index, path))
        return fail(Reason::FileNotFound, path);
    TrackedTempFile openCopy;
    const bool open = m_fileSync.find(path, &openCopy);
    // Deleting would leave the edits with no file to go back to.
    if (open && m_fileSync.isModified(openCopy.vaultPath))
        return fail(Reason::FileInUse, QStringLiteral("open copy holds edits: ") + path);

    const QList<VaultFileEntry> entries = m_index.entries();
    bool removed = false;
    for (const VaultFileEntry& entry : entries) {
        if (samePath(entry.vaultPath, path)) {
            removed = change.index().remove(entry.vaultPath);
            break;
        }
    }
    if (!removed)
        return fail(Reason::Internal, QStringLiteral("index refused the removal"));
    if (!finish(change.commit()))
        return false;
    if (open) {
        m_fileSync.untrack(openCopy.vaultPath);
        (void)WorkspaceRecord::wipeFile(openCopy.tempPath);
    }
    return true;
}

bool VaultManager::createDirectory(const QString& path)
{
    const QString normalized = VaultPath::normalized(path);
    VaultChange change(*this, normalized.isEmpty() || !VaultPath::isPortable(normalized)
                                  ? Error(Reason::InvalidPath, path)
                                  : Error());
    if (!change.ok())
        return fail(change.error());
    if (VaultPath::hasFolder(m_index, normalized) || VaultPath::hasFile(m_index, normalized))
        return fail(Reason::AlreadyExists, normalized);

    VaultPath::addMissingParents(&change.index(), normalized);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    change.index().addDirectory(VaultDirectoryEntry{normalized, now, now});
    return finish(change.commit());
}

bool VaultManager::renameDirectory(const QString& path, const QString& newPath)
{
    const QString source = VaultPath::normalized(path);
    const QString destination = VaultPath::normalized(newPath);
    Error refusal;
    if (source.isEmpty() || destination.isEmpty())
        refusal = Error(Reason::InvalidPath, source.isEmpty() ? path : newPath);
    else if (!VaultPath::isPortable(destination))
        refusal = Error(Reason::InvalidPath, newPath);
    VaultChange change(*this, refusal);
    if (!change.ok())
        return fail(change.error());
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
    change.index() = newIndex;
    if (!finish(change.commit()))
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
    const QString normalized = VaultPath::normalized(path);
    VaultChange change(*this, normalized.isEmpty() ? Error(Reason::InvalidPath, path) : Error());
    if (!change.ok())
        return fail(change.error());
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

    for (const VaultDirectoryEntry& directory : directories) {
        if (samePath(directory.path, normalized)) {
            if (!change.index().removeDirectory(directory.path))
                return fail(Reason::Internal, QStringLiteral("index refused the removal"));
            return finish(change.commit());
        }
    }
    return fail(Reason::FolderNotFound, normalized);
}

} // namespace Keldra::Core
