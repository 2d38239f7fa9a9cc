#include "BundleUpdater.h"

#include "HttpGet.h"
#include "UpdateManifest.h"
#include "UpdatePackage.h"
#include "UpdateState.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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

// Plain write; a short write or a failed flush (a full drive) counts as failure.
bool writeWholeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(data) == data.size() && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
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

QString BundleUpdater::installedVersion(const QString& root)
{
    QFile file(updateStatePath(root));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return {};
    const QJsonObject state = document.object();
    if (state.value(QStringLiteral("app")).toString() != QStringLiteral("Keldra"))
        return {};
    return state.value(QStringLiteral("installedVersion")).toString().trimmed();
}

bool BundleUpdater::keldraMayBeRunning()
{
    QProcess pgrep;
    pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-x"), QStringLiteral("Keldra")});
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
    if (m_callbacks.message)
        m_callbacks.message(MessageKind::Information, text);
}

void BundleUpdater::warn(const QString& text) const
{
    if (m_callbacks.message)
        m_callbacks.message(MessageKind::Warning, text);
}

void BundleUpdater::logAndWarn(const QString& text) const
{
    log(text);
    warn(text);
}

void BundleUpdater::setProgress(int value, const QString& label)
{
    if (!label.isEmpty())
        m_progressLabel = label;
    if (m_callbacks.progress)
        m_callbacks.progress(value, kProgressMaximum, m_progressLabel);
}

UpdateOutcome BundleUpdater::updateDrive(const QString& root, const QUrl& manifestUrl)
{
    const QDir rootDir(root);
    if (!QFileInfo(rootDir.filePath(QStringLiteral("Keldra"))).isDir()) {
        inform(QStringLiteral("A unidade selecionada ainda não possui uma estrutura Keldra preparada."));
        return UpdateOutcome::Failed;
    }
    // The application may run from this very drive and hold its files open.
    if (keldraMayBeRunning()) {
        warn(QStringLiteral("Feche o Keldra antes de atualizar os bundles da unidade USB."));
        return UpdateOutcome::Failed;
    }

    setProgress(0, QStringLiteral("Consultando manifesto de atualização..."));
    QString error;
    const QByteArray manifestBody = httpGet(manifestUrl, m_manifestTimeoutMs, &error);
    if (manifestBody.isEmpty()) {
        logAndWarn(QStringLiteral("Falha ao consultar manifesto: %1").arg(error));
        return UpdateOutcome::Failed;
    }
    setProgress(1);

    UpdateManifest manifest;
    if (!parseUpdateManifest(manifestBody, &manifest, &error)) {
        logAndWarn(QStringLiteral("Manifesto invalido: %1").arg(error));
        return UpdateOutcome::Failed;
    }

    QString installed = installedVersion(root);
    QString installedShown = installed;
    if (installed.isEmpty()) {
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

    setProgress(2, QStringLiteral("Baixando pacote de atualização..."));
    const QByteArray package = httpGet(QUrl(manifest.packageUrl), m_packageTimeoutMs, &error);
    if (package.isEmpty()) {
        logAndWarn(QStringLiteral("Falha no download: %1").arg(error));
        return UpdateOutcome::Failed;
    }
    if (manifest.size >= 0 && manifest.size != package.size()) {
        warn(QStringLiteral("Tamanho do pacote divergente. Esperado: %1 bytes. Recebido: %2 bytes.")
                 .arg(manifest.size)
                 .arg(package.size()));
        return UpdateOutcome::Failed;
    }

    setProgress(3, QStringLiteral("Validando hash SHA-256..."));
    const QString computed =
        QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex());
    if (computed != manifest.sha256) {
        warn(QStringLiteral("Hash SHA-256 divergente. O pacote não será aplicado."));
        log(QStringLiteral("Hash divergente. Esperado: %1 | Calculado: %2").arg(manifest.sha256, computed));
        return UpdateOutcome::Failed;
    }

    const QString staging = rootDir.filePath(QStringLiteral(".update-%1").arg(utcStamp()));
    if (!QDir().mkpath(staging)) {
        warn(QStringLiteral("Não foi possível criar área temporária na unidade USB."));
        return UpdateOutcome::Failed;
    }
    const QDir stagingDir(staging);
    const QString packagePath = stagingDir.filePath(QStringLiteral("package.zip"));
    if (!writeWholeFile(packagePath, package)) {
        (void)removeDirectory(staging, nullptr);
        warn(QStringLiteral("Não foi possível gravar o pacote temporário na unidade USB."));
        return UpdateOutcome::Failed;
    }

    setProgress(4, QStringLiteral("Extraindo pacote..."));
    const QString extracted = stagingDir.filePath(QStringLiteral("extracted"));
    if (!extractZip(packagePath, extracted, &error) || !validateExtractedPackage(extracted, &error)) {
        (void)removeDirectory(staging, nullptr);
        logAndWarn(QStringLiteral("Falha ao preparar pacote: %1").arg(error));
        return UpdateOutcome::Failed;
    }

    setProgress(5, QStringLiteral("Substituindo bundles..."));
    const bool applied = applyBundles(root, extracted, manifest, &error);
    (void)removeDirectory(staging, nullptr);
    if (!applied) {
        logAndWarn(QStringLiteral("Falha ao aplicar atualização: %1").arg(error));
        return UpdateOutcome::Failed;
    }
    setProgress(kProgressMaximum);
    log(QStringLiteral("Unidade atualizada para Keldra %1.").arg(manifest.version));
    inform(QStringLiteral("Atualização concluída.\n\nVersão instalada: %1").arg(manifest.version));
    return UpdateOutcome::Updated;
}

// Swaps Windows first, then Linux; a failed Linux swap puts the old Windows bundle
// back so the two never end up at different versions. The backups go only once the
// state file records the new version; if that write fails they stay for recovery.
bool BundleUpdater::applyBundles(const QString& root, const QString& extracted,
                                 const UpdateManifest& manifest, QString* error) const
{
    const QDir bundleDir(QDir(root).filePath(QStringLiteral("Keldra")));
    const QDir newBundles(QDir(extracted).filePath(QStringLiteral("Keldra")));
    const QString stamp = utcStamp();
    const QString windowsTarget = bundleDir.filePath(QStringLiteral("windows"));
    const QString windowsBackup = bundleDir.filePath(QStringLiteral("windows.backup-%1").arg(stamp));
    const QString linuxTarget = bundleDir.filePath(QStringLiteral("linux"));
    const QString linuxBackup = bundleDir.filePath(QStringLiteral("linux.backup-%1").arg(stamp));

    if (!replaceBundleDirectory(windowsTarget, newBundles.filePath(QStringLiteral("windows")), windowsBackup,
                                error, m_rename))
        return false;
    if (!replaceBundleDirectory(linuxTarget, newBundles.filePath(QStringLiteral("linux")), linuxBackup, error,
                                m_rename)) {
        (void)removeDirectory(windowsTarget, nullptr);
        if (QFileInfo::exists(windowsBackup))
            m_rename(windowsBackup, windowsTarget);
        return false;
    }
    if (!writeUpdateState(root, manifest.version, manifest.sha256, error))
        return false;
    (void)removeDirectory(windowsBackup, nullptr);
    (void)removeDirectory(linuxBackup, nullptr);
    return true;
}

} // namespace Keldra::Deployment
