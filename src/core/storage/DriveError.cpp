#include "storage/DriveError.h"

#include <QFileDevice>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace Keldra::Core::DriveError {

int last()
{
#ifdef Q_OS_WIN
    const DWORD code = ::GetLastError();
    return code != 0 ? int(code) : errno;
#else
    return errno;
#endif
}

void clear()
{
#ifdef Q_OS_WIN
    ::SetLastError(0);
#endif
    errno = 0;
}

bool meansDriveFull(int systemError)
{
#ifdef Q_OS_WIN
    if (systemError == ERROR_DISK_FULL || systemError == ERROR_HANDLE_DISK_FULL)
        return true;
#endif
#ifdef EDQUOT
    if (systemError == EDQUOT)
        return true;
#endif
    return systemError == ENOSPC;
}

// A write refused because the file would outgrow what the file system holds.
bool meansFileTooLarge(int systemError)
{
#ifdef Q_OS_WIN
    return systemError == ERROR_FILE_TOO_LARGE;
#else
    return systemError == EFBIG;
#endif
}

Error fromCode(int systemError, const QString& what)
{
    const Error::Reason reason = meansFileTooLarge(systemError) ? Error::Reason::FileSystemLimit
                                 : meansDriveFull(systemError)  ? Error::Reason::DriveFull
                                                                : Error::Reason::WriteFailed;
    if (systemError == 0)
        return Error(reason, what);
#ifdef Q_OS_WIN
    const QString text = QStringLiteral("system error %1").arg(systemError);
#else
    const QString text = QString::fromLocal8Bit(std::strerror(systemError));
#endif
    return Error(reason, what + QStringLiteral(": ") + text);
}

Error fromFile(const QFileDevice& file, int systemError, const QString& what)
{
    if (file.error() == QFileDevice::ResourceError && !meansDriveFull(systemError) &&
        !meansFileTooLarge(systemError))
        return Error(Error::Reason::DriveFull, what + QStringLiteral(": ") + file.errorString());
    return fromCode(systemError, what);
}

} // namespace Keldra::Core::DriveError
