#pragma once

#include <QString>

namespace Keldra::Deployment {

// Version of the preparation tool; recorded on every drive it prepares or updates.
QString configToolVersion();

// The drive's record of the installed bundle version: <root>/Keldra/update-state.json.
QString updateStatePath(const QString& root);

// Writes the state file atomically; packageSha256 is stored only when not empty.
// On failure error receives the Portuguese reason and an earlier file stays intact.
[[nodiscard]] bool writeUpdateState(const QString& root, const QString& installedVersion,
                                    const QString& packageSha256, QString* error);

} // namespace Keldra::Deployment
