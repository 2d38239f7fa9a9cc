#pragma once

#include <QByteArray>
#include <QString>

namespace Keldra::Deployment {

struct UpdateManifest;

// Ed25519 (libsodium) keys and signatures of update manifests. The signature covers the
// app, the version, the package size and the package's SHA-256 in one fixed text, so a
// manifest cannot point at other bytes than the ones the publisher signed.
constexpr int kUpdatePublicKeyBytes = 32;
constexpr int kUpdateSecretKeyBytes = 64;
constexpr int kUpdateSignatureBytes = 64;

// The exact bytes that are signed; empty when a field could never be signed (a
// version that is not N.N.N, a negative size, a digest that is not 64 hex digits).
QByteArray updateSignedText(const QString& version, qint64 size, const QString& sha256);

// True only for a signature by publicKey over the manifest's signed fields.
[[nodiscard]] bool verifyUpdateSignature(const UpdateManifest& manifest, const QByteArray& publicKey);

// The detached signature, or empty when the key or the fields are unusable.
QByteArray signUpdate(const QString& version, qint64 size, const QString& sha256,
                      const QByteArray& secretKey);

[[nodiscard]] bool generateUpdateKeyPair(QByteArray* publicKey, QByteArray* secretKey);
// The public half of a secret key.
QByteArray updatePublicKeyOf(const QByteArray& secretKey);

// The only key whose manifests are applied. The programs link the release key
// (UpdateReleaseKey.cpp); test binaries link a test key of their own instead.
QByteArray trustedUpdatePublicKey();

} // namespace Keldra::Deployment
