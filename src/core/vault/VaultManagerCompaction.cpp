// Compaction: rebuild the container with only the live blocks (copied as
// ciphertext, never decrypted) in a private temporary folder, check it, then
// put it in place of the container on the drive.

#include "vault/VaultManager.h"

#include "storage/ContainerFile.h"
#include "storage/ContainerReplacer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <unistd.h>
#endif

namespace Keldra::Core {

namespace {

const QString ReplaceText = QStringLiteral("Substituindo container no USB");
constexpr qint64 ReplaceChunkSize = 8 * 1024 * 1024;

enum class KernelCopy { Done, Failed, Unsupported };

// Copies `length` bytes at `offset` of the source to the output's current
// position inside the kernel, so the ciphertext never passes through our
// memory (it halves the CPU of the copy). Unsupported where the system or
// the pair of file systems cannot; the caller then copies by hand.
KernelCopy copyInKernel(QFile& source, QIODevice* output, qint64 offset, qint64 length)
{
#ifdef Q_OS_LINUX
    auto* file = qobject_cast<QFileDevice*>(output);
    if (!file || file->handle() < 0 || source.handle() < 0)
        return KernelCopy::Unsupported;
    if (!file->flush())
        return KernelCopy::Failed;
    loff_t in = offset;
    loff_t out = file->pos();
    const loff_t start = out;
    while (out - start < length) {
        const ssize_t copied = ::copy_file_range(source.handle(), &in, file->handle(), &out,
                                                 size_t(length - (out - start)), 0);
        if (copied < 0 && out == start
            && (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF))
            return KernelCopy::Unsupported;
        if (copied <= 0) // an error, or the source ended before the block did
            return KernelCopy::Failed;
    }
    return file->seek(out) ? KernelCopy::Done : KernelCopy::Failed;
#else
    Q_UNUSED(source);
    Q_UNUSED(output);
    Q_UNUSED(offset);
    Q_UNUSED(length);
    return KernelCopy::Unsupported;
#endif
}

// Copies the live blocks of every entry, back to back, into the new file and
// records them with their new offsets in target. The new file is a local
// scratch copy: nothing here asks the system to write it out.
bool copyLiveBlocks(QFile& source, QIODevice* output, const QList<VaultFileEntry>& entries,
                    SecureFileIndex* target, qint64 total, const VaultManager::ProgressCallback& progress)
{
    QByteArray buffer;
    bool kernelCopy = true;
    qint64 done = 0;
    for (VaultFileEntry entry : entries) {
        QList<VaultFileBlock> moved;
        moved.reserve(entry.blocks.size());
        for (VaultFileBlock block : entry.blocks) {
            // One block in memory at a time, whatever the record claims.
            if (block.encryptedSize < 0 || block.encryptedSize > VaultManager::BlockSize + CryptoManager::TagSize)
                return false;
            const qint64 newOffset = output->pos();
            const KernelCopy copied = kernelCopy ? copyInKernel(source, output, block.offset, block.encryptedSize)
                                                 : KernelCopy::Unsupported;
            if (copied == KernelCopy::Failed)
                return false;
            if (copied == KernelCopy::Unsupported) {
                kernelCopy = false;
                if (!source.seek(block.offset))
                    return false;
                buffer.resize(static_cast<int>(block.encryptedSize));
                if (source.read(buffer.data(), block.encryptedSize) != block.encryptedSize)
                    return false;
                if (output->write(buffer) != buffer.size())
                    return false;
            }
            block.offset = newOffset;
            moved.append(block);
            done += block.plainSize;
            if (progress)
                progress(done, total, entry.vaultPath);
        }
        entry.blocks = moved;
        if (!target->addOrReplace(entry))
            return false;
    }
    return true;
}

// Puts the scratch copy and its name on the local disk, for when it is about
// to become the only copy of the vault.
bool makeScratchDurable(const QString& path)
{
    ContainerFile scratch(path);
    if (!scratch.open(QIODevice::ReadWrite) || !scratch.sync())
        return false;
    scratch.close();
    const QString folder = QFileInfo(path).absolutePath();
    return ContainerFile::syncFolder(folder) && ContainerFile::syncFolder(QFileInfo(folder).absolutePath());
}

} // namespace

bool VaultManager::compactVault(const ProgressCallback& progress, QString* preservedCompactPath)
{
    if (preservedCompactPath)
        preservedCompactPath->clear();
    if (m_state != VaultState::Unlocked || m_containerPath.isEmpty())
        return false;

    ContainerDocument document;
    if (!readSettledDocument(m_containerPath, &document))
        return false;

    QFile source(m_containerPath);
    if (!source.open(QIODevice::ReadOnly))
        return false;

    QTemporaryDir tempDir(QDir::tempPath() + QLatin1String("/Keldra-compact-XXXXXX"));
    if (!tempDir.isValid())
        return false;
    tempDir.setAutoRemove(false);
    const QString compactPath = tempDir.filePath(QLatin1String(ContainerManager::FileName));

    document.fileIndex.clear();
    const QList<VaultDirectoryEntry> directories = m_index.directories();
    for (const VaultDirectoryEntry& directory : directories)
        document.fileIndex.addDirectory(directory);
    document.filePayloads.clear();
    document.encryptedPayload.clear();
    document.crypto.authTag.clear();
    document.crypto.payloadNonce = m_cryptoManager.generateNonce(document.crypto.nonce.size());

    const QList<VaultFileEntry> entries = m_index.entries();
    qint64 total = 0;
    for (const VaultFileEntry& entry : entries)
        total += entry.sizeBytes;

    // writeDocument builds the header after the writer ran, so the index
    // encrypted here is the one that lands in the new header.
    const PayloadWriter writer = [&](QIODevice* output) {
        if (!copyLiveBlocks(source, output, entries, &document.fileIndex, total, progress))
            return false;
        document.encryptedIndex = encryptIndex(document, document.fileIndex);
        return !document.encryptedIndex.isEmpty();
    };
    const bool written =
        m_containerManager.writeDocument(compactPath, document, writer, ContainerManager::WriteMode::Scratch);
    source.close();
    if (!written) {
        tempDir.remove();
        return false;
    }

    ContainerDocument check;
    SecureFileIndex checkIndex;
    if (!m_containerManager.readDocument(compactPath, &check) || !decryptIndex(check, &checkIndex)
        || checkIndex.entries().size() != entries.size()
        || checkIndex.directories().size() != directories.size()) {
        tempDir.remove();
        return false;
    }

    // Normally the compacted container is copied beside the old one, checked
    // there, and renamed over it: the drive never lacks a whole container.
    const auto verifyCopy = [&](const QString& copyPath) {
        ContainerDocument copied;
        SecureFileIndex copiedIndex;
        return m_containerManager.readDocument(copyPath, &copied) && decryptIndex(copied, &copiedIndex)
               && copiedIndex.entries().size() == entries.size()
               && copiedIndex.directories().size() == directories.size();
    };
    const auto replaceProgress = [&](qint64 done, qint64 size) {
        if (progress)
            progress(done, size, ReplaceText);
    };
    switch (ContainerReplacer::replace(compactPath, m_containerPath, verifyCopy, replaceProgress)) {
    case ContainerReplacer::Result::Replaced:
        m_index = document.fileIndex;
        tempDir.remove();
        return true;
    case ContainerReplacer::Result::Failed:
        tempDir.remove();
        return false;
    case ContainerReplacer::Result::NoRoom:
        break;
    }

    // No room for both on the drive: the old container has to go first, and
    // the compacted one in the temporary folder is the only copy until the
    // copy below is complete, so it must be on the local disk before that.
    if (!makeScratchDurable(compactPath) || !ContainerFile::removeFile(m_containerPath)) {
        tempDir.remove();
        return false;
    }

    // From here the drive holds no container: on failure the compacted one
    // stays in the temporary folder for the user to recover.
    const auto preserve = [&]() {
        if (preservedCompactPath)
            *preservedCompactPath = compactPath;
        return false;
    };
    QFile compacted(compactPath);
    if (!compacted.open(QIODevice::ReadOnly))
        return preserve();
    ContainerFile target(m_containerPath);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return preserve();

    const qint64 compactedSize = compacted.size();
    if (progress)
        progress(0, compactedSize, ReplaceText);
    const auto abandonTarget = [&]() {
        target.close();
        (void)ContainerFile::removeFile(m_containerPath);
        return preserve();
    };
    QByteArray chunk;
    qint64 copied = 0;
    while (!compacted.atEnd()) {
        chunk = compacted.read(ReplaceChunkSize);
        if (chunk.isEmpty() || !target.writeAll(chunk))
            return abandonTarget();
        copied += chunk.size();
        if (progress)
            progress(copied, compactedSize, ReplaceText);
    }
    if (!target.sync())
        return abandonTarget();

    target.close();
    // The new container is complete on the drive; a failed folder sync only
    // leaves open whether its name survives a power cut.
    (void)ContainerFile::syncFolderOf(m_containerPath);
    compacted.close();
    m_index = document.fileIndex;
    tempDir.remove();
    return true;
}

} // namespace Keldra::Core
