#pragma once

#include "Error.h"

#include <QString>

namespace Keldra::Core {

// Advisory lock on a container for the length of one change (exclusive), so
// two programs never write it at once, or of one read (shared), so no change
// moves the blocks under it (flock on Linux, LockFileEx on Windows; the
// container itself is locked). Taking it never waits: when another program
// holds it the result is VaultInUse. Within one process the lock is shared by
// nested changes and reads (locking the vault stores its edited copies,
// compaction settles the journal), which the vault runs one at a time on one
// thread. Where the file system cannot lock (some network and FUSE mounts), a
// lock file beside the container ("<container>-lock", naming the host and the
// process) stands in for both kinds; one left by an ended program of this
// host is taken over, any other is respected.
class ContainerLock
{
public:
    enum class Mode { Exclusive, Shared };

    explicit ContainerLock(const QString& containerPath, Mode mode = Mode::Exclusive);
    ~ContainerLock();
    ContainerLock(const ContainerLock&) = delete;
    ContainerLock& operator=(const ContainerLock&) = delete;

    // Ok when the change or read may go ahead (also for a missing container:
    // it then fails on its own reason).
    const Error& error() const { return m_error; }

    static QString lockFilePath(const QString& containerPath);

    // For tests: every lock call on a container fails as on a file system
    // that cannot lock, so the lock file is used.
    static void setSystemLocksUnsupported(bool unsupported);

    // Windows refuses to rename over a file that has a handle open, our lock's included.
    // Around such a rename this process's lock on `path` is let go and then taken on the
    // file that now has the name (on Linux it stays on the old file, which is all a rename leaves it).
    static void suspendForReplace(const QString& path);
    static void resumeAfterReplace(const QString& path);

private:
    QString m_key;
    Error m_error;
};

} // namespace Keldra::Core
