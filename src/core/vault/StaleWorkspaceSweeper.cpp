#include "vault/StaleWorkspaceSweeper.h"

#include "vault/PrivateTempFolder.h"
#include "vault/WorkspaceRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif

namespace Keldra::Core {

namespace {

// Names are checked by hand, without regular expressions or QDir name
// filters (which use them): this runs on worker threads, and a regular
// expression matched there leaves a thread-local JIT stack whose clean-up at
// thread exit crashes with MinGW's runtime.

// A workspace folder is named after a lowercase UUID: exactly what QUuid
// writes back for it.
bool isWorkspaceName(QStringView name)
{
    return QUuid::fromString(name).toString(QUuid::WithoutBraces) == name;
}

QStringList foldersStartingWith(const QString& parent, QStringView prefix)
{
    QStringList names = QDir(parent).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    names.removeIf([prefix](const QString& name) { return !name.startsWith(prefix); });
    return names;
}

#ifdef Q_OS_LINUX
QByteArray readSmallFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(4096) : QByteArray();
}
#endif

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

// A marked folder of ours whose owner is gone. A mark of anyone else, a
// link or a pipe in its place is not read at all.
bool ownerIsGone(const QString& folder)
{
    QByteArray mark;
    if (!PrivateTempFolder::readOwnFile(StaleWorkspaceSweeper::ownerMarkPath(folder), 4096, &mark))
        return false;
    return !StaleWorkspaceSweeper::ownerIsRunning(mark);
}

// Marks are written only beside a workspace in a folder of ours alone.
bool writeMark(const QString& workspacePath, const QByteArray& text)
{
    if (!PrivateTempFolder::isPrivate(QFileInfo(QDir::cleanPath(workspacePath)).absolutePath()))
        return false;
    return PrivateTempFolder::replaceFile(StaleWorkspaceSweeper::ownerMarkPath(workspacePath), text);
}

QList<TrackedTempFile> changedCopies(const QString& workspace, WorkspaceRecord* record)
{
    QList<TrackedTempFile> changed;
    if (!WorkspaceRecord::load(workspace, record))
        return changed;
    for (const TrackedTempFile& copy : std::as_const(record->copies)) {
        if (WorkspaceRecord::copyChanged(copy))
            changed.append(copy);
    }
    return changed;
}

bool sweepOne(const QString& folder, bool keepChangedCopies)
{
    if (!ownerIsGone(folder))
        return false;
    // Edits the dead run never stored are kept for the next unlock of their vault.
    WorkspaceRecord record;
    if (keepChangedCopies && !changedCopies(folder, &record).isEmpty())
        return false;
    return StaleWorkspaceSweeper::removeWorkspace(folder);
}

// "<private folder>/<uuid>", and where earlier versions put them:
// "<tempRoot>/Keldra/<uuid>" and "<tempRoot>/Keldra-<uuid>".
QStringList workspaceFolders(const QString& tempRoot)
{
    QStringList folders;
    QStringList parents = PrivateTempFolder::bases(tempRoot);
    const QString shared = QDir(tempRoot).filePath(QStringLiteral("Keldra"));
    if (QFileInfo(shared).isDir() && ownedByUs(QFileInfo(shared)))
        parents.append(shared);
    // On Windows the private folder is that same "Keldra": each workspace is listed once.
    for (QString& parent : parents)
        parent = QDir::cleanPath(QFileInfo(parent).absoluteFilePath());
    parents.removeDuplicates();
    for (const QString& parent : std::as_const(parents)) {
        const QDir folder(parent);
        const QStringList names = folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QString& name : names) {
            if (isWorkspaceName(name))
                folders.append(folder.filePath(name));
        }
    }
    const QStringList names = foldersStartingWith(tempRoot, u"Keldra-");
    for (const QString& name : names) {
        if (isWorkspaceName(QStringView(name).mid(7)))
            folders.append(QDir(tempRoot).filePath(name));
    }
    return folders;
}

// "<private folder>/compact-*", and "<tempRoot>/Keldra-compact-*" of earlier versions.
QStringList compactionFolders(const QString& tempRoot)
{
    QStringList folders;
    const QStringList parents = PrivateTempFolder::bases(tempRoot);
    for (const QString& parent : parents) {
        const QStringList names = foldersStartingWith(parent, u"compact-");
        for (const QString& name : names)
            folders.append(QDir(parent).filePath(name));
    }
    const QStringList names = foldersStartingWith(tempRoot, u"Keldra-compact-");
    for (const QString& name : names)
        folders.append(QDir(tempRoot).filePath(name));
    return folders;
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
    return writeMark(workspacePath, currentOwner());
}

bool StaleWorkspaceSweeper::claim(const QString& workspacePath)
{
    // An earlier version's workspace in the shared folder: nothing is written
    // there, so it cannot be claimed; it is only read and then removed.
    if (!PrivateTempFolder::isPrivate(QFileInfo(QDir::cleanPath(workspacePath)).absolutePath()))
        return true;
    return markOwner(workspacePath);
}

void StaleWorkspaceSweeper::removeOwnerMark(const QString& workspacePath)
{
    QFile::remove(ownerMarkPath(workspacePath));
}

int StaleWorkspaceSweeper::removeStaleWorkspaces(const QString& tempRoot)
{
    int removed = 0;
    const QStringList folders = workspaceFolders(tempRoot);
    for (const QString& folder : folders) {
        if (sweepOne(folder, true))
            ++removed;
    }
    // Encrypted copies of a killed compaction. One that became the only copy
    // of a vault carries no mark and is never touched.
    const QStringList compactions = compactionFolders(tempRoot);
    for (const QString& folder : compactions) {
        if (sweepOne(folder, false))
            ++removed;
    }
    return removed;
}

QList<StaleWorkspaceSweeper::Leftover> StaleWorkspaceSweeper::leftovers(const QString& tempRoot)
{
    QList<Leftover> result;
    const QStringList folders = workspaceFolders(tempRoot);
    for (const QString& folder : folders) {
        if (!ownerIsGone(folder) || !ownedByUs(QFileInfo(folder)))
            continue;
        Leftover leftover;
        leftover.workspacePath = folder;
        leftover.changed = changedCopies(folder, &leftover.record);
        if (!leftover.changed.isEmpty())
            result.append(leftover);
    }
    return result;
}

bool StaleWorkspaceSweeper::releaseOwner(const QString& workspacePath)
{
    // Process id 0 is never a live owner.
    return writeMark(workspacePath, QByteArrayLiteral("0\n\n\n"));
}

bool StaleWorkspaceSweeper::removeWorkspace(const QString& workspacePath)
{
    const QFileInfo folder(workspacePath);
    bool removed = false;
    if (folder.exists() && folder.isDir() && ownedByUs(folder))
        removed = QDir(workspacePath).removeRecursively();
    if (removed || !folder.exists()) {
        QFile::remove(WorkspaceRecord::pathFor(workspacePath));
        QFile::remove(ownerMarkPath(workspacePath));
    }
    return removed;
}

} // namespace Keldra::Core
