#include "vault/IndexCheck.h"

#include "crypto/CryptoManager.h"
#include "vault/VaultManager.h"

#include <algorithm>

namespace Keldra::Core {

namespace {

struct Extent
{
    qint64 begin = 0;
    qint64 end = 0;
    qsizetype entry = 0;
};

bool possibleBlock(const VaultFileBlock& block, qint64 payloadStart, qint64 containerSize)
{
    return block.plainSize >= 0 && block.plainSize <= VaultManager::BlockSize &&
           block.encryptedSize == block.plainSize + CryptoManager::TagSize && block.offset >= payloadStart &&
           block.offset <= containerSize - block.encryptedSize;
}

} // namespace

QSet<QString> IndexCheck::damagedFiles(const SecureFileIndex& index, qint64 payloadStart,
                                       qint64 containerSize)
{
    const QList<VaultFileEntry> entries = index.entries();
    QList<bool> damaged(entries.size(), false);
    QList<Extent> extents;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const VaultFileEntry& entry = entries.at(i);
        qint64 total = 0;
        for (const VaultFileBlock& block : entry.blocks) {
            if (!possibleBlock(block, payloadStart, containerSize)) {
                damaged[i] = true;
                continue;
            }
            total += block.plainSize;
            extents.append({block.offset, block.offset + block.encryptedSize, i});
        }
        if (total != entry.sizeBytes)
            damaged[i] = true;
    }

    // In offset order, a block that starts before the furthest end seen so far
    // shares bytes with an earlier one; every block of such a run is suspect.
    std::sort(extents.begin(), extents.end(),
              [](const Extent& a, const Extent& b) { return a.begin < b.begin; });
    qsizetype runStart = 0;
    qint64 runEnd = -1;
    for (qsizetype k = 0; k <= extents.size(); ++k) {
        if (k < extents.size() && extents.at(k).begin < runEnd) {
            runEnd = qMax(runEnd, extents.at(k).end);
            continue;
        }
        if (k - runStart > 1) {
            for (qsizetype j = runStart; j < k; ++j)
                damaged[extents.at(j).entry] = true;
        }
        if (k < extents.size()) {
            runStart = k;
            runEnd = extents.at(k).end;
        }
    }

    QSet<QString> paths;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (damaged.at(i))
            paths.insert(entries.at(i).vaultPath);
    }
    return paths;
}

} // namespace Keldra::Core
