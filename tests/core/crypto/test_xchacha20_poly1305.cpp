// CryptoManager's XChaCha20-Poly1305 (OpenSSL for the bulk work) must give
// libsodium's bytes exactly, both ways, and refuse anything altered.
#include "core/crypto/CryptoManager.h"
#include "core/crypto/XChaCha20Poly1305.h"

#include <QRandomGenerator>
#include <QtTest>

#include <sodium.h>

using Keldra::Core::CryptoManager;

namespace {

QByteArray randomBytes(QRandomGenerator& generator, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(generator.bounded(256));
    return bytes;
}

const unsigned char* u(const QByteArray& bytes)
{
    static const unsigned char empty = 0;
    return bytes.isEmpty() ? &empty : reinterpret_cast<const unsigned char*>(bytes.constData());
}

QByteArray sodiumSeal(const QByteArray& plain, const QByteArray& key, const QByteArray& nonce,
                      const QByteArray& ad)
{
    QByteArray out(plain.size() + 16, Qt::Uninitialized);
    unsigned long long length = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(reinterpret_cast<unsigned char*>(out.data()), &length,
                                               u(plain), quint64(plain.size()), u(ad), quint64(ad.size()),
                                               nullptr, u(nonce), u(key));
    out.resize(qsizetype(length));
    return out;
}

} // namespace

class TestAeadEquivalence : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(sodium_init() >= 0); }
    void matchesLibsodiumBothWays();
    void refusesEveryAlteration();
};

void TestAeadEquivalence::matchesLibsodiumBothWays()
{
    const CryptoManager crypto;
    QRandomGenerator generator(1300);
    // Around the 64-byte ChaCha block, the 16-byte Poly1305 block and a large block.
    const QList<qsizetype> sizes{
        0, 1, 15, 16, 17, 63, 64, 65, 255, 256, 1000, 65536 + 3, 3 * 1024 * 1024 + 5};
    QByteArray reused;
    for (qsizetype size : sizes) {
        for (qsizetype adSize : {qsizetype(0), qsizetype(19), qsizetype(64)}) {
            const QByteArray key = randomBytes(generator, 32);
            const QByteArray nonce = randomBytes(generator, 24);
            const QByteArray ad = randomBytes(generator, adSize);
            const QByteArray plain = randomBytes(generator, size);
            const QByteArray expected = sodiumSeal(plain, key, nonce, ad);

            QCOMPARE(crypto.encrypt(plain, key, nonce, ad), expected);
            QVERIFY(crypto.encryptInto(plain, key, nonce, ad, &reused));
            QCOMPARE(reused, expected);

            // The fast path itself, not a silent fallback, must give these bytes.
            QByteArray direct(size + 16, Qt::Uninitialized);
            QCOMPARE(Keldra::Core::XChaCha20Poly1305::seal(u(plain), size, u(ad), adSize, u(nonce), u(key),
                                                           reinterpret_cast<unsigned char*>(direct.data())),
                     Keldra::Core::XChaCha20Poly1305::Result::Done);
            QCOMPARE(direct, expected);

            // In pieces of awkward sizes, the same bytes.
            CryptoManager::PieceEncryptor pieces(key, nonce, ad);
            QVERIFY(pieces.isValid());
            QByteArray streamed(size + 16, Qt::Uninitialized);
            for (qsizetype at = 0, step = 1; at < size; at += step, step = step * 3 + 1) {
                const qsizetype n = qMin(step, size - at);
                QVERIFY(pieces.update(QByteArrayView(plain.constData() + at, n), streamed.data() + at));
            }
            QVERIFY(pieces.finish(streamed.data() + size));
            QCOMPARE(streamed, expected);

            // Decrypted in pieces: the same plaintext, and the tag decides.
            for (bool alterTag : {false, true}) {
                CryptoManager::PieceDecryptor opener(key, nonce, ad);
                QVERIFY(opener.isValid());
                QByteArray piecewise(size, Qt::Uninitialized);
                for (qsizetype at = 0, step = 7; at < size; at += step, step = step * 2 + 5) {
                    const qsizetype n = qMin(step, size - at);
                    QVERIFY(
                        opener.update(QByteArrayView(expected.constData() + at, n), piecewise.data() + at));
                }
                QByteArray tag = expected.right(16);
                if (alterTag)
                    tag[3] = char(tag[3] ^ 0x10);
                QCOMPARE(opener.finish(tag), !alterTag);
                if (!alterTag)
                    QCOMPARE(piecewise, plain);
            }

            QByteArray opened("stale");
            QVERIFY(crypto.decryptInto(expected, key, nonce, ad, &opened));
            QCOMPARE(opened, plain);
        }
    }
}

void TestAeadEquivalence::refusesEveryAlteration()
{
    const CryptoManager crypto;
    QRandomGenerator generator(7);
    const QByteArray key = randomBytes(generator, 32);
    const QByteArray nonce = randomBytes(generator, 24);
    const QByteArray ad("KELDRA|file-block|3");
    const QByteArray plain = randomBytes(generator, 5000);
    const QByteArray sealed = crypto.encrypt(plain, key, nonce, ad);
    QCOMPARE(sealed.size(), plain.size() + 16);

    const auto refused = [&](const QByteArray& c, const QByteArray& k, const QByteArray& n,
                             const QByteArray& a) {
        QByteArray out("previous plaintext");
        return !crypto.decryptInto(c, k, n, a, &out) && out.isEmpty() && crypto.decrypt(c, k, n, a).isEmpty();
    };
    for (qsizetype at :
         {qsizetype(0), qsizetype(2500), sealed.size() - 17, sealed.size() - 16, sealed.size() - 1}) {
        QByteArray altered = sealed;
        altered[at] = char(altered[at] ^ 0x01);
        QVERIFY2(refused(altered, key, nonce, ad), qPrintable(QString::number(at)));
    }
    QByteArray otherKey = key;
    otherKey[31] = char(otherKey[31] ^ 0x80);
    QByteArray otherNonce = nonce;
    otherNonce[23] = char(otherNonce[23] ^ 0x01); // in the part HChaCha20 does not see
    QByteArray earlyNonce = nonce;
    earlyNonce[0] = char(earlyNonce[0] ^ 0x01); // in the part it does
    QVERIFY(refused(sealed, otherKey, nonce, ad));
    QVERIFY(refused(sealed, key, otherNonce, ad));
    QVERIFY(refused(sealed, key, earlyNonce, ad));
    QVERIFY(refused(sealed, key, nonce, QByteArray("KELDRA|file-block|2")));
    QVERIFY(refused(sealed.left(sealed.size() - 1), key, nonce, ad));
    QVERIFY(refused(QByteArray(15, 'x'), key, nonce, ad));
}

QTEST_GUILESS_MAIN(TestAeadEquivalence)
#include "test_xchacha20_poly1305.moc"
