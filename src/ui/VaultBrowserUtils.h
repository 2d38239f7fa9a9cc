#pragma once

#include "format/SecureFileIndex.h"

#include <QString>

// Small helpers shared by the main window's sources: vault-path arithmetic,
// name checks and the size format.
namespace Keldra::UI {

QString formatFileSize(qint64 bytes);

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

} // namespace Keldra::UI
