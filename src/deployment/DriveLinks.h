#pragma once

#include "deployment/DeploymentError.h"

#include <QString>

namespace Keldra::Deployment {

// Removes every symbolic link among what preparation writes on a drive: the Keldra
// folder and everything below it, and the two launchers at the root. The copy then
// creates real files instead of writing through a link to wherever it points.
[[nodiscard]] Error removeBundleLinks(const QString& usbRoot);

} // namespace Keldra::Deployment
