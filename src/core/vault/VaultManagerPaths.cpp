// Tree changes of a whole selection: delete or move many files and folders
// with one change and one header rewrite, all or nothing.

#include "vault/VaultChange.h"
#include "vault/VaultManager.h"
#include "vault/VaultPath.h"
#include "vault/VaultSelection.h"
#include "vault/WorkspaceRecord.h"

#include <QDateTime>
#include <QHash>
#include <QSet>

namespace Keldra::Core {

namespace {

using Reason = Error::Reason;

QString folded(const QString& path)
{
    return path.toCaseFolded();
}

// Normalised forms of the caller's paths; InvalidPath names the first refused.
Error normalizeAll(const QStringList& paths, QStringList* out)
{
    for (const QString& path : paths) {
        const QString normalized = VaultPath::normalized(path);
        if (normalized.isEmpty())
            return Error(Reason::InvalidPath, path);
        out->append(normalized);
    }
    return Error();
}

} // namespace

bool VaultManager::deletePaths(const QStringList& vaultPaths)
{
    QStringList paths;
    const Error refusal = normalizeAll(vaultPaths, &paths);
    VaultChange change(*this, refusal);
    if (!change.ok())
        return fail(change.error());
    const VaultSelection selection = VaultSelection::of(m_index, paths);
    if (!selection.error().ok())
        return fail(selection.error());
    if (selection.items().isEmpty())
        return true;

    // Deleting would leave the edits with no file to go back to: nothing is
    // deleted then, not even the other items.
    QList<TrackedTempFile> openCopies;
    const QList<TrackedTempFile> tracked = m_fileSync.trackedFiles();
    for (const TrackedTempFile& copy : tracked) {
        if (!selection.covers(copy.vaultPath))
            continue;
        if (m_fileSync.isModified(copy.vaultPath))
            return fail(Reason::FileInUse, QStringLiteral("open copy holds edits: ") + copy.vaultPath);
        openCopies.append(copy);
    }

    SecureFileIndex newIndex;
    const QList<VaultDirectoryEntry> directories = m_index.directories();
    for (const VaultDirectoryEntry& directory : directories) {
        if (!selection.covers(directory.path))
            newIndex.addDirectory(directory);
    }
    const QList<VaultFileEntry> entries = m_index.entries();
    for (const VaultFileEntry& entry : entries) {
        if (!selection.covers(entry.vaultPath) && !newIndex.addOrReplace(entry))
            return fail(Reason::Internal, QStringLiteral("index refused an entry"));
    }
    change.index() = newIndex;
    if (!finish(change.commit()))
        return false;
    for (const TrackedTempFile& copy : std::as_const(openCopies)) {
        m_fileSync.untrack(copy.vaultPath);
        (void)WorkspaceRecord::wipeFile(copy.tempPath);
    }
    return true;
}

bool VaultManager::movePaths(const QStringList& vaultPaths, const QString& targetDirectory)
{
    QStringList paths;
    Error refusal = normalizeAll(vaultPaths, &paths);
    const QString target = VaultPath::normalized(targetDirectory);
    // Slashes alone mean the root; a target such as ".." is refused rather
    // than taken as the root.
    QString rawTarget = targetDirectory;
    rawTarget.remove(QLatin1Char('/')).remove(QLatin1Char('\\'));
    if (refusal.ok() && target.isEmpty() && !rawTarget.trimmed().isEmpty())
        refusal = Error(Reason::InvalidPath, targetDirectory);
    VaultChange change(*this, refusal);
    if (!change.ok())
        return fail(change.error());
    const VaultSelection selection = VaultSelection::of(m_index, paths);
    if (!selection.error().ok())
        return fail(selection.error());
    const QHash<QString, QString> folders = VaultSelection::knownFolders(m_index);
    if (!target.isEmpty() && !folders.contains(folded(target)))
        return fail(Reason::FolderNotFound, target);
    if (selection.items().isEmpty())
        return true;
    // The target folder keeps its stored spelling.
    const QString storedTarget = target.isEmpty() ? QString() : folders.value(folded(target));

    // Where each selected item goes; folded keys of every path taken now and after.
    QHash<QString, QString> movedTo;
    QSet<QString> destinations;
    for (const VaultSelection::Item& item : selection.items()) {
        if (item.folder && (QString::compare(item.path, storedTarget, Qt::CaseInsensitive) == 0 ||
                            VaultPath::isInside(storedTarget, item.path)))
            return fail(Reason::InvalidPath, QStringLiteral("a folder cannot move into itself"));
        const QString name = VaultPath::baseName(item.path);
        const QString destination = storedTarget.isEmpty() ? name : storedTarget + QLatin1Char('/') + name;
        if (!VaultPath::isPortable(destination))
            return fail(Reason::InvalidPath, destination);
        // Into its own folder an item clashes with itself; two items of one
        // name clash with each other.
        if (VaultPath::hasFile(m_index, destination) || folders.contains(folded(destination)) ||
            destinations.contains(folded(destination)))
            return fail(Reason::AlreadyExists, destination);
        destinations.insert(folded(destination));
        movedTo.insert(folded(item.path), destination);
    }
    // The new path of a path the selection covers; empty when it stays.
    const auto newPath = [&](const QString& path) {
        for (const VaultSelection::Item& item : selection.items()) {
            if (QString::compare(item.path, path, Qt::CaseInsensitive) == 0)
                return movedTo.value(folded(item.path));
            if (item.folder && VaultPath::isInside(path, item.path))
                return movedTo.value(folded(item.path)) + path.mid(item.path.size());
        }
        return QString();
    };

    SecureFileIndex newIndex;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QList<VaultDirectoryEntry> directories = m_index.directories();
    for (VaultDirectoryEntry directory : directories) {
        if (const QString moved = newPath(directory.path); !moved.isEmpty()) {
            directory.path = moved;
            directory.modifiedUtc = now;
        }
        newIndex.addDirectory(directory);
    }
    const QList<VaultFileEntry> entries = m_index.entries();
    for (VaultFileEntry entry : entries) {
        if (const QString moved = newPath(entry.vaultPath); !moved.isEmpty())
            entry.vaultPath = moved;
        if (!newIndex.addOrReplace(entry))
            return fail(Reason::Internal, QStringLiteral("index refused an entry"));
    }
    change.index() = newIndex;
    if (!finish(change.commit()))
        return false;
    // An open copy goes with its file, so lock stores it under the new path.
    const QList<TrackedTempFile> tracked = m_fileSync.trackedFiles();
    for (const TrackedTempFile& copy : tracked) {
        if (const QString moved = newPath(copy.vaultPath); !moved.isEmpty())
            m_fileSync.retarget(copy.vaultPath, moved);
    }
    return true;
}

} // namespace Keldra::Core
