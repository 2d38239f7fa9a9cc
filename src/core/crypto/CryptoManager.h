#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include "crypto/XChaCha20Poly1305.h"

#include <memory>

namespace Keldra::Core {

// Password-based key derivation settings; "Argon2id" selects Argon2id, anything else PBKDF2-HMAC-SHA-256.
struct KeyDerivationParams
{
    QString algorithm;
    QByteArray salt;
    int iterations = 250000; // PBKDF2 only
    int keyLength = 64;
};

// The single entry point to cryptography. Stateless; every failure is an empty result.
class CryptoManager
{
public:
    static constexpr int KeySize = 32;
    static constexpr int NonceSize = 24;
    static constexpr int TagSize = 16;

    CryptoManager();

    [[nodiscard]] QByteArray generateSalt(int length) const;
    [[nodiscard]] QByteArray generateNonce(int length) const;

    // XChaCha20-Poly1305-IETF, combined mode: ciphertext followed by the 16-byte tag.
    [[nodiscard]] QByteArray encrypt(const QByteArray& plaintext, const QByteArray& key,
                                     const QByteArray& nonce,
                                     const QByteArray& associatedData = QByteArray()) const;
    [[nodiscard]] QByteArray decrypt(const QByteArray& ciphertext, const QByteArray& key,
                                     const QByteArray& nonce,
                                     const QByteArray& associatedData = QByteArray()) const;
    // The same, into *out, whose allocation is reused from call to call: a
    // file encrypted or decrypted block by block costs no new 16 MiB buffer
    // per block. False (and *out empty) where encrypt/decrypt give empty.
    [[nodiscard]] bool encryptInto(QByteArrayView plaintext, const QByteArray& key, const QByteArray& nonce,
                                   const QByteArray& associatedData, QByteArray* out) const;
    [[nodiscard]] bool decryptInto(QByteArrayView ciphertext, const QByteArray& key, const QByteArray& nonce,
                                   const QByteArray& associatedData, QByteArray* out) const;

    // encrypt() of one message whose plaintext comes in pieces: each piece is
    // encrypted as it arrives (same length), then finish() gives the 16-byte
    // tag; together exactly encrypt()'s bytes. A large block then never has
    // to leave the processor's cache between reading, hashing, encrypting and
    // writing. Not valid (use encryptInto) when the key or nonce has the
    // wrong size or the fast implementation is unavailable.
    class PieceEncryptor
    {
    public:
        PieceEncryptor(const QByteArray& key, const QByteArray& nonce, const QByteArray& associatedData);
        [[nodiscard]] bool isValid() const;
        [[nodiscard]] bool update(QByteArrayView plain, char* out);
        [[nodiscard]] bool finish(char* tag);

    private:
        std::unique_ptr<XChaCha20Poly1305::Sealer> m_sealer;
    };

    // decrypt() in pieces. Plaintext comes out before the tag is checked:
    // nothing may be released until finish() has accepted the tag.
    class PieceDecryptor
    {
    public:
        PieceDecryptor(const QByteArray& key, const QByteArray& nonce, const QByteArray& associatedData);
        [[nodiscard]] bool isValid() const;
        [[nodiscard]] bool update(QByteArrayView cipher, char* out);
        [[nodiscard]] bool finish(QByteArrayView tag);

    private:
        std::unique_ptr<XChaCha20Poly1305::Opener> m_opener;
    };

    [[nodiscard]] QByteArray deriveKey(const QByteArray& password, const KeyDerivationParams& params) const;
};

} // namespace Keldra::Core
