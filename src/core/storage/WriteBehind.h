#pragma once

#include "Error.h"

#include <QtGlobal>

namespace Keldra::Core {

// Keeps a long run of writes to one file at the drive's own pace. Each range
// is handed to the drive as soon as it is written (WritebackHint); once a
// window of newer bytes follows it, the program waits until the range is on
// the drive and lets the system drop it from its cache. The file then holds
// a few blocks of memory instead of all of it, the progress shown follows the
// drive (a slow stick no longer shows 100 % while gigabytes wait in memory),
// and the final sync waits only for the last window. Durability is still the
// final sync's: this only orders the work. Linux only; elsewhere it does
// nothing and always succeeds.
class WriteBehind
{
public:
    static constexpr qint64 Window = 32 * 1024 * 1024;

    explicit WriteBehind(int fileDescriptor);

    // Call after `length` bytes were written at `offset`, in file order. Fails
    // when the drive reported an error for earlier bytes (a full drive shows
    // here first when it allocates late): the caller's final sync would fail
    // too, so the caller stops now.
    [[nodiscard]] Error written(qint64 offset, qint64 length);

private:
    int m_fileDescriptor;
    qint64 m_settled = -1; // bytes before this are on the drive and out of the cache
};

} // namespace Keldra::Core
