#pragma once

#include "core/format/SecureFileIndex.h"

#include <QDateTime>
#include <QIcon>
#include <QList>
#include <QString>
#include <Qt>

// What the vault browser's rows show and in which order: row kinds and the
// roles that carry them, date and type texts, item icons and the sort.
namespace Keldra::UI {

// Kind of a vault-table row, stored as an int in Qt::UserRole + 1.
enum class VaultTableItemKind { File = 0, Directory = 1, ParentDirectory = 2 };

constexpr int VaultPathRole = Qt::UserRole;
constexpr int VaultKindRole = Qt::UserRole + 1;

QString formatFileDate(const QDateTime& dateTime);
QString fileTypeLabel(const QString& path);
QIcon vaultItemIcon(VaultTableItemKind kind, const QString& path);

// By the column's value, then by name, case-insensitively. Stable: equal rows
// keep the index order in both directions.
void sortVaultRows(QList<Core::VaultFileEntry>& rows, int column, Qt::SortOrder order);
void sortVaultRows(QList<Core::VaultDirectoryEntry>& rows, int column, Qt::SortOrder order);

} // namespace Keldra::UI
