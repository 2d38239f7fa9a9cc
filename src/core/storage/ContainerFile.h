#pragma once

#include "Error.h"

#include <QFile>
#include <QIODevice>
#include <QString>

namespace Keldra::Core {

// How the vault changes an existing container on the drive: the in-place
// header rewrite, appended blocks, the header journal and the compacted copy
// that replaces the container. A new container is written whole through
// QSaveFile (ContainerManager::writeDocument), which syncs it before the
// rename; exported files and backups are written elsewhere, not through here.
// Unbuffered, so every write reaches the system at once; sync() puts the
// bytes on the drive (fsync on Linux, FlushFileBuffers on Windows). Every
// change is offered to ContainerFaultInjector first, which lets the tests
// fail or "crash" any of them.
class ContainerFile : public QIODevice
{
    Q_OBJECT
public:
    explicit ContainerFile(const QString& path);
    ~ContainerFile() override;

    QString path() const { return m_file.fileName(); }
    // Why the last open, write, copy, resize, seek or sync failed (a full
    // drive is DriveFull, a missing file on open ContainerUnavailable); the
    // static functions below return theirs.
    const Error& error() const { return m_error; }
    // The open file's descriptor (-1 when closed), for hints such as WritebackHint.
    int handle() const { return m_file.handle(); }

    // Unbuffered is always added. Opening for writing counts as a change
    // (it may create or truncate the file).
    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return false; }
    qint64 size() const override;
    bool seek(qint64 pos) override;

    // Writes all of `bytes` at the current position; false on an error or a short write.
    [[nodiscard]] bool writeAll(const QByteArray& bytes);
    [[nodiscard]] bool writeAll(const char* data, qint64 length);
    // Appends `length` bytes of `source` from `sourceOffset` at the current
    // position, inside the kernel where the system can (copy_file_range), so
    // the bytes never pass through our memory. Offered to the fault injector
    // like a write of that length.
    [[nodiscard]] bool copyFrom(QFile& source, qint64 sourceOffset, qint64 length);
    // Reads exactly `length` bytes at `offset`; empty when fewer are there.
    [[nodiscard]] QByteArray readAt(qint64 offset, qint64 length);
    [[nodiscard]] bool resize(qint64 size);
    // Data and size on the drive before returning.
    [[nodiscard]] bool sync();

    // Folder entries (new, removed, renamed files) on the drive. No-op on Windows,
    // where the file system orders them itself.
    [[nodiscard]] static Error syncFolder(const QString& folderPath);
    [[nodiscard]] static Error syncFolderOf(const QString& filePath);
    // Removes a file; ok when it is gone (also when it never existed). The folder is not synced.
    [[nodiscard]] static Error removeFile(const QString& path);
    // Renames `from` over `to` in one step, replacing `to`. The folder is not synced.
    [[nodiscard]] static Error replaceFile(const QString& from, const QString& to);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    bool failed(const Error& error);

    QFile m_file;
    Error m_error;
};

} // namespace Keldra::Core
