#pragma once

#include "Error.h"

#include <QByteArray>
#include <QString>

namespace Keldra::Core {

// Writes a new header into an existing container in place, safely:
//  1. it refuses while an earlier change is unsettled (a journal is there:
//     ContainerRecovery must run first);
//  2. only the bytes of the length line and header region that differ from
//     what is on the drive are written, so a rename costs about the size of
//     the header, not the 8 MiB region;
//  3. those old bytes go to the journal, which is synced before the container
//     is touched; the container is synced before the journal is removed.
// The region beyond the old and new header is zero in every file this system
// writes; it is read once per container and process to make sure (another
// writer may have left bytes there, which are then cleared), and not again.
class ContainerHeaderWriter
{
public:
    // `header` is the complete header JSON. `sizeToRestore` is the container
    // size a rolled-back change returns to (import passes its size before the
    // appended blocks); negative means the current size. On failure the header
    // on the drive is the old one, or a journal beside it brings it back at
    // the next open. A header larger than the region is IndexFull, refused
    // before anything is written. `journalKey` authenticates the journal (see
    // HeaderJournal); without it the journal is one only a password can settle.
    [[nodiscard]] static Error rewriteHeader(const QString& containerPath, const QByteArray& header,
                                             qint64 sizeToRestore = -1,
                                             const QByteArray& journalKey = QByteArray());
};

} // namespace Keldra::Core
