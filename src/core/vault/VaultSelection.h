#pragma once

#include "Error.h"
#include "format/SecureFileIndex.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace Keldra::Core {

// What a selection of vault paths names in the index: each item with its
// stored spelling and whether it is a folder. An item inside another
// selected folder goes with that folder and is dropped; so is a repeat.
class VaultSelection
{
public:
    struct Item
    {
        QString path; // stored spelling
        bool folder = false;
    };

    // From normalised paths; error() is FileNotFound for the first one the
    // index holds neither as a file nor as a folder.
    static VaultSelection of(const SecureFileIndex& index, const QStringList& normalizedPaths);
    // The folders an index knows: its folder records and every ancestor of a
    // file (a vault made elsewhere may hold files without records of their
    // folders). Keys are case-folded; values the stored spelling.
    static QHash<QString, QString> knownFolders(const SecureFileIndex& index);

    const QList<Item>& items() const { return m_items; }
    const Error& error() const { return m_error; }
    // Whether `path` is one of the items or inside a selected folder (any letter case).
    bool covers(const QString& path) const;

private:
    QList<Item> m_items;
    Error m_error;
};

} // namespace Keldra::Core
