#include "storage/ContainerLock.h"

#include "storage/DriveError.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSysInfo>
#include <QThread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Keldra::Core {

namespace {

// Missing and Unopened let the caller go ahead: its own open fails on its own
// reason. CannotLock: the container opens but its file system has no locks.
enum class Take { Held, Busy, Missing, Unopened, CannotLock };

bool systemLocksUnsupported = false;

// A holder writes its name right after it made the lock file; one without a
// readable name after this long died in between.
constexpr qint64 NamelessLockFileSeconds = 60;

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
    bool shared = false;
    // The handle is the lock file's, not the container's.
    bool lockFile = false;
};

// Locks this process holds, by container; the vault works on one thread.
QHash<QString, HeldLock>& heldLocks()
{
    static QHash<QString, HeldLock> locks;
    return locks;
}

QString thisHost()
{
    return QSysInfo::machineHostName();
}

QByteArray lockFileContent()
{
    return thisHost().toUtf8() + '\n' + QByteArray::number(QCoreApplication::applicationPid()) + '\n';
}

bool processGone(qint64 pid);

// Left by a program of this host that has ended (or one that died before it
// wrote its name): nobody holds it any more.
bool isStale(const QString& lockPath)
{
    QFile file(lockPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = file.read(4096).split('\n');
    bool named = false;
    const qint64 pid = lines.size() >= 2 ? lines.at(1).toLongLong(&named) : 0;
    if (!named || pid <= 0) {
        const QDateTime modified = QFileInfo(lockPath).lastModified();
        return modified.isValid() && modified.secsTo(QDateTime::currentDateTime()) > NamelessLockFileSeconds;
    }
    // Another host's process ids mean nothing here: its lock is respected.
    const QString host = QString::fromUtf8(lines.at(0));
    return !host.isEmpty() && host == thisHost() && processGone(pid);
}

#ifdef Q_OS_WIN
// Windows byte-range locks are mandatory for the bytes they cover: lock one
// byte far beyond any container's end, so reads and writes are never refused.
constexpr DWORD LockOffsetHigh = 0x7fffffff;

const wchar_t* nativePath(const QString& path, QString* storage)
{
    *storage = QDir::toNativeSeparators(path);
    return reinterpret_cast<const wchar_t*>(storage->utf16());
}

Take take(const QString& path, bool shared, qintptr* handle)
{
    QString native;
    const HANDLE file = CreateFileW(nativePath(path, &native), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? Take::Missing : Take::Unopened;
    }
    OVERLAPPED at{};
    at.OffsetHigh = LockOffsetHigh;
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (shared ? 0 : LOCKFILE_EXCLUSIVE_LOCK);
    const bool locked = !systemLocksUnsupported && LockFileEx(file, flags, 0, 1, 0, &at);
    if (!locked) {
        const DWORD code = systemLocksUnsupported ? DWORD(ERROR_NOT_SUPPORTED) : GetLastError();
        CloseHandle(file);
        return code == ERROR_LOCK_VIOLATION ? Take::Busy : Take::CannotLock;
    }
    *handle = reinterpret_cast<qintptr>(file);
    return Take::Held;
}

void release(qintptr handle)
{
    CloseHandle(reinterpret_cast<HANDLE>(handle)); // closing the handle releases its lock
}

bool processGone(qint64 pid)
{
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() == ERROR_INVALID_PARAMETER;
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

Take createLockFile(const QString& lockPath, qintptr* handle, int* code)
{
    QString native;
    const HANDLE file = CreateFileW(nativePath(lockPath, &native), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *code = int(error);
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Take::Busy : Take::Unopened;
    }
    const QByteArray content = lockFileContent();
    DWORD written = 0;
    if (!WriteFile(file, content.constData(), DWORD(content.size()), &written, nullptr) ||
        written != DWORD(content.size())) {
        *code = int(GetLastError());
        CloseHandle(file);
        DeleteFileW(nativePath(lockPath, &native));
        return Take::Unopened;
    }
    *handle = reinterpret_cast<qintptr>(file);
    return Take::Held;
}

void releaseLockFile(const QString& lockPath, qintptr handle)
{
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    QString native;
    DeleteFileW(nativePath(lockPath, &native));
}

// Keeps two programs of this host from taking one stale lock file over at once.
class TakeoverGuard
{
public:
    TakeoverGuard() : m_mutex(CreateMutexW(nullptr, FALSE, L"Local\\Keldra-lock-file-takeover"))
    {
        const DWORD waited = m_mutex ? WaitForSingleObject(m_mutex, 2000) : WAIT_FAILED;
        // Abandoned: its holder died while holding it; it is ours now all the same.
        m_held = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~TakeoverGuard()
    {
        if (m_held)
            ReleaseMutex(m_mutex);
        if (m_mutex)
            CloseHandle(m_mutex);
    }
    bool held() const { return m_held; }

private:
    HANDLE m_mutex;
    bool m_held = false;
};

bool removeLockFile(const QString& lockPath)
{
    QString native;
    return DeleteFileW(nativePath(lockPath, &native)) || GetLastError() == ERROR_FILE_NOT_FOUND;
}
#else
Take take(const QString& path, bool shared, qintptr* handle)
{
    const QByteArray name = QFile::encodeName(path);
    // A compaction elsewhere may rename a new container over this one between
    // the open and the lock; the lock must be on the file the name means now.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return errno == ENOENT ? Take::Missing : Take::Unopened;
        int result;
        do {
            result = systemLocksUnsupported ? (errno = ENOLCK, -1)
                                            : ::flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB);
        } while (result != 0 && errno == EINTR);
        if (result != 0) {
            const int code = errno;
            ::close(fd);
            // ENOLCK, EOPNOTSUPP, EINVAL, ...: the file system cannot lock.
            return code == EWOULDBLOCK ? Take::Busy : Take::CannotLock;
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

bool processGone(qint64 pid)
{
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

Take createLockFile(const QString& lockPath, qintptr* handle, int* code)
{
    const QByteArray name = QFile::encodeName(lockPath);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        *code = errno;
        return *code == EEXIST ? Take::Busy : Take::Unopened;
    }
    const QByteArray content = lockFileContent();
    if (::write(fd, content.constData(), size_t(content.size())) != content.size()) {
        *code = errno;
        ::close(fd);
        ::unlink(name.constData());
        return Take::Unopened;
    }
    *handle = fd;
    return Take::Held;
}

void releaseLockFile(const QString& lockPath, qintptr handle)
{
    // Removed only while the name still means our file.
    const QByteArray name = QFile::encodeName(lockPath);
    struct stat held;
    struct stat named;
    if (::fstat(int(handle), &held) == 0 && ::stat(name.constData(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino)
        ::unlink(name.constData());
    ::close(int(handle));
}

// Keeps two programs of this host from taking one stale lock file over at
// once (both would remove it, and the second would remove the first one's
// new file). Only programs of this host take one over, and they share the
// local temporary folder, which can be locked.
class TakeoverGuard
{
public:
    TakeoverGuard()
        : m_fd(::open(QFile::encodeName(QDir::tempPath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        for (int attempt = 0; m_fd >= 0 && !m_held && attempt < 200; ++attempt) {
            m_held = ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
            if (!m_held && errno != EWOULDBLOCK && errno != EINTR)
                break;
            if (!m_held)
                QThread::msleep(10);
        }
    }
    ~TakeoverGuard()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool held() const { return m_held; }

private:
    int m_fd;
    bool m_held = false;
};

bool removeLockFile(const QString& lockPath)
{
    return ::unlink(QFile::encodeName(lockPath).constData()) == 0 || errno == ENOENT;
}
#endif

bool refusesEveryNewFile(int code)
{
#ifdef Q_OS_WIN
    return code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT;
#else
    return code == EROFS || code == EACCES || code == EPERM;
#endif
}

Take takeLockFile(const QString& containerPath, qintptr* handle, int* code)
{
    const QString lockPath = ContainerLock::lockFilePath(containerPath);
    const Take taken = createLockFile(lockPath, handle, code);
    if (taken != Take::Busy || !isStale(lockPath))
        return taken;
    const TakeoverGuard guard;
    // Looked at again under the guard: another program may have taken it over meanwhile.
    if (!guard.held() || !isStale(lockPath) || !removeLockFile(lockPath))
        return Take::Busy;
    return createLockFile(lockPath, handle, code);
}

} // namespace

ContainerLock::ContainerLock(const QString& containerPath, Mode mode)
{
    if (containerPath.isEmpty())
        return;
    const QString key = lockKey(containerPath);
    const bool shared = mode == Mode::Shared;
    auto held = heldLocks().find(key);
    if (held != heldLocks().end()) {
        // A change inside a read of this process would need the read's shared
        // lock made exclusive, which another program's read may prevent.
        if (!shared && held->shared && !held->lockFile) {
            m_error = Error(Error::Reason::VaultInUse,
                            QStringLiteral("a read of this process holds the container"));
            return;
        }
        ++held->users;
        m_key = key;
        return;
    }
    qintptr handle = -1;
    int code = 0;
    Take taken = take(key, shared, &handle);
    const bool lockFile = taken == Take::CannotLock;
    // Never unlocked: where the file system cannot lock, a lock file stands in
    // (readers take it too: it has no shared kind).
    if (lockFile)
        taken = takeLockFile(key, &handle, &code);
    switch (taken) {
    case Take::Held:
        heldLocks().insert(key, HeldLock{handle, 1, shared, lockFile});
        m_key = key;
        break;
    case Take::Busy:
        m_error =
            Error(Error::Reason::VaultInUse, QStringLiteral("another program is changing the container"));
        break;
    case Take::Unopened:
        // A drive that takes no new file at all (read-only, no rights) takes
        // no change of ours either (each writes a journal or a copy beside the
        // container): unlocking and reading stay possible there. Any other
        // refusal of the lock file refuses the change.
        if (lockFile && !shared && !refusesEveryNewFile(code))
            m_error = DriveError::fromCode(code, QStringLiteral("lock file beside the container"));
        break;
    case Take::Missing:
    case Take::CannotLock:
        break;
    }
}

QString ContainerLock::lockFilePath(const QString& containerPath)
{
    return lockKey(containerPath) + QStringLiteral("-lock");
}

void ContainerLock::setSystemLocksUnsupported(bool unsupported)
{
    systemLocksUnsupported = unsupported;
}

void ContainerLock::suspendForReplace(const QString& path)
{
#ifdef Q_OS_WIN
    auto held = heldLocks().find(lockKey(path));
    if (held != heldLocks().end() && !held->lockFile && held->handle != -1) {
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
    if (held != heldLocks().end() && !held->lockFile && held->handle == -1) {
        qintptr handle = -1;
        if (take(held.key(), held->shared, &handle) == Take::Held)
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
    if (held->lockFile)
        releaseLockFile(lockFilePath(m_key), held->handle);
    else if (held->handle != -1)
        release(held->handle);
    heldLocks().erase(held);
}

} // namespace Keldra::Core
