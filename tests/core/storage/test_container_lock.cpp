// The lock that keeps two programs from changing one container at once, also
// on file systems that cannot lock (some network and FUSE mounts).

#include "EndedProcess.h"
#include "TestFiles.h"

#include "core/storage/ContainerLock.h"
#include "core/storage/ContainerReadLock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/file.h>
#endif

using namespace Keldra::Core;
using namespace TestSupport;
using Reason = Error::Reason;

namespace {

QByteArray holder(const QString& host, qint64 pid)
{
    return host.toUtf8() + '\n' + QByteArray::number(pid) + '\n';
}

// A program that runs until its input is closed: another live process of this host.
class LiveProcess
{
public:
    LiveProcess()
    {
#ifdef Q_OS_WIN
        m_process.start(QStringLiteral("cmd.exe"), {QStringLiteral("/q")});
#else
        m_process.start(QStringLiteral("cat"));
#endif
        (void)m_process.waitForStarted();
    }
    ~LiveProcess()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        (void)m_process.waitForFinished();
    }
    qint64 id() const
    {
        return m_process.processId();
    }

private:
    QProcess m_process;
};

} // namespace

class ContainerLockTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void lockFileStandsInWhereTheSystemCannotLock();
    void lockFilesOfOthersAreRespectedAndStaleOnesTakenOver();
    void readsShareTheLockAndKeepChangesOut();

private:
    QString container(const QString& name);

    QTemporaryDir m_dir;
};

void ContainerLockTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void ContainerLockTest::cleanup()
{
    ContainerLock::setSystemLocksUnsupported(false);
}

QString ContainerLockTest::container(const QString& name)
{
    const QString path = m_dir.filePath(name);
    return writeFile(path, "container") ? path : QString();
}

void ContainerLockTest::lockFileStandsInWhereTheSystemCannotLock()
{
    const QString path = container(QStringLiteral("nolocks.kldr"));
    QVERIFY(!path.isEmpty());
    const QString lockFile = ContainerLock::lockFilePath(path);
    QCOMPARE(lockFile, path + QStringLiteral("-lock"));
    ContainerLock::setSystemLocksUnsupported(true);
    for (const ContainerLock::Mode mode : {ContainerLock::Mode::Exclusive, ContainerLock::Mode::Shared}) {
        {
            const ContainerLock lock(path, mode);
            QVERIFY(lock.error().ok());
            QCOMPARE(readFile(lockFile),
                     holder(QSysInfo::machineHostName(), QCoreApplication::applicationPid()));
            // Nested in this process: the same lock, its file removed only at the end.
            {
                const ContainerLock nested(path);
                QVERIFY(nested.error().ok());
            }
            QVERIFY(QFileInfo::exists(lockFile));
        }
        QVERIFY(!QFileInfo::exists(lockFile));
    }
    // Without locks the file is never made.
    ContainerLock::setSystemLocksUnsupported(false);
    {
        const ContainerLock lock(path);
        QVERIFY(lock.error().ok());
        QVERIFY(!QFileInfo::exists(lockFile));
    }
    // A missing container is not locked at all: the change fails on its own.
    ContainerLock::setSystemLocksUnsupported(true);
    const ContainerLock missing(m_dir.filePath(QStringLiteral("missing.kldr")));
    QVERIFY(missing.error().ok());
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("missing.kldr-lock"))));
}

void ContainerLockTest::lockFilesOfOthersAreRespectedAndStaleOnesTakenOver()
{
    const QString path = container(QStringLiteral("others.kldr"));
    QVERIFY(!path.isEmpty());
    const QString lockFile = ContainerLock::lockFilePath(path);
    const QString host = QSysInfo::machineHostName();
    const qint64 ended = endedProcessId();
    QVERIFY(ended > 0);
    ContainerLock::setSystemLocksUnsupported(true);

    const auto respected = [&](const QByteArray& content) {
        if (!writeFile(lockFile, content))
            return false;
        for (const ContainerLock::Mode mode : {ContainerLock::Mode::Exclusive, ContainerLock::Mode::Shared}) {
            const ContainerLock lock(path, mode);
            if (!lock.error().is(Reason::VaultInUse) || readFile(lockFile) != content)
                return false;
        }
        return QFile::remove(lockFile);
    };
    {
        // Another program of this host, running.
        LiveProcess other;
        QVERIFY(other.id() > 0);
        QVERIFY(respected(holder(host, other.id())));
    }
    // Another host's process ids say nothing here.
    QVERIFY(respected(holder(host + QStringLiteral("-elsewhere"), ended)));
    QVERIFY(respected(holder(QString(), ended)));
    // One just being made by its program, which has not written its name yet.
    QVERIFY(respected(QByteArray()));

    // Left by a program of this host that has ended: taken over, then removed.
    QVERIFY(writeFile(lockFile, holder(host, ended)));
    {
        const ContainerLock lock(path);
        QVERIFY(lock.error().ok());
        QCOMPARE(readFile(lockFile), holder(host, QCoreApplication::applicationPid()));
    }
    QVERIFY(!QFileInfo::exists(lockFile));
    // Or left without a name long ago.
    QVERIFY(writeFile(lockFile, QByteArray()));
    {
        QFile file(lockFile);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(
            file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    }
    {
        const ContainerLock lock(path, ContainerLock::Mode::Shared);
        QVERIFY(lock.error().ok());
    }
    QVERIFY(!QFileInfo::exists(lockFile));
}

void ContainerLockTest::readsShareTheLockAndKeepChangesOut()
{
#ifndef Q_OS_UNIX
    QSKIP("the other program's lock is taken with flock, which Windows does not have");
#else
    const QString path = container(QStringLiteral("shared.kldr"));
    QVERIFY(!path.isEmpty());
    QFile other(path);
    QVERIFY(other.open(QIODevice::ReadOnly));
    {
        const ContainerReadLock read(path);
        QVERIFY(read.error().ok());
        // Another program's change must wait; its read need not.
        QVERIFY(::flock(other.handle(), LOCK_EX | LOCK_NB) != 0);
        QCOMPARE(::flock(other.handle(), LOCK_SH | LOCK_NB), 0);
        // Nor may a change of this process start inside the read.
        const ContainerLock change(path);
        QCOMPARE(change.error().reason(), Reason::VaultInUse);
    }
    // With another program reading, reads go ahead and changes are refused.
    {
        const ContainerLock read(path, ContainerLock::Mode::Shared);
        QVERIFY(read.error().ok());
    }
    {
        const ContainerLock change(path);
        QCOMPARE(change.error().reason(), Reason::VaultInUse);
    }
    QCOMPARE(::flock(other.handle(), LOCK_UN), 0);
    const ContainerLock change(path);
    QVERIFY(change.error().ok());
    // A read inside a change of this process is part of it.
    const ContainerReadLock read(path);
    QVERIFY(read.error().ok());
#endif
}

QTEST_GUILESS_MAIN(ContainerLockTest)
#include "test_container_lock.moc"
