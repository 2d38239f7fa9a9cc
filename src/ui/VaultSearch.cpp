#include "ui/VaultSearch.h"

#include "core/vault/VaultPath.h"

#include <algorithm>

namespace Keldra::UI {

using Core::VaultPath;

QString VaultSearch::fold(const QString& text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString bare;
    bare.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        const QChar::Category category = c.category();
        if (category != QChar::Mark_NonSpacing && category != QChar::Mark_SpacingCombining &&
            category != QChar::Mark_Enclosing)
            bare.append(c);
    }
    return bare.toCaseFolded();
}

void VaultSearch::setIndex(const Core::SecureFileIndex* index)
{
    m_items.clear();
    if (!index)
        return;
    const QList<Core::VaultDirectoryEntry> folders = index->directories();
    const QList<Core::VaultFileEntry> files = index->entries();
    m_items.reserve(folders.size() + files.size());
    for (const Core::VaultDirectoryEntry& folder : folders)
        m_items.append({folder.path, true, 0, folder.modifiedUtc, QString()});
    for (const Core::VaultFileEntry& file : files)
        m_items.append({file.vaultPath, false, file.sizeBytes, file.lastModifiedUtc, QString()});
    m_prepared = false;
}

void VaultSearch::prepare() const
{
    if (m_prepared)
        return;
    m_prepared = true;
    for (Item& item : m_items)
        item.foldedName = fold(VaultPath::baseName(item.path));
    // Sorted here, once: the folded names give a case- and accent-blind
    // order; the path keeps equal names (same name in two folders) in a
    // fixed order.
    std::stable_sort(m_items.begin(), m_items.end(), [](const Item& a, const Item& b) {
        if (a.isDirectory != b.isDirectory)
            return a.isDirectory;
        const int byName = a.foldedName.compare(b.foldedName);
        return byName != 0 ? byName < 0 : a.path.compare(b.path, Qt::CaseInsensitive) < 0;
    });
}

QList<VaultSearch::Item> VaultSearch::find(const QString& query, qsizetype limit, qsizetype* total) const
{
    QList<Item> found;
    qsizetype count = 0;
    const QString needle = fold(query.trimmed());
    if (!needle.isEmpty()) {
        prepare();
        for (const Item& item : m_items) {
            if (!item.foldedName.contains(needle))
                continue;
            if (limit < 0 || count < limit)
                found.append(item);
            ++count;
        }
    }
    if (total)
        *total = count;
    return found;
}

} // namespace Keldra::UI
