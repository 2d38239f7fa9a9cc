#pragma once

#include "Error.h"
#include "format/ContainerManager.h"
#include "format/SecureFileIndex.h"
#include "storage/ContainerFile.h"
#include "storage/ContainerLock.h"

#include <functional>
#include <optional>

namespace Keldra::Core {

class VaultManager;

// One change of an unlocked vault, from its opening to its stored index.
//
// Constructing it checks that the vault is unlocked, takes the container's
// lock, settles a change an interrupted program left, reads the header and,
// when another program saved an index since this session read it, takes that
// index over (that takeover stays even when the change is dropped: it is what
// the drive holds). The change then works on a copy of the index; commit()
// stores it in a new header and makes it the vault's index. Destroyed without
// a commit, or after a failed one, nothing in memory changes and blocks
// appended since the last commit are cut off again; the lock is released.
//
// Blocks are appended through openPayload()/payload() before the commit that
// points at them. commit() may be called any number of times under the one
// lock: each call syncs the appended blocks, writes the header for the
// current index(), adopts it as the vault's index and closes the payload; the
// index stays the working copy for what follows, and openPayload() again
// appends after the stored blocks. A batch of many files thus checkpoints
// every so often, and a failure loses only what came after the last commit.
class VaultChange
{
public:
    // Checks of the caller's arguments, run once the vault is known to be
    // unlocked and before the lock is taken: a refusal takes no lock and
    // reads nothing of the container.
    using Precheck = std::function<Error()>;

    explicit VaultChange(VaultManager& vault, const Error& refusal = Error());
    VaultChange(VaultManager& vault, const Precheck& precheck);
    ~VaultChange();
    VaultChange(const VaultChange&) = delete;
    VaultChange& operator=(const VaultChange&) = delete;

    // Why the change cannot go ahead; ok once it has begun.
    const Error& error() const { return m_error; }
    bool ok() const { return m_error.ok(); }

    // The header the change builds on (the last one committed).
    const ContainerDocument& document() const { return m_document; }
    // The working copy of the index; commit() stores what it holds then.
    SecureFileIndex& index() { return m_index; }
    const SecureFileIndex& index() const { return m_index; }

    // Opens the container for appending after the last block the index
    // points at (dead bytes past it are cut off first); payload() is then
    // positioned there. Blocks appended stay the change's until commit().
    [[nodiscard]] Error openPayload();
    ContainerFile& payload() { return m_payload; }
    // Where the next appended block goes, known before openPayload().
    qint64 appendOffset() const;
    // Where the blocks appended since the last commit begin.
    qint64 committedSize() const { return m_committedSize; }

    [[nodiscard]] Error commit();
    // The commit of a change that wrote a whole new container (compaction):
    // `written` is its header, with the index it holds in fileIndex.
    void adoptWritten(const ContainerDocument& written);

private:
    void rollBackPayload();
    // The end of the last block the index points at; -1 when it cannot be trusted.
    qint64 usedEnd() const;

    VaultManager& m_vault;
    std::optional<ContainerLock> m_lock;
    Error m_error;
    ContainerDocument m_document;
    SecureFileIndex m_index;
    ContainerFile m_payload;
    // Container size the stored header accounts for; -1 while nothing was appended.
    qint64 m_committedSize = -1;
};

} // namespace Keldra::Core
