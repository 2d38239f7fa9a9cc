#pragma once

#include <QByteArray>
#include <QJsonObject>

// The signing key the update test binaries trust instead of the release key: they link
// UpdateTestKey.cpp, which provides trustedUpdatePublicKey(). Its secret is derived from
// a fixed seed, so it signs nothing a real drive accepts.
namespace UpdateTestKey {

QByteArray publicKey();
QByteArray secretKey();

// object with "signature" set from its version, size and sha256 as they are now.
QJsonObject signedManifest(QJsonObject object);

// The secret key in the file format of keldra-cli keygen.
QByteArray secretKeyFileText();

} // namespace UpdateTestKey
