#pragma once

#include "format/SecureFileIndex.h"

#include <QDateTime>
#include <QIcon>
#include <QList>
#include <QString>
#include <Qt>

// Small helpers shared by the main window's sources: vault-path arithmetic,
// name checks, formatting, type labels, item icons and the browser's sort.
namespace Keldra::UI {

// Kind of a vault-table row, stored as an int in Qt::UserRole + 1.
enum class VaultTableItemKind { File = 0, Directory = 1, ParentDirectory = 2 };

constexpr int VaultPathRole = Qt::UserRole;
constexpr int VaultKindRole = Qt::UserRole + 1;

QString formatFileSize(qint64 bytes);
QString formatFileDate(const QDateTime& dateTime);
QString fileTypeLabel(const QString& path);
QIcon vaultItemIcon(VaultTableItemKind kind, const QString& path);

QString parentVaultPath(const QString& path);
QString vaultBaseName(const QString& path);
// For file-system directories: "/media/u/USB" and "/media/u/USB/" both give
// "/media/u/USB/", so prefix tests cannot match "/media/u/USB10".
QString normalizeDirectoryPath(QString path);
// For vault paths: empty when the path is rejected.
QString normalizedVaultPath(QString path);
QString joinVaultPath(const QString& directory, const QString& name);
bool isValidVaultName(const QString& name);

bool fileIndexContainsFilePath(const Core::SecureFileIndex& index, const QString& path);
bool fileIndexContainsDirectoryPath(const Core::SecureFileIndex& index, const QString& path);

// Negative, zero or positive, like QString::compare.
int compareFileRows(const Core::VaultFileEntry& a, const Core::VaultFileEntry& b, int column);
int compareDirectoryRows(const Core::VaultDirectoryEntry& a, const Core::VaultDirectoryEntry& b,
                         int column);
// Stable: equal rows keep the index order in both directions.
void sortVaultRows(QList<Core::VaultFileEntry>& rows, int column, Qt::SortOrder order);
void sortVaultRows(QList<Core::VaultDirectoryEntry>& rows, int column, Qt::SortOrder order);

} // namespace Keldra::UI
