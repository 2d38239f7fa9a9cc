#include "vault/CompactionCopy.h"

#include "format/ContainerManager.h"
#include "storage/ContainerFile.h"
#include "storage/ContainerReplacer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Keldra::Core {

namespace {

using Reason = Error::Reason;

constexpr qint64 CopyChunkSize = 8 * 1024 * 1024;
const QByteArray RecordHeader = QByteArrayLiteral("keldra-compaction-copy 1");

QString stateFolder()
{
    const QString overridden = qEnvironmentVariable("KELDRA_STATE_DIR");
    if (!overridden.isEmpty())
        return QDir::cleanPath(overridden);
#ifdef Q_OS_WIN
    const QString local = qEnvironmentVariable("LOCALAPPDATA");
    return local.isEmpty() ? QString() : QDir::cleanPath(local + QLatin1String("/Keldra"));
#else
    // Only an absolute XDG path counts; a relative one would follow the working folder.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QLatin1String("/.local/state");
    return QDir::cleanPath(state + QLatin1String("/keldra"));
#endif
}

// A folder of ours alone: made when missing, a real folder (no link), owned by
// this user and closed to everyone else.
Error privateFolder(const QString& path)
{
    if (!QDir().mkpath(path))
        return Error(Reason::WorkspaceUnavailable, QStringLiteral("cannot make ") + path);
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (!info.isDir() || info.isSymLink())
        return Error(Reason::WorkspaceUnavailable, QStringLiteral("not a private folder: ") + path);
#else
    const QByteArray native = QFile::encodeName(path);
    struct stat status = {};
    if (::lstat(native.constData(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid())
        return Error(Reason::WorkspaceUnavailable, QStringLiteral("not a private folder: ") + path);
    if ((status.st_mode & 0777) != 0700 && ::chmod(native.constData(), 0700) != 0)
        return Error(Reason::WorkspaceUnavailable, QStringLiteral("cannot close ") + path);
#endif
    return Error();
}

// One subfolder per container, named after its absolute path.
QString folderOf(const QString& containerPath)
{
    const QString base = stateFolder();
    if (base.isEmpty())
        return QString();
    const QByteArray name = QCryptographicHash::hash(QFileInfo(containerPath).absoluteFilePath().toUtf8(),
                                                     QCryptographicHash::Sha256)
                                .toHex()
                                .left(24);
    return base + QLatin1String("/compact-") + QString::fromLatin1(name);
}

QString copyIn(const QString& folder)
{
    return folder + QLatin1Char('/') + QLatin1String(ContainerManager::FileName);
}

QString recordIn(const QString& folder)
{
    return folder + QLatin1String("/record");
}

QByteArray recordFor(const QString& containerPath, const CompactionCopy::Kept& kept)
{
    return RecordHeader + "\ncontainer=" + QFileInfo(containerPath).absoluteFilePath().toUtf8().toBase64() +
           "\nsize=" + QByteArray::number(kept.size) + "\nsha256=" + kept.sha256.toHex() + '\n';
}

QByteArray sha256Of(const QString& path, qint64* size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return QByteArray();
    *size = file.size();
    return hash.result();
}

// Copies `from` into a new `to` and syncs it.
Error copyFile(const QString& from, const QString& to)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return Error(Reason::WorkspaceUnavailable, source.errorString());
    ContainerFile target(to);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return target.error();
    const qint64 total = source.size();
    for (qint64 done = 0; done < total;) {
        const qint64 chunk = qMin(CopyChunkSize, total - done);
        if (!target.copyFrom(source, done, chunk))
            return target.error();
        done += chunk;
    }
    if (!target.sync())
        return target.error();
    return Error();
}

// The local disk's failures, a full one included, are the workspace's, not the drive's.
Error localError(const Error& error)
{
    if (error.is(Reason::DriveFull) || error.is(Reason::WriteFailed))
        return Error(Reason::WorkspaceUnavailable, QStringLiteral("compaction copy: ") + error.toString());
    return error;
}

} // namespace

Error CompactionCopy::keep(const QString& scratch, const QString& containerPath, Kept* kept)
{
    const QString folder = folderOf(containerPath);
    if (folder.isEmpty())
        return Error(Reason::WorkspaceUnavailable, QStringLiteral("no folder for the compaction copy"));
    if (const Error made = privateFolder(QFileInfo(folder).absolutePath()); !made.ok())
        return made;
    if (const Error made = privateFolder(folder); !made.ok())
        return made;
    // A record left by an earlier run goes first: it must never name a half-written copy.
    (void)ContainerFile::removeFile(recordIn(folder));
    if (const Error synced = ContainerFile::syncFolder(folder); !synced.ok())
        return localError(synced);

    Kept made;
    made.path = copyIn(folder);
    if (const Error copied = copyFile(scratch, made.path); !copied.ok())
        return localError(copied);
    made.sha256 = sha256Of(made.path, &made.size);
    if (made.sha256.isEmpty() || made.size != QFileInfo(scratch).size())
        return Error(Reason::WorkspaceUnavailable, QStringLiteral("compaction copy does not read back"));

    ContainerFile record(recordIn(folder));
    if (!record.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        !record.writeAll(recordFor(containerPath, made)) || !record.sync())
        return localError(record.error());
    record.close();
    Error synced = ContainerFile::syncFolder(folder);
    if (synced.ok())
        synced = ContainerFile::syncFolder(QFileInfo(folder).absolutePath());
    if (!synced.ok())
        return localError(synced);
    if (kept)
        *kept = made;
    return Error();
}

bool CompactionCopy::find(const QString& containerPath, Kept* kept)
{
    const QString folder = folderOf(containerPath);
    if (folder.isEmpty())
        return false;
    QFile record(recordIn(folder));
    if (!record.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = record.read(4096).split('\n');
    if (lines.size() < 4 || lines.at(0) != RecordHeader)
        return false;
    Kept found;
    found.path = copyIn(folder);
    QByteArray recorded;
    for (const QByteArray& line : lines.mid(1)) {
        if (line.startsWith("container="))
            recorded = QByteArray::fromBase64(line.mid(10));
        else if (line.startsWith("size="))
            found.size = line.mid(5).toLongLong();
        else if (line.startsWith("sha256="))
            found.sha256 = QByteArray::fromHex(line.mid(7));
    }
    // The subfolder's name is only a hash: the record must name this very container.
    if (QString::fromUtf8(recorded) != QFileInfo(containerPath).absoluteFilePath() || found.size <= 0 ||
        found.sha256.size() != 32)
        return false;
    qint64 size = -1;
    if (sha256Of(found.path, &size) != found.sha256 || size != found.size)
        return false;
    if (kept)
        *kept = found;
    return true;
}

Error CompactionCopy::restore(const Kept& kept, const QString& containerPath,
                              const std::function<Error(const QString&)>& verify)
{
    const ContainerReplacer::Outcome replaced =
        ContainerReplacer::replace(kept.path, containerPath, verify, ContainerReplacer::Progress());
    if (replaced.result == ContainerReplacer::Result::Replaced)
        return Error();
    if (replaced.result == ContainerReplacer::Result::Failed)
        return replaced.error;
    // No room beside it: what is there is cut anyway, so it is written over in place.
    QFile source(kept.path);
    if (!source.open(QIODevice::ReadOnly))
        return Error(Reason::WorkspaceUnavailable, source.errorString());
    ContainerFile target(containerPath);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return target.error();
    for (qint64 done = 0; done < kept.size;) {
        const qint64 chunk = qMin(CopyChunkSize, kept.size - done);
        if (!target.copyFrom(source, done, chunk))
            return target.error();
        done += chunk;
    }
    if (!target.sync())
        return target.error();
    target.close();
    (void)ContainerFile::syncFolderOf(containerPath);
    return verify ? verify(containerPath) : Error();
}

void CompactionCopy::discard(const QString& containerPath)
{
    const QString folder = folderOf(containerPath);
    if (folder.isEmpty())
        return;
    // The record first: a copy without one is never restored.
    if (ContainerFile::removeFile(recordIn(folder)).ok())
        (void)ContainerFile::syncFolder(folder);
    (void)ContainerFile::removeFile(copyIn(folder));
    QDir().rmdir(folder);
}

void CompactionCopy::discardUnusable(const QString& containerPath)
{
    const QString folder = folderOf(containerPath);
    if (folder.isEmpty() || !QFileInfo::exists(folder) || find(containerPath, nullptr))
        return;
    (void)ContainerFile::removeFile(recordIn(folder));
    (void)ContainerFile::removeFile(copyIn(folder));
    QDir().rmdir(folder);
}

} // namespace Keldra::Core
