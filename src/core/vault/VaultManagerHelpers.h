#pragma once

// Helpers shared by the VaultManager sources; keldra-cli uses the path rules
// to tell "not found" from other refusals. Not part of the vault API.

#include "format/SecureFileIndex.h"

#include <QByteArray>
#include <QString>

namespace Keldra::Core::detail {

// Canonical vault path, or an empty string when the path is refused
// (empty, ".", ".." or blank components).
QString normalizedVaultPath(const QString& path);
// Case-insensitive; a folder is not inside itself.
bool pathIsInsideDirectory(const QString& path, const QString& directory);
bool indexContainsFilePath(const SecureFileIndex& index, const QString& path);
bool indexContainsDirectoryPath(const SecureFileIndex& index, const QString& path);
// Adds the missing ancestor folders of path, stamped with the current time.
void ensureParentDirectories(SecureFileIndex* index, const QString& path);
// Last component of a normalised path.
QString lastPathComponent(const QString& path);

} // namespace Keldra::Core::detail
