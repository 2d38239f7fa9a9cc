#pragma once

#include "core/format/SecureFileIndex.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace Keldra::UI {

// Finding files and folders by name across the whole vault. Names are
// compared folded: without accents and letter case, so "acao" finds "Ação".
// Qt Core only, so it is tested without widgets.
class VaultSearch
{
public:
    struct Item
    {
        QString path;
        bool isDirectory = false;
        qint64 sizeBytes = 0;
        QDateTime modifiedUtc;
        QString foldedName; // of the last path component
    };

    // Decomposes, drops the combining marks and folds the case.
    static QString fold(const QString& text);

    // Folds every name once, here, so a keystroke only compares; keeps
    // folders before files, each in name order. Null clears.
    void setIndex(const Core::SecureFileIndex* index);
    void clear() { m_items.clear(); }
    qsizetype size() const { return m_items.size(); }

    // The items whose name holds the folded query, in the order above; every
    // item has to be compared anyway, so the count is exact even when only
    // the first `limit` are returned (negative = all). A blank query finds
    // nothing.
    QList<Item> find(const QString& query, qsizetype limit = -1, qsizetype* total = nullptr) const;

private:
    QList<Item> m_items;
};

} // namespace Keldra::UI
