#pragma once

#include <QString>

namespace Keldra::Deployment {

// Outcome of a bundle operation; every failing step overwrites message with
// its own text, so the caller shows the reason of the step that stopped.
struct PortableBundleResult
{
    bool success = false;
    QString message;
};

} // namespace Keldra::Deployment
