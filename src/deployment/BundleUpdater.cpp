#include "deployment/BundleUpdater.h"

#include "deployment/HttpGet.h"
#include "deployment/UpdateJournal.h"
#include "deployment/UpdateManifest.h"
#include "deployment/UpdatePackage.h"
#include "deployment/UpdateRecovery.h"
#include "deployment/UpdateSignature.h"
#include "deployment/UpdateState.h"
#include "deployment/layout/DriveLayout.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <QVersionNumber>

#include <utility>

namespace Keldra::Deployment {

namespace {

constexpr int kProgressMaximum = 6;
constexpr int kPgrepTimeoutMs = 5000;

QString utcStamp()
{
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss"));
}

constexpr qint64 kStateByteLimit = 1024 * 1024;

// Unknown (-1) when the drive's file system does not say.
qint64 availableBytes(const QString& root)
{
    const QStorageInfo storage(root);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

} // namespace

BundleUpdater::BundleUpdater(Callbacks callbacks) : m_callbacks(std::move(callbacks)) {}

void BundleUpdater::setTimeouts(int manifestMs, int packageMs)
{
    m_manifestTimeoutMs = manifestMs;
    m_packageTimeoutMs = packageMs;
}

void BundleUpdater::setDirectoryRenamer(DirectoryRenamer renamer)
{
    m_rename = renamer ? std::move(renamer) : DirectoryRenamer(renameDirectory);
}

void BundleUpdater::setSwapStepHook(std::function<bool(SwapStep)> hook)
{
    m_stepHook = std::move(hook);
}

void BundleUpdater::setFreeSpaceProbe(std::function<qint64(const QString&)> probe)
{
    m_freeSpace = std::move(probe);
}

void BundleUpdater::setRunningProbe(std::function<bool()> probe)
{
    m_running = std::move(probe);
}

QString BundleUpdater::installedVersion(const QString& root)
{
    QFile file(updateStatePath(root));
    // The drive may hold anything: a link off the drive, or far more than the few
    // hundred bytes of a real state file.
    if (QFileInfo(file.fileName()).isSymLink() || file.size() > kStateByteLimit ||
        !file.open(QIODevice::ReadOnly))
        return {};
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.read(kStateByteLimit), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return {};
    const QJsonObject state = document.object();
    if (state.value(QStringLiteral("app")).toString() != QStringLiteral("Keldra"))
        return {};
    return state.value(QStringLiteral("installedVersion")).toString().trimmed();
}

bool BundleUpdater::keldraMayBeRunning()
{
    return processMayBeRunning(QStringLiteral("Keldra"));
}

bool BundleUpdater::processMayBeRunning(const QString& name)
{
    QProcess pgrep;
    pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-x"), name});
    if (!pgrep.waitForFinished(kPgrepTimeoutMs)) // also when pgrep cannot start
        return true;
    if (pgrep.exitStatus() != QProcess::NormalExit)
        return true;
    if (pgrep.exitCode() == 0)
        return !QString::fromLocal8Bit(pgrep.readAllStandardOutput()).trimmed().isEmpty();
    // 1 means "no such process"; other codes mean pgrep could not look at all.
    return pgrep.exitCode() != 1;
}

void BundleUpdater::log(const QString& line) const
{
    if (m_callbacks.log)
        m_callbacks.log(line);
}

void BundleUpdater::inform(const QString& text) const
{
    if (m_callbacks.inform)
        m_callbacks.inform(text);
}

void BundleUpdater::setProgress(int value, const QString& label)
{
    if (!label.isEmpty())
        m_progressLabel = label;
    if (m_callbacks.progress)
        m_callbacks.progress(value, kProgressMaximum, m_progressLabel);
}

UpdateOutcome BundleUpdater::fail(const Error& error)
{
    m_lastError = error;
    return UpdateOutcome::Failed;
}

UpdateOutcome BundleUpdater::updateDrive(const QString& root, const QUrl& manifestUrl)
{
    m_lastError = Error();
    const QDir rootDir(root);
    const QFileInfo bundleFolder(DriveLayout::bundleFolder(root));
    // A linked folder would let the swap rename and delete outside the drive.
    if (bundleFolder.isSymLink() || !bundleFolder.isDir())
        return fail(Error(Error::Reason::DriveNotPrepared, {}, root));
    // The application may run from this very drive and hold its files open.
    if (m_running ? m_running() : keldraMayBeRunning())
        return fail(Error(Error::Reason::KeldraRunning));
    if (const Error recovered = recoverDrive(root); !recovered.ok())
        return fail(Error(Error::Reason::UpdateRecoveryFailed, recovered));

    setProgress(0, QStringLiteral("Consultando manifesto de atualização..."));
    QByteArray manifestBody;
    if (const Error fetched = httpGet(manifestUrl, m_manifestTimeoutMs, kManifestByteLimit, &manifestBody);
        !fetched.ok())
        return fail(Error(Error::Reason::ManifestUnreachable, fetched));
    setProgress(1);

    UpdateManifest manifest;
    if (const Error parsed = parseUpdateManifest(manifestBody, &manifest); !parsed.ok())
        return fail(Error(Error::Reason::ManifestInvalid, parsed));
    if (!verifyUpdateSignature(manifest, trustedUpdatePublicKey()))
        return fail(Error(Error::Reason::ManifestUnsigned, {}, manifest.version));

    QString installed = installedVersion(root);
    QString installedShown = installed;
    // Whatever else the state file holds is not shown: it may have been written by anyone.
    if (!isUpdateVersion(installed)) {
        installed = QStringLiteral("0.0.0");
        installedShown = QStringLiteral("desconhecida");
        log(QStringLiteral("Estado local ausente em %1; a unidade será tratada como atualizável.")
                .arg(updateStatePath(root)));
    }
    if (!(QVersionNumber::fromString(manifest.version) > QVersionNumber::fromString(installed))) {
        setProgress(kProgressMaximum);
        inform(QStringLiteral("A unidade já está atualizada.\n\nVersão instalada: %1\nVersão disponível: %2")
                   .arg(installedShown, manifest.version));
        log(QStringLiteral("Nenhuma atualização disponível. Instalado: %1 | Remoto: %2")
                .arg(installedShown, manifest.version));
        return UpdateOutcome::UpToDate;
    }

    const QString notes =
        manifest.releaseNotes.isEmpty() ? QStringLiteral("Sem notas de versão.") : manifest.releaseNotes;
    const QString question =
        QStringLiteral("Atualizar Keldra na unidade %1?\n\nVersão instalada: %2\nVersão disponível: %3\n\n%4")
            .arg(root, installedShown, manifest.version, notes);
    if (!m_callbacks.confirm || !m_callbacks.confirm(QStringLiteral("Atualização disponível"), question)) {
        log(QStringLiteral("Atualização cancelada pelo usuário."));
        return UpdateOutcome::Cancelled;
    }

    // The package stays off the drive until its size and hash are right.
    setProgress(2, QStringLiteral("Baixando pacote de atualização..."));
    QTemporaryFile package(QDir(QDir::tempPath()).filePath(QStringLiteral("keldra-update-XXXXXX.zip")));
    if (!package.open())
        return fail(Error(Error::Reason::PackageNotStored, {package.fileName()}, package.errorString()));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    bool written = true;
    qint64 received = 0;
    const Error download = httpDownload(
        QUrl(manifest.packageUrl), m_packageTimeoutMs, manifest.size,
        [&](const QByteArray& chunk) {
            hash.addData(chunk);
            written = package.write(chunk) == chunk.size();
            return written ? Error() : Error(Error::Reason::PackageNotStored, {package.fileName()});
        },
        &received);
    if (!written || !package.flush())
        return fail(Error(Error::Reason::PackageNotStored, {package.fileName()}, package.errorString()));
    if (!download.ok() && !download.is(Error::Reason::ResponseTooLarge))
        return fail(Error(Error::Reason::DownloadFailed, download));
    if (!download.ok() || received != manifest.size)
        return fail(Error(Error::Reason::PackageSizeDiffers,
                          {QString::number(manifest.size), QString::number(received)}));

    setProgress(3, QStringLiteral("Validando hash SHA-256..."));
    const QString computed = QString::fromLatin1(hash.result().toHex());
    if (computed != manifest.sha256) {
        log(QStringLiteral("Hash divergente. Esperado: %1 | Calculado: %2").arg(manifest.sha256, computed));
        return fail(Error(Error::Reason::PackageHashDiffers));
    }
    PackageContents contents;
    if (const Error inspected = inspectZip(package.fileName(), &contents); !inspected.ok())
        return fail(Error(Error::Reason::PackageNotPrepared, inspected));
    const qint64 available = m_freeSpace ? m_freeSpace(root) : availableBytes(root);
    if (available >= 0 && available < contents.uncompressedBytes)
        return fail(Error(Error::Reason::PackageNotPrepared,
                          Error(Error::Reason::UpdateNoRoom,
                                {QString::number(contents.uncompressedBytes), QString::number(available)})));

    const QString staging = rootDir.filePath(DriveLayout::stagingName(utcStamp()));
    if (!QDir().mkpath(staging))
        return fail(Error(Error::Reason::StagingAreaNotCreated, {}, staging));

    setProgress(4, QStringLiteral("Extraindo pacote..."));
    const QString extracted = QDir(staging).filePath(QStringLiteral("extracted"));
    Error unpacked = extractZip(package.fileName(), extracted);
    if (unpacked.ok())
        unpacked = validateExtractedPackage(extracted);
    if (!unpacked.ok()) {
        (void)removeDirectory(staging);
        return fail(Error(Error::Reason::PackageNotPrepared, unpacked));
    }

    setProgress(5, QStringLiteral("Substituindo bundles..."));
    const Error swapped = applyBundles(root, staging, manifest);
    if (swapped.is(Error::Reason::UpdateInterrupted))
        return fail(swapped);
    (void)removeDirectory(staging);
    if (!swapped.ok())
        return fail(Error(Error::Reason::UpdateNotApplied, swapped));
    setProgress(kProgressMaximum);
    log(QStringLiteral("Unidade atualizada para Keldra %1.").arg(manifest.version));
    inform(QStringLiteral("Atualização concluída.\n\nVersão instalada: %1").arg(manifest.version));
    return UpdateOutcome::Updated;
}

// A drive left half-swapped by a killed run is made whole before anything else.
Error BundleUpdater::recoverDrive(const QString& root)
{
    RecoveryOutcome outcome = RecoveryOutcome::NothingToDo;
    if (const Error error = recoverInterruptedUpdate(root, &outcome, m_rename); !error.ok())
        return error;
    switch (outcome) {
    case RecoveryOutcome::NothingToDo:
        break;
    case RecoveryOutcome::Finished:
        log(QStringLiteral("Atualização interrompida concluída."));
        break;
    case RecoveryOutcome::RolledBack:
        log(QStringLiteral("Atualização interrompida desfeita; os bundles anteriores foram restaurados."));
        break;
    case RecoveryOutcome::LeftoversRemoved:
        log(QStringLiteral("Restos de uma atualização anterior foram removidos."));
        break;
    case RecoveryOutcome::JournalRejected:
        log(QStringLiteral("O registro de atualização interrompida não corresponde ao conteúdo da unidade; "
                           "foi posto de lado sem ser usado."));
        break;
    }
    return Error();
}

// Swaps Windows first, then Linux, under a journal on the drive. A failed swap is undone
// through the same recovery a later run would do, so the two bundles never end up at
// different versions. The backups go only once the state file records the new version;
// if that write fails they stay, and the next run completes the update. UpdateInterrupted
// means the test hook stopped it, leaving the drive as a killed process would.
Error BundleUpdater::applyBundles(const QString& root, const QString& staging,
                                  const UpdateManifest& manifest) const
{
    const QDir bundleDir(DriveLayout::bundleFolder(root));
    const QDir newBundles(DriveLayout::bundleFolder(QDir(staging).filePath(QStringLiteral("extracted"))));
    UpdateJournal journal;
    journal.staging = QFileInfo(staging).fileName();
    journal.backupStamp = utcStamp();
    journal.version = manifest.version;
    journal.sha256 = manifest.sha256;
    const QString windowsTarget = bundleDir.filePath(QLatin1String(DriveLayout::WindowsFolder));
    const QString windowsBackup = bundleDir.filePath(
        DriveLayout::backupName(QLatin1String(DriveLayout::WindowsFolder), journal.backupStamp));
    const QString linuxTarget = bundleDir.filePath(QLatin1String(DriveLayout::LinuxFolder));
    const QString linuxBackup = bundleDir.filePath(
        DriveLayout::backupName(QLatin1String(DriveLayout::LinuxFolder), journal.backupStamp));
    journal.hadWindows = QFileInfo::exists(windowsTarget) || QFileInfo(windowsTarget).isSymLink();
    journal.hadLinux = QFileInfo::exists(linuxTarget) || QFileInfo(linuxTarget).isSymLink();

    bool killed = false;
    const auto reached = [&](SwapStep step) {
        killed = killed || (m_stepHook && !m_stepHook(step));
        return !killed;
    };
    // Once "killed", nothing more happens, not even replaceBundleDirectory's own undo.
    const DirectoryRenamer rename = [&](const QString& from, const QString& to) {
        if (killed || !m_rename(from, to))
            return false;
        reached(to == windowsBackup   ? SwapStep::WindowsMovedAside
                : to == windowsTarget ? SwapStep::WindowsMovedIn
                : to == linuxBackup   ? SwapStep::LinuxMovedAside
                                      : SwapStep::LinuxMovedIn);
        return true;
    };
    const Error interrupted(Error::Reason::UpdateInterrupted);
    const auto undo = [&](const Error& error) {
        if (killed)
            return interrupted;
        (void)recoverInterruptedUpdate(root, nullptr, m_rename);
        return error;
    };

    if (const Error recorded = writeUpdateJournal(root, journal); !recorded.ok())
        return recorded;
    if (!reached(SwapStep::JournalWritten))
        return interrupted;
    Error replaced = replaceBundleDirectory(
        windowsTarget, newBundles.filePath(QLatin1String(DriveLayout::WindowsFolder)), windowsBackup, rename);
    if (replaced.ok() && !killed)
        replaced = replaceBundleDirectory(
            linuxTarget, newBundles.filePath(QLatin1String(DriveLayout::LinuxFolder)), linuxBackup, rename);
    if (!replaced.ok() || killed)
        return undo(replaced);
    journal.swapped = true;
    if (const Error recorded = writeUpdateJournal(root, journal); !recorded.ok())
        return undo(recorded);
    if (!reached(SwapStep::SwapRecorded))
        return interrupted;
    if (const Error stated = writeUpdateState(root, manifest.version, manifest.sha256); !stated.ok())
        return stated;
    if (!reached(SwapStep::StateWritten))
        return interrupted;
    (void)removeDirectory(windowsBackup);
    if (!reached(SwapStep::WindowsBackupRemoved))
        return interrupted;
    (void)removeDirectory(linuxBackup);
    if (!reached(SwapStep::LinuxBackupRemoved))
        return interrupted;
    (void)removeDirectory(staging);
    if (!reached(SwapStep::StagingRemoved))
        return interrupted;
    // A record left behind only makes the next run tidy up, so its removal may fail.
    (void)removeDirectory(updateJournalPath(root));
    if (!reached(SwapStep::JournalRemoved))
        return interrupted;
    return Error();
}

} // namespace Keldra::Deployment
