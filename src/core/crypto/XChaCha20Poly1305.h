#pragma once

#include <QtGlobal>

struct evp_cipher_ctx_st;

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

    // seal() in pieces: the plaintext of one message given in any number of
    // parts, each encrypted as it comes, then the tag. Same bytes as seal().
    class Sealer
    {
    public:
        // False from isValid() when OpenSSL cannot do it; use seal() or libsodium then.
        Sealer(const unsigned char* nonce, const unsigned char* key, const unsigned char* ad, qint64 adSize);
        ~Sealer();
        Sealer(const Sealer&) = delete;
        Sealer& operator=(const Sealer&) = delete;

        bool isValid() const { return m_context != nullptr; }
        // out receives size bytes of ciphertext.
        bool update(const unsigned char* plain, qint64 size, unsigned char* out);
        // The 16-byte tag; the sealer is spent afterwards.
        bool finish(unsigned char* tag);

    private:
        ::evp_cipher_ctx_st* m_context = nullptr;
    };

    // open() in pieces. Plaintext comes out before the tag is checked, so a
    // caller must not release it until finish() has accepted the tag.
    class Opener
    {
    public:
        Opener(const unsigned char* nonce, const unsigned char* key, const unsigned char* ad, qint64 adSize);
        ~Opener();
        Opener(const Opener&) = delete;
        Opener& operator=(const Opener&) = delete;

        bool isValid() const { return m_context != nullptr; }
        bool update(const unsigned char* cipher, qint64 size, unsigned char* out);
        // True when the tag matches (compared in constant time); the opener is spent afterwards.
        bool finish(const unsigned char* tag);

    private:
        ::evp_cipher_ctx_st* m_context = nullptr;
    };
};

} // namespace Keldra::Core
