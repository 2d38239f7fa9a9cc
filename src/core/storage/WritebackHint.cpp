#include "storage/WritebackHint.h"

#include <QFileDevice>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

namespace Keldra::Core {

void WritebackHint::start(int fileDescriptor, qint64 offset, qint64 length)
{
#ifdef Q_OS_LINUX
    if (fileDescriptor >= 0 && offset >= 0 && length > 0)
        (void)::sync_file_range(fileDescriptor, offset, length, SYNC_FILE_RANGE_WRITE);
#else
    Q_UNUSED(fileDescriptor);
    Q_UNUSED(offset);
    Q_UNUSED(length);
#endif
}

void WritebackHint::start(QIODevice* device, qint64 offset, qint64 length)
{
    auto* file = qobject_cast<QFileDevice*>(device);
    // Buffered bytes must reach the system before it can write them out.
    if (file && file->flush())
        start(file->handle(), offset, length);
}

} // namespace Keldra::Core
