#pragma once

#include <QtGlobal>

class QIODevice;

namespace Keldra::Core {

// Asks the system to start writing a range of a file to the drive now,
// without waiting. Dirty pages otherwise sit in memory until the final sync,
// which then waits for the whole file after all the encryption is done; with
// the hint the drive works while the next block is encrypted. Advisory only:
// the final sync still decides durability, so failures are ignored. Linux
// only (sync_file_range); elsewhere it does nothing.
class WritebackHint
{
public:
    static void start(int fileDescriptor, qint64 offset, qint64 length);
    // For a QFileDevice (QFile, QSaveFile) that was just written; other devices are ignored.
    static void start(QIODevice* device, qint64 offset, qint64 length);
};

} // namespace Keldra::Core
