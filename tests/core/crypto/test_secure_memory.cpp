// Wiping passwords and keys: in place, shared copies included, and never
// into bytes the array does not own.
#include "core/crypto/SecureMemory.h"

#include <QTest>

using Keldra::Core::wipe;

class TestSecureMemory : public QObject
{
    Q_OBJECT

private slots:
    void wipesSharedBufferInPlace();
    void releasesBytesItDoesNotOwn();
};

void TestSecureMemory::wipesSharedBufferInPlace()
{
    QByteArray secret = QByteArray("correct horse battery").repeated(2);
    const QByteArray shared = secret; // a second holder of the same buffer
    const char* buffer = shared.constData();
    wipe(secret);
    QVERIFY(secret.isEmpty());
    QCOMPARE(shared.constData(), buffer);
    QCOMPARE(shared, QByteArray(42, '\0'));
}

void TestSecureMemory::releasesBytesItDoesNotOwn()
{
    QByteArray literal = QByteArrayLiteral("read-only literal");
    wipe(literal); // writing here would fault
    QVERIFY(literal.isEmpty());
    QCOMPARE(QByteArrayLiteral("read-only literal"), QByteArray("read-only literal"));

    QByteArray empty;
    wipe(empty);
    QVERIFY(empty.isEmpty());
}

QTEST_GUILESS_MAIN(TestSecureMemory)
#include "test_secure_memory.moc"
