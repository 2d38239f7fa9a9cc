#include "core/crypto/CryptoManager.h"

#include <QTest>

using Keldra::Core::CryptoManager;
using Keldra::Core::KeyDerivationParams;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

KeyDerivationParams pbkdf2(const QByteArray& salt, int iterations, int keyLength)
{
    KeyDerivationParams params;
    params.algorithm = QStringLiteral("PBKDF2-HMAC-SHA256");
    params.salt = salt;
    params.iterations = iterations;
    params.keyLength = keyLength;
    return params;
}

} // namespace

class TestCryptoManager : public QObject
{
    Q_OBJECT

private slots:
    void pbkdf2MatchesPublishedVectors_data();
    void pbkdf2MatchesPublishedVectors();
    void pbkdf2RefusesBadInput();
    void argon2idBranch();
    void xchachaKnownAnswer();
    void encryptRefusesWrongSizes();
    void decryptRefusesShortInputAndWrongContext();
    void tamperingAnyByteIsDetected();
    void emptyPlaintextAndAssociatedData();
    void randomValues();
};

void TestCryptoManager::pbkdf2MatchesPublishedVectors_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("salt");
    QTest::addColumn<int>("iterations");
    QTest::addColumn<int>("keyLength");
    QTest::addColumn<QByteArray>("expected");

    // RFC 7914 section 11 (PBKDF2-HMAC-SHA256 test vectors).
    QTest::newRow("rfc7914 c=1") << QByteArray("passwd") << QByteArray("salt") << 1 << 64
                                 << hex("55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
                                        "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
    QTest::newRow("rfc7914 c=80000")
        << QByteArray("Password") << QByteArray("NaCl") << 80000 << 64
        << hex("4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
               "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d");
    // Computed with Python: hashlib.pbkdf2_hmac('sha256', b'p'*100, b'saltsaltsaltsalt', 2, 40).
    // A password over 64 bytes is hashed first by HMAC; 40 bytes cut the second block.
    QTest::newRow("long password, partial block")
        << QByteArray(100, 'p') << QByteArray("saltsaltsaltsalt") << 2 << 40
        << hex("f3eab9836b2b3783521ca1e186eb21ec768f86c6b7c5a08aa8bc1ae84ff7539993f2c21c74fa0754");
    // Python: hashlib.pbkdf2_hmac('sha256', b'Password', b'NaCl', 3, 40).
    QTest::newRow("c=3, 40 bytes") << QByteArray("Password") << QByteArray("NaCl") << 3 << 40
                                   << hex("2cbf669a7229a97b4823c88db2edc2bc37e84c55a40ea0dd548b22141c820da8"
                                          "6de0e3757b6d928d");
}

void TestCryptoManager::pbkdf2MatchesPublishedVectors()
{
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, salt);
    QFETCH(int, iterations);
    QFETCH(int, keyLength);
    QFETCH(QByteArray, expected);

    const CryptoManager crypto;
    QCOMPARE(crypto.deriveKey(password, pbkdf2(salt, iterations, keyLength)).toHex(), expected.toHex());
}

void TestCryptoManager::pbkdf2RefusesBadInput()
{
    const CryptoManager crypto;
    const QByteArray salt("saltsaltsaltsalt");
    QVERIFY(crypto.deriveKey(QByteArray(), pbkdf2(salt, 1, 32)).isEmpty());
    QVERIFY(crypto.deriveKey("pw", pbkdf2(QByteArray(), 1, 32)).isEmpty());
    QVERIFY(crypto.deriveKey("pw", pbkdf2(salt, 0, 32)).isEmpty());
    QVERIFY(crypto.deriveKey("pw", pbkdf2(salt, -5, 32)).isEmpty());
    QVERIFY(crypto.deriveKey("pw", pbkdf2(salt, 1, 0)).isEmpty());

    // Only the exact name selects Argon2id; anything else, even empty, is PBKDF2.
    KeyDerivationParams lower = pbkdf2("salt", 1, 64);
    lower.algorithm = QStringLiteral("argon2id");
    const QByteArray rfc = crypto.deriveKey("passwd", pbkdf2("salt", 1, 64));
    QCOMPARE(crypto.deriveKey("passwd", lower), rfc);
    lower.algorithm.clear();
    QCOMPARE(crypto.deriveKey("passwd", lower), rfc);
}

void TestCryptoManager::argon2idBranch()
{
    const CryptoManager crypto;
    KeyDerivationParams params;
    params.algorithm = QStringLiteral("Argon2id");
    params.keyLength = 64;

    // Refused before libsodium would read 16 bytes from a shorter salt.
    params.salt = QByteArray(15, 's');
    QVERIFY(crypto.deriveKey("secret", params).isEmpty());
    params.salt.clear();
    QVERIFY(crypto.deriveKey("secret", params).isEmpty());

    params.salt = QByteArray("0123456789abcdef");
    params.iterations = 1;
    const QByteArray first = crypto.deriveKey("secret", params);
    QCOMPARE(first.size(), 64);
    params.iterations = 999999; // ignored by Argon2id
    QCOMPARE(crypto.deriveKey("secret", params), first);
    QVERIFY(first != crypto.deriveKey("secret", pbkdf2(params.salt, 1, 64)));

    // The parameters every vault's key depends on: Argon2id version 1.3, three
    // passes, 256 MiB, one lane. Computed apart from libsodium's wrapper with
    // the reference implementation (argon2 CLI: -id -t 3 -m 18 -p 1 -l 64)
    // and with PyNaCl (nacl.pwhash.argon2id.kdf, opslimit 3, memlimit
    // 268435456); both gave this value.
    params.salt = QByteArray("0123456789abcdef");
    QCOMPARE(crypto.deriveKey("correct horse battery staple", params).toHex(),
             QByteArray("8d9b54fb2fe5f9d584c315d4f244787a2b2c084dab33470edc50f83e9c2cc4c9"
                        "e35b541c4b6aec9d30e082efd2638b686784db08564f7d4760dfe8d7b183f07a"));
}

void TestCryptoManager::xchachaKnownAnswer()
{
    // draft-irtf-cfrg-xchacha-03, appendix A.3.1 (AEAD_XChaCha20_Poly1305 example).
    const QByteArray key = hex("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
    const QByteArray nonce = hex("404142434445464748494a4b4c4d4e4f5051525354555657");
    const QByteArray ad = hex("50515253c0c1c2c3c4c5c6c7");
    const QByteArray plaintext(
        "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for "
        "the future, sunscreen would be it.");
    const QByteArray expected = hex("bd6d179d3e83d43b9576579493c0e939572a1700252bfaccbed2902c21396cbb"
                                    "731c7f1b0b4aa6440bf3a82f4eda7e39ae64c6708c54c216cb96b72e1213b452"
                                    "2f8c9ba40db5d945b11b69b982c1bb9e3f3fac2bc369488f76b2383565d3fff9"
                                    "21f9664c97637da9768812f615c68b13b52e"
                                    "c0875924c1c7987947deafd8780acf49");

    const CryptoManager crypto;
    const QByteArray ciphertext = crypto.encrypt(plaintext, key, nonce, ad);
    QCOMPARE(ciphertext.size(), plaintext.size() + CryptoManager::TagSize);
    QCOMPARE(ciphertext.toHex(), expected.toHex());
    QCOMPARE(crypto.decrypt(expected, key, nonce, ad), plaintext);
}

void TestCryptoManager::encryptRefusesWrongSizes()
{
    const CryptoManager crypto;
    const QByteArray key(32, 'k');
    const QByteArray nonce(24, 'n');
    QVERIFY(!crypto.encrypt("data", key, nonce, "ad").isEmpty());
    for (int size : {0, 31, 33}) {
        QVERIFY2(crypto.encrypt("data", QByteArray(size, 'k'), nonce, "ad").isEmpty(),
                 qPrintable(QString::number(size)));
        QVERIFY(crypto.decrypt(crypto.encrypt("data", key, nonce), QByteArray(size, 'k'), nonce).isEmpty());
    }
    for (int size : {0, 23, 25}) {
        QVERIFY2(crypto.encrypt("data", key, QByteArray(size, 'n'), "ad").isEmpty(),
                 qPrintable(QString::number(size)));
        QVERIFY(crypto.decrypt(crypto.encrypt("data", key, nonce), key, QByteArray(size, 'n')).isEmpty());
    }
}

void TestCryptoManager::decryptRefusesShortInputAndWrongContext()
{
    const CryptoManager crypto;
    const QByteArray key(32, 'k');
    const QByteArray nonce(24, 'n');
    const QByteArray ciphertext = crypto.encrypt("payload", key, nonce, "index");

    QVERIFY(crypto.decrypt(QByteArray(15, 'x'), key, nonce, "index").isEmpty());
    QVERIFY(crypto.decrypt(QByteArray(), key, nonce, "index").isEmpty());
    QVERIFY(crypto.decrypt(ciphertext, key, nonce, "master").isEmpty());
    QVERIFY(crypto.decrypt(ciphertext, key, nonce).isEmpty());
    QVERIFY(crypto.decrypt(ciphertext, QByteArray(32, 'K'), nonce, "index").isEmpty());
    QVERIFY(crypto.decrypt(ciphertext, key, QByteArray(24, 'N'), "index").isEmpty());
    QVERIFY(crypto.decrypt(ciphertext.left(ciphertext.size() - 1), key, nonce, "index").isEmpty());
    QCOMPARE(crypto.decrypt(ciphertext, key, nonce, "index"), QByteArray("payload"));
}

void TestCryptoManager::tamperingAnyByteIsDetected()
{
    const CryptoManager crypto;
    const QByteArray key = crypto.generateSalt(32);
    const QByteArray nonce = crypto.generateNonce(24);
    const QByteArray ciphertext =
        crypto.encrypt("forty-two bytes of secret plaintext here!", key, nonce, "ad");
    QCOMPARE(ciphertext.size(), 41 + 16);
    for (qsizetype i = 0; i < ciphertext.size(); ++i) {
        for (char flip : {char(0x01), char(0x80)}) {
            QByteArray damaged = ciphertext;
            damaged[i] = char(damaged[i] ^ flip);
            QVERIFY2(crypto.decrypt(damaged, key, nonce, "ad").isEmpty(), qPrintable(QString::number(i)));
        }
    }
}

void TestCryptoManager::emptyPlaintextAndAssociatedData()
{
    const CryptoManager crypto;
    const QByteArray key(32, '\x01');
    const QByteArray nonce(24, '\x02');
    const QByteArray tagOnly = crypto.encrypt(QByteArray(), key, nonce);
    QCOMPARE(tagOnly.size(), 16);
    QVERIFY(crypto.decrypt(tagOnly, key, nonce).isEmpty());

    // Empty and absent associated data are the same zero-length buffer.
    const QByteArray sealed = crypto.encrypt("x", key, nonce, QByteArray(""));
    QCOMPARE(crypto.decrypt(sealed, key, nonce), QByteArray("x"));
}

void TestCryptoManager::randomValues()
{
    const CryptoManager crypto;
    QVERIFY(crypto.generateSalt(0).isEmpty());
    QVERIFY(crypto.generateNonce(-1).isEmpty());
    QCOMPARE(crypto.generateSalt(16).size(), 16);
    QCOMPARE(crypto.generateNonce(24).size(), 24);
    QVERIFY(crypto.generateNonce(24) != crypto.generateNonce(24));
}

QTEST_GUILESS_MAIN(TestCryptoManager)
#include "test_crypto_manager.moc"
