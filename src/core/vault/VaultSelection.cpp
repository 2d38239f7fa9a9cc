#include "vault/VaultSelection.h"

#include "vault/VaultPath.h"

#include <QSet>

namespace Keldra::Core {

QHash<QString, QString> VaultSelection::knownFolders(const SecureFileIndex& index)
{
    QHash<QString, QString> folders;
    const QList<VaultDirectoryEntry> directories = index.directories();
    for (const VaultDirectoryEntry& directory : directories)
        folders.insert(directory.path.toCaseFolded(), directory.path);
    const QList<VaultFileEntry> entries = index.entries();
    for (const VaultFileEntry& entry : entries) {
        for (QString folder = VaultPath::parent(entry.vaultPath); !folder.isEmpty();
             folder = VaultPath::parent(folder)) {
            if (folders.contains(folder.toCaseFolded()))
                break;
            folders.insert(folder.toCaseFolded(), folder);
        }
    }
    return folders;
}

VaultSelection VaultSelection::of(const SecureFileIndex& index, const QStringList& normalizedPaths)
{
    VaultSelection selection;
    const QHash<QString, QString> folders = knownFolders(index);
    QList<Item> found;
    for (const QString& path : normalizedPaths) {
        if (const VaultFileEntry* file = VaultPath::findFile(index, path)) {
            found.append({file->vaultPath, false});
            continue;
        }
        const auto folder = folders.constFind(path.toCaseFolded());
        if (folder == folders.constEnd()) {
            selection.m_error = Error(Error::Reason::FileNotFound, path);
            return selection;
        }
        found.append({*folder, true});
    }
    QSet<QString> seen;
    for (const Item& item : std::as_const(found)) {
        if (seen.contains(item.path.toCaseFolded()))
            continue;
        bool inside = false;
        for (const Item& other : std::as_const(found))
            inside = inside || (other.folder && VaultPath::isInside(item.path, other.path));
        if (inside)
            continue;
        seen.insert(item.path.toCaseFolded());
        selection.m_items.append(item);
    }
    return selection;
}

bool VaultSelection::covers(const QString& path) const
{
    for (const Item& item : m_items) {
        if (QString::compare(item.path, path, Qt::CaseInsensitive) == 0 ||
            (item.folder && VaultPath::isInside(path, item.path)))
            return true;
    }
    return false;
}

} // namespace Keldra::Core
