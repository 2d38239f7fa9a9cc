#include "UpdateFixtures.h"

#include "UpdateTestKey.h"
#include "deployment/UpdateState.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>

namespace UpdateFixtures {

namespace {

const QStringList kPackageFiles{
    QStringLiteral("Keldra/windows/Keldra.exe"),
    QStringLiteral("Keldra/windows/platforms/qwindows.dll"),
    QStringLiteral("Keldra/linux/Keldra"),
    QStringLiteral("Keldra/linux/Keldra-Linux.sh"),
    QStringLiteral("Keldra/linux/qt.conf"),
    QStringLiteral("Keldra/linux/lib/libssl.so.3"),
    QStringLiteral("Keldra/linux/plugins/tls/libqopensslbackend.so"),
    QStringLiteral("Keldra/linux/plugins/platforms/libqxcb.so"),
};

} // namespace

void prepareDrive(const QString& root, const QString& installedVersion)
{
    const QDir drive(root);
    QVERIFY(writeFile(drive.filePath(QStringLiteral("keldra.kldr")), QByteArrayLiteral("container bytes")));
    QVERIFY(
        writeFile(drive.filePath(QStringLiteral("Keldra-Windows.bat")), QByteArrayLiteral("@echo off\r\n")));
    QVERIFY(writeFile(drive.filePath(QStringLiteral("Keldra-Linux.sh")), QByteArrayLiteral("#!/bin/sh\n")));
    QVERIFY(writeFile(drive.filePath(QStringLiteral("Keldra/README.txt")),
                      QByteArrayLiteral("Keldra portable bundle\n")));
    for (const QString& file : kPackageFiles)
        QVERIFY(writeFile(drive.filePath(file), file.toUtf8() + " 1.0.0"));
    if (!installedVersion.isEmpty()) {
        const Keldra::Deployment::Error error =
            Keldra::Deployment::writeUpdateState(root, installedVersion, QString());
        QVERIFY2(error.ok(), qPrintable(error.toString()));
    }
}

QByteArray buildPackage(const QString& workDir, const QString& version, const QStringList& omitted)
{
    const QDir work(workDir);
    const QString content = work.filePath(QStringLiteral("content-%1").arg(version));
    for (const QString& file : kPackageFiles) {
        const QByteArray bytes = file.toUtf8() + ' ' + version.toUtf8();
        if (!omitted.contains(file) && !writeFile(QDir(content).filePath(file), bytes))
            return {};
    }
    return zipFolder(content, work.filePath(QStringLiteral("package-%1.zip").arg(version)));
}

QByteArray zipFolder(const QString& folder, const QString& zipPath)
{
    QFile::remove(zipPath);
    QProcess zip;
    zip.setWorkingDirectory(folder);
    zip.start(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("-y"),
                                      zipPath, QStringLiteral(".")});
    if (!zip.waitForFinished(60000) || zip.exitStatus() != QProcess::NormalExit || zip.exitCode() != 0) {
        qWarning("zip failed: %s", zip.readAllStandardError().constData());
        return {};
    }
    return readFile(zipPath);
}

QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> entries;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = base.relativeFilePath(path);
        if (it.fileInfo().isDir())
            entries.insert(relative + QLatin1Char('/'), QByteArray());
        else
            entries.insert(relative, readFile(path));
    }
    return entries;
}

QString sha256Hex(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

QJsonObject manifest(const QString& version, const QString& packageUrl, const QByteArray& package)
{
    return UpdateTestKey::signedManifest(QJsonObject{
        {QStringLiteral("schemaVersion"), 1},
        {QStringLiteral("app"), QStringLiteral("Keldra")},
        {QStringLiteral("version"), version},
        {QStringLiteral("packageUrl"), packageUrl},
        {QStringLiteral("sha256"), sha256Hex(package)},
        {QStringLiteral("size"), static_cast<double>(package.size())},
        {QStringLiteral("publishedAt"), QStringLiteral("2026-12-01T10:00:00Z")},
        {QStringLiteral("releaseNotes"), QStringLiteral("Correções de estabilidade.")},
    });
}

QByteArray toJson(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

} // namespace UpdateFixtures
