#include "deployment/UpdateRecovery.h"

#include "deployment/PortableBundleManager.h"
#include "deployment/UpdateJournal.h"
#include "deployment/UpdateState.h"
#include "deployment/layout/DriveLayout.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace Keldra::Deployment {

namespace {

constexpr qint64 kStateByteLimit = 1024 * 1024;
constexpr qint64 kVersionByteLimit = 64;
const QString kStampPattern = QStringLiteral("[0-9]{14}");
const QString kPlatforms[] = {QLatin1String(DriveLayout::LinuxFolder),
                              QLatin1String(DriveLayout::WindowsFolder)};

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

bool isRealFolder(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink();
}

// The version a bundle folder carries beside its program, or empty when it has none.
QString bundleVersion(const QString& folder)
{
    QFile file(QDir(folder).filePath(PortableBundleManager::versionFileName()));
    const QFileInfo info(file.fileName());
    if (info.isSymLink() || !info.isFile() || info.size() > kVersionByteLimit ||
        !file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(kVersionByteLimit)).trimmed();
}

// The record lies on the drive, which anyone may have written: it is acted on only when
// the drive holds what an interrupted swap of this tool leaves behind. A bundle is never
// removed unless it carries the record's version, and the state file is written only
// when every bundle is backed up or carries that version.
bool journalMatchesDrive(const QString& root, const UpdateJournal& journal)
{
    // Once the state file records the update, finishing only removes its backups.
    if (journal.swapped && stateRecords(root, journal))
        return true;
    // Before the swap is recorded, the staging folder is still there.
    if (!journal.swapped && !isRealFolder(QDir(root).filePath(journal.staging)))
        return false;
    const QDir bundles(DriveLayout::bundleFolder(root));
    for (const QString& platform : kPlatforms) {
        const QString target = bundles.filePath(platform);
        const QString backup = bundles.filePath(DriveLayout::backupName(platform, journal.backupStamp));
        const bool had =
            platform == QLatin1String(DriveLayout::LinuxFolder) ? journal.hadLinux : journal.hadWindows;
        const bool backedUp = isRealFolder(backup);
        // A backup is made only of a bundle the drive had, and never as a link.
        if ((backedUp && !had) || (!backedUp && pathExists(backup)))
            return false;
        const QString version = pathExists(target) ? bundleVersion(target) : QString();
        const bool provablyNew = version == journal.version;
        // A bundle that names a version other than the journal's is not the one it installed.
        if (!version.isEmpty() && !provablyNew && (journal.swapped || backedUp))
            return false;
        if (journal.swapped) {
            if (!isRealFolder(target) || (had ? !backedUp : !provablyNew))
                return false;
        } else if (!had && !backedUp && pathExists(target) && !provablyNew) {
            // Rolling back would delete a bundle that is not the update's.
            return false;
        }
    }
    return true;
}

// Keeps a record that does not match the drive for inspection, out of recovery's way.
Error setJournalAside(const QString& journalPath)
{
    const QString aside = journalPath + QStringLiteral(".rejected-") +
                          QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmsszzz"));
    if (!QFileInfo(journalPath).isSymLink() && QFile::rename(journalPath, aside))
        return Error();
    return removeDirectory(journalPath);
}

Error restore(const QString& backup, const QString& target, const DirectoryRenamer& rename)
{
    if (pathExists(target)) {
        if (const Error removed = removeDirectory(target); !removed.ok())
            return removed;
    }
    if (rename(backup, target))
        return Error();
    return Error(Error::Reason::BackupNotRestored, {backup});
}

Error finish(const QString& root, const UpdateJournal& journal)
{
    if (!stateRecords(root, journal)) {
        if (const Error written = writeUpdateState(root, journal.version, journal.sha256); !written.ok())
            return written;
    }
    const QDir bundles(DriveLayout::bundleFolder(root));
    for (const QString& platform : kPlatforms) {
        const QString backup = bundles.filePath(DriveLayout::backupName(platform, journal.backupStamp));
        if (const Error removed = removeDirectory(backup); !removed.ok())
            return removed;
    }
    return Error();
}

Error rollBack(const QString& root, const UpdateJournal& journal, const DirectoryRenamer& rename)
{
    const QDir bundles(DriveLayout::bundleFolder(root));
    for (const QString& platform : kPlatforms) {
        const QString target = bundles.filePath(platform);
        const QString backup = bundles.filePath(DriveLayout::backupName(platform, journal.backupStamp));
        const bool had =
            platform == QLatin1String(DriveLayout::LinuxFolder) ? journal.hadLinux : journal.hadWindows;
        Error error;
        if (QFileInfo(backup).isDir() && !QFileInfo(backup).isSymLink())
            error = restore(backup, target, rename);
        else if (!had)
            error = removeDirectory(target); // a bundle the drive never had before this update
        if (!error.ok())
            return error;
    }
    return Error();
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
Error sweepLeftovers(const QString& root, const DirectoryRenamer& rename, bool* removedAny)
{
    const QDir drive(root);
    for (const QString& name :
         ownEntries(drive, QRegularExpression::escape(DriveLayout::stagingName(QString())) + kStampPattern)) {
        if (const Error removed = removeDirectory(drive.filePath(name)); !removed.ok())
            return removed;
        *removedAny = true;
    }
    const QDir bundles(DriveLayout::bundleFolder(root));
    for (const QString& platform : kPlatforms) {
        const QString target = bundles.filePath(platform);
        if (pathExists(target))
            continue;
        // Newest first: the stamps sort by time.
        for (const QString& name :
             ownEntries(bundles, QRegularExpression::escape(DriveLayout::backupName(platform, QString())) +
                                     kStampPattern)) {
            const QFileInfo backup(bundles.filePath(name));
            if (backup.isSymLink() || !backup.isDir())
                continue;
            if (const Error restored = restore(backup.absoluteFilePath(), target, rename); !restored.ok())
                return restored;
            *removedAny = true;
            break;
        }
    }
    for (const QString& name :
         ownEntries(bundles, QStringLiteral("(%1|%2)").arg(kPlatforms[0], kPlatforms[1]) +
                                 QRegularExpression::escape(QLatin1String(DriveLayout::BackupInfix)) +
                                 kStampPattern)) {
        if (const Error removed = removeDirectory(bundles.filePath(name)); !removed.ok())
            return removed;
        *removedAny = true;
    }
    return Error();
}

} // namespace

Error recoverInterruptedUpdate(const QString& root, RecoveryOutcome* outcome, const DirectoryRenamer& rename)
{
    RecoveryOutcome done = RecoveryOutcome::NothingToDo;
    if (outcome)
        *outcome = done;
    const QFileInfo bundleFolder(DriveLayout::bundleFolder(root));
    if (bundleFolder.isSymLink() || !bundleFolder.isDir())
        return Error();

    const QString journalPath = updateJournalPath(root);
    UpdateJournal journal;
    if (readUpdateJournal(root, &journal)) {
        if (!journalMatchesDrive(root, journal)) {
            if (const Error setAside = setJournalAside(journalPath); !setAside.ok())
                return setAside;
            done = RecoveryOutcome::JournalRejected;
        } else {
            const Error error = journal.swapped ? finish(root, journal) : rollBack(root, journal, rename);
            if (!error.ok())
                return error;
            done = journal.swapped ? RecoveryOutcome::Finished : RecoveryOutcome::RolledBack;
        }
    }
    bool removedAny = false;
    if (const Error swept = sweepLeftovers(root, rename, &removedAny); !swept.ok())
        return swept;
    // Last: while the record exists, a repeated run redoes what is missing.
    if (pathExists(journalPath)) {
        if (const Error removed = removeDirectory(journalPath); !removed.ok())
            return removed;
        removedAny = true;
    }
    if (done == RecoveryOutcome::NothingToDo && removedAny)
        done = RecoveryOutcome::LeftoversRemoved;
    if (outcome)
        *outcome = done;
    return Error();
}

} // namespace Keldra::Deployment
