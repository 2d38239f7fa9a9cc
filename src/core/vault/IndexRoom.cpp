#include "vault/IndexRoom.h"

#include "crypto/CryptoManager.h"
#include "format/ContainerFormat.h"
#include "format/SecureFileIndex.h"
#include "vault/VaultManager.h"

#include <QDateTime>
#include <QUuid>

namespace Keldra::Core {

IndexRoom::IndexRoom(const ContainerDocument& document) : m_encryptedIndex(document.encryptedIndex.size())
{
    ContainerDocument withoutIndex = document;
    withoutIndex.encryptedIndex.clear();
    m_headerWithoutIndex = ContainerManager().buildHeader(withoutIndex).size();
    m_emptyIndex = SecureFileIndex().toJson().size();
}

qint64 IndexRoom::fileCost(const QString& vaultPath, qint64 sourceSize) const
{
    constexpr qint64 LongestNumber = Q_INT64_C(999999999999999);
    VaultFileEntry entry;
    entry.id = QUuid().toString(QUuid::WithoutBraces);
    entry.vaultPath = vaultPath;
    entry.lastModifiedUtc = QDateTime::currentDateTimeUtc();
    entry.sizeBytes = LongestNumber;
    entry.sha256 = QByteArray(32, '\xff');
    const VaultFileBlock block{LongestNumber, VaultManager::BlockSize,
                               VaultManager::BlockSize + CryptoManager::TagSize,
                               QByteArray(CryptoManager::NonceSize, '\xff')};
    for (qint64 i = 0; i < (sourceSize + VaultManager::BlockSize - 1) / VaultManager::BlockSize; ++i)
        entry.blocks.append(block);
    SecureFileIndex one;
    one.addOrReplace(entry);
    return one.toJson().size() - m_emptyIndex + 1; // and a comma
}

qint64 IndexRoom::folderCost(const QString& path) const
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    SecureFileIndex one;
    one.addDirectory(VaultDirectoryEntry{path, now, now});
    return one.toJson().size() - m_emptyIndex + 1;
}

qint64 IndexRoom::headerSize(qint64 addedIndexBytes) const
{
    const qint64 encrypted = m_encryptedIndex + addedIndexBytes;
    return m_headerWithoutIndex + (encrypted + 2) / 3 * 4;
}

bool IndexRoom::fits(qint64 addedIndexBytes) const
{
    return headerSize(addedIndexBytes) <= ContainerFormat::HeaderRegionSize;
}

} // namespace Keldra::Core
