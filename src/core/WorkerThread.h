#pragma once

#include <QSemaphore>
#include <QThread>

#include <functional>

namespace Keldra::Core {

// A thread that runs one function, and whose join() returns only once the
// thread has completely ended. QThread::wait() returns as soon as run() is
// over, while the thread is still tearing down its thread-local storage; a
// process that exits in that moment kills it half way, and with MinGW's
// threads that leaves a runtime lock taken, so the process never exits.
class WorkerThread : public QThread
{
public:
    explicit WorkerThread(std::function<void()> work);
    // Joins: a worker is never left running behind its owner.
    ~WorkerThread() override;

    // Waits for the work and the end of the thread itself. Not from the worker.
    void join();

protected:
    void run() override;

private:
    std::function<void()> m_work;
    // Released by the thread's very last thread-local clean-up.
    QSemaphore m_ended;
    bool m_joined = false;
#ifdef Q_OS_WIN
    // The thread's own handle, signalled by Windows once the thread is gone.
    void* m_handle = nullptr;
#endif
};

} // namespace Keldra::Core
