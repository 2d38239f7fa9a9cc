#include "vault/WorkspaceRecord.h"

#include "crypto/Sha256.h"
#include "vault/PrivateTempFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Keldra::Core {

namespace {

constexpr qint64 ChunkSize = 1024 * 1024;

bool insideWorkspace(const QString& workspace, const QString& relative)
{
    if (relative.isEmpty() || QDir::isAbsolutePath(relative))
        return false;
    const QString root = QDir::cleanPath(workspace) + QLatin1Char('/');
    return QDir::cleanPath(root + relative).startsWith(root);
}

} // namespace

QString WorkspaceRecord::pathFor(const QString& workspacePath)
{
    return QDir::cleanPath(workspacePath) + QStringLiteral(".copies");
}

bool WorkspaceRecord::save(const QString& workspacePath) const
{
    const QDir workspace(workspacePath);
    QJsonArray list;
    for (const TrackedTempFile& copy : copies) {
        list.append(QJsonObject{
            {QStringLiteral("path"), copy.vaultPath},
            {QStringLiteral("copy"), workspace.relativeFilePath(copy.tempPath)},
            {QStringLiteral("size"), QString::number(copy.openedSize)},
            {QStringLiteral("sha256"), QString::fromLatin1(copy.openedSha256.toHex())},
        });
    }
    const QJsonObject root{{QStringLiteral("container"), containerPath},
                           {QStringLiteral("vault"), QString::fromLatin1(vaultId.toHex())},
                           {QStringLiteral("copies"), list}};
    // Only beside a workspace in a folder of ours alone: in a shared folder
    // anyone could have put a link at the record's name first.
    if (!PrivateTempFolder::isPrivate(QFileInfo(QDir::cleanPath(workspacePath)).absolutePath()))
        return false;
    return PrivateTempFolder::replaceFile(pathFor(workspacePath),
                                          QJsonDocument(root).toJson(QJsonDocument::Compact));
}

bool WorkspaceRecord::load(const QString& workspacePath, WorkspaceRecord* out)
{
    // Never through a link nor from another user's file (an earlier
    // version wrote records into the shared folder).
    QByteArray text;
    if (!PrivateTempFolder::readOwnFile(pathFor(workspacePath), 16 * 1024 * 1024, &text))
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isObject())
        return false;
    const QJsonObject root = document.object();
    WorkspaceRecord record;
    record.containerPath = root.value(QStringLiteral("container")).toString();
    record.vaultId = QByteArray::fromHex(root.value(QStringLiteral("vault")).toString().toLatin1());
    const QJsonArray list = root.value(QStringLiteral("copies")).toArray();
    for (const QJsonValue& value : list) {
        const QJsonObject object = value.toObject();
        const QString relative = object.value(QStringLiteral("copy")).toString();
        if (!insideWorkspace(workspacePath, relative))
            continue;
        TrackedTempFile copy;
        copy.vaultPath = object.value(QStringLiteral("path")).toString();
        copy.tempPath = QDir::cleanPath(QDir(workspacePath).absoluteFilePath(relative));
        bool ok = false;
        copy.openedSize = object.value(QStringLiteral("size")).toString().toLongLong(&ok);
        if (!ok)
            copy.openedSize = -1;
        copy.openedSha256 = QByteArray::fromHex(object.value(QStringLiteral("sha256")).toString().toLatin1());
        if (!copy.vaultPath.isEmpty())
            record.copies.append(copy);
    }
    *out = record;
    return true;
}

bool WorkspaceRecord::measure(const QString& path, qint64* size, QByteArray* sha256)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    Sha256 hash;
    QByteArray buffer;
    qint64 total = 0;
    while (!file.atEnd()) {
        buffer = file.read(ChunkSize);
        if (buffer.isEmpty() && file.error() != QFileDevice::NoError)
            return false;
        if (!hash.addData(buffer))
            return false;
        total += buffer.size();
    }
    if (file.error() != QFileDevice::NoError)
        return false;
    *sha256 = hash.result();
    *size = total;
    return !sha256->isEmpty();
}

bool WorkspaceRecord::copyChanged(const TrackedTempFile& copy)
{
    const QFileInfo info(copy.tempPath);
    if (!info.exists() && !info.isSymLink())
        return false;
    // A different size needs no hashing.
    if (info.isFile() && info.size() != copy.openedSize)
        return true;
    qint64 size = 0;
    QByteArray sha256;
    if (!measure(copy.tempPath, &size, &sha256))
        return true;
    return size != copy.openedSize || sha256 != copy.openedSha256;
}

bool WorkspaceRecord::wipeFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isFile() && !info.isSymLink()) {
        QFile file(path);
        if (file.open(QIODevice::ReadWrite)) {
            const QByteArray zeros(int(qMin<qint64>(ChunkSize, qMax<qint64>(info.size(), 1))), '\0');
            for (qint64 done = 0; done < info.size();) {
                const qint64 step = qMin<qint64>(zeros.size(), info.size() - done);
                if (file.write(zeros.constData(), step) != step)
                    break;
                done += step;
            }
            file.flush();
            file.close();
        }
    }
    return QFile::remove(path);
}

} // namespace Keldra::Core
