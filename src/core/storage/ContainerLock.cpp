#include "storage/ContainerLock.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#ifdef Q_OS_WIN
#include <QDir>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Keldra::Core {

namespace {

enum class Take { Held, Busy, Missing, Unsupported };

QString lockKey(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

struct HeldLock
{
    qintptr handle = -1;
    int users = 0;
};

// Locks this process holds, by container; the vault works on one thread.
QHash<QString, HeldLock>& heldLocks()
{
    static QHash<QString, HeldLock> locks;
    return locks;
}

#ifdef Q_OS_WIN
// Windows byte-range locks are mandatory for the bytes they cover: lock one
// byte far beyond any container's end, so reads and writes are never refused.
constexpr DWORD LockOffsetHigh = 0x7fffffff;

Take take(const QString& path, qintptr* handle)
{
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                                    GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? Take::Missing
                                                                            : Take::Unsupported;
    }
    OVERLAPPED at{};
    at.OffsetHigh = LockOffsetHigh;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD code = GetLastError();
        CloseHandle(file);
        return code == ERROR_LOCK_VIOLATION ? Take::Busy : Take::Unsupported;
    }
    *handle = reinterpret_cast<qintptr>(file);
    return Take::Held;
}

void release(qintptr handle)
{
    CloseHandle(reinterpret_cast<HANDLE>(handle)); // closing the handle releases its lock
}
#else
Take take(const QString& path, qintptr* handle)
{
    const QByteArray name = QFile::encodeName(path);
    // A compaction elsewhere may rename a new container over this one between
    // the open and the lock; the lock must be on the file the name means now.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return errno == ENOENT ? Take::Missing : Take::Unsupported;
        int result;
        do {
            result = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (result != 0 && errno == EINTR);
        if (result != 0) {
            const int code = errno;
            ::close(fd);
            return code == EWOULDBLOCK ? Take::Busy : Take::Unsupported;
        }
        struct stat locked;
        struct stat named;
        if (::fstat(fd, &locked) == 0 && ::stat(name.constData(), &named) == 0 &&
            locked.st_dev == named.st_dev && locked.st_ino == named.st_ino) {
            *handle = fd;
            return Take::Held;
        }
        ::close(fd);
    }
    return Take::Busy;
}

void release(qintptr handle)
{
    ::close(static_cast<int>(handle)); // closing the only descriptor releases the lock
}
#endif

} // namespace

ContainerLock::ContainerLock(const QString& containerPath)
{
    if (containerPath.isEmpty())
        return;
    const QString key = lockKey(containerPath);
    auto held = heldLocks().find(key);
    if (held != heldLocks().end()) {
        ++held->users;
        m_key = key;
        return;
    }
    qintptr handle = -1;
    switch (take(key, &handle)) {
    case Take::Held:
        heldLocks().insert(key, HeldLock{handle, 1});
        m_key = key;
        break;
    case Take::Busy:
        m_error =
            Error(Error::Reason::VaultInUse, QStringLiteral("another program is changing the container"));
        break;
    case Take::Missing:
    case Take::Unsupported:
        break;
    }
}

void ContainerLock::suspendForReplace(const QString& path)
{
#ifdef Q_OS_WIN
    auto held = heldLocks().find(lockKey(path));
    if (held != heldLocks().end() && held->handle != -1) {
        release(held->handle);
        held->handle = -1;
    }
#else
    Q_UNUSED(path);
#endif
}

void ContainerLock::resumeAfterReplace(const QString& path)
{
#ifdef Q_OS_WIN
    auto held = heldLocks().find(lockKey(path));
    if (held != heldLocks().end() && held->handle == -1) {
        qintptr handle = -1;
        if (take(held.key(), &handle) == Take::Held)
            held->handle = handle;
    }
#else
    Q_UNUSED(path);
#endif
}

ContainerLock::~ContainerLock()
{
    if (m_key.isEmpty())
        return;
    auto held = heldLocks().find(m_key);
    if (held == heldLocks().end() || --held->users > 0)
        return;
    if (held->handle != -1)
        release(held->handle);
    heldLocks().erase(held);
}

} // namespace Keldra::Core
