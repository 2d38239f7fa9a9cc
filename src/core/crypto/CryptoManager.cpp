#include "crypto/CryptoManager.h"

#include "crypto/SecureMemory.h"
#include "crypto/XChaCha20Poly1305.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

#include <sodium.h>

namespace Keldra::Core {

namespace {

constexpr unsigned long long Argon2OpsLimit = 3;
constexpr size_t Argon2MemLimit = 268435456; // 256 MiB
constexpr int PbkdfBlockSize = 32;

const unsigned char* bytes(const QByteArray& data)
{
    return reinterpret_cast<const unsigned char*>(data.constData());
}

unsigned char* bytes(QByteArray& data)
{
    return reinterpret_cast<unsigned char*>(data.data());
}

// Never null, also for an empty view: libsodium is given a valid pointer either way.
const unsigned char* bytes(QByteArrayView data)
{
    static const unsigned char empty = 0;
    return data.isEmpty() ? &empty : reinterpret_cast<const unsigned char*>(data.data());
}

QByteArray randomBytes(int length)
{
    if (length <= 0)
        return {};
    QByteArray out(length, Qt::Uninitialized);
    randombytes_buf(out.data(), static_cast<size_t>(length));
    return out;
}

QByteArray hmac(QMessageAuthenticationCode& mac, const QByteArray& message)
{
    mac.reset();
    mac.addData(message);
    return mac.result();
}

// PBKDF2-HMAC-SHA-256 (RFC 8018). Intermediate blocks are wiped as they go.
QByteArray pbkdf2Sha256(const QByteArray& password, const QByteArray& salt, int iterations, int keyLength)
{
    if (iterations < 1)
        return {};
    QMessageAuthenticationCode mac(QCryptographicHash::Sha256, password);
    QByteArray out;
    out.reserve(keyLength + PbkdfBlockSize);
    for (quint32 index = 1; out.size() < keyLength; ++index) {
        QByteArray message = salt;
        message.append(char((index >> 24) & 0xff));
        message.append(char((index >> 16) & 0xff));
        message.append(char((index >> 8) & 0xff));
        message.append(char(index & 0xff));
        QByteArray u = hmac(mac, message);
        // A copy of its own: wiping u must not wipe the block it starts.
        QByteArray block(u.constData(), u.size());
        for (int j = 2; j <= iterations; ++j) {
            QByteArray next = hmac(mac, u);
            wipe(u);
            u = next;
            for (int k = 0; k < PbkdfBlockSize; ++k)
                block[k] = char(block[k] ^ u[k]);
        }
        out.append(block);
        wipe(u);
        wipe(block);
    }
    if (out.size() > keyLength) {
        QByteArray trimmed = out.left(keyLength);
        wipe(out);
        return trimmed;
    }
    return out;
}

} // namespace

CryptoManager::CryptoManager()
{
    // Idempotent; a failure shows up later as failing primitives.
    [[maybe_unused]] const int ignored = sodium_init();
}

QByteArray CryptoManager::generateSalt(int length) const
{
    return randomBytes(length);
}

QByteArray CryptoManager::generateNonce(int length) const
{
    return randomBytes(length);
}

QByteArray CryptoManager::encrypt(const QByteArray& plaintext, const QByteArray& key, const QByteArray& nonce,
                                  const QByteArray& associatedData) const
{
    QByteArray out;
    if (!encryptInto(plaintext, key, nonce, associatedData, &out))
        return {};
    return out;
}

QByteArray CryptoManager::decrypt(const QByteArray& ciphertext, const QByteArray& key,
                                  const QByteArray& nonce, const QByteArray& associatedData) const
{
    QByteArray out;
    if (!decryptInto(ciphertext, key, nonce, associatedData, &out))
        return {};
    return out;
}

bool CryptoManager::encryptInto(QByteArrayView plaintext, const QByteArray& key, const QByteArray& nonce,
                                const QByteArray& associatedData, QByteArray* out) const
{
    if (!out)
        return false;
    if (key.size() != KeySize || nonce.size() != NonceSize) {
        out->clear();
        return false;
    }
    out->resize(plaintext.size() + TagSize);
    if (XChaCha20Poly1305::seal(bytes(plaintext), plaintext.size(), bytes(associatedData),
                                associatedData.size(), bytes(nonce), bytes(key),
                                bytes(*out)) == XChaCha20Poly1305::Result::Done)
        return true;
    unsigned long long outLength = 0;
    const int rc = crypto_aead_xchacha20poly1305_ietf_encrypt(
        bytes(*out), &outLength, bytes(plaintext), static_cast<unsigned long long>(plaintext.size()),
        bytes(associatedData), static_cast<unsigned long long>(associatedData.size()), nullptr, bytes(nonce),
        bytes(key));
    if (rc != 0) {
        out->clear();
        return false;
    }
    out->resize(static_cast<qsizetype>(outLength));
    return true;
}

bool CryptoManager::decryptInto(QByteArrayView ciphertext, const QByteArray& key, const QByteArray& nonce,
                                const QByteArray& associatedData, QByteArray* out) const
{
    if (!out)
        return false;
    if (key.size() != KeySize || nonce.size() != NonceSize || ciphertext.size() < TagSize) {
        out->clear();
        return false;
    }
    out->resize(ciphertext.size() - TagSize);
    unsigned long long outLength = 0;
    // A zero-length buffer still needs a valid pointer for libsodium.
    unsigned char scratch = 0;
    unsigned char* target = out->isEmpty() ? &scratch : bytes(*out);
    const XChaCha20Poly1305::Result fast =
        XChaCha20Poly1305::open(bytes(ciphertext), ciphertext.size(), bytes(associatedData),
                                associatedData.size(), bytes(nonce), bytes(key), target);
    if (fast == XChaCha20Poly1305::Result::Done)
        return true;
    if (fast == XChaCha20Poly1305::Result::Rejected) {
        wipe(*out);
        out->clear();
        return false;
    }
    const int rc = crypto_aead_xchacha20poly1305_ietf_decrypt(
        target, &outLength, nullptr, bytes(ciphertext), static_cast<unsigned long long>(ciphertext.size()),
        bytes(associatedData), static_cast<unsigned long long>(associatedData.size()), bytes(nonce),
        bytes(key));
    if (rc != 0) {
        // Whatever was decrypted before the tag check failed must not linger.
        wipe(*out);
        out->clear();
        return false;
    }
    out->resize(static_cast<qsizetype>(outLength));
    return true;
}

CryptoManager::PieceEncryptor::PieceEncryptor(const QByteArray& key, const QByteArray& nonce,
                                              const QByteArray& associatedData)
{
    if (key.size() == KeySize && nonce.size() == NonceSize)
        m_sealer = std::make_unique<XChaCha20Poly1305::Sealer>(bytes(nonce), bytes(key),
                                                               bytes(associatedData), associatedData.size());
}

bool CryptoManager::PieceEncryptor::isValid() const
{
    return m_sealer && m_sealer->isValid();
}

bool CryptoManager::PieceEncryptor::update(QByteArrayView plain, char* out)
{
    return isValid() && m_sealer->update(bytes(plain), plain.size(), reinterpret_cast<unsigned char*>(out));
}

bool CryptoManager::PieceEncryptor::finish(char* tag)
{
    return isValid() && m_sealer->finish(reinterpret_cast<unsigned char*>(tag));
}

CryptoManager::PieceDecryptor::PieceDecryptor(const QByteArray& key, const QByteArray& nonce,
                                              const QByteArray& associatedData)
{
    if (key.size() == KeySize && nonce.size() == NonceSize)
        m_opener = std::make_unique<XChaCha20Poly1305::Opener>(bytes(nonce), bytes(key),
                                                               bytes(associatedData), associatedData.size());
}

bool CryptoManager::PieceDecryptor::isValid() const
{
    return m_opener && m_opener->isValid();
}

bool CryptoManager::PieceDecryptor::update(QByteArrayView cipher, char* out)
{
    return isValid() && m_opener->update(bytes(cipher), cipher.size(), reinterpret_cast<unsigned char*>(out));
}

bool CryptoManager::PieceDecryptor::finish(QByteArrayView tag)
{
    return isValid() && tag.size() == TagSize && m_opener->finish(bytes(tag));
}

QByteArray CryptoManager::deriveKey(const QByteArray& password, const KeyDerivationParams& params) const
{
    if (password.isEmpty() || params.salt.isEmpty() || params.keyLength < 1)
        return {};

    if (params.algorithm == QLatin1String("Argon2id")) {
        // libsodium reads exactly 16 salt bytes; a shorter salt would be read past its end.
        if (params.salt.size() < static_cast<qsizetype>(crypto_pwhash_SALTBYTES))
            return {};
        QByteArray out(params.keyLength, Qt::Uninitialized);
        const int rc =
            crypto_pwhash(bytes(out), static_cast<unsigned long long>(out.size()), password.constData(),
                          static_cast<unsigned long long>(password.size()), bytes(params.salt),
                          Argon2OpsLimit, Argon2MemLimit, crypto_pwhash_ALG_ARGON2ID13);
        if (rc != 0) {
            wipe(out);
            return {};
        }
        return out;
    }

    return pbkdf2Sha256(password, params.salt, params.iterations, params.keyLength);
}

} // namespace Keldra::Core
