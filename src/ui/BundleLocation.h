#pragma once

#include <QString>

namespace Keldra::UI {

// Where a portable copy of the program keeps what it loads. On a drive the
// program runs through the bundle's own loader, which is then the process
// image (in a temporary folder), so the program's own path comes from argv[0].
class BundleLocation
{
public:
    // The bundle's Qt plug-in folder when programPath (argv[0]) lies in a
    // portable bundle; empty otherwise (a build tree or an installed copy).
    static QString pluginDirectory(const QString& programPath);
    // The bundle's folder of Qt translations, on the same terms.
    static QString translationDirectory(const QString& programPath);
};

} // namespace Keldra::UI
