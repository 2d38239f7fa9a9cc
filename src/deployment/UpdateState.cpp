#include "UpdateState.h"

#include "DriveLayout.h"
#include "KeldraVersion.h"
#include "PortableBundleManager.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QVersionNumber>

namespace Keldra::Deployment {

namespace {

QJsonObject bundleEntry(const QString& path, const QString& entryPoint)
{
    return QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("entryPoint"), entryPoint}};
}

void setError(QString* error, const QString& message)
{
    if (error)
        *error = message;
}

} // namespace

QString configToolVersion()
{
    return QStringLiteral(KELDRA_VERSION);
}

QString copiedBundleVersion(const QString& root)
{
    for (const char* folder : {DriveLayout::LinuxFolder, DriveLayout::WindowsFolder}) {
        QFile file(QDir(root).filePath(DriveLayout::platformFolder(folder) + QLatin1Char('/') +
                                       PortableBundleManager::versionFileName()));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(file.read(64)).trimmed();
        int suffix = 0;
        const QVersionNumber version = QVersionNumber::fromString(text, &suffix);
        if (!version.isNull() && suffix == text.size())
            return text;
    }
    return QStringLiteral("0.0.0");
}

QString updateStatePath(const QString& root)
{
    return DriveLayout::updateState(root);
}

bool writeUpdateState(const QString& root, const QString& installedVersion, const QString& packageSha256,
                      QString* error)
{
    const QString path = updateStatePath(root);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        setError(error, QStringLiteral("Não foi possível criar a pasta de estado da atualização."));
        return false;
    }

    QJsonObject state;
    state.insert(QStringLiteral("schemaVersion"), 1);
    state.insert(QStringLiteral("app"), QStringLiteral("Keldra"));
    state.insert(QStringLiteral("installedVersion"), installedVersion);
    state.insert(QStringLiteral("installedAt"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    state.insert(QStringLiteral("updatedByConfigVersion"), configToolVersion());
    if (!packageSha256.isEmpty())
        state.insert(QStringLiteral("lastPackageSha256"), packageSha256);
    state.insert(QStringLiteral("bundles"),
                 QJsonObject{{QStringLiteral("windows-x64"),
                              bundleEntry(DriveLayout::platformFolder(DriveLayout::WindowsFolder),
                                          QLatin1String(DriveLayout::WindowsProgram))},
                             {QStringLiteral("linux-x64"),
                              bundleEntry(DriveLayout::platformFolder(DriveLayout::LinuxFolder),
                                          QLatin1String(DriveLayout::LinuxProgram))}});

    // QSaveFile would write through a link, onto whatever it names outside the drive.
    if (QFileInfo(path).isSymLink() && !QFile::remove(path)) {
        setError(error, QStringLiteral("Não foi possível abrir o arquivo de estado: %1").arg(path));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, QStringLiteral("Não foi possível abrir o arquivo de estado: %1").arg(path));
        return false;
    }
    const QByteArray json = QJsonDocument(state).toJson(QJsonDocument::Indented);
    if (file.write(json) != json.size() || !file.commit()) {
        setError(error, QStringLiteral("Não foi possível salvar o arquivo de estado: %1").arg(path));
        return false;
    }
    return true;
}

} // namespace Keldra::Deployment
