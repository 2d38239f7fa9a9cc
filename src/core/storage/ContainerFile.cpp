#include "storage/ContainerFile.h"

#include "storage/ContainerFaultInjector.h"

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

bool ContainerFile::open(OpenMode mode)
{
    const bool changes = mode & (WriteOnly | Append | Truncate);
    if (changes) {
        if (!ContainerFaultInjector::admitCall())
            return false;
    }
    const bool existed = m_file.exists();
    if (changes && !existed)
        ContainerFaultInjector::noteCreated(m_file.fileName());
    if (changes && existed && (mode & Truncate))
        ContainerFaultInjector::noteResize(m_file.fileName(), 0);
    if (!m_file.open(mode | Unbuffered))
        return false;
    if (changes && !existed)
        ContainerFaultInjector::noteFolderDirty(folderOf(m_file.fileName()));
    if (changes && (mode & Truncate))
        ContainerFaultInjector::noteFileDirty(m_file.fileName());
    return QIODevice::open(mode | Unbuffered);
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
    return m_file.seek(pos) && QIODevice::seek(pos);
}

bool ContainerFile::writeAll(const QByteArray& bytes)
{
    return writeAll(bytes.constData(), bytes.size());
}

bool ContainerFile::writeAll(const char* data, qint64 length)
{
    return write(data, length) == length;
}

bool ContainerFile::copyFrom(QFile& source, qint64 sourceOffset, qint64 length)
{
    if (!isOpen() || length < 0)
        return false;
    const qint64 allowed = ContainerFaultInjector::admitWrite(length);
    if (allowed < 0)
        return false;
    ContainerFaultInjector::noteFileDirty(m_file.fileName());
    qint64 copied = 0;
#ifdef Q_OS_LINUX
    loff_t in = sourceOffset;
    loff_t out = pos();
    while (copied < allowed) {
        const ssize_t n = ::copy_file_range(source.handle(), &in, m_file.handle(), &out, size_t(allowed - copied), 0);
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
                return false;
            chunk = source.read(qMin<qint64>(allowed - copied, 8 * 1024 * 1024));
            if (chunk.isEmpty() || !m_file.seek(pos() + copied) || m_file.write(chunk) != chunk.size())
                return false;
            copied += chunk.size();
        }
    }
    if (!seek(pos() + copied))
        return false;
    return copied == length;
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
    if (!ContainerFaultInjector::admitCall())
        return false;
    ContainerFaultInjector::noteFileDirty(m_file.fileName());
    ContainerFaultInjector::noteResize(m_file.fileName(), size);
    if (!m_file.resize(size))
        return false;
    // QFile::resize leaves the position alone; keep ours inside the file.
    return pos() <= size || seek(size);
}

bool ContainerFile::sync()
{
    if (!isOpen() || !ContainerFaultInjector::admitCall())
        return false;
    if (!m_file.flush() || !syncDescriptor(m_file.handle()))
        return false;
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
    if (allowed < 0)
        return -1;
    ContainerFaultInjector::noteFileDirty(m_file.fileName());
    if (allowed == 0)
        return size == 0 ? 0 : -1;
    ContainerFaultInjector::noteOverwrite(m_file.fileName(), m_file.pos(), allowed);
    return m_file.write(data, allowed);
}

bool ContainerFile::syncFolder(const QString& folderPath)
{
    if (!ContainerFaultInjector::admitCall())
        return false;
#ifndef Q_OS_WIN
    const QByteArray native = QFile::encodeName(folderPath);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = syncDescriptor(fd);
    // Some file systems cannot sync a folder at all; their entries are as
    // durable as they will ever be, and refusing every change there helps nobody.
    if (!ok && (errno == EINVAL || errno == ENOTSUP || errno == ENOSYS))
        ok = true;
    ::close(fd);
    if (!ok)
        return false;
#endif
    ContainerFaultInjector::noteFolderSynced(folderPath);
    return true;
}

bool ContainerFile::syncFolderOf(const QString& filePath)
{
    return syncFolder(folderOf(filePath));
}

bool ContainerFile::removeFile(const QString& path)
{
    if (!QFileInfo::exists(path))
        return true;
    if (!ContainerFaultInjector::admitCall())
        return false;
    ContainerFaultInjector::noteRemoving(path);
    if (!QFile::remove(path))
        return false;
    ContainerFaultInjector::noteFolderDirty(folderOf(path));
    return true;
}

bool ContainerFile::replaceFile(const QString& from, const QString& to)
{
    if (!ContainerFaultInjector::admitCall())
        return false;
#ifdef Q_OS_WIN
    const bool ok = MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(from).utf16()),
                                reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(to).utf16()),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    const bool ok = ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
    if (!ok)
        return false;
    ContainerFaultInjector::noteFolderDirty(folderOf(from));
    ContainerFaultInjector::noteFolderDirty(folderOf(to));
    return true;
}

} // namespace Keldra::Core
