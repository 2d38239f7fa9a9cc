#pragma once

#include "format/SecureFileIndex.h"

#include <QSet>
#include <QString>

namespace Keldra::Core {

// The index is sealed, but whoever holds the key can seal a record that lies.
// A file is damaged when one of its blocks is impossible (size, or outside the
// payload area), overlaps or repeats a block (its own or another file's), or
// when its blocks do not add up to its size: export, editing and compaction
// would otherwise read a terabyte for a 3-byte file, or a block twice.
class IndexCheck
{
public:
    // Stored paths of the damaged files of a container of `containerSize`
    // bytes whose payload area starts at `payloadStart`.
    static QSet<QString> damagedFiles(const SecureFileIndex& index, qint64 payloadStart,
                                      qint64 containerSize);
};

} // namespace Keldra::Core
