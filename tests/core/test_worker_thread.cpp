// A worker is joined only once its thread has completely ended, clean-up of
// its thread-local objects included: a process may exit right after.
#include "core/WorkerThread.h"

#include <QTest>

#include <atomic>

using Keldra::Core::WorkerThread;

namespace {

std::atomic<int> g_cleanedUp{0};

// Slow to clean up, as a thread-local object of a library may be.
struct SlowCleanup
{
    bool used = false;
    ~SlowCleanup()
    {
        if (!used)
            return;
        QThread::msleep(300);
        g_cleanedUp.fetch_add(1);
    }
};

} // namespace

class TestWorkerThread : public QObject
{
    Q_OBJECT

private slots:
    void joinWaitsForTheThreadsOwnCleanup()
    {
        g_cleanedUp = 0;
        bool ran = false;
        WorkerThread worker([&ran] {
            thread_local SlowCleanup slow;
            slow.used = true;
            ran = true;
        });
        worker.start();
        worker.join();
        QVERIFY(ran);
        QCOMPARE(g_cleanedUp.load(), 1);
        worker.join(); // a second join returns at once
    }

    void destructionJoinsAndAnUnstartedWorkerDoesNotBlock()
    {
        g_cleanedUp = 0;
        {
            WorkerThread worker([] {
                thread_local SlowCleanup slow;
                slow.used = true;
            });
            worker.start();
        }
        QCOMPARE(g_cleanedUp.load(), 1);
        WorkerThread idle([] {});
        idle.join();
    }
};

QTEST_GUILESS_MAIN(TestWorkerThread)
#include "test_worker_thread.moc"
