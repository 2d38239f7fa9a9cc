#include "storage/WriteBehind.h"

#include "storage/DriveError.h"
#include "storage/WritebackHint.h"

#ifdef Q_OS_LINUX
#include <cerrno>
#include <fcntl.h>
#endif

namespace Keldra::Core {

WriteBehind::WriteBehind(int fileDescriptor) : m_fileDescriptor(fileDescriptor) {}

Error WriteBehind::written(qint64 offset, qint64 length)
{
#ifdef Q_OS_LINUX
    if (m_fileDescriptor < 0 || offset < 0 || length <= 0)
        return Error();
    WritebackHint::start(m_fileDescriptor, offset, length);
    if (m_settled < 0)
        m_settled = offset;
    const qint64 end = offset + length;
    if (end - m_settled < 2 * Window)
        return Error();
    const qint64 settle = end - Window - m_settled;
    const unsigned int wait =
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    if (::sync_file_range(m_fileDescriptor, m_settled, settle, wait) != 0) {
        const int code = errno;
        // Files that cannot take the hint (pipes, some file systems) are not an error.
        if (code == ESPIPE || code == EINVAL || code == ENOSYS || code == EOPNOTSUPP)
            return Error();
        return DriveError::fromCode(code, QStringLiteral("write-behind"));
    }
    (void)::posix_fadvise(m_fileDescriptor, m_settled, settle, POSIX_FADV_DONTNEED);
    m_settled += settle;
    return Error();
#else
    Q_UNUSED(offset);
    Q_UNUSED(length);
    return Error();
#endif
}

} // namespace Keldra::Core
