#pragma once

#include "PortableBundleOptions.h"
#include "PortableBundleResult.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace Keldra::Deployment {

// Copies the vault application's Windows and Linux bundles onto a drive, with
// the libraries and Qt plug-ins the Linux build needs, plus launchers and a
// README. Stateless: every operation is const and reports through
// PortableBundleResult::message (unaccented texts).
class PortableBundleManager
{
public:
    using ProgressCallback = std::function<void(int step, int total, const QString& text)>;

    // The whole preparation; progress may be empty. Steps 0,1,2,3,5,6,7 of 7.
    [[nodiscard]] PortableBundleResult preparePortableBundle(const QString& usbRoot,
                                                             const PortableBundleOptions& options,
                                                             const ProgressCallback& progress) const;

    [[nodiscard]] bool ensureDirectory(const QString& path, PortableBundleResult* result) const;
    [[nodiscard]] bool copyFileReplacing(const QString& source, const QString& destination,
                                         PortableBundleResult* result) const;
    [[nodiscard]] bool copyExecutable(const QString& source, const QString& targetDirectory,
                                      QString* copiedPath, PortableBundleResult* result) const;
    [[nodiscard]] bool copyDirectoryContents(const QString& source, const QString& target,
                                             PortableBundleResult* result) const;
    [[nodiscard]] bool copyAdjacentRuntimeLibraries(const QString& targetDirectory,
                                                    const QString& sourceDirectory,
                                                    PortableBundleResult* result) const;
    [[nodiscard]] bool deployLinuxRuntime(const QString& executable, PortableBundleResult* result) const;
    // Absolute paths `ldd` reports for path (no order, no duplicates); empty when ldd fails.
    [[nodiscard]] QStringList linuxLibraryDependencies(const QString& path) const;
    [[nodiscard]] bool copyLinuxLibraryDependencies(const QString& path, const QString& libDirectory,
                                                    PortableBundleResult* result) const;
    [[nodiscard]] bool copyLinuxTlsLibraries(const QString& libDirectory, PortableBundleResult* result) const;
    [[nodiscard]] bool copyQtLinuxPlugins(const QString& pluginsDirectory,
                                          PortableBundleResult* result) const;
    [[nodiscard]] bool writeTextFile(const QString& path, const QString& text,
                                     PortableBundleResult* result) const;

    // Size estimate and fit check, run before anything is copied.
    [[nodiscard]] qint64 fileSize(const QString& path) const;
    [[nodiscard]] qint64 directorySize(const QString& path) const;
    [[nodiscard]] qint64 estimateWindowsBundleSize(const PortableBundleOptions& options) const;
    [[nodiscard]] qint64 estimateLinuxBundleSize(const PortableBundleOptions& options) const;
    [[nodiscard]] bool validateBundleFitsUsb(const QString& usbRoot, const QString& bundleFolder,
                                             const PortableBundleOptions& options,
                                             PortableBundleResult* result) const;

    // The version file the build writes beside the program; copied with it.
    static QString versionFileName();

    // Texts written at the drive root and in the bundle folder.
    static QString windowsLauncherText();
    static QString linuxLauncherText();
    static QString readmeText();
};

} // namespace Keldra::Deployment
