#include "storage/ContainerFile.h"

#include "storage/ContainerFaultInjector.h"
#include "storage/ContainerLock.h"
#include "storage/DriveError.h"

#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QDir>
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace Keldra::Core {

namespace {

bool syncDescriptor(int fd)
{
#ifdef Q_OS_WIN
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
#else
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    return result == 0;
#endif
}

QString folderOf(const QString& filePath)
{
    return QFileInfo(filePath).absolutePath();
}

} // namespace

ContainerFile::ContainerFile(const QString& path) : m_file(path) {}

ContainerFile::~ContainerFile()
{
    close();
}

bool ContainerFile::failed(const Error& error)
{
    m_error = error;
    return false;
}

bool ContainerFile::open(OpenMode mode)
{
    m_error = Error();
    const bool changes = mode & (WriteOnly | Append | Truncate);
    if (changes) {
        if (!ContainerFaultInjector::admitCall())
            return failed(ContainerFaultInjector::refusal());
    }
    const bool existed = m_file.exists();
    if (changes && !existed)
        ContainerFaultInjector::noteCreated(m_file.fileName());
    if (changes && existed && (mode & Truncate))
        ContainerFaultInjector::noteResize(m_file.fileName(), 0);
    DriveError::clear();
    if (!m_file.open(mode | Unbuffered)) {
        const int code = DriveError::last();
        const QString what = QStringLiteral("open ") + QFileInfo(m_file.fileName()).fileName();
        if (!existed && (!changes || (mode & ExistingOnly)))
            return failed(Error(Error::Reason::ContainerUnavailable, what + QStringLiteral(": missing")));
        if (!changes)
            return failed(Error(Error::Reason::ContainerUnavailable,
                                what + QStringLiteral(": ") + m_file.errorString()));
        return failed(DriveError::fromFile(m_file, code, what));
    }
    if (changes && !existed)
        ContainerFaultInjector::noteFolderDirty(folderOf(m_file.fileName()));
    if (changes && (mode & Truncate))
        ContainerFaultInjector::noteFileDirty(m_file.fileName());
    if (!QIODevice::open(mode | Unbuffered))
        return failed(Error(Error::Reason::Internal, QStringLiteral("device open")));
    return true;
}

void ContainerFile::close()
{
    if (!isOpen())
        return;
    m_file.close();
    QIODevice::close();
}

qint64 ContainerFile::size() const
{
    return m_file.size();
}

bool ContainerFile::seek(qint64 pos)
{
    if (m_file.seek(pos) && QIODevice::seek(pos))
        return true;
    return failed(Error(Error::Reason::WriteFailed, QStringLiteral("seek: ") + m_file.errorString()));
}

bool ContainerFile::writeAll(const QByteArray& bytes)
{
    return writeAll(bytes.constData(), bytes.size());
}

bool ContainerFile::writeAll(const char* data, qint64 length)
{
    m_error = Error();
    if (write(data, length) == length)
        return true;
    // writeData has said why, unless the write was merely cut short.
    if (m_error.ok())
        m_error = Error(Error::Reason::WriteFailed, QStringLiteral("short write"));
    return false;
}

bool ContainerFile::copyFrom(QFile& source, qint64 sourceOffset, qint64 length)
{
    m_error = Error();
    if (!isOpen() || length < 0)
        return failed(Error(Error::Reason::WriteFailed, QStringLiteral("copy: not open")));
    const qint64 allowed = ContainerFaultInjector::admitWrite(length);
    if (allowed < 0)
        return failed(ContainerFaultInjector::refusal());
    ContainerFaultInjector::noteFileDirty(m_file.fileName());
    qint64 copied = 0;
#ifdef Q_OS_LINUX
    loff_t in = sourceOffset;
    loff_t out = pos();
    while (copied < allowed) {
        const ssize_t n =
            ::copy_file_range(source.handle(), &in, m_file.handle(), &out, size_t(allowed - copied), 0);
        if (n <= 0)
            break; // unsupported here, or an error: the plain copy below decides
        copied += n;
    }
#endif
    if (copied < allowed) {
        // Byte by byte through memory, where the kernel cannot copy.
        QByteArray chunk;
        while (copied < allowed) {
            if (!source.seek(sourceOffset + copied))
                return failed(Error(Error::Reason::WriteFailed, QStringLiteral("copy: source seek")));
            chunk = source.read(qMin<qint64>(allowed - copied, 8 * 1024 * 1024));
            if (chunk.isEmpty())
                return failed(Error(Error::Reason::WriteFailed, QStringLiteral("copy: source read")));
            if (!m_file.seek(pos() + copied))
                return failed(Error(Error::Reason::WriteFailed, QStringLiteral("copy: seek")));
            DriveError::clear();
            if (m_file.write(chunk) != chunk.size())
                return failed(DriveError::fromFile(m_file, DriveError::last(), QStringLiteral("copy")));
            copied += chunk.size();
        }
    }
    if (!seek(pos() + copied))
        return false;
    if (copied != length)
        return failed(ContainerFaultInjector::refusal()); // only the injector cuts a copy short
    return true;
}

QByteArray ContainerFile::readAt(qint64 offset, qint64 length)
{
    if (length < 0 || !seek(offset))
        return {};
    QByteArray bytes = read(length);
    return bytes.size() == length ? bytes : QByteArray();
}

bool ContainerFile::resize(qint64 size)
{
    m_error = Error();
    if (!ContainerFaultInjector::admitCall())
        return failed(ContainerFaultInjector::refusal());
    ContainerFaultInjector::noteFileDirty(m_file.fileName());
    ContainerFaultInjector::noteResize(m_file.fileName(), size);
    DriveError::clear();
    if (!m_file.resize(size))
        return failed(DriveError::fromFile(m_file, DriveError::last(), QStringLiteral("resize")));
    // QFile::resize leaves the position alone; keep ours inside the file.
    return pos() <= size || seek(size);
}

bool ContainerFile::sync()
{
    m_error = Error();
    if (!isOpen())
        return failed(Error(Error::Reason::WriteFailed, QStringLiteral("sync: not open")));
    if (!ContainerFaultInjector::admitCall())
        return failed(ContainerFaultInjector::refusal());
    DriveError::clear();
    // A drive that allocates late reports that it is full here, not at the write.
    if (!m_file.flush() || !syncDescriptor(m_file.handle()))
        return failed(DriveError::fromFile(m_file, DriveError::last(), QStringLiteral("sync")));
    ContainerFaultInjector::noteFileSynced(m_file.fileName());
    return true;
}

qint64 ContainerFile::readData(char* data, qint64 maxSize)
{
    return m_file.read(data, maxSize);
}

qint64 ContainerFile::writeData(const char* data, qint64 size)
{
    const qint64 allowed = ContainerFaultInjector::admitWrite(size);
    if (allowed < 0) {
        m_error = ContainerFaultInjector::refusal();
        return -1;
    }
    ContainerFaultInjector::noteFileDirty(m_file.fileName());
    if (allowed == 0) {
        if (size == 0)
            return 0;
        m_error = ContainerFaultInjector::refusal();
        return -1;
    }
    ContainerFaultInjector::noteOverwrite(m_file.fileName(), m_file.pos(), allowed);
    DriveError::clear();
    const qint64 written = m_file.write(data, allowed);
    // The system may take part of a write and then run out of room.
    if (written < allowed)
        m_error = DriveError::fromFile(m_file, DriveError::last(), QStringLiteral("write"));
    return written;
}

Error ContainerFile::syncFolder(const QString& folderPath)
{
    if (!ContainerFaultInjector::admitCall())
        return ContainerFaultInjector::refusal();
#ifndef Q_OS_WIN
    const QByteArray native = QFile::encodeName(folderPath);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return DriveError::fromCode(DriveError::last(), QStringLiteral("open folder"));
    bool ok = syncDescriptor(fd);
    const int code = ok ? 0 : DriveError::last();
    // Some file systems cannot sync a folder at all; their entries are as
    // durable as they will ever be, and refusing every change there helps nobody.
    if (!ok && (code == EINVAL || code == ENOTSUP || code == ENOSYS))
        ok = true;
    ::close(fd);
    if (!ok)
        return DriveError::fromCode(code, QStringLiteral("sync folder"));
#endif
    ContainerFaultInjector::noteFolderSynced(folderPath);
    return Error();
}

Error ContainerFile::syncFolderOf(const QString& filePath)
{
    return syncFolder(folderOf(filePath));
}

Error ContainerFile::removeFile(const QString& path)
{
    if (!QFileInfo::exists(path))
        return Error();
    if (!ContainerFaultInjector::admitCall())
        return ContainerFaultInjector::refusal();
    ContainerFaultInjector::noteRemoving(path);
    DriveError::clear();
    if (!QFile::remove(path))
        return DriveError::fromCode(DriveError::last(),
                                    QStringLiteral("remove ") + QFileInfo(path).fileName());
    ContainerFaultInjector::noteFolderDirty(folderOf(path));
    return Error();
}

Error ContainerFile::replaceFile(const QString& from, const QString& to)
{
    if (!ContainerFaultInjector::admitCall())
        return ContainerFaultInjector::refusal();
    DriveError::clear();
#ifdef Q_OS_WIN
    ContainerLock::suspendForReplace(to);
    const bool ok = MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(from).utf16()),
                                reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(to).utf16()),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    ContainerLock::resumeAfterReplace(to);
#else
    const bool ok = ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
    if (!ok)
        return DriveError::fromCode(DriveError::last(),
                                    QStringLiteral("rename over ") + QFileInfo(to).fileName());
    ContainerFaultInjector::noteFolderDirty(folderOf(from));
    ContainerFaultInjector::noteFolderDirty(folderOf(to));
    return Error();
}

} // namespace Keldra::Core
