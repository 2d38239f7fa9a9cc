#include "deployment/UpdateState.h"

#include "KeldraVersion.h"
#include "deployment/PortableBundleManager.h"
#include "deployment/layout/DriveLayout.h"

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

Error writeUpdateState(const QString& root, const QString& installedVersion, const QString& packageSha256)
{
    const QString path = updateStatePath(root);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return Error(Error::Reason::StateFolderNotCreated, {}, QFileInfo(path).absolutePath());

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
    if (QFileInfo(path).isSymLink() && !QFile::remove(path))
        return Error(Error::Reason::StateFileNotOpened, {path}, QStringLiteral("link not removed"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Error(Error::Reason::StateFileNotOpened, {path}, file.errorString());
    const QByteArray json = QJsonDocument(state).toJson(QJsonDocument::Indented);
    if (file.write(json) != json.size() || !file.commit())
        return Error(Error::Reason::StateFileNotSaved, {path}, file.errorString());
    return Error();
}

} // namespace Keldra::Deployment
