#include "WorkerThread.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace Keldra::Core {

namespace {

#ifndef Q_OS_WIN
// Constructed first on the thread, so destroyed after every other
// thread-local object the work created.
struct EndSignal
{
    QSemaphore* ended = nullptr;
    ~EndSignal()
    {
        if (ended)
            ended->release();
    }
};
#endif

} // namespace

WorkerThread::WorkerThread(std::function<void()> work) : m_work(std::move(work)) {}

WorkerThread::~WorkerThread()
{
    join();
}

void WorkerThread::run()
{
#ifdef Q_OS_WIN
    HANDLE own = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &own, SYNCHRONIZE,
                        FALSE, 0))
        m_handle = own;
    else
        m_ended.release(); // no handle to wait on: join() falls back to wait()
#else
    thread_local EndSignal endSignal;
    endSignal.ended = &m_ended;
#endif
    if (m_work)
        m_work();
}

void WorkerThread::join()
{
    if (m_joined)
        return;
    // Never started: nothing to wait for.
    if (!isRunning() && !isFinished()) {
        m_joined = true;
        return;
    }
    wait();
    m_joined = true;
#ifdef Q_OS_WIN
    if (m_handle) {
        WaitForSingleObject(static_cast<HANDLE>(m_handle), INFINITE);
        CloseHandle(static_cast<HANDLE>(m_handle));
        m_handle = nullptr;
        return;
    }
#endif
    m_ended.acquire();
}

} // namespace Keldra::Core
