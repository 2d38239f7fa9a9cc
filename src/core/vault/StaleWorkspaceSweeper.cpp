#include "vault/StaleWorkspaceSweeper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif

namespace Keldra::Core {

namespace {

const QRegularExpression& uuidPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"));
    return pattern;
}

QByteArray readSmallFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(4096) : QByteArray();
}

// Start time and boot identity make a reused process id look like what it is: another process.
QByteArray startTimeOf(qint64 pid)
{
#ifdef Q_OS_LINUX
    const QByteArray stat = readSmallFile(QStringLiteral("/proc/%1/stat").arg(pid));
    // The command name (field 2) may hold blanks and parentheses; count fields after the last ')'.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 19 ? fields[19] : QByteArray(); // field 22: start time
#elif defined(Q_OS_WIN)
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return {};
    FILETIME created, exited, kernel, user;
    const bool ok = GetProcessTimes(process, &created, &exited, &kernel, &user);
    CloseHandle(process);
    if (!ok)
        return {};
    return QByteArray::number((quint64(created.dwHighDateTime) << 32) | created.dwLowDateTime);
#else
    Q_UNUSED(pid);
    return {};
#endif
}

QByteArray bootId()
{
#ifdef Q_OS_LINUX
    return readSmallFile(QStringLiteral("/proc/sys/kernel/random/boot_id")).trimmed();
#else
    return {};
#endif
}

bool processExists(qint64 pid)
{
    if (pid <= 0)
        return false;
#ifdef Q_OS_WIN
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
#else
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
#endif
}

bool ownedByUs(const QFileInfo& info)
{
    if (info.isSymLink())
        return false;
#ifdef Q_OS_UNIX
    return info.ownerId() == ::getuid();
#else
    return true;
#endif
}

bool sweepOne(const QString& workspace)
{
    const QString markPath = StaleWorkspaceSweeper::ownerMarkPath(workspace);
    const QFileInfo mark(markPath);
    if (!mark.exists() || !ownedByUs(mark))
        return false;
    if (StaleWorkspaceSweeper::ownerIsRunning(readSmallFile(markPath)))
        return false;
    const QFileInfo folder(workspace);
    bool removed = false;
    if (folder.exists() && folder.isDir() && ownedByUs(folder))
        removed = QDir(workspace).removeRecursively();
    if (removed || !folder.exists())
        QFile::remove(markPath);
    return removed;
}

} // namespace

QString StaleWorkspaceSweeper::ownerMarkPath(const QString& workspacePath)
{
    return QDir::cleanPath(workspacePath) + QStringLiteral(".owner");
}

QByteArray StaleWorkspaceSweeper::currentOwner()
{
    const qint64 pid = QCoreApplication::applicationPid();
    return QByteArray::number(pid) + '\n' + startTimeOf(pid) + '\n' + bootId() + '\n';
}

bool StaleWorkspaceSweeper::ownerIsRunning(const QByteArray& mark)
{
    const QList<QByteArray> lines = mark.split('\n');
    if (lines.size() < 3)
        return true; // unreadable or half-written: someone may be writing it right now
    bool ok = false;
    const qint64 pid = lines[0].toLongLong(&ok);
    if (!ok)
        return true;
    if (!lines[2].isEmpty() && !bootId().isEmpty() && lines[2] != bootId())
        return false; // the computer was restarted since
    if (!processExists(pid))
        return false;
    const QByteArray started = startTimeOf(pid);
    return lines[1].isEmpty() || started.isEmpty() || started == lines[1];
}

bool StaleWorkspaceSweeper::markOwner(const QString& workspacePath)
{
    QSaveFile mark(ownerMarkPath(workspacePath));
    if (!mark.open(QIODevice::WriteOnly))
        return false;
    const QByteArray text = currentOwner();
    return mark.write(text) == text.size() && mark.commit();
}

void StaleWorkspaceSweeper::removeOwnerMark(const QString& workspacePath)
{
    QFile::remove(ownerMarkPath(workspacePath));
}

int StaleWorkspaceSweeper::removeStaleWorkspaces(const QString& tempRoot)
{
    int removed = 0;
    const QDir shared(tempRoot + QStringLiteral("/Keldra"));
    if (shared.exists() && ownedByUs(QFileInfo(shared.absolutePath()))) {
        const QStringList names = shared.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QString& name : names) {
            if (uuidPattern().match(name).hasMatch() && sweepOne(shared.filePath(name)))
                ++removed;
        }
    }
    const QStringList names =
        QDir(tempRoot).entryList({QStringLiteral("Keldra-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        if (uuidPattern().match(name.mid(7)).hasMatch() && sweepOne(QDir(tempRoot).filePath(name)))
            ++removed;
    }
    return removed;
}

} // namespace Keldra::Core
