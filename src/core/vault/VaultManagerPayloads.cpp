// File payloads: import into encrypted blocks appended to the container,
// export and verification by streaming decryption, one block at a time.

#include "vault/VaultManager.h"

#include "crypto/Sha256.h"
#include "format/ContainerFormat.h"
#include "storage/ContainerFile.h"
#include "storage/ContainerLock.h"
#include "storage/ContainerReadLock.h"
#include "storage/FileSizeLimit.h"
#include "storage/WriteBehind.h"
#include "vault/ExportDestination.h"
#include "vault/FileIdentity.h"
#include "vault/VaultChange.h"
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

// The source as import reads it: a regular file that is not the container.
Error openSource(const QFileInfo& sourceInfo, const QString& containerPath, QFile* source)
{
    if (!sourceInfo.exists() || !sourceInfo.isFile())
        return Error(Reason::SourceUnreadable, QStringLiteral("missing or not a file"));
    // Reading the container while appending to it would never reach its end.
    if (sameFile(source->fileName(), containerPath))
        return Error(Reason::InvalidArgument, QStringLiteral("the source is the container"));
    if (!source->open(QIODevice::ReadOnly))
        return Error(Reason::SourceUnreadable, source->errorString());
    return Error();
}

// The index without the file at `path` (any letter case), with the folders
// it needs.
SecureFileIndex indexWithout(const SecureFileIndex& index, const QString& path)
{
    SecureFileIndex result;
    const QList<VaultDirectoryEntry> directories = index.directories();
    for (const VaultDirectoryEntry& directory : directories)
        result.addDirectory(directory);
    VaultPath::addMissingParents(&result, path);
    const QList<VaultFileEntry> entries = index.entries();
    for (const VaultFileEntry& entry : entries) {
        if (QString::compare(entry.vaultPath, path, Qt::CaseInsensitive) != 0)
            result.addOrReplace(entry);
    }
    return result;
}

} // namespace

qint64 VaultManager::storedSize(qint64 plainBytes)
{
    const qint64 blocks = (plainBytes + BlockSize - 1) / BlockSize;
    return plainBytes + blocks * CryptoManager::TagSize;
}

bool VaultManager::importFile(const QString& sourcePath, const QString& vaultPath)
{
    return importFile(sourcePath, vaultPath, ProgressCallback());
}

bool VaultManager::importFile(const QString& sourcePath, const QString& vaultPath,
                              const ProgressCallback& progress)
{
    const QString normalized = VaultPath::normalized(vaultPath);
    const QFileInfo sourceInfo(sourcePath);
    QFile source(sourcePath);
    // An interrupted earlier change is settled before blocks are appended:
    // its roll-back truncates the file.
    VaultChange change(*this, [&] {
        return normalized.isEmpty() ? Error(Reason::InvalidPath, vaultPath)
                                    : openSource(sourceInfo, m_containerPath, &source);
    });
    if (!change.ok())
        return fail(change.error());
    // A new name must be one every system can hold; a file of a vault made
    // elsewhere keeps its name when it is replaced (an edited copy stored back).
    if (!VaultPath::isPortable(normalized) && !VaultPath::hasFile(m_index, normalized))
        return fail(Reason::InvalidPath, vaultPath);
    change.index() = indexWithout(m_index, normalized);

    VaultFileEntry entry;
    entry.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    entry.vaultPath = normalized;
    entry.lastModifiedUtc = sourceInfo.fileTime(QFileDevice::FileModificationTime).toUTC();
    const qint64 bytesTotal = sourceInfo.size();
    // A full index is refused before a single block is written.
    if (!indexWouldFit(change.document(), m_index, change.index(), entry, bytesTotal))
        return fail(Reason::IndexFull, QStringLiteral("no room in the header for another entry"));
    // Refused now rather than at the block that crosses the limit, minutes later.
    const qint64 limit = FileSizeLimit::forPath(m_containerPath);
    if (limit > 0 && change.appendOffset() + storedSize(bytesTotal) > limit)
        return fail(Reason::FileSystemLimit, QStringLiteral("the container would outgrow its file system"));

    if (const Error appended = appendBlocks(change, source, bytesTotal, progress, &entry); !appended.ok())
        return fail(appended);
    if (!change.index().addOrReplace(entry))
        return fail(Reason::Internal, QStringLiteral("index refused the entry"));
    return finish(change.commit());
}

Error VaultManager::appendBlocks(VaultChange& change, QFile& source, qint64 bytesTotal,
                                 const ProgressCallback& progress, VaultFileEntry* entry)
{
    if (const Error opened = change.openPayload(); !opened.ok())
        return opened;
    ContainerFile& container = change.payload();
    const auto unreadable = [&]() { return Error(Reason::SourceUnreadable, source.errorString()); };
    const auto internal = [](const char* what) { return Error(Reason::Internal, QLatin1String(what)); };

    const QByteArray key = cipherKey();
    const QByteArray blockData = associatedData(change.document(), PurposeFileBlock);
    const int nonceLength = static_cast<int>(change.document().crypto.nonce.size());
    // Each block is read, hashed, encrypted and written in pieces small enough
    // to stay in the processor's cache, its tag after the last piece. Where
    // that cannot be done, a whole block at a time, buffers made once.
    QByteArray piece(static_cast<int>(PieceSize), Qt::Uninitialized);
    QByteArray pieceCipher(static_cast<int>(PieceSize), Qt::Uninitialized);
    QByteArray buffer;
    QByteArray cipher;
    Sha256 hash;
    qint64 bytesDone = 0;
    WriteBehind writeBehind(container.handle());
    // Read until the source has no more: the size it reports may be wrong
    // (0 for files the system makes up on reading, such as /proc's).
    bool ended = false;
    while (!ended) {
        VaultFileBlock block;
        block.nonce = m_cryptoManager.generateNonce(nonceLength);
        block.offset = container.pos();
        CryptoManager::PieceEncryptor encryptor(key, block.nonce, blockData);
        qint64 plainSize = 0;
        if (encryptor.isValid()) {
            while (plainSize < BlockSize) {
                const qint64 read = source.read(piece.data(), qMin(PieceSize, BlockSize - plainSize));
                if (read < 0)
                    return unreadable();
                if (read == 0) {
                    ended = true;
                    break;
                }
                const QByteArrayView plain(piece.constData(), read);
                if (!hash.addData(plain) || !encryptor.update(plain, pieceCipher.data()))
                    return internal("hashing or encryption failed");
                if (!container.writeAll(pieceCipher.constData(), read))
                    return container.error();
                plainSize += read;
            }
            if (plainSize == 0)
                break;
            char tag[CryptoManager::TagSize];
            if (!encryptor.finish(tag))
                return internal("encryption failed");
            if (!container.writeAll(tag, CryptoManager::TagSize))
                return container.error();
        } else {
            if (buffer.isEmpty()) {
                buffer.resize(static_cast<int>(BlockSize));
                cipher.reserve(BlockSize + CryptoManager::TagSize);
            }
            const qint64 read = source.read(buffer.data(), BlockSize);
            if (read < 0)
                return unreadable();
            if (read == 0)
                break;
            const QByteArrayView plain(buffer.constData(), read);
            if (!hash.addData(plain) ||
                !m_cryptoManager.encryptInto(plain, key, block.nonce, blockData, &cipher))
                return internal("hashing or encryption failed");
            if (!container.writeAll(cipher))
                return container.error();
            plainSize = read;
        }
        block.plainSize = plainSize;
        block.encryptedSize = plainSize + CryptoManager::TagSize;
        if (const Error behind = writeBehind.written(block.offset, block.encryptedSize); !behind.ok())
            return behind;
        entry->blocks.append(block);
        bytesDone += plainSize;
        if (progress)
            progress(bytesDone, bytesTotal, entry->vaultPath);
    }

    entry->sha256 = hash.result();
    if (entry->sha256.isEmpty())
        return internal("hashing failed");
    // What was stored, not what the file system said at the start: a source
    // that changed size while being read still gives a consistent entry.
    qint64 stored = 0;
    for (const VaultFileBlock& block : std::as_const(entry->blocks))
        stored += block.plainSize;
    if (stored != bytesDone)
        return internal("stored blocks differ from what was read");
    entry->sizeBytes = bytesDone;
    return Error();
}

bool VaultManager::exportFile(const QString& vaultPath, const QString& destinationPath,
                              const ProgressCallback& progress) const
{
    m_lastError = Error();
    const QString normalized = VaultPath::normalized(vaultPath);
    if (m_state != VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    if (normalized.isEmpty())
        return fail(Reason::InvalidPath, vaultPath);
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
    if (!writeVaultFileToDevice(normalized, &file, progress)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return fail(Reason::DestinationUnwritable, file.errorString());
    return true;
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
        if (progress) {
            qint64 done = 0;
            for (qsizetype j = 0; j < k; ++j)
                done += record.blocks.at(j).plainSize;
            progress(done, record.sizeBytes, record.vaultPath);
        }
        if (cancelRequested())
            return fail(Reason::Cancelled, QStringLiteral("cancelled before block %1").arg(k));
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
