// Compaction: rebuild the container with only the live blocks (copied as
// ciphertext, never decrypted) in a private temporary folder, check it, then
// put it in place of the container on the drive.

#include "vault/VaultManager.h"

#include "storage/ContainerFile.h"
#include "storage/ContainerLock.h"
#include "storage/ContainerReplacer.h"
#include "vault/PrivateTempFolder.h"
#include "vault/StaleWorkspaceSweeper.h"

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

using Reason = Error::Reason;

// The compacted copy is written on the local disk: its failures, a full disk
// included, are the workspace's, not the vault drive's.
Error localCopyError(const Error& error)
{
    if (error.is(Reason::DriveFull) || error.is(Reason::WriteFailed))
        return Error(Reason::WorkspaceUnavailable, QStringLiteral("compacted copy: ") + error.toString());
    return error;
}

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
        const ssize_t copied =
            ::copy_file_range(source.handle(), &in, file->handle(), &out, size_t(length - (out - start)), 0);
        if (copied < 0 && out == start &&
            (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF))
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
Error copyLiveBlocks(QFile& source, QIODevice* output, const QList<VaultFileEntry>& entries,
                     SecureFileIndex* target, qint64 total, const VaultManager::ProgressCallback& progress)
{
    const auto unreadable = [&]() { return Error(Reason::ContainerUnavailable, source.errorString()); };
    const auto unwritable = [&]() { return Error(Reason::WorkspaceUnavailable, output->errorString()); };
    QByteArray buffer;
    bool kernelCopy = true;
    qint64 done = 0;
    for (VaultFileEntry entry : entries) {
        QList<VaultFileBlock> moved;
        moved.reserve(entry.blocks.size());
        for (VaultFileBlock block : entry.blocks) {
            // One block in memory at a time, whatever the record claims.
            if (block.encryptedSize < 0 ||
                block.encryptedSize > VaultManager::BlockSize + CryptoManager::TagSize)
                return Error(Reason::DamagedFile,
                             QStringLiteral("impossible block record: ") + entry.vaultPath);
            const qint64 newOffset = output->pos();
            const KernelCopy copied = kernelCopy
                                          ? copyInKernel(source, output, block.offset, block.encryptedSize)
                                          : KernelCopy::Unsupported;
            // Either side may have failed the kernel's copy; the local copy is the likelier one.
            if (copied == KernelCopy::Failed)
                return Error(Reason::WorkspaceUnavailable, QStringLiteral("kernel copy of a block"));
            if (copied == KernelCopy::Unsupported) {
                kernelCopy = false;
                if (!source.seek(block.offset))
                    return unreadable();
                buffer.resize(static_cast<int>(block.encryptedSize));
                if (source.read(buffer.data(), block.encryptedSize) != block.encryptedSize)
                    return unreadable();
                if (output->write(buffer) != buffer.size())
                    return unwritable();
            }
            block.offset = newOffset;
            moved.append(block);
            done += block.plainSize;
            if (progress)
                progress(done, total, entry.vaultPath);
        }
        entry.blocks = moved;
        if (!target->addOrReplace(entry))
            return Error(Reason::Internal, QStringLiteral("index refused an entry"));
    }
    return Error();
}

// Puts the scratch copy and its name on the local disk, for when it is about
// to become the only copy of the vault.
Error makeScratchDurable(const QString& path)
{
    ContainerFile scratch(path);
    if (!scratch.open(QIODevice::ReadWrite) || !scratch.sync())
        return localCopyError(scratch.error());
    scratch.close();
    const QString folder = QFileInfo(path).absolutePath();
    Error error = ContainerFile::syncFolder(folder);
    if (error.ok())
        error = ContainerFile::syncFolder(QFileInfo(folder).absolutePath());
    return localCopyError(error);
}

} // namespace

bool VaultManager::compactVault(const ProgressCallback& progress, QString* preservedCompactPath)
{
    m_lastError = Error();
    if (preservedCompactPath)
        preservedCompactPath->clear();
    if (m_state != VaultState::Unlocked || m_containerPath.isEmpty())
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));

    // Held until the new container is in place: nobody may add blocks to the
    // one being copied.
    const ContainerLock lock(m_containerPath);
    ContainerDocument document;
    if (const Error began = beginChange(lock, &document); !began.ok())
        return fail(began);
    // A record that lies would copy a block many times over, or bytes that are
    // no block at all: the file must be deleted first.
    if (!m_damaged.isEmpty())
        return fail(Reason::DamagedFile, QStringLiteral("the index holds damaged files"));

    QFile source(m_containerPath);
    if (!source.open(QIODevice::ReadOnly))
        return fail(Reason::ContainerUnavailable, source.errorString());

    const QString privateBase = PrivateTempFolder::base(QDir::tempPath());
    if (privateBase.isEmpty())
        return fail(Reason::WorkspaceUnavailable, QStringLiteral("no private temporary folder"));
    QTemporaryDir tempDir(privateBase + QLatin1String("/compact-XXXXXX"));
    if (!tempDir.isValid())
        return fail(Reason::WorkspaceUnavailable, tempDir.errorString());
    tempDir.setAutoRemove(false);
    // A killed compaction leaves a full copy here; the mark lets a later start remove it.
    (void)StaleWorkspaceSweeper::markOwner(tempDir.path());
    const auto removeTempDir = [&]() {
        tempDir.remove();
        StaleWorkspaceSweeper::removeOwnerMark(tempDir.path());
    };
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
    Error writerError;
    const PayloadWriter writer = [&](QIODevice* output) {
        writerError = copyLiveBlocks(source, output, entries, &document.fileIndex, total, progress);
        if (!writerError.ok())
            return false;
        document.encryptedIndex = encryptIndex(document, document.fileIndex);
        if (document.encryptedIndex.isEmpty())
            writerError = Error(Reason::Internal, QStringLiteral("index encryption failed"));
        return writerError.ok();
    };
    const Error written =
        m_containerManager.writeDocument(compactPath, document, writer, ContainerManager::WriteMode::Scratch);
    source.close();
    if (!written.ok()) {
        removeTempDir();
        return fail(writerError.ok() ? localCopyError(written) : writerError);
    }

    // A copy that reads back whole: its header, its index, as many records as ours.
    const auto readsBack = [&](const QString& path) {
        ContainerDocument copied;
        SecureFileIndex copiedIndex;
        return m_containerManager.readDocument(path, &copied).ok() && decryptIndex(copied, &copiedIndex) &&
               copiedIndex.entries().size() == entries.size() &&
               copiedIndex.directories().size() == directories.size();
    };
    if (!readsBack(compactPath)) {
        removeTempDir();
        return fail(Reason::WorkspaceUnavailable, QStringLiteral("compacted copy does not read back"));
    }

    // Normally the compacted container is copied beside the old one, checked
    // there, and renamed over it: the drive never lacks a whole container.
    const auto verifyCopy = [&](const QString& copyPath) {
        if (readsBack(copyPath))
            return Error();
        return Error(Reason::WriteFailed, QStringLiteral("copy on the drive does not read back"));
    };
    const auto replaceProgress = [&](qint64 done, qint64 size) {
        if (progress)
            progress(done, size, ReplaceText);
    };
    const ContainerReplacer::Outcome replaced =
        ContainerReplacer::replace(compactPath, m_containerPath, verifyCopy, replaceProgress);
    switch (replaced.result) {
    case ContainerReplacer::Result::Replaced:
        adoptIndex(document.fileIndex, document);
        removeTempDir();
        return true;
    case ContainerReplacer::Result::Failed:
        removeTempDir();
        return fail(replaced.error);
    case ContainerReplacer::Result::NoRoom:
        break;
    }

    // No room for both on the drive: the old container has to go first, and
    // the compacted one in the temporary folder is the only copy until the
    // copy below is complete, so it must be on the local disk before that,
    // and no later start may sweep it away: it loses its mark first.
    // Only worth it, and only sure to fit, when the new one is smaller.
    if (QFileInfo(compactPath).size() >= QFileInfo(m_containerPath).size()) {
        removeTempDir();
        return fail(Reason::DriveFull, QStringLiteral("no room for a copy, and nothing to gain"));
    }
    StaleWorkspaceSweeper::removeOwnerMark(tempDir.path());
    if (const Error durable = makeScratchDurable(compactPath); !durable.ok()) {
        removeTempDir();
        return fail(durable);
    }

    // Once the container is emptied below, on failure the compacted one stays
    // in the temporary folder for the user to recover.
    const auto preserve = [&](Error why) {
        if (preservedCompactPath)
            *preservedCompactPath = compactPath;
        return fail(why);
    };
    QFile compacted(compactPath);
    if (!compacted.open(QIODevice::ReadOnly)) {
        removeTempDir();
        return fail(Reason::WorkspaceUnavailable, compacted.errorString());
    }
    // Emptied in place rather than removed and created again: the file keeps
    // the lock this change holds, so no other program starts on it half-written.
    ContainerFile target(m_containerPath);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::ExistingOnly)) {
        removeTempDir();
        return fail(target.error());
    }

    const qint64 compactedSize = compacted.size();
    if (progress)
        progress(0, compactedSize, ReplaceText);
    // By value: closing and removing the target must not change the reason.
    const auto abandonTarget = [&](Error why) {
        target.close();
        (void)ContainerFile::removeFile(m_containerPath);
        return preserve(why);
    };
    QByteArray chunk;
    qint64 copied = 0;
    while (!compacted.atEnd()) {
        chunk = compacted.read(ReplaceChunkSize);
        if (chunk.isEmpty())
            return abandonTarget(Error(Reason::WorkspaceUnavailable, compacted.errorString()));
        if (!target.writeAll(chunk))
            return abandonTarget(target.error());
        copied += chunk.size();
        if (progress)
            progress(copied, compactedSize, ReplaceText);
    }
    if (!target.sync())
        return abandonTarget(target.error());

    target.close();
    // The new container is complete on the drive; a failed folder sync only
    // leaves open whether its name survives a power cut.
    (void)ContainerFile::syncFolderOf(m_containerPath);
    compacted.close();
    adoptIndex(document.fileIndex, document);
    removeTempDir();
    return true;
}

} // namespace Keldra::Core
