#include "UpdatePackage.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

namespace Keldra::Deployment {

namespace {

constexpr int kUnzipTimeoutMs = 180000;

void setError(QString* error, const QString& message)
{
    if (error)
        *error = message;
}

QString packagePath(const QString& extractedRoot, const QString& platform, const QString& name)
{
    return QDir(extractedRoot).filePath(QStringLiteral("Keldra/%1/%2").arg(platform, name));
}

} // namespace

bool extractZip(const QString& zipPath, const QString& destination, QString* error)
{
    if (!QDir().mkpath(destination)) {
        setError(error, QStringLiteral("Não foi possível criar staging: %1").arg(destination));
        return false;
    }

    QProcess unzip;
    unzip.start(QStringLiteral("unzip"),
                {QStringLiteral("-q"), QStringLiteral("-o"), zipPath, QStringLiteral("-d"), destination});
    const bool finished = unzip.waitForFinished(kUnzipTimeoutMs);
    if (finished && unzip.exitStatus() == QProcess::NormalExit && unzip.exitCode() == 0)
        return true;

    const QString output = QString::fromLocal8Bit(unzip.readAllStandardOutput());
    QString errors = QString::fromLocal8Bit(unzip.readAllStandardError());
    // A missing unzip prints nothing; without this the reason would be blank.
    if (output.isEmpty() && errors.isEmpty())
        errors = unzip.errorString();
    if (unzip.state() != QProcess::NotRunning) {
        unzip.kill();
        unzip.waitForFinished(5000);
    }
    setError(error, QStringLiteral("Falha ao extrair ZIP: %1%2").arg(output, errors));
    return false;
}

bool validateExtractedPackage(const QString& extractedRoot, QString* error)
{
    const QString windowsFolder = QStringLiteral("windows");
    const QString linuxFolder = QStringLiteral("linux");
    const QList<QPair<QString, QString>> requiredFiles{
        {windowsFolder, QStringLiteral("Keldra.exe")},
        {windowsFolder, QStringLiteral("platforms/qwindows.dll")},
        {linuxFolder, QStringLiteral("Keldra")},
        {linuxFolder, QStringLiteral("Keldra-Linux.sh")},
        {linuxFolder, QStringLiteral("qt.conf")},
        {linuxFolder, QStringLiteral("lib/libssl.so.3")},
        {linuxFolder, QStringLiteral("plugins/tls/libqopensslbackend.so")},
    };
    for (const auto& [platform, name] : requiredFiles) {
        const QString path = packagePath(extractedRoot, platform, name);
        if (!QFileInfo::exists(path)) {
            setError(error, QStringLiteral("Pacote sem arquivo obrigatório: %1").arg(path));
            return false;
        }
    }
    for (const QString& name : {QStringLiteral("lib"), QStringLiteral("plugins")}) {
        const QString path = packagePath(extractedRoot, linuxFolder, name);
        if (!QFileInfo(path).isDir()) {
            setError(error, QStringLiteral("Pacote sem diretório obrigatório: %1").arg(path));
            return false;
        }
    }
    return true;
}

} // namespace Keldra::Deployment
