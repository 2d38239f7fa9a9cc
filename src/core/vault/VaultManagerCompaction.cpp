// Compaction: VaultCompaction does the work inside one change.

#include "vault/VaultChange.h"
#include "vault/VaultCompaction.h"
#include "vault/VaultManager.h"

#include <QFileInfo>

namespace Keldra::Core {

bool VaultManager::compactVault(const ProgressCallback& progress, QString* preservedCompactPath)
{
    if (preservedCompactPath)
        preservedCompactPath->clear();
    // Held until the new container is in place: nobody may add blocks to the
    // one being copied.
    VaultChange change(*this);
    if (!change.ok())
        return fail(change.error());
    VaultCompaction compaction(*this, change, progress);
    return finish(compaction.run(preservedCompactPath));
}

qint64 VaultManager::reclaimableBytes() const
{
    m_lastError = Error();
    if (m_state != VaultState::Unlocked) {
        (void)fail(Error::Reason::WrongState, QStringLiteral("not unlocked"));
        return -1;
    }
    const QFileInfo container(m_containerPath);
    if (!container.exists()) {
        (void)fail(Error::Reason::ContainerUnavailable, QStringLiteral("container missing"));
        return -1;
    }
    qint64 live = 0;
    const QList<VaultFileEntry> entries = m_index.entries();
    for (const VaultFileEntry& entry : entries) {
        for (const VaultFileBlock& block : entry.blocks)
            live += qMax<qint64>(0, block.encryptedSize);
    }
    // Overlapping records of a damaged file could count a block twice.
    return qMax<qint64>(0, container.size() - m_payloadStart - live);
}

} // namespace Keldra::Core
