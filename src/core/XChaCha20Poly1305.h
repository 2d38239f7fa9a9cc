#pragma once

#include <QtGlobal>

namespace Keldra::Core {

// XChaCha20-Poly1305-IETF as libsodium defines it (HChaCha20 subkey from the
// first 16 nonce bytes, then ChaCha20-Poly1305-IETF with four zero bytes and
// the last 8 nonce bytes as its nonce), with the bulk work done by OpenSSL,
// whose vectorised ChaCha20-Poly1305 is several times faster here than
// libsodium 1.0.18's. The bytes are the same; CryptoManager falls back to
// libsodium whenever this reports Unavailable.
class XChaCha20Poly1305
{
public:
    enum class Result {
        Done,
        Rejected,    // decryption only: the tag does not match
        Unavailable, // OpenSSL could not do it; nothing usable was produced
    };

    // out receives size + 16 bytes: the ciphertext and the tag.
    static Result seal(const unsigned char* plain, qint64 size, const unsigned char* ad, qint64 adSize,
                       const unsigned char* nonce, const unsigned char* key, unsigned char* out);
    // `size` includes the 16-byte tag; out receives size - 16 bytes.
    static Result open(const unsigned char* cipher, qint64 size, const unsigned char* ad, qint64 adSize,
                       const unsigned char* nonce, const unsigned char* key, unsigned char* out);
};

} // namespace Keldra::Core
