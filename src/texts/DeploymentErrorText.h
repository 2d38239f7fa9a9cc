#pragma once

#include "deployment/DeploymentError.h"

#include <QString>

namespace Keldra::Texts {

// The one table from a deployment failure to the Portuguese message users see,
// shared by KeldraConfig and keldra-cli. A reason that wraps an inner failure
// ends its message with the inner one's.
class DeploymentErrorText
{
public:
    // Empty for no failure.
    static QString message(const Deployment::Error& error);
    // What both programs say once a drive is prepared.
    static QString drivePrepared();

    // How a failed drive update is shown: a notice, a warning, a warning that
    // the log keeps too (failures about the manifest, the download, the package
    // and the swap), or nothing (an update stopped mid-swap, which the next run
    // completes or undoes).
    enum class Presentation { Notice, Warning, LoggedWarning, Silent };
    static Presentation presentation(const Deployment::Error& error);
};

} // namespace Keldra::Texts
