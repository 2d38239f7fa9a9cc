#pragma once

#include "Error.h"
#include "crypto/CryptoManager.h"
#include "format/ContainerManager.h"
#include "format/SecureFileIndex.h"
#include "storage/HeaderJournal.h"
#include "vault/BatchProgress.h"
#include "vault/ExportBatchSummary.h"
#include "vault/FileSyncManager.h"
#include "vault/ImportBatch.h"
#include "vault/TempWorkspaceManager.h"
#include "vault/TrackedTempFile.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class QFile;
class QIODevice;

namespace Keldra::Core {

class ContainerLock;
class DeferredSync;
class VaultChange;

enum class VaultState { Locked = 0, Unlocked = 1 };

// The vault as the rest of the system sees it: keys and lifecycle, file
// payloads, tree operations, editing copies and compaction. Every operation
// runs synchronously on the caller's thread and reports failure by its
// result; lastError() then says why: a reason the window and keldra-cli turn
// into their message, and an English detail for logs. Apart from progress
// texts, no operation produces text for the user.
class VaultManager
{
public:
    // (bytes done, bytes total, text); an empty function is never called.
    using ProgressCallback = std::function<void(qint64, qint64, const QString&)>;

    // Plaintext bytes per payload block; also the memory bound of import,
    // export and compaction.
    static constexpr qint64 BlockSize = 16 * 1024 * 1024;
    // What importing a file of this many bytes adds to the container: its
    // bytes plus one tag per started block.
    static qint64 storedSize(qint64 plainBytes);

    VaultManager();
    ~VaultManager();
    VaultManager(const VaultManager&) = delete;
    VaultManager& operator=(const VaultManager&) = delete;

    // --- State and keys -------------------------------------------------
    VaultState state() const;
    // Container last created or unlocked; kept after locking.
    QString containerPath() const;
    SecureFileIndex fileIndex() const;
    // Takes over the index another program saved since this session read it:
    // after its compaction the blocks this session knows have moved. A session
    // that stays unlocked (the window) calls it before reading files.
    // *changed tells whether there was another index to take over.
    [[nodiscard]] bool refreshIndex(bool* changed = nullptr);
    QList<TrackedTempFile> modifiedOpenFiles() const;
    // Why the last operation returned false; a default (ok) Error after one
    // that succeeded. Set by every operation below, the const ones included.
    const Error& lastError() const;
    // A flag another thread may set to stop the running operation: it then
    // ends with Reason::Cancelled, having undone what it wrote (or kept up
    // to its last checkpoint). Null (the default) means no cancelling. The
    // flag must outlive the operations that run while it is set.
    void setCancelFlag(const std::atomic<bool>* flag) { m_cancelFlag = flag; }

    // Writes a new, empty vault and leaves it locked. Refused while a vault
    // is unlocked, so an open vault's key and copies are never dropped.
    [[nodiscard]] bool createVault(const QString& path, const QByteArray& password);
    // On any failure (also when the workspace cannot be prepared) the vault
    // stays Locked with no key in memory.
    // A container a killed compaction left cut is first put back from the
    // copy that compaction kept on the local disk, when that copy opens with
    // the password; restoredFromCompactionCopy() then says so.
    [[nodiscard]] bool unlockVault(const QString& path, const QByteArray& password);
    // Whether the last unlockVault() put the container back from such a copy.
    bool restoredFromCompactionCopy() const { return m_restoredFromCompactionCopy; }
    // Stores modified copies back, removes the workspace, wipes the key.
    // False with the vault still Unlocked when a copy cannot be stored; false
    // with the vault Locked when only the workspace removal failed.
    [[nodiscard]] bool lockVault();
    // Re-wraps the master key under a new password; only while Locked.
    [[nodiscard]] bool changePassword(const QString& path, const QByteArray& oldPassword,
                                      const QByteArray& newPassword);

    // --- File payloads --------------------------------------------------
    // FileSystemLimit, before anything is written, when the container would
    // outgrow what its drive's file system holds (FAT's 4 GiB).
    [[nodiscard]] bool importFile(const QString& sourcePath, const QString& vaultPath,
                                  const ProgressCallback& progress);
    [[nodiscard]] bool importFile(const QString& sourcePath, const QString& vaultPath);
    // Vault paths of the batch's files the vault already holds (any letter case).
    QStringList existingFiles(const ImportBatch& batch) const;
    // Imports the batch as one change. Refused before anything is written
    // when the index cannot take the whole batch (IndexFull, with
    // summary->filesThatFit) or the drive cannot hold it (DriveFull,
    // FileSystemLimit). The header is stored at checkpoints (see
    // ImportBatch::setCheckpointInterval) and at the end: a failure, a crash
    // or a cancel keeps the files stored at the last one and nothing after.
    // Files that cannot be taken (links, special files, unreadable, names
    // not every system holds, existing ones under ExistingFiles::Skip) are
    // left out and listed in summary->skipped; the batch goes on without them.
    [[nodiscard]] bool importBatch(const ImportBatch& batch, ExistingFiles existing,
                                   const BatchProgressCallback& progress, ImportBatchSummary* summary);
    // Atomic: a failed or cancelled export leaves no partial plaintext and
    // leaves an existing destination untouched.
    [[nodiscard]] bool exportFile(const QString& vaultPath, const QString& destinationPath,
                                  const ProgressCallback& progress = {}) const;
    // Writes the plaintext to an open, writable device (not opened, closed
    // or seeked here). The path is matched case-insensitively as given.
    // DamagedFile when the file's record lies or what was written differs
    // from its SHA-256 in the index: the caller then discards what it got.
    [[nodiscard]] bool writeVaultFileToDevice(const QString& vaultPath, QIODevice* device) const;
    // The same with progress (plaintext bytes written of the file's size).
    // Reading and decrypting run on a thread of their own; the device is
    // written on the caller's thread only. Cancelled between blocks when the
    // cancel flag is set: the caller then discards what it got.
    [[nodiscard]] bool writeVaultFileToDevice(const QString& vaultPath, QIODevice* device,
                                              const ProgressCallback& progress) const;
    // Each vault path (file or folder) is written inside destinationFolder
    // (made when missing) under its own name, a folder recursively with its
    // empty sub-folders; existing folders are written into. Each file is
    // written to a temporary name beside its target, checked and renamed
    // into place, so a failure or a stop leaves nothing partial; what was
    // written is synced to the drive once, when the batch ends. A file whose
    // target exists (also one that appears while it is written) is left as
    // it is under ExistingFiles::Skip. Names this system cannot hold, files that fail
    // and skipped ones are listed in summary->skipped, and the batch goes on
    // without them; it stops at a failure that no later file would escape
    // (the container unreadable, cancelled). False when any file was not
    // exported for another reason than Skip: lastError() is the first such
    // failure. FileNotFound, before anything is written, for a path the vault
    // does not hold.
    [[nodiscard]] bool exportBatch(const QStringList& vaultPaths, const QString& destinationFolder,
                                   ExistingFiles existing, const BatchProgressCallback& progress,
                                   ExportBatchSummary* summary) const;
    // The outside files exportBatch() would write over (absolute paths), for
    // the one question before exporting.
    QStringList existingExportTargets(const QStringList& vaultPaths, const QString& destinationFolder) const;
    // Decrypts every block of the file and checks its size and SHA-256
    // against the index; progress gets the file's plaintext bytes checked.
    [[nodiscard]] bool verifyFile(const QString& vaultPath, const ProgressCallback& progress = {}) const;

    // --- Tree operations (index only; payload untouched) -----------------
    // An open copy follows its file (or folder) to the new path; the copy
    // itself stays where the editor has it.
    [[nodiscard]] bool moveFile(const QString& vaultPath, const QString& targetDirectory);
    [[nodiscard]] bool renameFile(const QString& vaultPath, const QString& newVaultPath);
    // Refused (FileInUse) while the file's open copy holds edits: discard
    // them first (discardOpenCopy). An unchanged open copy is wiped.
    [[nodiscard]] bool deleteFile(const QString& vaultPath);
    [[nodiscard]] bool createDirectory(const QString& path);
    [[nodiscard]] bool renameDirectory(const QString& path, const QString& newPath);
    [[nodiscard]] bool deleteDirectory(const QString& path);
    // A whole selection of files and folders in one change and one header
    // rewrite; all or nothing. An item inside another selected folder goes
    // with that folder. deletePaths removes folders with everything inside
    // them, refused (FileInUse) while an open copy of a file among them holds
    // edits; unchanged open copies are wiped. movePaths puts each item inside
    // targetDirectory ("" = root) under its own name, open copies following;
    // AlreadyExists when a new path is taken (by the item itself or another
    // selected one), InvalidPath for a folder moved into itself.
    [[nodiscard]] bool deletePaths(const QStringList& vaultPaths);
    [[nodiscard]] bool movePaths(const QStringList& vaultPaths, const QString& targetDirectory);

    // --- Compaction ------------------------------------------------------
    // preservedCompactPath (may be null) names the compacted container kept
    // on the local disk when the drive's container was emptied but could not
    // be written again; the next unlock puts it back. Refused while a file of the index is
    // damaged, and without room for a copy unless the new one is smaller.
    [[nodiscard]] bool compactVault(const ProgressCallback& progress, QString* preservedCompactPath);
    // Bytes of the container that no file's blocks use (left by deleted or
    // replaced files), which compaction would give back; -1 when it cannot
    // be told (lastError() says why).
    qint64 reclaimableBytes() const;

    // --- Editing copies --------------------------------------------------
    // Refused (FileInUse) when the file's open copy holds edits not yet
    // stored: writing the vault's version over it would throw them away.
    // A cancelled or failed preparation leaves no copy.
    [[nodiscard]] bool prepareFileForEditing(const QString& vaultPath, QString* tempPath,
                                             const ProgressCallback& progress = {});
    [[nodiscard]] bool syncModifiedTempFiles();
    // Forgets the file's open copy and wipes it, edited or not: for a copy
    // the editor never got, or edits the user chose to drop.
    [[nodiscard]] bool discardOpenCopy(const QString& vaultPath);

    // --- Edits of an earlier session -------------------------------------
    // Edited copies that a session of this vault left unstored: killed,
    // crashed, or its container vanished. Only while Unlocked.
    QList<TrackedTempFile> recoverableCopies() const;
    // Stores them under their paths; a file that changed in the vault since
    // is kept and the copy goes beside it as "NAME (recuperado).EXT". Each
    // leftover workspace is wiped once all its copies are stored.
    [[nodiscard]] bool recoverCopies();
    // For a container that is gone (drive pulled): locks without storing
    // anything. The key and index are wiped, unchanged copies too; edited
    // copies stay for recoverCopies() at a later unlock. Returns how many stay.
    int abandonVault();

    // Associated data that binds each kind of ciphertext to the header
    // fields it depends on ("master-key", "index", "file-block").
    static QByteArray associatedData(const ContainerDocument& document, const QByteArray& purpose);
    // The master key the password unwraps from the document's header; empty
    // when the password or the header is wrong (lastError() says which). The
    // caller wipes it.
    QByteArray decryptMasterKey(const ContainerDocument& document, const QByteArray& password) const;

private:
    friend class VaultChange;
    friend class VaultCompaction;

    QByteArray deriveSessionKey(const QByteArray& password, const ContainerCryptoMetadata& crypto) const;
    QByteArray encryptMasterKey(const ContainerDocument& document, const QByteArray& password,
                                const QByteArray& masterKey) const;
    // The master key into *masterKey: WrongPassword when it does not open,
    // DamagedContainer when the header cannot hold a wrapped key at all.
    [[nodiscard]] Error unwrapMasterKey(const ContainerDocument& document, const QByteArray& password,
                                        QByteArray* masterKey) const;
    QByteArray encryptIndex(const ContainerDocument& document, const SecureFileIndex& index) const;
    bool decryptIndex(const ContainerDocument& document, SecureFileIndex* out) const;
    // The same with the reason: WrongPassword when the seal does not open
    // under our key, DamagedContainer when it opens to no whole index.
    [[nodiscard]] Error openIndex(const ContainerDocument& document, SecureFileIndex* out) const;
    // Rolls back a change torn by a crash or a pulled drive, then reads the header.
    [[nodiscard]] Error readSettledDocument(const QString& path, ContainerDocument* document) const;
    // For unlock and password change: reads the header as it is and as a
    // journal beside it would restore it, proves the password against them,
    // and only then settles the journal and reads the header again. A wrong
    // password changes nothing.
    [[nodiscard]] Error openSettledDocument(const QString& path, const QByteArray& password,
                                            ContainerDocument* document, QByteArray* masterKey) const;
    // Whether a journal that would roll the container back may do so, for
    // the vault whose master key is `masterKey`. `password` (null when not
    // known) and `restoredOpens` (the restored header's key opens under it)
    // settle the journals of earlier versions, which carry no MAC.
    HeaderJournal::Verdict judgeJournal(const QString& path, const HeaderJournal::Pending& journal,
                                        const QByteArray& masterKey, const QByteArray* password,
                                        bool restoredOpens) const;
    bool indexOpensUnder(const ContainerDocument& document, const QByteArray& masterKey) const;
    // Under the container's lock, with `read` what reading its header gave:
    // puts the container back from the copy a killed compaction kept when the
    // container is cut (its header unreadable, or its payload shorter than
    // its index needs) and the copy opens with the password; drops a copy
    // the whole container has outlived. *document is then the header to use.
    [[nodiscard]] Error settleCompactionCopy(const QString& path, const QByteArray& password,
                                             const Error& read, ContainerDocument* document);
    // The opening of every VaultChange, with `lock` held until it is stored:
    // reads the header and, when another program changed the index since this
    // session read it, takes that index over, so the change is made on top of it.
    [[nodiscard]] Error beginChange(const ContainerLock& lock, ContainerDocument* document);
    // Stores a changed index in the header of *document (updated to what was
    // written); the in-memory index is replaced only when the header was
    // written. sizeToRestore >= 0: blocks appended from there on go with a
    // roll-back of this header.
    [[nodiscard]] Error storeIndex(ContainerDocument* document, const SecureFileIndex& newIndex,
                                   qint64 sizeToRestore);
    // The index in memory from now on, read from or written to `document`'s header.
    // Const: a read takes over the index another program saved (see takeOverNewerIndex).
    void adoptIndex(const SecureFileIndex& index, const ContainerDocument& document) const;
    // For a read whose block did not read back, with the read lock held: takes
    // over the index the container holds when another program saved one since
    // (its compaction moves blocks). False when there is none or it cannot be read.
    [[nodiscard]] bool takeOverNewerIndex() const;
    // The end of a move or rename: refused when `destination` is taken (by the
    // file itself too), else committed by `change`.
    [[nodiscard]] bool storeFileAt(VaultChange& change, const QString& source, const QString& destination);
    // exportFile() with progress, for a path already normalised.
    [[nodiscard]] bool exportTo(const QString& vaultPath, const QString& destinationPath,
                                const ProgressCallback& progress) const;
    // A tree export's file: written to a temporary name in the destination's
    // folder, checked, then renamed into place without a sync of its own (the
    // batch ends with `sync`). Without `replace` a file found at the
    // destination by the rename is left as it is and *existed set (true result).
    [[nodiscard]] bool exportForBatch(const QString& vaultPath, const QString& destinationPath, bool replace,
                                      const ProgressCallback& progress, DeferredSync* sync,
                                      bool* existed) const;
    // Import's blocks: the source read, hashed, encrypted and
    // appended through `change`; fills the entry's blocks, size and SHA-256.
    [[nodiscard]] Error appendBlocks(VaultChange& change, QFile& source, qint64 bytesTotal,
                                     const ProgressCallback& progress, VaultFileEntry* entry);
    // A file whose index record cannot be right (see IndexCheck).
    bool isDamaged(const QString& storedPath) const;
    // Record the outcome in lastError(); the result is what the operation returns.
    bool finish(const Error& error) const;
    // Whether the caller asked the running operation to stop.
    bool cancelRequested() const { return m_cancelFlag && m_cancelFlag->load(std::memory_order_relaxed); }
    // Record a failure; always false.
    bool fail(const Error& error) const;
    bool fail(Error::Reason reason, const QString& detail) const;
    // View of the first 32 bytes of the master key (no copy to wipe).
    QByteArray cipherKey() const;
    void forgetMasterKey();
    // Where a new copy of vaultPath goes: its mirror path in the workspace,
    // unless another file's copy (carried by a rename) already lives there.
    QString freeCopyPath(const QString& vaultPath) const;
    // Where a recovered copy is stored; empty when the vault already holds its content.
    QString recoveryTarget(const TrackedTempFile& copy) const;

    VaultState m_state = VaultState::Locked;
    QString m_containerPath;
    QByteArray m_masterKey;
    // The three below follow the container's header; reads refresh them too.
    mutable SecureFileIndex m_index;
    // Identifies the header the index was read from or written to; another
    // program's save changes it.
    mutable QByteArray m_indexSeal;
    // Stored paths of the files whose records lie (overlapping blocks, blocks
    // outside the payload, sizes that do not add up).
    mutable QSet<QString> m_damaged;
    // Where the blocks begin in the container the index was read from.
    mutable qint64 m_payloadStart = 0;
    ContainerManager m_containerManager;
    CryptoManager m_cryptoManager;
    TempWorkspaceManager m_tempWorkspace;
    FileSyncManager m_fileSync;
    // Names this vault in workspace records; derived from the master key.
    QByteArray m_vaultId;
    mutable Error m_lastError;
    bool m_restoredFromCompactionCopy = false;
    const std::atomic<bool>* m_cancelFlag = nullptr;
};

} // namespace Keldra::Core
