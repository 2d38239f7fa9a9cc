// File payloads: import into encrypted blocks appended to the container,
// export and verification by streaming decryption, one block at a time.

#include "vault/VaultManager.h"

#include "crypto/Sha256.h"
#include "format/ContainerFormat.h"
#include "storage/ContainerFile.h"
#include "storage/ContainerLock.h"
#include "storage/ContainerReadLock.h"
#include "storage/WriteBehind.h"
#include "vault/VaultPath.h"

#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>
#include <QUuid>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif
#ifdef Q_OS_WIN
#include <QDir>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace Keldra::Core {

namespace {

const QByteArray PurposeFileBlock = QByteArrayLiteral("file-block");
using Reason = Error::Reason;
// Import and export work through a block in pieces this size, small enough
// to stay in the processor's cache between steps.
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

// Whether two names lead to one file: by identity, not by path, so a hard
// link to the container is the container.
bool sameFile(const QString& a, const QString& b)
{
    quint64 volumeA = 0, indexA = 0, volumeB = 0, indexB = 0;
    if (fileIdentity(a, &volumeA, &indexA) && fileIdentity(b, &volumeB, &indexB))
        return volumeA == volumeB && indexA == indexB;
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

// Whether the header can still take the index once the imported entry is in
// it. Measured without serialising the whole index: the encrypted index on the
// drive, plus what the import adds (new folders, and the entry with as many
// blocks as the source needs and every number at its longest), can only
// overestimate; a replaced entry only makes room.
bool indexWouldFit(const ContainerDocument& document, const SecureFileIndex& current,
                   const SecureFileIndex& next, VaultFileEntry entry, qint64 sourceSize)
{
    constexpr qint64 LongestNumber = Q_INT64_C(999999999999999);
    SecureFileIndex added;
    const QList<VaultDirectoryEntry> directories = next.directories();
    for (qsizetype i = current.directories().size(); i < directories.size(); ++i)
        added.addDirectory(directories.at(i));
    entry.sizeBytes = LongestNumber;
    entry.sha256 = QByteArray(32, '\xff');
    const VaultFileBlock block{LongestNumber, VaultManager::BlockSize,
                               VaultManager::BlockSize + CryptoManager::TagSize,
                               QByteArray(CryptoManager::NonceSize, '\xff')};
    for (qint64 i = 0; i < (sourceSize + VaultManager::BlockSize - 1) / VaultManager::BlockSize; ++i)
        entry.blocks.append(block);
    added.addOrReplace(entry);

    const qint64 encryptedIndex = document.encryptedIndex.size() + added.toJson().size();
    ContainerDocument withoutIndex = document;
    withoutIndex.encryptedIndex.clear();
    const qint64 header = ContainerManager().buildHeader(withoutIndex).size() + (encryptedIndex + 2) / 3 * 4;
    return header <= ContainerFormat::HeaderRegionSize;
}

// Puts the container back to its length before the import began. When this
// fails too (drive gone), the header still points only at the old blocks.
void rollBackContainer(ContainerFile& container, const QString& path, qint64 sizeBeforeImport)
{
    if (container.isOpen()) {
        (void)(container.resize(sizeBeforeImport) && container.sync());
        container.close();
        return;
    }
    ContainerFile again(path);
    if (again.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        (void)(again.resize(sizeBeforeImport) && again.sync());
}

} // namespace

bool VaultManager::importFile(const QString& sourcePath, const QString& vaultPath)
{
    return importFile(sourcePath, vaultPath, ProgressCallback());
}

bool VaultManager::importFile(const QString& sourcePath, const QString& vaultPath,
                              const ProgressCallback& progress)
{
    m_lastError = Error();
    if (m_state != VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    const QString normalized = VaultPath::normalized(vaultPath);
    if (normalized.isEmpty())
        return fail(Reason::InvalidPath, vaultPath);

    const QFileInfo sourceInfo(sourcePath);
    if (!sourceInfo.exists() || !sourceInfo.isFile())
        return fail(Reason::SourceUnreadable, QStringLiteral("missing or not a file"));
    // Reading the container while appending to it would never reach its end.
    if (sameFile(sourcePath, m_containerPath))
        return fail(Reason::InvalidArgument, QStringLiteral("the source is the container"));
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return fail(Reason::SourceUnreadable, source.errorString());

    // An interrupted earlier change is settled before blocks are appended:
    // its roll-back truncates the file.
    const ContainerLock lock(m_containerPath);
    ContainerDocument document;
    if (const Error began = beginChange(lock, &document); !began.ok())
        return fail(began);
    // A new name must be one every system can hold; a file of a vault made
    // elsewhere keeps its name when it is replaced (an edited copy stored back).
    if (!VaultPath::isPortable(normalized) && !VaultPath::hasFile(m_index, normalized))
        return fail(Reason::InvalidPath, vaultPath);
    const SecureFileIndex previousIndex = m_index;

    SecureFileIndex newIndex;
    const QList<VaultDirectoryEntry> directories = m_index.directories();
    for (const VaultDirectoryEntry& directory : directories)
        newIndex.addDirectory(directory);
    VaultPath::addMissingParents(&newIndex, normalized);
    const QList<VaultFileEntry> entries = m_index.entries();
    for (const VaultFileEntry& entry : entries) {
        if (QString::compare(entry.vaultPath, normalized, Qt::CaseInsensitive) != 0)
            newIndex.addOrReplace(entry);
    }

    VaultFileEntry entry;
    entry.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    entry.vaultPath = normalized;
    entry.lastModifiedUtc = sourceInfo.fileTime(QFileDevice::FileModificationTime).toUTC();
    Sha256 hash;
    const qint64 bytesTotal = sourceInfo.size();

    // A full index is refused before a single block is written.
    if (!indexWouldFit(document, m_index, newIndex, entry, bytesTotal))
        return fail(Reason::IndexFull, QStringLiteral("no room in the header for another entry"));

    document.fileIndex.clear();
    document.filePayloads.clear();
    document.crypto.payloadNonce = m_cryptoManager.generateNonce(document.crypto.nonce.size());

    ContainerFile container(m_containerPath);
    if (!container.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return fail(container.error());
    const qint64 sizeBeforeImport = container.size();
    // By value: the roll-back below reuses the container, whose error() this may be.
    const auto undo = [&](Error why) {
        rollBackContainer(container, m_containerPath, sizeBeforeImport);
        m_index = previousIndex;
        return fail(why);
    };
    const auto unreadable = [&]() { return undo(Error(Reason::SourceUnreadable, source.errorString())); };
    const auto internal = [&](const char* what) {
        return undo(Error(Reason::Internal, QLatin1String(what)));
    };
    if (!container.seek(sizeBeforeImport))
        return undo(container.error());

    const QByteArray key = cipherKey();
    const QByteArray blockData = associatedData(document, PurposeFileBlock);
    const int nonceLength = static_cast<int>(document.crypto.nonce.size());
    // Each block is read, hashed, encrypted and written in pieces small enough
    // to stay in the processor's cache, its tag after the last piece. Where
    // that cannot be done, a whole block at a time, buffers made once.
    QByteArray piece(static_cast<int>(PieceSize), Qt::Uninitialized);
    QByteArray pieceCipher(static_cast<int>(PieceSize), Qt::Uninitialized);
    QByteArray buffer;
    QByteArray cipher;
    qint64 bytesDone = 0;
    WriteBehind writeBehind(container.handle());
    while (!source.atEnd()) {
        VaultFileBlock block;
        block.nonce = m_cryptoManager.generateNonce(nonceLength);
        block.offset = container.pos();
        CryptoManager::PieceEncryptor encryptor(key, block.nonce, blockData);
        qint64 plainSize = 0;
        if (encryptor.isValid()) {
            while (plainSize < BlockSize && !source.atEnd()) {
                const qint64 read = source.read(piece.data(), qMin(PieceSize, BlockSize - plainSize));
                if (read <= 0)
                    return unreadable();
                const QByteArrayView plain(piece.constData(), read);
                if (!hash.addData(plain) || !encryptor.update(plain, pieceCipher.data()))
                    return internal("hashing or encryption failed");
                if (!container.writeAll(pieceCipher.constData(), read))
                    return undo(container.error());
                plainSize += read;
            }
            char tag[CryptoManager::TagSize];
            if (!encryptor.finish(tag))
                return internal("encryption failed");
            if (!container.writeAll(tag, CryptoManager::TagSize))
                return undo(container.error());
        } else {
            if (buffer.isEmpty()) {
                buffer.resize(static_cast<int>(BlockSize));
                cipher.reserve(BlockSize + CryptoManager::TagSize);
            }
            const qint64 read = source.read(buffer.data(), BlockSize);
            if (read <= 0)
                return unreadable();
            const QByteArrayView plain(buffer.constData(), read);
            if (!hash.addData(plain) ||
                !m_cryptoManager.encryptInto(plain, key, block.nonce, blockData, &cipher))
                return internal("hashing or encryption failed");
            if (!container.writeAll(cipher))
                return undo(container.error());
            plainSize = read;
        }
        block.plainSize = plainSize;
        block.encryptedSize = plainSize + CryptoManager::TagSize;
        if (const Error behind = writeBehind.written(block.offset, block.encryptedSize); !behind.ok())
            return undo(behind);
        entry.blocks.append(block);
        bytesDone += plainSize;
        if (progress)
            progress(bytesDone, bytesTotal, normalized);
    }
    // The blocks are on the drive before the header that points at them.
    if (!container.sync())
        return undo(container.error());
    container.close();

    entry.sha256 = hash.result();
    if (entry.sha256.isEmpty())
        return internal("hashing failed");
    // What was stored, not what the file system said at the start: a source
    // that changed size while being read still gives a consistent entry.
    entry.sizeBytes = bytesDone;
    if (!newIndex.addOrReplace(entry))
        return internal("index refused the entry");

    document.fileIndex = newIndex;
    document.encryptedIndex = encryptIndex(document, newIndex);
    if (document.encryptedIndex.isEmpty())
        return internal("index encryption failed");
    // A roll-back of this header (now or at the next open) also cuts the appended blocks off.
    if (const Error written =
            m_containerManager.updateDocumentHeader(m_containerPath, document, sizeBeforeImport);
        !written.ok())
        return undo(written);

    adoptIndex(newIndex, document);
    return true;
}

bool VaultManager::exportFile(const QString& vaultPath, const QString& destinationPath) const
{
    m_lastError = Error();
    const QString normalized = VaultPath::normalized(vaultPath);
    if (m_state != VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    if (normalized.isEmpty())
        return fail(Reason::InvalidPath, vaultPath);
    // Writing plaintext over the container would destroy the vault.
    if (sameFile(destinationPath, m_containerPath))
        return fail(Reason::InvalidArgument, QStringLiteral("the destination is the container"));
    // Through a save file: a failure leaves no partial plaintext and keeps an
    // existing destination as it was.
    QSaveFile file(destinationPath);
    if (!file.open(QIODevice::WriteOnly))
        return fail(Reason::DestinationUnwritable, file.errorString());
    if (!writeVaultFileToDevice(normalized, &file)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return fail(Reason::DestinationUnwritable, file.errorString());
    return true;
}

bool VaultManager::writeVaultFileToDevice(const QString& vaultPath, QIODevice* device) const
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
        --*k;
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
    QByteArray buffer;
    QByteArray plain;
    // What was written must be what was stored: the caller drops it otherwise.
    Sha256 hash;
    const auto hashed = [&](const char* data, qint64 size) {
        return hash.addData(QByteArrayView(data, size));
    };
    for (qsizetype k = 0; k < record.blocks.size(); ++k) {
        const QList<VaultFileBlock> blocks = record.blocks;
        const VaultFileBlock& block = blocks.at(k);
        // Keeps memory bounded by one block even for a nonsensical record.
        if (block.plainSize < 0 || block.plainSize > BlockSize ||
            block.encryptedSize != block.plainSize + CryptoManager::TagSize)
            return damaged("impossible block record");
        if (block.offset < 0 || block.offset + block.encryptedSize > containerSize) {
            if (!readAgain(&k, "block beyond the container's end"))
                return false;
            continue;
        }
        if (k + 1 < blocks.size())
            readAheadHint(container.handle(), blocks.at(k + 1).offset, blocks.at(k + 1).encryptedSize);
        buffer.resize(static_cast<int>(block.encryptedSize));
        if (!container.seek(block.offset) ||
            container.read(buffer.data(), block.encryptedSize) != block.encryptedSize)
            return fail(Reason::ContainerUnavailable, container.errorString());
        const QByteArrayView sealed(buffer.constData(), block.plainSize);
        const QByteArrayView tag(buffer.constData() + block.plainSize, CryptoManager::TagSize);
        CryptoManager::PieceDecryptor decryptor(key, block.nonce, blockData);
        if (decryptor.isValid()) {
            // One pass: the block is decrypted in place, piece by piece while
            // each piece is in cache, and nothing is written before the whole
            // block's tag is accepted.
            char* data = buffer.data();
            bool authentic = true;
            for (qint64 at = 0; authentic && at < block.plainSize; at += PieceSize)
                authentic =
                    decryptor.update(sealed.sliced(at, qMin(PieceSize, block.plainSize - at)), data + at);
            if (!authentic || !decryptor.finish(tag)) {
                if (!readAgain(&k, "block fails authentication"))
                    return false;
                continue;
            }
            for (qint64 at = 0; at < block.plainSize; at += PieceSize) {
                const qint64 size = qMin(PieceSize, block.plainSize - at);
                const qint64 position = device->pos();
                if (!hashed(data + at, size))
                    return fail(Reason::Internal, QStringLiteral("hashing failed"));
                if (device->write(data + at, size) != size || !wrote(position, size))
                    return unwritable();
            }
            continue;
        }
        if (!m_cryptoManager.decryptInto(buffer, key, block.nonce, blockData, &plain) ||
            plain.size() != block.plainSize) {
            if (!readAgain(&k, "block fails authentication"))
                return false;
            continue;
        }
        if (!hashed(plain.constData(), plain.size()))
            return fail(Reason::Internal, QStringLiteral("hashing failed"));
        const qint64 at = device->pos();
        if (device->write(plain) != plain.size() || !wrote(at, plain.size()))
            return unwritable();
    }
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
