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

    // Takes the names; they are folded and put in order (folders before
    // files, each by name) once, at the first search after, so a keystroke
    // only compares and a folder shown without searching pays nothing for
    // it. Null clears.
    void setIndex(const Core::SecureFileIndex* index);
    void clear()
    {
        m_items.clear();
        m_prepared = true;
    }
    qsizetype size() const { return m_items.size(); }

    // The items whose name holds the folded query, in the order above; every
    // item has to be compared anyway, so the count is exact even when only
    // the first `limit` are returned (negative = all). A blank query finds
    // nothing.
    QList<Item> find(const QString& query, qsizetype limit = -1, qsizetype* total = nullptr) const;

private:
    void prepare() const;

    // Filled by setIndex, folded and sorted by prepare().
    mutable QList<Item> m_items;
    mutable bool m_prepared = true;
};

} // namespace Keldra::UI
