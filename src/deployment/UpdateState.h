#pragma once

#include "deployment/DeploymentError.h"

#include <QString>

namespace Keldra::Deployment {

// Version of the preparation tool; recorded on every drive it prepares or updates.
QString configToolVersion();

// Version of the bundles copied onto the drive, from the version file beside
// the Linux program (else the Windows one); "0.0.0" when neither says, so any
// published update is offered.
QString copiedBundleVersion(const QString& root);

// The drive's record of the installed bundle version: <root>/Keldra/update-state.json.
QString updateStatePath(const QString& root);

// Writes the state file atomically; packageSha256 is stored only when not empty.
// On failure an earlier file stays intact.
[[nodiscard]] Error writeUpdateState(const QString& root, const QString& installedVersion,
                                     const QString& packageSha256);

} // namespace Keldra::Deployment
