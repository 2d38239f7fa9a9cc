#pragma once

#include "deployment/DeploymentError.h"
#include "deployment/PortableBundleOptions.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace Keldra::Deployment {

// Copies the vault application's Windows and Linux bundles onto a drive, with
// the libraries and Qt plug-ins the Linux build needs, plus launchers and a
// README. Stateless: every operation is const and reports the failure of the
// step that stopped it.
class PortableBundleManager
{
public:
    using ProgressCallback = std::function<void(int step, int total, const QString& text)>;

    // The whole preparation; progress may be empty. Steps 0,1,2,3,5,6,7 of 7.
    [[nodiscard]] Error preparePortableBundle(const QString& usbRoot, const PortableBundleOptions& options,
                                              const ProgressCallback& progress) const;

    [[nodiscard]] Error ensureDirectory(const QString& path) const;
    [[nodiscard]] Error copyFileReplacing(const QString& source, const QString& destination) const;
    [[nodiscard]] Error copyExecutable(const QString& source, const QString& targetDirectory,
                                       QString* copiedPath) const;
    [[nodiscard]] Error copyDirectoryContents(const QString& source, const QString& target) const;
    [[nodiscard]] Error copyAdjacentRuntimeLibraries(const QString& targetDirectory,
                                                     const QString& sourceDirectory) const;
    [[nodiscard]] Error deployLinuxRuntime(const QString& executable) const;
    // Absolute paths `ldd` reports for path (no order, no duplicates); empty when ldd fails.
    [[nodiscard]] QStringList linuxLibraryDependencies(const QString& path) const;
    [[nodiscard]] Error copyLinuxLibraryDependencies(const QString& path, const QString& libDirectory) const;
    [[nodiscard]] Error copyLinuxTlsLibraries(const QString& libDirectory) const;
    [[nodiscard]] Error copyQtLinuxPlugins(const QString& pluginsDirectory) const;
    [[nodiscard]] Error writeTextFile(const QString& path, const QString& text) const;

    // Size estimate and fit check, run before anything is copied.
    [[nodiscard]] qint64 fileSize(const QString& path) const;
    [[nodiscard]] qint64 directorySize(const QString& path) const;
    [[nodiscard]] qint64 estimateWindowsBundleSize(const PortableBundleOptions& options) const;
    [[nodiscard]] qint64 estimateLinuxBundleSize(const PortableBundleOptions& options) const;
    [[nodiscard]] Error validateBundleFitsUsb(const QString& usbRoot, const QString& bundleFolder,
                                              const PortableBundleOptions& options) const;

    // The version file the build writes beside the program; copied with it.
    static QString versionFileName();

    // Texts written at the drive root and in the bundle folder.
    static QString windowsLauncherText();
    static QString linuxLauncherText();
    static QString readmeText();
};

} // namespace Keldra::Deployment
