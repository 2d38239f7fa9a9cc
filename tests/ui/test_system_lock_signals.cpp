// The vault locks when logind locks this session or the computer is about to
// sleep. A private D-Bus daemon plays the system bus, with this test as logind.
#include "ui/InactivityLock.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <memory>

using Keldra::UI::InactivityLock;

namespace {

const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kOwnSession = QStringLiteral("/org/freedesktop/login1/session/_31");

// What logind answers about sessions, and who asked.
class FakeLogin : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    QList<uint> askedFor;

public slots:
    QDBusObjectPath GetSessionByPID(uint pid)
    {
        askedFor.append(pid);
        return QDBusObjectPath(kOwnSession);
    }
};

} // namespace

class TestSystemLockSignals : public QObject
{
    Q_OBJECT

private:
    QProcess m_bus;
    QString m_address;
    FakeLogin m_login;

    bool send(const QString& path, const QString& interface, const QString& name,
              const QVariantList& args = {})
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
        signal.setArguments(args);
        return QDBusConnection(QStringLiteral("logind")).send(signal);
    }

private slots:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed");
        m_bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                             QStringLiteral("--print-address=1")});
        QVERIFY(m_bus.waitForReadyRead(10000));
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
        QVERIFY(!m_address.isEmpty());
        // Read when the program first uses the system bus, which is after this.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
        QDBusConnection login = QDBusConnection::connectToBus(m_address, QStringLiteral("logind"));
        QVERIFY(login.isConnected());
        QVERIFY(login.registerService(kLogin));
        QVERIFY(login.registerObject(QStringLiteral("/org/freedesktop/login1"), &m_login,
                                     QDBusConnection::ExportAllSlots));
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("logind"));
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void ownSessionLockAndSleepLockTheVault()
    {
        InactivityLock lock;
        QSignalSpy locked(&lock, &InactivityLock::systemLocked);
        QTRY_COMPARE(m_login.askedFor.size(), 1);
        QCOMPARE(m_login.askedFor.first(), uint(QCoreApplication::applicationPid()));
        // The subscription follows the answer on the lock's own connection:
        // give it a moment to reach the bus.
        QTest::qWait(200);

        // Another user's session locking is not ours.
        QVERIFY(send(QStringLiteral("/org/freedesktop/login1/session/_32"),
                     QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("Lock")));
        QTest::qWait(200);
        QCOMPARE(locked.size(), 0);

        QVERIFY(send(kOwnSession, QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("Lock")));
        QTRY_COMPARE(locked.size(), 1);

        // Waking up is not a reason; going to sleep is.
        QVERIFY(send(QStringLiteral("/org/freedesktop/login1"),
                     QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                     {false}));
        QTest::qWait(200);
        QCOMPARE(locked.size(), 1);
        QVERIFY(send(QStringLiteral("/org/freedesktop/login1"),
                     QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                     {true}));
        QTRY_COMPARE(locked.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestSystemLockSignals)
#include "test_system_lock_signals.moc"
