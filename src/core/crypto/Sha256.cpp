#include "crypto/Sha256.h"

#include <openssl/evp.h>

namespace Keldra::Core {

Sha256::Sha256() : m_context(EVP_MD_CTX_new())
{
    reset();
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_context);
}

bool Sha256::isValid() const
{
    return m_valid;
}

void Sha256::reset()
{
    m_finished = false;
    m_valid = m_context != nullptr && EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr) == 1;
}

bool Sha256::addData(QByteArrayView data)
{
    return addData(data.data(), data.size());
}

bool Sha256::addData(const char* data, qint64 size)
{
    if (!m_valid || m_finished || size < 0 || (data == nullptr && size > 0))
        return false;
    if (size == 0)
        return true;
    if (EVP_DigestUpdate(m_context, data, static_cast<size_t>(size)) != 1)
        m_valid = false;
    return m_valid;
}

QByteArray Sha256::result()
{
    if (!m_valid || m_finished)
        return {};
    m_finished = true;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_context, digest, &length) != 1 || length != 32) {
        m_valid = false;
        return {};
    }
    return QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length));
}

QByteArray Sha256::hexResult()
{
    return result().toHex();
}

QByteArray Sha256::hash(QByteArrayView data)
{
    Sha256 sha;
    sha.addData(data);
    return sha.result();
}

} // namespace Keldra::Core
