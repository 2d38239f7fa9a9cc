#include "crypto/AuthManager.h"

#include <QCryptographicHash>

#include <sodium.h>

#include <utility>

namespace Keldra::Core {

AuthManager::AuthManager(CryptoManager crypto)
    : m_crypto(std::move(crypto))
{
}

bool AuthManager::authenticate(const QByteArray& password, const QByteArray& verifier,
                               const KeyDerivationParams& params) const
{
    QByteArray key = m_crypto.deriveKey(password, params);
    if (key.isEmpty() || verifier.isEmpty()) {
        if (!key.isEmpty())
            sodium_memzero(key.data(), static_cast<size_t>(key.size()));
        return false;
    }
    const QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha256);
    sodium_memzero(key.data(), static_cast<size_t>(key.size()));
    return m_crypto.constantTimeEquals(digest, verifier);
}

} // namespace Keldra::Core
