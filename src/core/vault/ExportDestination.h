#pragma once

#include "Error.h"

#include <QString>

namespace Keldra::Core {

// Where an export may put a vault file's plaintext. The plaintext goes to a
// temporary file beside the final name and is renamed over it, so the final
// name must be one that rename may replace: absent or a regular file, and
// never the container or the files that keep it whole (its header journal
// and its compaction copy), under any name.
class ExportDestination
{
public:
    // The name to write at: `destination` with its symbolic links followed,
    // absolute. InvalidArgument when it is the container, its journal or its
    // compaction copy (through a symbolic or hard link, or in another letter
    // case), DestinationUnwritable when it exists and is not a regular file
    // (a folder, a device, a pipe or a socket).
    [[nodiscard]] static Error resolve(const QString& destination, const QString& containerPath,
                                       QString* finalPath);
    // The same for a folder an export makes or writes into: refused when it
    // is (or would take the name of) one of the vault's files, and
    // DestinationUnwritable when something other than a folder is there.
    [[nodiscard]] static Error resolveFolder(const QString& folder, const QString& containerPath,
                                             QString* finalPath);

private:
    // InvalidArgument when `target` (resolved) names the container, its
    // journal or its compaction copy.
    [[nodiscard]] static Error refuseVaultFiles(const QString& target, const QString& containerPath);
};

} // namespace Keldra::Core
