// OpenSSL-backed SHA-256 must give exactly the digests Qt gives and the
// published ones, however the data is split across calls.
#include "core/crypto/Sha256.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtTest>

using Keldra::Core::Sha256;

class TestSha256 : public QObject
{
    Q_OBJECT

private slots:
    void knownDigests_data();
    void knownDigests();
    void incrementalMatchesQtAcrossSplits();
    void finishedHashRefusesMoreDataUntilReset();
};

void TestSha256::knownDigests_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("hex");
    // FIPS 180-2, appendix B.
    QTest::newRow("empty") << QByteArray()
                           << QByteArray("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    QTest::newRow("abc") << QByteArray("abc")
                         << QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    QTest::newRow("two blocks") << QByteArray("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")
                                << QByteArray(
                                       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    QTest::newRow("million a") << QByteArray(1000000, 'a')
                               << QByteArray(
                                      "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

void TestSha256::knownDigests()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, hex);
    Sha256 sha;
    QVERIFY(sha.isValid());
    QVERIFY(sha.addData(input));
    QCOMPARE(sha.hexResult(), hex);
    QCOMPARE(Sha256::hash(input), QByteArray::fromHex(hex));
}

void TestSha256::incrementalMatchesQtAcrossSplits()
{
    QByteArray data(3 * 1024 * 1024 + 77, Qt::Uninitialized);
    QRandomGenerator generator(20261208);
    generator.fillRange(reinterpret_cast<quint32*>(data.data()), data.size() / 4);
    const QByteArray expected = QCryptographicHash::hash(data, QCryptographicHash::Sha256);

    // Split points that cross the 64-byte block boundary in every way.
    for (const qint64 piece :
         {qint64(1), qint64(63), qint64(64), qint64(65), qint64(4096 + 3), qint64(1 << 20)}) {
        Sha256 sha;
        for (qint64 at = 0; at < data.size(); at += piece)
            QVERIFY(sha.addData(data.constData() + at, qMin(piece, data.size() - at)));
        QCOMPARE(sha.result(), expected);
    }
}

void TestSha256::finishedHashRefusesMoreDataUntilReset()
{
    Sha256 sha;
    QVERIFY(sha.addData(QByteArray("ab")));
    const QByteArray first = sha.result();
    QCOMPARE(first.size(), 32);
    // A second result or more data after the end would silently hash the wrong thing.
    QVERIFY(!sha.addData(QByteArray("c")));
    QVERIFY(sha.result().isEmpty());
    QVERIFY(!sha.addData(nullptr, 5));

    sha.reset();
    QVERIFY(sha.addData(QByteArray("a")));
    QVERIFY(sha.addData(QByteArray("bc")));
    QVERIFY(sha.addData(nullptr, 0));
    QCOMPARE(sha.hexResult(), QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}

QTEST_GUILESS_MAIN(TestSha256)
#include "test_sha256.moc"
