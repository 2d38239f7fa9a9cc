#include "UpdateRecovery.h"

#include "DeploymentErrorText.h"
#include "UpdateJournal.h"
#include "UpdateState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace Keldra::Deployment {

namespace {

constexpr qint64 kStateByteLimit = 1024 * 1024;
const QString kPlatforms[] = {QStringLiteral("linux"), QStringLiteral("windows")};

void setError(QString* error, const QString& message)
{
    if (error)
        *error = message;
}

bool pathExists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// True when the state file already records the journal's version and package.
bool stateRecords(const QString& root, const UpdateJournal& journal)
{
    QFile file(updateStatePath(root));
    if (QFileInfo(file.fileName()).isSymLink() || !file.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject state = QJsonDocument::fromJson(file.read(kStateByteLimit)).object();
    return state.value(QStringLiteral("installedVersion")).toString() == journal.version &&
           state.value(QStringLiteral("lastPackageSha256")).toString() == journal.sha256;
}

bool restore(const QString& backup, const QString& target, const DirectoryRenamer& rename, QString* error)
{
    if (pathExists(target) && !removeDirectory(target, error))
        return false;
    if (rename(backup, target))
        return true;
    setError(error, QStringLiteral("Não foi possível restaurar o backup: %1").arg(backup));
    return false;
}

bool finish(const QString& root, const UpdateJournal& journal, QString* error)
{
    if (!stateRecords(root, journal)) {
        const Error written = writeUpdateState(root, journal.version, journal.sha256);
        if (!written.ok()) {
            setError(error, Texts::DeploymentErrorText::message(written));
            return false;
        }
    }
    const QDir bundles(QDir(root).filePath(QStringLiteral("Keldra")));
    for (const QString& platform : kPlatforms) {
        const QString backup =
            bundles.filePath(QStringLiteral("%1.backup-%2").arg(platform, journal.backupStamp));
        if (!removeDirectory(backup, error))
            return false;
    }
    return true;
}

bool rollBack(const QString& root, const UpdateJournal& journal, const DirectoryRenamer& rename,
              QString* error)
{
    const QDir bundles(QDir(root).filePath(QStringLiteral("Keldra")));
    for (const QString& platform : kPlatforms) {
        const QString target = bundles.filePath(platform);
        const QString backup =
            bundles.filePath(QStringLiteral("%1.backup-%2").arg(platform, journal.backupStamp));
        const bool had = platform == QLatin1String("linux") ? journal.hadLinux : journal.hadWindows;
        if (QFileInfo(backup).isDir() && !QFileInfo(backup).isSymLink()) {
            if (!restore(backup, target, rename, error))
                return false;
        } else if (!had && !removeDirectory(target, error)) {
            return false; // a bundle the drive never had before this update
        }
    }
    return true;
}

// Only names this tool gives its folders: a user's own ".update-notes" stays.
QStringList ownEntries(const QDir& folder, const QString& pattern)
{
    const QRegularExpression own(QRegularExpression::anchoredPattern(pattern));
    QStringList names = folder.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
    names.removeIf([&own](const QString& name) { return !own.match(name).hasMatch(); });
    return names;
}

// Strays of runs that left no record (or of older versions of this tool).
bool sweepLeftovers(const QString& root, const DirectoryRenamer& rename, bool* removedAny, QString* error)
{
    const QDir drive(root);
    for (const QString& name : ownEntries(drive, QStringLiteral("\\.update-[0-9]{14}"))) {
        if (!removeDirectory(drive.filePath(name), error))
            return false;
        *removedAny = true;
    }
    const QDir bundles(drive.filePath(QStringLiteral("Keldra")));
    for (const QString& platform : kPlatforms) {
        const QString target = bundles.filePath(platform);
        if (pathExists(target))
            continue;
        // Newest first: the stamps sort by time.
        for (const QString& name : ownEntries(bundles, platform + QStringLiteral("\\.backup-[0-9]{14}"))) {
            const QFileInfo backup(bundles.filePath(name));
            if (backup.isSymLink() || !backup.isDir())
                continue;
            if (!restore(backup.absoluteFilePath(), target, rename, error))
                return false;
            *removedAny = true;
            break;
        }
    }
    for (const QString& name : ownEntries(bundles, QStringLiteral("(windows|linux)\\.backup-[0-9]{14}"))) {
        if (!removeDirectory(bundles.filePath(name), error))
            return false;
        *removedAny = true;
    }
    return true;
}

} // namespace

RecoveryOutcome recoverInterruptedUpdate(const QString& root, QString* error, const DirectoryRenamer& rename)
{
    const QFileInfo bundleFolder(QDir(root).filePath(QStringLiteral("Keldra")));
    if (bundleFolder.isSymLink() || !bundleFolder.isDir())
        return RecoveryOutcome::NothingToDo;

    RecoveryOutcome outcome = RecoveryOutcome::NothingToDo;
    const QString journalPath = updateJournalPath(root);
    UpdateJournal journal;
    if (readUpdateJournal(root, &journal)) {
        if (!(journal.swapped ? finish(root, journal, error) : rollBack(root, journal, rename, error)))
            return RecoveryOutcome::Failed;
        outcome = journal.swapped ? RecoveryOutcome::Finished : RecoveryOutcome::RolledBack;
    }
    bool removedAny = false;
    if (!sweepLeftovers(root, rename, &removedAny, error))
        return RecoveryOutcome::Failed;
    // Last: while the record exists, a repeated run redoes what is missing.
    if (pathExists(journalPath)) {
        if (!removeDirectory(journalPath, error))
            return RecoveryOutcome::Failed;
        removedAny = true;
    }
    if (outcome == RecoveryOutcome::NothingToDo && removedAny)
        outcome = RecoveryOutcome::LeftoversRemoved;
    return outcome;
}

} // namespace Keldra::Deployment
