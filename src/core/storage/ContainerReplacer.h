#pragma once

#include "Error.h"

#include <QString>

#include <functional>

namespace Keldra::Core {

// Puts a rebuilt container (compaction) in place of the one on the drive
// without ever leaving the drive without a complete container: the new file
// is copied beside the old one ("keldra.kldr-compact"), synced, checked, and
// renamed over it in one step. When the drive has no room for the copy the
// caller falls back to emptying the old container first (only for a smaller one).
class ContainerReplacer
{
public:
    enum class Result {
        Replaced, // the drive's container is the new one, on the drive
        NoRoom,   // nothing was written (or the partial copy is removed): no room for a second container
        Failed,   // nothing changed: the old container is in place; the copy is removed
    };
    struct Outcome
    {
        Result result = Result::Failed;
        Error error; // why, when Failed
    };
    using Progress = std::function<void(qint64 done, qint64 total)>;
    // Checks the copy on the drive (reads and decrypts its index) before it replaces the container.
    using Verifier = std::function<Error(const QString& path)>;

    static constexpr qint64 ChunkSize = 8 * 1024 * 1024;
    // Left free beyond the copy, so the drive does not fill up to its last block.
    static constexpr qint64 Headroom = 1024 * 1024;

    [[nodiscard]] static Outcome replace(const QString& newContainer, const QString& containerPath,
                                         const Verifier& verify, const Progress& progress);
    // Room for a copy of `bytes` beside the container. Unknown where the system cannot say
    // (some drives report no volume information): the copy itself then finds out.
    enum class Room { Enough, Short, Unknown };
    static Room roomFor(const QString& containerPath, qint64 bytes);
    // Stands in for the drive's free space while set (tests); an empty one restores the real probe.
    using RoomProbe = std::function<Room(const QString& containerPath, qint64 bytes)>;
    static void setRoomProbe(const RoomProbe& probe);
};

} // namespace Keldra::Core
