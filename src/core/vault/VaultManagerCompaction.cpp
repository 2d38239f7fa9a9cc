// Compaction: VaultCompaction does the work inside one change.

#include "vault/VaultChange.h"
#include "vault/VaultCompaction.h"
#include "vault/VaultManager.h"

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

} // namespace Keldra::Core
