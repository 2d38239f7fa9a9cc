#include "deployment/UpdateJournal.h"

#include "deployment/UpdateManifest.h"
#include "deployment/layout/DriveLayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

namespace Keldra::Deployment {

namespace {

constexpr qint64 kJournalByteLimit = 64 * 1024;

bool isStamp(const QString& text)
{
    static const QRegularExpression stamp(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{14}")));
    return stamp.match(text).hasMatch();
}

} // namespace

QString updateJournalPath(const QString& root)
{
    return DriveLayout::updateJournal(root);
}

Error writeUpdateJournal(const QString& root, const UpdateJournal& journal)
{
    const QString path = updateJournalPath(root);
    // QSaveFile writes through a link; the record must land on the drive itself.
    if (QFileInfo(path).isSymLink())
        QFile::remove(path);
    const QJsonObject object{
        {QStringLiteral("staging"), journal.staging},
        {QStringLiteral("backupStamp"), journal.backupStamp},
        {QStringLiteral("version"), journal.version},
        {QStringLiteral("sha256"), journal.sha256},
        {QStringLiteral("hadWindows"), journal.hadWindows},
        {QStringLiteral("hadLinux"), journal.hadLinux},
        {QStringLiteral("swapped"), journal.swapped},
    };
    QSaveFile file(path);
    const QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.commit()) {
        return Error(Error::Reason::JournalNotWritable, {path}, file.errorString());
    }
    return Error();
}

bool readUpdateJournal(const QString& root, UpdateJournal* journal)
{
    const QString path = updateJournalPath(root);
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile() || info.size() > kJournalByteLimit)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject object = QJsonDocument::fromJson(file.read(kJournalByteLimit)).object();
    UpdateJournal read;
    read.staging = object.value(QStringLiteral("staging")).toString();
    read.backupStamp = object.value(QStringLiteral("backupStamp")).toString();
    read.version = object.value(QStringLiteral("version")).toString();
    read.sha256 = object.value(QStringLiteral("sha256")).toString();
    read.hadWindows = object.value(QStringLiteral("hadWindows")).toBool();
    read.hadLinux = object.value(QStringLiteral("hadLinux")).toBool();
    read.swapped = object.value(QStringLiteral("swapped")).toBool();
    // Every name recovery touches is built from these, so they must be exactly ours.
    if (!read.staging.startsWith(QLatin1String(DriveLayout::StagingPrefix)) ||
        !isStamp(read.staging.mid(qstrlen(DriveLayout::StagingPrefix))) || !isStamp(read.backupStamp) ||
        !isUpdateVersion(read.version))
        return false;
    *journal = read;
    return true;
}

} // namespace Keldra::Deployment
