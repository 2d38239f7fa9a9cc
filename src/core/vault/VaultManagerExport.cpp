// Export and verification: a vault file's blocks read, decrypted and checked
// against its SHA-256 on their way to a device or an outside file.

#include "vault/VaultManager.h"

#include "crypto/Sha256.h"
#include "format/ContainerFormat.h"
#include "storage/ContainerReadLock.h"
#include "storage/WriteBehind.h"
#include "vault/ExportDestination.h"
#include "vault/VaultPath.h"

#include <QFile>
#include <QFileDevice>
#include <QIODevice>
#include <QSaveFile>

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

} // namespace

bool VaultManager::exportFile(const QString& vaultPath, const QString& destinationPath) const
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
