#include "vault/FileIdentity.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QDir>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace Keldra::Core {

namespace {

#ifdef Q_OS_WIN
// Volume and file index: the same file under any name, hard links included.
bool fileIdentity(const QString& path, quint64* volume, quint64* index)
{
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                                    0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    *volume = info.dwVolumeSerialNumber;
    *index = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return ok;
}
#else
// Device and inode: the same file under any name, hard links included.
bool fileIdentity(const QString& path, quint64* volume, quint64* index)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    *volume = quint64(info.st_dev);
    *index = quint64(info.st_ino);
    return true;
}
#endif

} // namespace

bool sameFile(const QString& a, const QString& b)
{
    quint64 volumeA = 0, indexA = 0, volumeB = 0, indexB = 0;
    if (fileIdentity(a, &volumeA, &indexA) && fileIdentity(b, &volumeB, &indexB))
        return volumeA == volumeB && indexA == indexB;
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

} // namespace Keldra::Core
