#pragma once

#include "deployment/DeploymentError.h"
#include "deployment/PortableBundleOptions.h"

#include <QString>
#include <QStringList>

#include <functional>

class QSaveFile;

namespace Keldra::Deployment {

// What a preparation reports while it copies, and how it is asked to stop; both
// are called on the thread that runs the preparation.
struct PreparationMonitor
{
    // After each file copied or found identical already: the files and bytes so far.
    std::function<void(qint64 files, qint64 bytes)> copied;
    // Polled between steps, files and chunks. Once it answers true the preparation
    // stops, puts back what it changed and returns PreparationCancelled.
    std::function<bool()> cancelRequested;
};

// Copies the vault application's Windows and Linux bundles onto a drive, with
// the libraries and Qt plug-ins the Linux build needs, plus launchers and a
// README. Every operation is const and reports the failure of the step that
// stopped it. A preparation records what it creates and replaces, so a cancelled
// one leaves the drive as it found it.
class PortableBundleManager
{
public:
    using ProgressCallback = std::function<void(int step, int total, const QString& text)>;

    PortableBundleManager();
    explicit PortableBundleManager(PreparationMonitor monitor);

    // The whole preparation; progress may be empty. Steps 0 to 7 of 7; the
    // Windows steps (2 and 5) and the Linux one (3) only for a bundle given.
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
    // Removes a file an earlier preparation left; kept aside while a preparation may still be undone.
    [[nodiscard]] Error removeFile(const QString& path) const;

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
    static QString readmeText(bool windows = true, bool linux = true);
    // "Preparado para: Linux e Windows" and the like; empty for neither.
    static QString preparedForText(bool windows, bool linux);

private:
    class Changes;

    [[nodiscard]] Error copyBundles(const QString& usbRoot, const PortableBundleOptions& options,
                                    const ProgressCallback& progress) const;
    bool cancelRequested() const;
    // Before path is replaced or removed: moves it aside, or notes that it is new.
    [[nodiscard]] Error keepForUndo(const QString& path, bool* setAside) const;
    void noteCreated(const QString& path) const;
    // Commits file under path, setting aside what path held until the preparation ends.
    [[nodiscard]] Error commitForUndo(QSaveFile& file, const QString& path) const;
    void noteCopied(qint64 bytes) const;

    PreparationMonitor m_monitor;
    // Set only on the copy that runs a preparation.
    Changes* m_changes = nullptr;
};

} // namespace Keldra::Deployment
