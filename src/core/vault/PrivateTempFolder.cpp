#include "vault/PrivateTempFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#ifdef Q_OS_WIN
#include <QSaveFile>
#else
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Keldra::Core::PrivateTempFolder {

namespace {

#ifndef Q_OS_WIN
QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

// lstat, not stat: a link to a private folder is not one.
bool ownFolderWithMode(const QString& path, bool exactly0700)
{
    struct stat status;
    if (::lstat(native(path).constData(), &status) != 0)
        return false;
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid())
        return false;
    return exactly0700 ? (status.st_mode & 07777) == 0700 : (status.st_mode & 077) == 0;
}

QString userFolder(const QString& tempRoot)
{
    return QDir::cleanPath(tempRoot) + QStringLiteral("/keldra-%1").arg(::geteuid());
}

// mkdir never follows a link at the name; what is there afterwards is checked.
QString ownFolderAt(const QString& path)
{
    if (::mkdir(native(path).constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    return ownFolderWithMode(path, true) ? path : QString();
}

// Folders an earlier session made with mkdtemp when the usual name was taken.
QStringList fallbackFolders(const QString& tempRoot)
{
    QStringList found;
    const QString prefix = QFileInfo(userFolder(tempRoot)).fileName() + QLatin1Char('-');
    const QStringList names = QDir(tempRoot).entryList({prefix + QLatin1Char('*')},
                                                       QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : names) {
        const QString path = QDir(tempRoot).filePath(name);
        if (name.size() == prefix.size() + 6 && ownFolderWithMode(path, true))
            found.append(path);
    }
    return found;
}

QString runtimeBase()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QDir::isAbsolutePath(runtime) || !ownFolderWithMode(runtime, false))
        return QString();
    return QDir::cleanPath(runtime) + QStringLiteral("/keldra");
}
#endif

} // namespace

bool isPrivate(const QString& path)
{
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink();
#else
    return ownFolderWithMode(path, true);
#endif
}

QString base(const QString& tempRoot)
{
#ifdef Q_OS_WIN
    const QString path = QDir::cleanPath(tempRoot) + QStringLiteral("/Keldra");
    (void)QDir().mkdir(path);
    return isPrivate(path) ? path : QString();
#else
    if (const QString runtime = runtimeBase(); !runtime.isEmpty()) {
        if (const QString path = ownFolderAt(runtime); !path.isEmpty())
            return path;
    }
    if (const QString path = ownFolderAt(userFolder(tempRoot)); !path.isEmpty())
        return path;
    // The usual name is someone else's (or not as it must be): never used,
    // never changed. A folder of our own under a name nobody could guess.
    if (const QStringList earlier = fallbackFolders(tempRoot); !earlier.isEmpty())
        return earlier.first();
    QByteArray pattern = native(userFolder(tempRoot) + QStringLiteral("-XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        return QString();
    const QString path = QFile::decodeName(pattern);
    return ownFolderWithMode(path, true) ? path : QString();
#endif
}

QStringList bases(const QString& tempRoot)
{
    QStringList found;
#ifdef Q_OS_WIN
    const QString path = QDir::cleanPath(tempRoot) + QStringLiteral("/Keldra");
    if (isPrivate(path))
        found.append(path);
#else
    if (const QString runtime = runtimeBase(); !runtime.isEmpty() && ownFolderWithMode(runtime, true))
        found.append(runtime);
    if (ownFolderWithMode(userFolder(tempRoot), true))
        found.append(userFolder(tempRoot));
    found += fallbackFolders(tempRoot);
#endif
    return found;
}

bool readOwnFile(const QString& path, qint64 maxBytes, QByteArray* out)
{
    out->clear();
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *out = file.read(maxBytes);
    return file.error() == QFileDevice::NoError;
#else
    const int fd = ::open(native(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status;
    bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid();
    while (ok && out->size() < maxBytes) {
        char buffer[16384];
        const ssize_t got = ::read(fd, buffer, size_t(qMin<qint64>(sizeof buffer, maxBytes - out->size())));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        out->append(buffer, qsizetype(got));
    }
    ::close(fd);
    if (!ok)
        out->clear();
    return ok;
#endif
}

bool replaceFile(const QString& path, const QByteArray& bytes)
{
#ifdef Q_OS_WIN
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    return file.write(bytes) == bytes.size() && file.commit();
#else
    // A new name, created exclusively: nothing planted there can be opened.
    const QString temporary = path + QStringLiteral(".new-") + QUuid::createUuid().toString(QUuid::Id128);
    const QByteArray temporaryName = native(temporary);
    const int fd =
        ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = true;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t wrote = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        ok = wrote > 0;
        if (ok)
            done += wrote;
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    // rename replaces the name itself: a link there is dropped, not followed.
    ok = ok && ::rename(temporaryName.constData(), native(path).constData()) == 0;
    if (!ok)
        ::unlink(temporaryName.constData());
    return ok;
#endif
}

} // namespace Keldra::Core::PrivateTempFolder
