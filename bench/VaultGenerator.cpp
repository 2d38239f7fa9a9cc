#include "VaultGenerator.h"

#include "core/crypto/CryptoManager.h"
#include "core/crypto/SecureMemory.h"
#include "core/format/ContainerManager.h"
#include "core/format/SecureFileIndex.h"
#include "core/vault/VaultManager.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QIODevice>
#include <QUuid>

namespace Keldra::Bench {

using namespace Keldra::Core;

QString VaultGenerator::folderName(int folder)
{
    return QStringLiteral("d%1").arg(folder, 3, 10, QLatin1Char('0'));
}

QString VaultGenerator::filePath(const Layout& layout, int file)
{
    return folderName(file % layout.folderCount) +
           QStringLiteral("/file-%1.txt").arg(file, 5, 10, QLatin1Char('0'));
}

bool VaultGenerator::generate(const QString& containerPath, const QByteArray& password, const Layout& layout,
                              QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (layout.fileCount < 0 || layout.folderCount < 1 || layout.fileSize < 0)
        return fail(QStringLiteral("bad layout"));

    // Create and unwrap through the vault itself, so the key hierarchy is the real one.
    VaultManager vault;
    if (!vault.createVault(containerPath, password))
        return fail(QStringLiteral("createVault failed"));
    const ContainerManager containers;
    ContainerDocument document;
    if (!containers.readDocument(containerPath, &document).ok())
        return fail(QStringLiteral("cannot read the new container"));

    const CryptoManager crypto;
    QByteArray masterKey = vault.decryptMasterKey(document, password);
    const KeyWiper masterKeyWiper(masterKey);
    if (masterKey.size() < CryptoManager::KeySize)
        return fail(QStringLiteral("cannot unwrap the master key"));
    const QByteArray key = QByteArray::fromRawData(masterKey.constData(), CryptoManager::KeySize);

    const QDateTime now = QDateTime::currentDateTimeUtc();
    SecureFileIndex index;
    for (int folder = 0; folder < qMin(layout.folderCount, qMax(layout.fileCount, 1)); ++folder)
        index.addDirectory({folderName(folder), now, now});

    const QByteArray blockData = VaultManager::associatedData(document, "file-block");
    const PayloadWriter writer = [&](QIODevice* out) {
        QList<VaultFileEntry> entries;
        entries.reserve(layout.fileCount);
        for (int file = 0; file < layout.fileCount; ++file) {
            const QByteArray plain = crypto.generateSalt(layout.fileSize);
            VaultFileEntry entry;
            entry.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            entry.vaultPath = filePath(layout, file);
            entry.sizeBytes = plain.size();
            entry.lastModifiedUtc = now;
            entry.sha256 = QCryptographicHash::hash(plain, QCryptographicHash::Sha256);
            if (!plain.isEmpty()) {
                VaultFileBlock block;
                block.nonce = crypto.generateNonce(CryptoManager::NonceSize);
                const QByteArray cipher = crypto.encrypt(plain, key, block.nonce, blockData);
                block.offset = out->pos();
                block.plainSize = plain.size();
                block.encryptedSize = cipher.size();
                if (cipher.isEmpty() || out->write(cipher) != cipher.size())
                    return false;
                entry.blocks.append(block);
            }
            index.addOrReplace(entry);
        }
        document.fileIndex = index;
        document.crypto.payloadNonce = crypto.generateNonce(CryptoManager::NonceSize);
        document.encryptedIndex = crypto.encrypt(index.toJson(), key, document.crypto.payloadNonce,
                                                 VaultManager::associatedData(document, "index"));
        return !document.encryptedIndex.isEmpty();
    };
    if (!containers.writeDocument(containerPath, document, writer).ok())
        return fail(QStringLiteral("cannot write the container"));
    return true;
}

} // namespace Keldra::Bench
