#include "storage/DeferredSync.h"

#include "storage/DriveError.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>

#include <atomic>
#include <utility>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Keldra::Core {

namespace {

std::atomic<int> g_syncs{0};

#ifndef Q_OS_WIN
int openFolder(const QString& folder)
{
    int flags = O_RDONLY;
#ifdef O_DIRECTORY
    flags |= O_DIRECTORY;
#endif
#ifdef O_CLOEXEC
    flags |= O_CLOEXEC;
#endif
    int fd;
    do {
        fd = ::open(QFile::encodeName(folder).constData(), flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool existsAt(const QByteArray& path)
{
    struct stat info;
    return ::lstat(path.constData(), &info) == 0;
}
#endif

} // namespace

int DeferredSync::syncCount()
{
    return g_syncs.load();
}

Error DeferredSync::beforeRename(QFileDevice* file)
{
    if (!file->flush())
        return DriveError::fromFile(*file, DriveError::last(), QStringLiteral("write"));
#if defined(Q_OS_LINUX)
    // finish() syncs the whole file system once.
    return Error();
#elif defined(Q_OS_WIN)
    ++g_syncs;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file->handle()));
    if (handle == INVALID_HANDLE_VALUE || FlushFileBuffers(handle) == 0)
        return DriveError::fromCode(DriveError::last(), QStringLiteral("sync"));
    return Error();
#else
    ++g_syncs;
    int result;
    do {
        result = ::fsync(file->handle());
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        return DriveError::fromCode(DriveError::last(), QStringLiteral("sync"));
    return Error();
#endif
}

Error DeferredSync::finish()
{
    const QSet<QString> folders = std::exchange(m_folders, {});
#if defined(Q_OS_WIN)
    // The file system orders its own folder entries; the files were flushed one by one.
    Q_UNUSED(folders);
    return Error();
#else
#ifdef Q_OS_LINUX
    QSet<dev_t> synced;
#endif
    Error firstFailure;
    for (const QString& folder : folders) {
        const int fd = openFolder(folder);
        if (fd < 0) {
            if (firstFailure.ok())
                firstFailure = DriveError::fromCode(DriveError::last(), QStringLiteral("sync ") + folder);
            continue;
        }
        int result = 0;
#ifdef Q_OS_LINUX
        // One sync per file system: the folders written to may lie on more than one.
        struct stat info;
        result = ::fstat(fd, &info);
        if (result == 0 && !synced.contains(info.st_dev)) {
            synced.insert(info.st_dev);
            ++g_syncs;
            result = ::syncfs(fd);
        }
#else
        ++g_syncs;
        do {
            result = ::fsync(fd);
        } while (result != 0 && errno == EINTR);
        // Some systems cannot sync a folder; its files are synced already.
        if (result != 0 && (errno == EINVAL || errno == ENOTSUP || errno == EBADF))
            result = 0;
#endif
        if (result != 0 && firstFailure.ok())
            firstFailure = DriveError::fromCode(DriveError::last(), QStringLiteral("sync ") + folder);
        ::close(fd);
    }
    return firstFailure;
#endif
}

namespace OutsideFile {

Error moveIntoPlace(const QString& from, const QString& to, bool replace, bool* existed)
{
    *existed = false;
    DriveError::clear();
#ifdef Q_OS_WIN
    const DWORD flags = replace ? MOVEFILE_REPLACE_EXISTING : 0;
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(from).utf16()),
                    reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(to).utf16()), flags) != 0)
        return Error();
    const int code = DriveError::last();
    if (!replace && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)) {
        *existed = true;
        return Error();
    }
    return DriveError::fromCode(code, QStringLiteral("rename to ") + QFileInfo(to).fileName());
#else
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    const auto failed = [&](int code) {
        return DriveError::fromCode(code, QStringLiteral("rename to ") + QFileInfo(to).fileName());
    };
    if (replace)
        return ::rename(source.constData(), target.constData()) == 0 ? Error() : failed(errno);
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return Error();
    if (errno == EEXIST) {
        *existed = true;
        return Error();
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return failed(errno);
#endif
    // A hard link is made only where nothing is; the temporary name then goes.
    if (::link(source.constData(), target.constData()) == 0) {
        (void)::unlink(source.constData());
        return Error();
    }
    if (errno == EEXIST) {
        *existed = true;
        return Error();
    }
    // File systems without links (FAT on most sticks, when the system cannot
    // refuse a taken name in the rename itself): looked at just before.
    if (existsAt(target)) {
        *existed = true;
        return Error();
    }
    return ::rename(source.constData(), target.constData()) == 0 ? Error() : failed(errno);
#endif
}

} // namespace OutsideFile

} // namespace Keldra::Core
