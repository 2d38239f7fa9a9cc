#pragma once

#include "KeldraVersion.h"
#include "deployment/BundleSwap.h"
#include "deployment/DeploymentError.h"
#include "deployment/UpdateManifest.h"

#include <QString>
#include <QUrl>

#include <functional>

namespace Keldra::Deployment {

// Where the preparation tool looks for updates.
inline const QString kUpdateManifestUrl =
    QStringLiteral("https://" KELDRA_UPDATE_HOST "/000Updates/keldra/manifest.json");

enum class UpdateOutcome {
    Updated,   // the drive now holds the manifest's version
    UpToDate,  // nothing newer was offered
    Cancelled, // the user declined the update
    Failed,    // refused or failed; lastError() says why
};

// The steps of the bundle swap, in order; a test hook may stop the update after any.
enum class SwapStep {
    JournalWritten,
    WindowsMovedAside,
    WindowsMovedIn,
    LinuxMovedAside,
    LinuxMovedIn,
    SwapRecorded,
    StateWritten,
    WindowsBackupRemoved,
    LinuxBackupRemoved,
    StagingRemoved,
    JournalRemoved,
};

// Brings the Windows and Linux bundles of a prepared drive up to the version the update
// manifest announces: signature check, bounded download into a local temporary file,
// size and SHA-256 check, archive and free-space checks, unpack beside the bundles,
// completeness check, recorded swap with backups, state file. A swap cut short is
// finished or undone by the next run. Runs on the calling thread; the network waits
// spin local event loops. The caller presents what it reports, and a failure's
// message (DeploymentErrorText) once updateDrive has returned.
class BundleUpdater
{
public:
    struct Callbacks
    {
        std::function<void(const QString& line)> log;
        // A result the user is told about: already up to date, or updated.
        std::function<void(const QString& text)> inform;
        // The first call opens the progress display; later ones move it.
        std::function<void(int value, int maximum, const QString& label)> progress;
        // The one question: apply the offered update? Missing means "no".
        std::function<bool(const QString& title, const QString& text)> confirm;
    };

    explicit BundleUpdater(Callbacks callbacks);

    // Network limits in milliseconds (30 s for the manifest, 10 min for the package).
    void setTimeouts(int manifestMs, int packageMs);
    // Fault seam for tests: every directory rename of the swap goes through it.
    void setDirectoryRenamer(DirectoryRenamer renamer);
    // Test seams: returning false from the hook stops the update right after that step,
    // leaving the drive as a killed process would; the probe replaces the drive's free bytes.
    void setSwapStepHook(std::function<bool(SwapStep step)> hook);
    void setFreeSpaceProbe(std::function<qint64(const QString& root)> probe);
    // Replaces the "may the application be running?" check (keldraMayBeRunning when unset).
    void setRunningProbe(std::function<bool()> probe);

    // root: the mounted drive's root folder.
    [[nodiscard]] UpdateOutcome updateDrive(const QString& root, const QUrl& manifestUrl);
    // Why the last updateDrive failed; no failure after any other outcome.
    const Error& lastError() const { return m_lastError; }

    // The version recorded in the drive's state file, or empty when there is none.
    static QString installedVersion(const QString& root);
    // True unless pgrep positively reports that no process named Keldra is running.
    static bool keldraMayBeRunning();
    // The same check for any process name (pgrep -x).
    static bool processMayBeRunning(const QString& name);

private:
    void log(const QString& line) const;
    void inform(const QString& text) const;
    void setProgress(int value, const QString& label = QString());
    [[nodiscard]] UpdateOutcome fail(const Error& error);
    [[nodiscard]] Error recoverDrive(const QString& root);
    [[nodiscard]] Error applyBundles(const QString& root, const QString& staging,
                                     const UpdateManifest& manifest) const;

    Callbacks m_callbacks;
    DirectoryRenamer m_rename = renameDirectory;
    std::function<bool(SwapStep)> m_stepHook;
    std::function<qint64(const QString&)> m_freeSpace;
    std::function<bool()> m_running;
    int m_manifestTimeoutMs = 30000;
    int m_packageTimeoutMs = 600000;
    QString m_progressLabel;
    Error m_lastError;
};

} // namespace Keldra::Deployment
