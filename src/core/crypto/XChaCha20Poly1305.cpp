#include "crypto/XChaCha20Poly1305.h"

#include <openssl/evp.h>
#include <sodium.h>

#include <climits>
#include <cstring>
#include <memory>

namespace Keldra::Core {

namespace {

constexpr int TagSize = 16;
// EVP takes int lengths.
constexpr qint64 MaxUpdate = qint64(1) << 30;

struct ContextDeleter
{
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_CIPHER_CTX, ContextDeleter>;

// Subkey and 12-byte nonce of the inner ChaCha20-Poly1305-IETF.
struct InnerKey
{
    unsigned char key[crypto_core_hchacha20_OUTPUTBYTES];
    unsigned char nonce[12];

    InnerKey(const unsigned char* xnonce, const unsigned char* xkey)
    {
        crypto_core_hchacha20(key, xnonce, xkey, nullptr);
        std::memset(nonce, 0, 4);
        std::memcpy(nonce + 4, xnonce + crypto_core_hchacha20_INPUTBYTES, 8);
    }
    ~InnerKey() { sodium_memzero(key, sizeof key); }
    InnerKey(const InnerKey&) = delete;
    InnerKey& operator=(const InnerKey&) = delete;
};

bool evpUpdate(EVP_CIPHER_CTX* context, bool encrypting, unsigned char* out, const unsigned char* in,
               qint64 size)
{
    for (qint64 done = 0; done < size;) {
        const int chunk = int(qMin(size - done, MaxUpdate));
        int written = 0;
        const int ok =
            encrypting ? EVP_EncryptUpdate(context, out ? out + done : nullptr, &written, in + done, chunk)
                       : EVP_DecryptUpdate(context, out ? out + done : nullptr, &written, in + done, chunk);
        if (ok != 1 || (out && written != chunk))
            return false;
        done += chunk;
    }
    return true;
}

Context start(bool encrypting, const InnerKey& inner, const unsigned char* ad, qint64 adSize)
{
    Context context(EVP_CIPHER_CTX_new());
    if (!context)
        return {};
    const int ok =
        encrypting
            ? EVP_EncryptInit_ex(context.get(), EVP_chacha20_poly1305(), nullptr, inner.key, inner.nonce)
            : EVP_DecryptInit_ex(context.get(), EVP_chacha20_poly1305(), nullptr, inner.key, inner.nonce);
    if (ok != 1 || !evpUpdate(context.get(), encrypting, nullptr, ad, adSize))
        return {};
    return context;
}

} // namespace

XChaCha20Poly1305::Result XChaCha20Poly1305::seal(const unsigned char* plain, qint64 size,
                                                  const unsigned char* ad, qint64 adSize,
                                                  const unsigned char* nonce, const unsigned char* key,
                                                  unsigned char* out)
{
    const InnerKey inner(nonce, key);
    const Context context = start(true, inner, ad, adSize);
    int finalBytes = 0;
    if (!context || !evpUpdate(context.get(), true, out, plain, size) ||
        EVP_EncryptFinal_ex(context.get(), out + size, &finalBytes) != 1 || finalBytes != 0 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_GET_TAG, TagSize, out + size) != 1)
        return Result::Unavailable;
    return Result::Done;
}

XChaCha20Poly1305::Result XChaCha20Poly1305::open(const unsigned char* cipher, qint64 size,
                                                  const unsigned char* ad, qint64 adSize,
                                                  const unsigned char* nonce, const unsigned char* key,
                                                  unsigned char* out)
{
    if (size < TagSize)
        return Result::Rejected;
    const qint64 plainSize = size - TagSize;
    const InnerKey inner(nonce, key);
    const Context context = start(false, inner, ad, adSize);
    unsigned char tag[TagSize];
    std::memcpy(tag, cipher + plainSize, TagSize);
    if (!context || !evpUpdate(context.get(), false, out, cipher, plainSize) ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_TAG, TagSize, tag) != 1)
        return Result::Unavailable;
    // The tag is compared here, in constant time.
    int finalBytes = 0;
    return EVP_DecryptFinal_ex(context.get(), out + plainSize, &finalBytes) == 1 && finalBytes == 0
               ? Result::Done
               : Result::Rejected;
}

XChaCha20Poly1305::Sealer::Sealer(const unsigned char* nonce, const unsigned char* key,
                                  const unsigned char* ad, qint64 adSize)
{
    const InnerKey inner(nonce, key);
    m_context = start(true, inner, ad, adSize).release();
}

XChaCha20Poly1305::Sealer::~Sealer()
{
    EVP_CIPHER_CTX_free(m_context);
}

bool XChaCha20Poly1305::Sealer::update(const unsigned char* plain, qint64 size, unsigned char* out)
{
    return m_context && evpUpdate(m_context, true, out, plain, size);
}

bool XChaCha20Poly1305::Sealer::finish(unsigned char* tag)
{
    if (!m_context)
        return false;
    int finalBytes = 0;
    unsigned char none[1];
    const bool ok = EVP_EncryptFinal_ex(m_context, none, &finalBytes) == 1 && finalBytes == 0 &&
                    EVP_CIPHER_CTX_ctrl(m_context, EVP_CTRL_AEAD_GET_TAG, TagSize, tag) == 1;
    EVP_CIPHER_CTX_free(m_context);
    m_context = nullptr;
    return ok;
}

XChaCha20Poly1305::Opener::Opener(const unsigned char* nonce, const unsigned char* key,
                                  const unsigned char* ad, qint64 adSize)
{
    const InnerKey inner(nonce, key);
    m_context = start(false, inner, ad, adSize).release();
}

XChaCha20Poly1305::Opener::~Opener()
{
    EVP_CIPHER_CTX_free(m_context);
}

bool XChaCha20Poly1305::Opener::update(const unsigned char* cipher, qint64 size, unsigned char* out)
{
    return m_context && evpUpdate(m_context, false, out, cipher, size);
}

bool XChaCha20Poly1305::Opener::finish(const unsigned char* tag)
{
    if (!m_context)
        return false;
    unsigned char copy[TagSize];
    std::memcpy(copy, tag, TagSize);
    int finalBytes = 0;
    unsigned char none[1];
    const bool ok = EVP_CIPHER_CTX_ctrl(m_context, EVP_CTRL_AEAD_SET_TAG, TagSize, copy) == 1 &&
                    EVP_DecryptFinal_ex(m_context, none, &finalBytes) == 1 && finalBytes == 0;
    EVP_CIPHER_CTX_free(m_context);
    m_context = nullptr;
    return ok;
}

} // namespace Keldra::Core
