#include "deployment/UpdateSignature.h"

#include "deployment/UpdateManifest.h"

#include <QRegularExpression>

#include <sodium.h>

namespace Keldra::Deployment {

namespace {

bool sodiumReady()
{
    // Idempotent; negative only when libsodium cannot work at all.
    return sodium_init() >= 0;
}

bool isSha256Hex(const QString& text)
{
    static const QRegularExpression hex(QRegularExpression::anchoredPattern(QStringLiteral("[0-9a-f]{64}")));
    return hex.match(text).hasMatch();
}

} // namespace

QByteArray updateSignedText(const QString& version, qint64 size, const QString& sha256)
{
    if (!isUpdateVersion(version) || size < 0 || !isSha256Hex(sha256))
        return {};
    // Line-based and free of JSON so that signer and verifier cannot format it differently.
    return QStringLiteral("Keldra update manifest 1\napp: Keldra\nversion: %1\nsize: %2\nsha256: %3\n")
        .arg(version)
        .arg(size)
        .arg(sha256)
        .toUtf8();
}

bool verifyUpdateSignature(const UpdateManifest& manifest, const QByteArray& publicKey)
{
    const QByteArray text = updateSignedText(manifest.version, manifest.size, manifest.sha256);
    if (text.isEmpty() || publicKey.size() != kUpdatePublicKeyBytes ||
        manifest.signature.size() != kUpdateSignatureBytes || !sodiumReady())
        return false;
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(manifest.signature.constData()),
                                       reinterpret_cast<const unsigned char*>(text.constData()),
                                       static_cast<unsigned long long>(text.size()),
                                       reinterpret_cast<const unsigned char*>(publicKey.constData())) == 0;
}

QByteArray signUpdate(const QString& version, qint64 size, const QString& sha256, const QByteArray& secretKey)
{
    const QByteArray text = updateSignedText(version, size, sha256);
    if (text.isEmpty() || secretKey.size() != kUpdateSecretKeyBytes || !sodiumReady())
        return {};
    QByteArray signature(kUpdateSignatureBytes, '\0');
    if (crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                             reinterpret_cast<const unsigned char*>(text.constData()),
                             static_cast<unsigned long long>(text.size()),
                             reinterpret_cast<const unsigned char*>(secretKey.constData())) != 0)
        return {};
    return signature;
}

bool generateUpdateKeyPair(QByteArray* publicKey, QByteArray* secretKey)
{
    if (!sodiumReady())
        return false;
    publicKey->resize(kUpdatePublicKeyBytes);
    secretKey->resize(kUpdateSecretKeyBytes);
    return crypto_sign_keypair(reinterpret_cast<unsigned char*>(publicKey->data()),
                               reinterpret_cast<unsigned char*>(secretKey->data())) == 0;
}

QByteArray updatePublicKeyOf(const QByteArray& secretKey)
{
    if (secretKey.size() != kUpdateSecretKeyBytes)
        return {};
    QByteArray publicKey(kUpdatePublicKeyBytes, '\0');
    crypto_sign_ed25519_sk_to_pk(reinterpret_cast<unsigned char*>(publicKey.data()),
                                 reinterpret_cast<const unsigned char*>(secretKey.constData()));
    return publicKey;
}

} // namespace Keldra::Deployment
