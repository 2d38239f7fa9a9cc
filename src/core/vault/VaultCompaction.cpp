#include "vault/VaultCompaction.h"

#include "storage/ContainerFile.h"
#include "storage/ContainerReplacer.h"
#include "vault/CompactionCopy.h"
#include "vault/PrivateTempFolder.h"
#include "vault/StaleWorkspaceSweeper.h"
#include "vault/VaultChange.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <unistd.h>
#endif
#ifndef Q_OS_WIN
#include <sys/stat.h>
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
                     SecureFileIndex* target, qint64 total, const VaultManager::ProgressCallback& progress,
                     const std::function<bool()>& cancelled)
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
            if (cancelled())
                return Error(Reason::Cancelled, QStringLiteral("cancelled while copying blocks"));
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

// Compaction writes the container anew: one the user keeps read-only is
// refused before anything is written, not replaced behind their back. The
// owner's write bit decides for the owner, root included (for whom access()
// always says yes); others get what access() says.
Error writable(const QString& containerPath)
{
    const Error readOnly(Reason::WriteFailed, QStringLiteral("the container is read-only"));
#ifdef Q_OS_WIN
    const QFileInfo info(containerPath);
    if (info.exists() && !info.isWritable())
        return readOnly;
#else
    const QByteArray native = QFile::encodeName(containerPath);
    struct stat status = {};
    if (::stat(native.constData(), &status) != 0)
        return Error(); // opening it says why
    const bool mayWrite = status.st_uid == ::geteuid() ? (status.st_mode & S_IWUSR) != 0
                                                       : ::access(native.constData(), W_OK) == 0;
    if (!mayWrite)
        return readOnly;
#endif
    return Error();
}

} // namespace

VaultCompaction::VaultCompaction(VaultManager& vault, VaultChange& change,
                                 const VaultManager::ProgressCallback& progress)
    : m_vault(vault), m_change(change), m_progress(progress), m_source(vault.m_containerPath)
{
}

VaultCompaction::~VaultCompaction()
{
    if (!m_tempDir || !m_tempDir->isValid())
        return;
    m_tempDir->remove();
    StaleWorkspaceSweeper::removeOwnerMark(m_tempDir->path());
}

void VaultCompaction::progress(qint64 done, qint64 total, const QString& text) const
{
    if (m_progress)
        m_progress(done, total, text);
}

Error VaultCompaction::run(QString* preservedCompactPath)
{
    if (const Error planned = plan(); !planned.ok())
        return planned;
    if (const Error copied = copyBlocks(); !copied.ok())
        return copied;
    if (const Error verified = verify(); !verified.ok())
        return verified;
    // The last point where stopping leaves the old container as it was; the
    // destructor removes the copy.
    if (m_vault.cancelRequested())
        return Error(Reason::Cancelled, QStringLiteral("cancelled before replacing the container"));
    bool noRoom = false;
    if (const Error replaced = replace(&noRoom); !replaced.ok() || !noRoom)
        return replaced;
    return replaceWithoutRoom(preservedCompactPath);
}

Error VaultCompaction::plan()
{
    // A record that lies would copy a block many times over, or bytes that are
    // no block at all: the file must be deleted first.
    if (!m_vault.m_damaged.isEmpty())
        return Error(Reason::DamagedFile, QStringLiteral("the index holds damaged files"));
    if (const Error refused = writable(m_vault.m_containerPath); !refused.ok())
        return refused;
    if (!m_source.open(QIODevice::ReadOnly))
        return Error(Reason::ContainerUnavailable, m_source.errorString());

    const QString privateBase = PrivateTempFolder::base(QDir::tempPath());
    if (privateBase.isEmpty())
        return Error(Reason::WorkspaceUnavailable, QStringLiteral("no private temporary folder"));
    m_tempDir = std::make_unique<QTemporaryDir>(privateBase + QLatin1String("/compact-XXXXXX"));
    if (!m_tempDir->isValid())
        return Error(Reason::WorkspaceUnavailable, m_tempDir->errorString());
    m_tempDir->setAutoRemove(false);
    // A killed compaction leaves a full copy here; the mark lets a later start remove it.
    (void)StaleWorkspaceSweeper::markOwner(m_tempDir->path());
    m_compactPath = m_tempDir->filePath(QLatin1String(ContainerManager::FileName));

    const SecureFileIndex& index = m_vault.m_index;
    m_document = m_change.document();
    m_document.fileIndex.clear();
    const QList<VaultDirectoryEntry> directories = index.directories();
    for (const VaultDirectoryEntry& directory : directories)
        m_document.fileIndex.addDirectory(directory);
    m_directoryCount = directories.size();
    m_document.filePayloads.clear();
    m_document.encryptedPayload.clear();
    m_document.crypto.authTag.clear();
    m_document.crypto.payloadNonce = m_vault.m_cryptoManager.generateNonce(m_document.crypto.nonce.size());

    m_entries = index.entries();
    m_total = 0;
    for (const VaultFileEntry& entry : std::as_const(m_entries))
        m_total += entry.sizeBytes;
    return Error();
}

Error VaultCompaction::copyBlocks()
{
    // writeDocument builds the header after the writer ran, so the index
    // encrypted here is the one that lands in the new header.
    Error writerError;
    const PayloadWriter writer = [&](QIODevice* output) {
        writerError = copyLiveBlocks(m_source, output, m_entries, &m_document.fileIndex, m_total, m_progress,
                                     [this] { return m_vault.cancelRequested(); });
        if (!writerError.ok())
            return false;
        m_document.encryptedIndex = m_vault.encryptIndex(m_document, m_document.fileIndex);
        if (m_document.encryptedIndex.isEmpty())
            writerError = Error(Reason::Internal, QStringLiteral("index encryption failed"));
        return writerError.ok();
    };
    const Error written = m_vault.m_containerManager.writeDocument(m_compactPath, m_document, writer,
                                                                   ContainerManager::WriteMode::Scratch);
    m_source.close();
    if (!written.ok())
        return writerError.ok() ? localCopyError(written) : writerError;
    return Error();
}

bool VaultCompaction::readsBack(const QString& path) const
{
    ContainerDocument copied;
    SecureFileIndex copiedIndex;
    return m_vault.m_containerManager.readDocument(path, &copied).ok() &&
           m_vault.decryptIndex(copied, &copiedIndex) && copiedIndex.entries().size() == m_entries.size() &&
           copiedIndex.directories().size() == m_directoryCount;
}

Error VaultCompaction::verify() const
{
    if (!readsBack(m_compactPath))
        return Error(Reason::WorkspaceUnavailable, QStringLiteral("compacted copy does not read back"));
    return Error();
}

Error VaultCompaction::replace(bool* noRoom)
{
    // Normally the compacted container is copied beside the old one, checked
    // there, and renamed over it: the drive never lacks a whole container.
    const auto verifyCopy = [this](const QString& copyPath) {
        if (readsBack(copyPath))
            return Error();
        return Error(Reason::WriteFailed, QStringLiteral("copy on the drive does not read back"));
    };
    const auto replaceProgress = [this](qint64 done, qint64 size) { progress(done, size, ReplaceText); };
    const ContainerReplacer::Outcome replaced =
        ContainerReplacer::replace(m_compactPath, m_vault.m_containerPath, verifyCopy, replaceProgress);
    switch (replaced.result) {
    case ContainerReplacer::Result::Replaced:
        m_change.adoptWritten(m_document);
        return Error();
    case ContainerReplacer::Result::Failed:
        return replaced.error;
    case ContainerReplacer::Result::NoRoom:
        break;
    }
    *noRoom = true;
    return Error();
}

Error VaultCompaction::replaceWithoutRoom(QString* preservedCompactPath)
{
    const QString& containerPath = m_vault.m_containerPath;
    // No room for both on the drive: the old container has to go first, and
    // the compacted one is the only copy until the copy below is complete. It
    // is kept, with a record naming this container, in a per-user folder that
    // survives a power cut (the temporary folder may not), where the next
    // unlock finds it should this run not finish.
    // Only worth it, and only sure to fit, when the new one is smaller.
    if (QFileInfo(m_compactPath).size() >= QFileInfo(containerPath).size())
        return Error(Reason::DriveFull, QStringLiteral("no room for a copy, and nothing to gain"));
    CompactionCopy::Kept kept;
    if (const Error durable = CompactionCopy::keep(m_compactPath, containerPath, &kept); !durable.ok())
        return durable;

    QFile compacted(kept.path);
    if (!compacted.open(QIODevice::ReadOnly))
        return Error(Reason::WorkspaceUnavailable, compacted.errorString());
    // Emptied in place rather than removed and created again: the file keeps
    // the lock this change holds, so no other program starts on it half-written.
    ContainerFile target(containerPath);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::ExistingOnly))
        return target.error();

    const qint64 compactedSize = compacted.size();
    progress(0, compactedSize, ReplaceText);
    // Once the container is emptied, on failure the kept copy stays for the
    // next unlock to put back; the cut container stays too, so the window
    // and keldra-cli still find a vault to unlock at its path. By value:
    // closing the target must not change the reason.
    const auto abandonTarget = [&](Error why) {
        target.close();
        if (preservedCompactPath)
            *preservedCompactPath = kept.path;
        return why;
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
        progress(copied, compactedSize, ReplaceText);
    }
    if (!target.sync())
        return abandonTarget(target.error());

    target.close();
    // The new container is complete on the drive; a failed folder sync only
    // leaves open whether its name survives a power cut.
    (void)ContainerFile::syncFolderOf(containerPath);
    compacted.close();
    CompactionCopy::discard(containerPath);
    m_change.adoptWritten(m_document);
    return Error();
}

} // namespace Keldra::Core
