#pragma once

#include <QString>

namespace Keldra::Deployment {

// Where the bundles copied onto a drive come from. An empty executable means
// that bundle is skipped; an empty directory means the executable's own folder.
struct PortableBundleOptions
{
    QString windowsExecutable;
    QString windowsSourceDirectory;
    QString linuxExecutable;
    QString linuxSourceDirectory;
};

} // namespace Keldra::Deployment
