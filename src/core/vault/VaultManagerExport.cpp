// Export and verification: a vault file's blocks read, decrypted and checked
// against its SHA-256 on their way to a device or an outside file.

#include "WorkerThread.h"
#include "vault/VaultManager.h"

#include "crypto/CryptoManager.h"
#include "crypto/Sha256.h"
#include "format/ContainerFormat.h"
#include "storage/ContainerReadLock.h"
#include "storage/DeferredSync.h"
#include "storage/WriteBehind.h"
#include "vault/ExportDestination.h"
#include "vault/VaultPath.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QIODevice>
#include <QMutex>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QScopeGuard>
#include <QWaitCondition>

#include <memory>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

namespace Keldra::Core {

namespace {

const QByteArray PurposeFileBlock = QByteArrayLiteral("file-block");
using Reason = Error::Reason;
// Export works through a block in pieces this size, small enough to stay in
// the processor's cache between steps.
constexpr qint64 PieceSize = 256 * 1024;

// Asks the system to start reading the next block from the drive while this
// one is decrypted and written. Advisory: the read that follows decides.
void readAheadHint(int fileDescriptor, qint64 offset, qint64 length)
{
#ifdef Q_OS_LINUX
    if (fileDescriptor >= 0 && offset >= 0 && length > 0)
        (void)::posix_fadvise(fileDescriptor, offset, length, POSIX_FADV_WILLNEED);
#else
    Q_UNUSED(fileDescriptor);
    Q_UNUSED(offset);
    Q_UNUSED(length);
#endif
}

// Sink that hashes and counts what is written, so a file can be checked
// without keeping its plaintext anywhere.
class HashingSink : public QIODevice
{
public:
    HashingSink(const VaultManager::ProgressCallback& progress, qint64 total, const QString& text)
        : m_progress(progress), m_total(total), m_text(text)
    {
    }
    QByteArray digest() { return m_hash.result(); }
    qint64 bytesWritten() const { return m_count; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override
    {
        m_hash.addData(data, length);
        m_count += length;
        if (m_progress)
            m_progress(m_count, m_total, m_text);
        return length;
    }

private:
    Sha256 m_hash;
    qint64 m_count = 0;
    const VaultManager::ProgressCallback& m_progress;
    qint64 m_total;
    QString m_text;
};

// Reads and decrypts a file's blocks on a thread of its own while the
// caller's thread hashes and writes the ones before: the cipher and the
// drive then each keep a core busy. Two buffers of a block each bound the
// memory; a file of one block is read on the caller's thread. Reading stops
// at the first block that does not read back, for the caller to decide (it
// may take over a newer index and start again from there).
class BlockReader
{
public:
    enum class Stop { Ended, ReadAgain, Damaged, Unavailable };

    BlockReader(QFile* container, qint64 containerSize, const QList<VaultFileBlock>& blocks, qsizetype first,
                const QByteArray& key, const QByteArray& associatedData, const CryptoManager& crypto)
        : m_container(container), m_containerSize(containerSize), m_blocks(blocks), m_next(first), m_key(key),
          m_associatedData(associatedData), m_crypto(crypto)
    {
        m_free.append(QByteArray());
        if (m_blocks.size() - first > 1) {
            m_free.append(QByteArray());
            m_threaded = true;
            m_thread = std::make_unique<WorkerThread>([this] { run(); });
            m_thread->start();
        }
    }
    ~BlockReader() { stop(); }
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    // The next block's plaintext, which stays the caller's until release();
    // false once reading stopped (stop(), block() and why() then say where and why).
    bool next(QByteArray* plain)
    {
        if (!m_thread) {
            if (m_free.isEmpty() || !readNext())
                return false;
            *plain = m_full.takeFirst();
            return true;
        }
        QMutexLocker locker(&m_mutex);
        while (m_full.isEmpty() && !m_finished)
            m_changed.wait(&m_mutex);
        if (m_full.isEmpty())
            return false;
        *plain = m_full.takeFirst();
        return true;
    }
    void release(QByteArray&& buffer)
    {
        QMutexLocker locker(&m_mutex);
        m_free.append(std::move(buffer));
        m_changed.wakeAll();
    }
    // Ends the reading thread; what it read and not handed out is dropped.
    void stop()
    {
        if (!m_thread)
            return;
        {
            QMutexLocker locker(&m_mutex);
            m_stopRequested = true;
            m_changed.wakeAll();
        }
        m_thread->join();
        m_thread.reset();
    }
    Stop stopReason() const { return m_stop; }
    qsizetype block() const { return m_stopBlock; }
    const char* why() const { return m_why; }
    QString containerError() const { return m_containerError; }

private:
    void run()
    {
        while (readNext()) {
        }
    }
    // Reads, checks and decrypts block m_next into a free buffer; false when
    // reading is over (all read, asked to stop, or a block that does not read back).
    bool readNext()
    {
        QByteArray buffer;
        {
            QMutexLocker locker(&m_mutex);
            while (m_free.isEmpty() && !m_stopRequested && m_threaded)
                m_changed.wait(&m_mutex);
            if (m_stopRequested || m_free.isEmpty() || m_next >= m_blocks.size())
                return finishLocked(Stop::Ended, nullptr);
            buffer = m_free.takeFirst();
        }
        const VaultFileBlock& block = m_blocks.at(m_next);
        // Keeps memory bounded by a block even for a nonsensical record.
        if (block.plainSize < 0 || block.plainSize > VaultManager::BlockSize ||
            block.encryptedSize != block.plainSize + CryptoManager::TagSize)
            return finish(Stop::Damaged, "impossible block record");
        if (block.offset < 0 || block.offset + block.encryptedSize > m_containerSize)
            return finish(Stop::ReadAgain, "block beyond the container's end");
        if (m_next + 1 < m_blocks.size())
            readAheadHint(m_container->handle(), m_blocks.at(m_next + 1).offset,
                          m_blocks.at(m_next + 1).encryptedSize);
        buffer.resize(static_cast<int>(block.encryptedSize));
        if (!m_container->seek(block.offset) ||
            m_container->read(buffer.data(), block.encryptedSize) != block.encryptedSize) {
            m_containerError = m_container->errorString();
            return finish(Stop::Unavailable, "container read failed");
        }
        CryptoManager::PieceDecryptor decryptor(m_key, block.nonce, m_associatedData);
        if (decryptor.isValid()) {
            // In place, piece by piece while each piece is in cache; nothing
            // is handed on before the whole block's tag is accepted.
            const QByteArrayView sealed(buffer.constData(), block.plainSize);
            const QByteArrayView tag(buffer.constData() + block.plainSize, CryptoManager::TagSize);
            char* data = buffer.data();
            bool authentic = true;
            for (qint64 at = 0; authentic && at < block.plainSize; at += PieceSize)
                authentic =
                    decryptor.update(sealed.sliced(at, qMin(PieceSize, block.plainSize - at)), data + at);
            if (!authentic || !decryptor.finish(tag))
                return finish(Stop::ReadAgain, "block fails authentication");
            buffer.resize(static_cast<int>(block.plainSize));
        } else {
            if (!m_crypto.decryptInto(buffer, m_key, block.nonce, m_associatedData, &m_scratch) ||
                m_scratch.size() != block.plainSize)
                return finish(Stop::ReadAgain, "block fails authentication");
            std::swap(buffer, m_scratch);
        }
        QMutexLocker locker(&m_mutex);
        m_full.append(std::move(buffer));
        ++m_next;
        m_changed.wakeAll();
        return true;
    }
    bool finish(Stop stop, const char* why)
    {
        QMutexLocker locker(&m_mutex);
        return finishLocked(stop, why);
    }
    bool finishLocked(Stop stop, const char* why)
    {
        m_stop = stop;
        m_stopBlock = m_next;
        m_why = why;
        m_finished = true;
        m_changed.wakeAll();
        return false;
    }

    QFile* m_container;
    const qint64 m_containerSize;
    const QList<VaultFileBlock> m_blocks;
    qsizetype m_next;
    const QByteArray& m_key;
    const QByteArray& m_associatedData;
    const CryptoManager& m_crypto;
    QByteArray m_scratch;
    bool m_threaded = false;
    std::unique_ptr<WorkerThread> m_thread;
    QMutex m_mutex;
    QWaitCondition m_changed;
    QList<QByteArray> m_free;
    QList<QByteArray> m_full;
    bool m_stopRequested = false;
    bool m_finished = false;
    Stop m_stop = Stop::Ended;
    qsizetype m_stopBlock = 0;
    const char* m_why = nullptr;
    QString m_containerError;
};

} // namespace

bool VaultManager::exportFile(const QString& vaultPath, const QString& destinationPath,
                              const ProgressCallback& progress) const
{
    m_lastError = Error();
    const QString normalized = VaultPath::normalized(vaultPath);
    if (m_state != VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    if (normalized.isEmpty())
        return fail(Reason::InvalidPath, vaultPath);
    return exportTo(normalized, destinationPath, progress);
}

bool VaultManager::exportTo(const QString& vaultPath, const QString& destinationPath,
                            const ProgressCallback& progress) const
{
    // Writing plaintext over the container (or its journal) would destroy the vault.
    QString finalPath;
    if (const Error refused = ExportDestination::resolve(destinationPath, m_containerPath, &finalPath);
        !refused.ok())
        return fail(refused);
    // Through a save file: a failure leaves no partial plaintext and keeps an
    // existing destination as it was.
    QSaveFile file(finalPath);
    if (!file.open(QIODevice::WriteOnly))
        return fail(Reason::DestinationUnwritable, file.errorString());
    if (!writeVaultFileToDevice(vaultPath, &file, progress)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return fail(Reason::DestinationUnwritable, file.errorString());
    return true;
}

bool VaultManager::exportForBatch(const QString& vaultPath, const QString& destinationPath, bool replace,
                                  const ProgressCallback& progress, DeferredSync* sync, bool* existed) const
{
    *existed = false;
    QString finalPath;
    if (const Error refused = ExportDestination::resolve(destinationPath, m_containerPath, &finalPath);
        !refused.ok())
        return fail(refused);
    const QString folder = QFileInfo(finalPath).absolutePath();
    // A short name of its own, so that a long final name still fits; created
    // only where nothing is, with the permissions a new file gets.
    QFile file;
    for (int attempt = 0; !file.isOpen(); ++attempt) {
        file.setFileName(QDir(folder).filePath(
            QStringLiteral(".keldra-export-") +
            QString::number(QRandomGenerator::global()->generate64() & 0xffffffffffffULL, 36)));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            break;
        const QFileInfo taken(file.fileName());
        if (attempt >= 8 || !(taken.exists() || taken.isSymLink()))
            return fail(Reason::DestinationUnwritable, file.errorString());
    }
    // A failure or a stop leaves no temporary file behind.
    bool placed = false;
    const auto removeTemporary = qScopeGuard([&] {
        if (placed)
            return;
        file.close();
        (void)QFile::remove(file.fileName());
    });
    if (!writeVaultFileToDevice(vaultPath, &file, progress))
        return false;
    // The content's SHA-256 was checked on its way out; the size on the drive is checked here.
    const VaultFileEntry* written = VaultPath::findFile(m_index, vaultPath);
    if (!file.flush())
        return fail(Reason::DestinationUnwritable, file.errorString());
    if (!written || file.size() != written->sizeBytes)
        return fail(Reason::DamagedFile, QStringLiteral("size differs from the index"));
    // A file replaced keeps its permissions, as a save file would keep them.
    const QFileInfo previous(finalPath);
    if (replace && previous.isFile())
        (void)file.setPermissions(previous.permissions());
    if (const Error synced = sync->beforeRename(&file); !synced.ok())
        return fail(synced);
    file.close();
    if (file.error() != QFileDevice::NoError)
        return fail(Reason::DestinationUnwritable, file.errorString());
    if (const Error moved = OutsideFile::moveIntoPlace(file.fileName(), finalPath, replace, existed);
        !moved.ok())
        return fail(moved);
    if (*existed)
        return true;
    placed = true;
    sync->renamedInto(folder);
    return true;
}

bool VaultManager::writeVaultFileToDevice(const QString& vaultPath, QIODevice* device) const
{
    return writeVaultFileToDevice(vaultPath, device, ProgressCallback());
}

bool VaultManager::writeVaultFileToDevice(const QString& vaultPath, QIODevice* device,
                                          const ProgressCallback& progress) const
{
    m_lastError = Error();
    if (!device)
        return fail(Reason::InvalidArgument, QStringLiteral("no device"));
    if (m_state != VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    // No other program's change moves the blocks while they are read.
    const ContainerReadLock readLock(m_containerPath);
    if (!readLock.error().ok())
        return fail(readLock.error());

    const VaultFileEntry* found = VaultPath::findFile(m_index, vaultPath);
    if (!found)
        return fail(Reason::FileNotFound, vaultPath);
    if (isDamaged(found->vaultPath))
        return fail(Reason::DamagedFile,
                    QStringLiteral("index record overlaps, repeats or miscounts blocks"));
    // By value: an index taken over below replaces the one `found` points into.
    VaultFileEntry record = *found;

    QFile container(m_containerPath);
    if (!container.open(QIODevice::ReadOnly))
        return fail(Reason::ContainerUnavailable, container.errorString());
    qint64 containerSize = container.size();
    const auto damaged = [&](const char* why) { return fail(Reason::DamagedFile, QLatin1String(why)); };
    // A block that does not read back may have been moved by another program's
    // compaction since this session read the index. Once per read, the index
    // the container holds now is taken over and the read goes on at the same
    // block, provided the file's blocks before it are the same ones there (the
    // same nonce and size: the same ciphertext, wherever it lies now), so what
    // was written already stays right. Only then is a file damaged.
    bool tookOver = false;
    const auto readAgain = [&](qsizetype* k, const char* why) {
        if (tookOver)
            return damaged(why);
        tookOver = true;
        if (!takeOverNewerIndex())
            return damaged(why);
        const VaultFileEntry* now = m_index.find(record.vaultPath);
        if (!now)
            return fail(Reason::FileNotFound, record.vaultPath);
        if (isDamaged(now->vaultPath))
            return damaged("index record overlaps, repeats or miscounts blocks");
        bool same = now->blocks.size() >= *k;
        for (qsizetype j = 0; same && j < *k; ++j) {
            same = now->blocks.at(j).nonce == record.blocks.at(j).nonce &&
                   now->blocks.at(j).plainSize == record.blocks.at(j).plainSize;
        }
        if (!same)
            return fail(Reason::VaultInUse, QStringLiteral("the file was replaced while it was read"));
        record = *now;
        container.close();
        if (!container.open(QIODevice::ReadOnly))
            return fail(Reason::ContainerUnavailable, container.errorString());
        containerSize = container.size();
        return true;
    };
    const auto unwritable = [&]() { return fail(Reason::DestinationUnwritable, device->errorString()); };

    const QByteArray key = cipherKey();
    const QByteArray blockData = associatedData(ContainerDocument(), PurposeFileBlock);
    auto* file = qobject_cast<QFileDevice*>(device);
    WriteBehind writeBehind(file ? file->handle() : -1);
    // Bytes reach the system before they are handed on to the drive.
    const auto wrote = [&](qint64 at, qint64 size) {
        return !file || (file->flush() && writeBehind.written(at, size).ok());
    };
    // What was written must be what was stored: the caller drops it otherwise.
    Sha256 hash;
    qint64 bytesDone = 0;
    qsizetype k = 0;
    if (progress)
        progress(0, record.sizeBytes, record.vaultPath);
    for (;;) {
        BlockReader reader(&container, containerSize, record.blocks, k, key, blockData, m_cryptoManager);
        QByteArray plain;
        while (reader.next(&plain)) {
            if (cancelRequested())
                return fail(Reason::Cancelled, QStringLiteral("export cancelled"));
            for (qint64 at = 0; at < plain.size(); at += PieceSize) {
                const qint64 size = qMin(PieceSize, plain.size() - at);
                const qint64 position = device->pos();
                if (!hash.addData(plain.constData() + at, size))
                    return fail(Reason::Internal, QStringLiteral("hashing failed"));
                if (device->write(plain.constData() + at, size) != size || !wrote(position, size))
                    return unwritable();
            }
            bytesDone += plain.size();
            reader.release(std::move(plain));
            ++k;
            if (progress)
                progress(bytesDone, record.sizeBytes, record.vaultPath);
        }
        reader.stop();
        switch (reader.stopReason()) {
        case BlockReader::Stop::Ended:
            break;
        case BlockReader::Stop::Damaged:
            return damaged(reader.why());
        case BlockReader::Stop::Unavailable:
            return fail(Reason::ContainerUnavailable, reader.containerError());
        case BlockReader::Stop::ReadAgain:
            if (!readAgain(&k, reader.why()))
                return false;
            continue;
        }
        break;
    }
    // A stop asked for during the last block's report still counts: the
    // caller has not been told the file is done.
    if (cancelRequested())
        return fail(Reason::Cancelled, QStringLiteral("export cancelled"));
    if (hash.result() != record.sha256)
        return damaged("SHA-256 differs from the index");
    return true;
}

bool VaultManager::verifyFile(const QString& vaultPath, const ProgressCallback& progress) const
{
    m_lastError = Error();
    const QString normalized = VaultPath::normalized(vaultPath);
    if (normalized.isEmpty())
        return fail(Reason::InvalidPath, vaultPath);
    const VaultFileEntry* found = VaultPath::findFile(m_index, normalized);
    if (!found)
        return fail(Reason::FileNotFound, vaultPath);
    const VaultFileEntry entry = *found;

    HashingSink sink(progress, entry.sizeBytes, entry.vaultPath);
    if (!sink.open(QIODevice::WriteOnly))
        return fail(Reason::Internal, QStringLiteral("hashing sink"));
    if (!writeVaultFileToDevice(entry.vaultPath, &sink))
        return false;
    // Against the record that was read: the read may have taken over a newer index.
    const VaultFileEntry* read = m_index.find(entry.vaultPath);
    if (!read || sink.bytesWritten() != read->sizeBytes || sink.digest() != read->sha256)
        return fail(Reason::DamagedFile, QStringLiteral("size or SHA-256 differs from the index"));
    return true;
}

} // namespace Keldra::Core
