#pragma once

// Seals a changed index into a vault's header with the vault's own key: what
// someone who knows the password (or another program) can write, so the
// index authenticates but may lie.

#include "core/crypto/CryptoManager.h"
#include "core/format/ContainerManager.h"
#include "core/format/SecureFileIndex.h"
#include "core/vault/VaultManager.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace VaultTest {

// The index text itself is replaced by whatever `change` makes of it.
inline bool resealIndexText(const QString& container, const QByteArray& password,
                            const std::function<QByteArray(const QByteArray&)>& change)
{
    using namespace Keldra::Core;
    const ContainerManager manager;
    ContainerDocument document;
    if (!manager.readDocument(container, &document).ok())
        return false;
    const QByteArray master = VaultManager().decryptMasterKey(document, password);
    if (master.size() < CryptoManager::KeySize)
        return false;
    const QByteArray key = master.left(CryptoManager::KeySize);
    const CryptoManager crypto;
    const QByteArray json = crypto.decrypt(document.encryptedIndex, key, document.crypto.payloadNonce,
                                           VaultManager::associatedData(document, "index"));
    if (json.isEmpty())
        return false;
    document.crypto.payloadNonce = crypto.generateNonce(CryptoManager::NonceSize);
    document.encryptedIndex = crypto.encrypt(change(json), key, document.crypto.payloadNonce,
                                             VaultManager::associatedData(document, "index"));
    return manager.updateDocumentHeader(container, document).ok();
}

inline bool resealIndex(const QString& container, const QByteArray& password,
                        const std::function<void(Keldra::Core::SecureFileIndex*)>& change)
{
    return resealIndexText(container, password, [&](const QByteArray& json) {
        Keldra::Core::SecureFileIndex index = Keldra::Core::SecureFileIndex::fromJson(json);
        change(&index);
        return index.toJson();
    });
}

} // namespace VaultTest
