#include "storage/ContainerReadLock.h"

#include <QThread>

namespace Keldra::Core {

namespace {

constexpr int Attempts = 40;
constexpr unsigned long PauseMs = 50;

} // namespace

ContainerReadLock::ContainerReadLock(const QString& containerPath)
{
    for (int attempt = 1;; ++attempt) {
        m_lock = std::make_unique<ContainerLock>(containerPath, ContainerLock::Mode::Shared);
        if (!m_lock->error().is(Error::Reason::VaultInUse) || attempt == Attempts)
            return;
        m_lock.reset();
        QThread::msleep(PauseMs);
    }
}

ContainerReadLock::~ContainerReadLock() = default;

const Error& ContainerReadLock::error() const
{
    return m_lock->error();
}

} // namespace Keldra::Core
