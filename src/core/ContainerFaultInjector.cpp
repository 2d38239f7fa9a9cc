#include "ContainerFaultInjector.h"

#include <QFileInfo>

namespace Keldra::Core {

namespace {

struct InjectorState
{
    ContainerFaultInjector::Mode mode = ContainerFaultInjector::Mode::Off;
    qint64 target = 0;
    int calls = 0;
    qint64 bytes = 0;
    bool fired = false;
    bool crashed = false;
    QList<ContainerFaultInjector::WriteRecord> writes;
    QSet<QString> unsyncedFiles;
    QSet<QString> unsyncedFolders;
};

InjectorState& state()
{
    static InjectorState s;
    return s;
}

QString canonical(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

} // namespace

void ContainerFaultInjector::reset()
{
    state() = InjectorState();
}

void ContainerFaultInjector::arm(Mode mode, qint64 target)
{
    reset();
    state().mode = mode;
    state().target = target;
}

ContainerFaultInjector::Mode ContainerFaultInjector::mode()
{
    return state().mode;
}

int ContainerFaultInjector::calls()
{
    return state().calls;
}

qint64 ContainerFaultInjector::bytesWritten()
{
    return state().bytes;
}

bool ContainerFaultInjector::fired()
{
    return state().fired;
}

bool ContainerFaultInjector::crashed()
{
    return state().crashed;
}

QList<ContainerFaultInjector::WriteRecord> ContainerFaultInjector::writes()
{
    return state().writes;
}

QSet<QString> ContainerFaultInjector::unsyncedFiles()
{
    return state().unsyncedFiles;
}

QSet<QString> ContainerFaultInjector::unsyncedFolders()
{
    return state().unsyncedFolders;
}

bool ContainerFaultInjector::admitCall()
{
    InjectorState& s = state();
    if (s.mode == Mode::Off)
        return true;
    if (s.crashed)
        return false;
    ++s.calls;
    if (s.calls == s.target && (s.mode == Mode::FailCall || s.mode == Mode::CrashCall)) {
        s.fired = true;
        s.crashed = s.mode == Mode::CrashCall;
        return false;
    }
    return true;
}

qint64 ContainerFaultInjector::admitWrite(qint64 length)
{
    InjectorState& s = state();
    if (s.mode == Mode::Off)
        return length;
    if (s.crashed)
        return -1;
    ++s.calls;
    qint64 allowed = length;
    if (s.calls == s.target) {
        if (s.mode == Mode::FailCall || s.mode == Mode::CrashCall) {
            s.fired = true;
            s.crashed = s.mode == Mode::CrashCall;
            return -1;
        }
        if (s.mode == Mode::ShortWrite && length > 0) {
            s.fired = true;
            allowed = length / 2;
        }
    }
    if (s.mode == Mode::CrashByte && s.bytes + allowed >= s.target) {
        // The bytes up to the target reach the file; the process dies right after them.
        allowed = qMax<qint64>(0, s.target - s.bytes);
        s.fired = true;
        s.crashed = true;
    }
    s.writes.append({s.calls, s.bytes, length});
    s.bytes += allowed;
    return allowed;
}

void ContainerFaultInjector::noteFileDirty(const QString& path)
{
    if (state().mode != Mode::Off)
        state().unsyncedFiles.insert(canonical(path));
}

void ContainerFaultInjector::noteFileSynced(const QString& path)
{
    if (state().mode != Mode::Off)
        state().unsyncedFiles.remove(canonical(path));
}

void ContainerFaultInjector::noteFolderDirty(const QString& path)
{
    if (state().mode != Mode::Off)
        state().unsyncedFolders.insert(canonical(path));
}

void ContainerFaultInjector::noteFolderSynced(const QString& path)
{
    if (state().mode != Mode::Off)
        state().unsyncedFolders.remove(canonical(path));
}

} // namespace Keldra::Core
