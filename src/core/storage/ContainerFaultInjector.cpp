#include "storage/ContainerFaultInjector.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPair>

namespace Keldra::Core {

namespace {

// What a power cut would take back from one file.
struct FileUndo
{
    qint64 syncedSize = 0;
    QList<QPair<qint64, QByteArray>> overwritten; // in the order written
};

struct InjectorState
{
    ContainerFaultInjector::Mode mode = ContainerFaultInjector::Mode::Off;
    qint64 target = 0;
    int calls = 0;
    int headerRewrites = 0;
    qint64 bytes = 0;
    bool fired = false;
    bool crashed = false;
    QList<ContainerFaultInjector::WriteRecord> writes;
    QSet<QString> unsyncedFiles;
    QSet<QString> unsyncedFolders;
    QHash<QString, FileUndo> undo;
    QSet<QString> created;
    QHash<QString, QByteArray> removed;
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

QByteArray readRange(const QString& path, qint64 offset, qint64 length)
{
    QFile f(path);
    if (length <= 0 || !f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return {};
    return f.read(length);
}

FileUndo& undoFor(const QString& key)
{
    InjectorState& s = state();
    auto it = s.undo.find(key);
    if (it == s.undo.end()) {
        FileUndo fresh;
        fresh.syncedSize = QFileInfo(key).size();
        it = s.undo.insert(key, fresh);
    }
    return *it;
}

// Only changes that really happen are noted: after a crash nothing happens any more.
bool tracking()
{
    return state().mode != ContainerFaultInjector::Mode::Off;
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

int ContainerFaultInjector::headerRewrites()
{
    return state().headerRewrites;
}

void ContainerFaultInjector::noteHeaderRewrite()
{
    if (tracking())
        ++state().headerRewrites;
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
    if (s.mode == Mode::DriveFull && s.calls >= s.target && length > 0) {
        s.fired = true;
        return -1;
    }
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

Error ContainerFaultInjector::refusal()
{
    if (state().mode == Mode::DriveFull)
        return Error(Error::Reason::DriveFull, QStringLiteral("injected: drive full"));
    return Error(Error::Reason::WriteFailed, QStringLiteral("injected fault"));
}

void ContainerFaultInjector::noteFileDirty(const QString& path)
{
    if (state().mode != Mode::Off)
        state().unsyncedFiles.insert(canonical(path));
}

void ContainerFaultInjector::noteFileSynced(const QString& path)
{
    if (state().mode == Mode::Off)
        return;
    state().unsyncedFiles.remove(canonical(path));
    state().undo.remove(canonical(path));
}

void ContainerFaultInjector::noteFolderDirty(const QString& path)
{
    if (state().mode != Mode::Off)
        state().unsyncedFolders.insert(canonical(path));
}

void ContainerFaultInjector::noteFolderSynced(const QString& path)
{
    InjectorState& s = state();
    if (s.mode == Mode::Off)
        return;
    const QString folder = canonical(path);
    s.unsyncedFolders.remove(folder);
    const auto inFolder = [&](const QString& file) { return QFileInfo(file).absolutePath() == folder; };
    for (auto it = s.created.begin(); it != s.created.end();)
        it = inFolder(*it) ? s.created.erase(it) : std::next(it);
    for (auto it = s.removed.begin(); it != s.removed.end();)
        it = inFolder(it.key()) ? s.removed.erase(it) : std::next(it);
}

void ContainerFaultInjector::noteOverwrite(const QString& path, qint64 offset, qint64 length)
{
    if (!tracking())
        return;
    const QString key = canonical(path);
    FileUndo& undo = undoFor(key);
    const qint64 size = QFileInfo(key).size();
    if (offset < size)
        undo.overwritten.append({offset, readRange(key, offset, qMin(length, size - offset))});
}

void ContainerFaultInjector::noteResize(const QString& path, qint64 size)
{
    if (!tracking())
        return;
    const QString key = canonical(path);
    FileUndo& undo = undoFor(key);
    const qint64 current = QFileInfo(key).size();
    if (size < current)
        undo.overwritten.append({size, readRange(key, size, current - size)});
}

void ContainerFaultInjector::noteCreated(const QString& path)
{
    if (tracking())
        state().created.insert(canonical(path));
}

void ContainerFaultInjector::noteRemoving(const QString& path)
{
    if (!tracking())
        return;
    const QString key = canonical(path);
    if (state().created.remove(key))
        return; // never reached the folder on the drive
    state().removed.insert(key, readRange(key, 0, QFileInfo(key).size()));
}

void ContainerFaultInjector::powerCut()
{
    const InjectorState lost = state();
    reset();
    for (auto it = lost.removed.constBegin(); it != lost.removed.constEnd(); ++it) {
        QFile f(it.key());
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(it.value());
    }
    for (auto it = lost.undo.constBegin(); it != lost.undo.constEnd(); ++it) {
        if (lost.created.contains(it.key()) || !QFileInfo::exists(it.key()))
            continue;
        QFile f(it.key());
        if (!f.open(QIODevice::ReadWrite))
            continue;
        for (qsizetype i = it->overwritten.size() - 1; i >= 0; --i) {
            if (f.seek(it->overwritten[i].first))
                f.write(it->overwritten[i].second);
        }
        f.resize(it->syncedSize);
    }
    for (const QString& file : lost.created)
        QFile::remove(file);
}

} // namespace Keldra::Core
