#pragma once

#include "crypto/CryptoManager.h"

#include <QByteArray>

namespace Keldra::Core {

// Checks a password against a stored SHA-256 verifier of the key derived from it.
class AuthManager
{
public:
    explicit AuthManager(CryptoManager crypto = CryptoManager());

    [[nodiscard]] bool authenticate(const QByteArray& password, const QByteArray& verifier,
                                    const KeyDerivationParams& params) const;

private:
    CryptoManager m_crypto;
};

} // namespace Keldra::Core
