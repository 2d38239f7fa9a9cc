// File payloads: import into encrypted blocks appended to the container.
// Export and verification are in VaultManagerExport.cpp.

#include "vault/VaultManager.h"

#include "crypto/Sha256.h"
#include "format/ContainerFormat.h"
#include "storage/ContainerFile.h"
#include "storage/ContainerLock.h"
#include "storage/FileSizeLimit.h"
#include "storage/WriteBehind.h"
#include "vault/FileIdentity.h"
#include "vault/IndexRoom.h"
#include "vault/VaultChange.h"
#include "vault/VaultPath.h"

#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QUuid>

namespace Keldra::Core {

namespace {

const QByteArray PurposeFileBlock = QByteArrayLiteral("file-block");
using Reason = Error::Reason;
// Import works through a block in pieces this size, small enough
// to stay in the processor's cache between steps.
constexpr qint64 PieceSize = 256 * 1024;

// Whether the header can still take the index once the imported entry is in
// it (see IndexRoom): the new folders and the entry, with as many blocks as
// the source needs.
bool indexWouldFit(const ContainerDocument& document, const SecureFileIndex& current,
                   const SecureFileIndex& next, const VaultFileEntry& entry, qint64 sourceSize)
{
    const IndexRoom room(document);
    qint64 added = room.fileCost(entry.vaultPath, sourceSize);
    const QList<VaultDirectoryEntry> directories = next.directories();
    for (qsizetype i = current.directories().size(); i < directories.size(); ++i)
        added += room.folderCost(directories.at(i).path);
    return room.fits(added);
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
                if (cancelRequested())
                    return Error(Reason::Cancelled, QStringLiteral("import cancelled"));
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
            if (cancelRequested())
                return Error(Reason::Cancelled, QStringLiteral("import cancelled"));
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

} // namespace Keldra::Core
