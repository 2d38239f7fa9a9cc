#pragma once

#include <QString>

namespace Keldra::Deployment {

// Where a runtime bundle to be copied was found; available when executablePath is set.
struct BundleSource
{
    QString executablePath;
    QString directory;

    bool isAvailable() const { return !executablePath.isEmpty(); }
};

// Finds the vault application's builds next to the tool (toolDirectory, tried
// first) or in the developers' build tree (buildTreeDirectory, tried only when
// nothing is next to the tool).
class BundleSourceLocator
{
public:
    // The fixed build-tree directory the tool falls back to.
    static QString defaultBuildTreeDirectory();

    static BundleSource locateWindowsSource(const QString& toolDirectory, const QString& buildTreeDirectory);
    static BundleSource locateLinuxSource(const QString& toolDirectory, const QString& buildTreeDirectory);
};

} // namespace Keldra::Deployment
