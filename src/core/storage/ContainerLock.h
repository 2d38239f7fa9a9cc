#pragma once

#include "Error.h"

#include <QString>

namespace Keldra::Core {

// Exclusive advisory lock on a container for the length of one change, so two
// programs never write it at once (flock on Linux, LockFileEx on Windows; the
// container itself is locked, no file is added beside it). Taking it never
// waits: when another program holds it the result is VaultInUse. Within one
// process the lock is shared by nested changes (locking the vault stores its
// edited copies, compaction settles the journal), which the vault runs one at
// a time on one thread. A file system that cannot lock at all is let through:
// the header check before every save still keeps an older index off the drive.
class ContainerLock
{
public:
    explicit ContainerLock(const QString& containerPath);
    ~ContainerLock();
    ContainerLock(const ContainerLock&) = delete;
    ContainerLock& operator=(const ContainerLock&) = delete;

    // Ok when the change may go ahead (also for a missing container: the
    // change then fails on its own reason).
    const Error& error() const { return m_error; }

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
