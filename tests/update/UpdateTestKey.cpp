#include "UpdateTestKey.h"

#include "deployment/UpdateSignature.h"

#include <sodium.h>

namespace {

struct KeyPair
{
    QByteArray publicKey{crypto_sign_PUBLICKEYBYTES, '\0'};
    QByteArray secretKey{crypto_sign_SECRETKEYBYTES, '\0'};
};

const KeyPair& keyPair()
{
    static const KeyPair pair = [] {
        KeyPair made;
        const QByteArray seed = QByteArrayLiteral("keldra update tests only, 32 b!!");
        static_assert(crypto_sign_SEEDBYTES == 32);
        if (sodium_init() < 0 || seed.size() != crypto_sign_SEEDBYTES ||
            crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(made.publicKey.data()),
                                     reinterpret_cast<unsigned char*>(made.secretKey.data()),
                                     reinterpret_cast<const unsigned char*>(seed.constData())) != 0)
            qFatal("cannot derive the test update key");
        return made;
    }();
    return pair;
}

} // namespace

namespace Keldra::Deployment {

QByteArray trustedUpdatePublicKey()
{
    return UpdateTestKey::publicKey();
}

} // namespace Keldra::Deployment

namespace UpdateTestKey {

QByteArray publicKey()
{
    return keyPair().publicKey;
}

QByteArray secretKey()
{
    return keyPair().secretKey;
}

QJsonObject signedManifest(QJsonObject object)
{
    const QByteArray signature = Keldra::Deployment::signUpdate(
        object.value(QStringLiteral("version")).toString(),
        static_cast<qint64>(object.value(QStringLiteral("size")).toDouble(-1)),
        object.value(QStringLiteral("sha256")).toString().toLower(), secretKey());
    object.insert(QStringLiteral("signature"), QString::fromLatin1(signature.toBase64()));
    return object;
}

QByteArray secretKeyFileText()
{
    return "keldra-update-secret-key\n" + secretKey().toHex() + '\n';
}

} // namespace UpdateTestKey
