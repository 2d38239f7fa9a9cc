#pragma once

#include "Error.h"
#include "storage/ContainerLock.h"

#include <QString>

#include <memory>

namespace Keldra::Core {

// The shared lock a read of the container (export, editing copy, check)
// holds while it runs, so that no other program's change (a compaction above
// all) moves the blocks under it. Several reads share it. A change that holds
// the container now is waited for a little (about two seconds): then the
// read is refused with VaultInUse, never run against a container in flux.
class ContainerReadLock
{
public:
    explicit ContainerReadLock(const QString& containerPath);
    ~ContainerReadLock();
    ContainerReadLock(const ContainerReadLock&) = delete;
    ContainerReadLock& operator=(const ContainerReadLock&) = delete;

    const Error& error() const;

private:
    std::unique_ptr<ContainerLock> m_lock;
};

} // namespace Keldra::Core
