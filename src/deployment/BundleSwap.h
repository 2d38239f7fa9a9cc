#pragma once

#include "deployment/DeploymentError.h"

#include <QString>

#include <functional>

namespace Keldra::Deployment {

// Renames a directory; replaceable so tests can make one rename fail.
using DirectoryRenamer = std::function<bool(const QString& from, const QString& to)>;

// The renamer used when none is given: QDir::rename.
bool renameDirectory(const QString& from, const QString& to);

// Moves target aside to backup and replacement into target. The backup stays for the
// caller; if the replacement cannot be moved in, the backup goes back to target.
[[nodiscard]] Error replaceBundleDirectory(const QString& target, const QString& replacement,
                                           const QString& backup,
                                           const DirectoryRenamer& rename = renameDirectory);

// Deletes a directory tree; a path that does not exist counts as removed.
[[nodiscard]] Error removeDirectory(const QString& path);

} // namespace Keldra::Deployment
