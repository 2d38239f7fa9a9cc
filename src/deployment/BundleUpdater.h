#pragma once

#include "BundleSwap.h"
#include "UpdateManifest.h"

#include <QString>
#include <QUrl>

#include <functional>

namespace Keldra::Deployment {

// Where the preparation tool looks for updates.
inline const QString kUpdateManifestUrl =
    QStringLiteral("https://atualizacoes.keldra.com.br/000Updates/keldra/manifest.json");

enum class UpdateOutcome {
    Updated,   // the drive now holds the manifest's version
    UpToDate,  // nothing newer was offered
    Cancelled, // the user declined the update
    Failed,    // refused or failed; the reason went to the callbacks
};

// Brings the Windows and Linux bundles of a prepared drive up to the version the update
// manifest announces: download, size and SHA-256 check, unpack beside the bundles,
// completeness check, swap with backups, state file. Runs on the calling thread; the
// network waits spin local event loops. The caller presents what it reports.
class BundleUpdater
{
public:
    enum class MessageKind { Information, Warning };

    struct Callbacks
    {
        std::function<void(const QString& line)> log;
        std::function<void(MessageKind kind, const QString& text)> message;
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

    // root: the mounted drive's root folder.
    [[nodiscard]] UpdateOutcome updateDrive(const QString& root, const QUrl& manifestUrl);

    // The version recorded in the drive's state file, or empty when there is none.
    static QString installedVersion(const QString& root);
    // True unless pgrep positively reports that no process named Keldra is running.
    static bool keldraMayBeRunning();

private:
    void log(const QString& line) const;
    void inform(const QString& text) const;
    void warn(const QString& text) const;
    void logAndWarn(const QString& text) const;
    void setProgress(int value, const QString& label = QString());
    [[nodiscard]] bool applyBundles(const QString& root, const QString& extracted,
                                    const UpdateManifest& manifest, QString* error) const;

    Callbacks m_callbacks;
    DirectoryRenamer m_rename = renameDirectory;
    int m_manifestTimeoutMs = 30000;
    int m_packageTimeoutMs = 600000;
    QString m_progressLabel;
};

} // namespace Keldra::Deployment
