#include "storage/WriteBehind.h"

#include "storage/WritebackHint.h"

#ifdef Q_OS_LINUX
#include <cerrno>
#include <fcntl.h>
#endif

namespace Keldra::Core {

WriteBehind::WriteBehind(int fileDescriptor)
    : m_fileDescriptor(fileDescriptor)
{
}

bool WriteBehind::written(qint64 offset, qint64 length)
{
#ifdef Q_OS_LINUX
    if (m_fileDescriptor < 0 || offset < 0 || length <= 0)
        return true;
    WritebackHint::start(m_fileDescriptor, offset, length);
    if (m_settled < 0)
        m_settled = offset;
    const qint64 end = offset + length;
    if (end - m_settled < 2 * Window)
        return true;
    const qint64 settle = end - Window - m_settled;
    const unsigned int wait = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    if (::sync_file_range(m_fileDescriptor, m_settled, settle, wait) != 0) {
        // Files that cannot take the hint (pipes, some file systems) are not an error.
        if (errno == ESPIPE || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            return true;
        return false;
    }
    (void)::posix_fadvise(m_fileDescriptor, m_settled, settle, POSIX_FADV_DONTNEED);
    m_settled += settle;
    return true;
#else
    Q_UNUSED(offset);
    Q_UNUSED(length);
    return true;
#endif
}

} // namespace Keldra::Core
