// Import of many files as one change: blocks appended file after file, the
// header written only at checkpoints, the whole batch checked first.

#include "vault/VaultManager.h"

#include "format/ContainerFormat.h"
#include "storage/FileSizeLimit.h"
#include "vault/FileIdentity.h"
#include "vault/IndexRoom.h"
#include "vault/VaultChange.h"
#include "vault/VaultPath.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStorageInfo>
#include <QUuid>

namespace Keldra::Core {

namespace {

using Reason = Error::Reason;
using Why = SkippedItem::Why;
// The journal's own lines and MAC beside the header bytes it holds.
constexpr qint64 JournalSlack = 64 * 1024;

// The folders above a normalised path, outermost first.
QStringList ancestors(const QString& path)
{
    QStringList result;
    QString folder = VaultPath::parent(path);
    while (!folder.isEmpty()) {
        result.prepend(folder);
        folder = VaultPath::parent(folder);
    }
    return result;
}

QString folded(const QString& path)
{
    return path.toCaseFolded();
}

// A file of the batch that will be imported, with what it needs.
struct PlannedFile
{
    qsizetype item = 0;
    QString vaultPath;
    // The stored spelling of the file it replaces; empty for a new file.
    QString replaces;
    // Folders to create with it (none the index or an earlier file has).
    QStringList newFolders;
};

struct Counts
{
    int imported = 0;
    int replaced = 0;
    int foldersCreated = 0;
    qint64 bytes = 0;
};

} // namespace

QStringList VaultManager::existingFiles(const ImportBatch& batch) const
{
    m_lastError = Error();
    QSet<QString> stored;
    const QList<VaultFileEntry> entries = m_index.entries();
    stored.reserve(entries.size());
    for (const VaultFileEntry& entry : entries)
        stored.insert(folded(entry.vaultPath));
    QStringList result;
    for (const ImportBatchItem& item : batch.files()) {
        const QString normalized = VaultPath::normalized(item.vaultPath);
        if (!normalized.isEmpty() && stored.contains(folded(normalized)))
            result.append(normalized);
    }
    return result;
}

bool VaultManager::importBatch(const ImportBatch& batch, ExistingFiles existing,
                               const BatchProgressCallback& progress, ImportBatchSummary* summary)
{
    ImportBatchSummary local;
    ImportBatchSummary& out = summary ? *summary : local;
    out = ImportBatchSummary();
    out.skipped = batch.skipped();

    VaultChange change(*this);
    if (!change.ok())
        return fail(change.error());
    const QList<ImportBatchItem>& items = batch.files();

    // Lookups that ignore letter case, made once: a scan of the index per
    // file would make a large batch quadratic.
    QHash<QString, QString> storedFiles;
    QSet<QString> folders;
    {
        const QList<VaultFileEntry> entries = m_index.entries();
        storedFiles.reserve(entries.size());
        for (const VaultFileEntry& entry : entries)
            storedFiles.insert(folded(entry.vaultPath), entry.vaultPath);
        const QList<VaultDirectoryEntry> directories = m_index.directories();
        for (const VaultDirectoryEntry& directory : directories)
            folders.insert(folded(directory.path));
    }
    const auto clash = [](const QString& what) { return Error(Reason::AlreadyExists, what); };

    // Folder records of the batch first, with their parents; then the files.
    QStringList newFolders;
    const auto addFolder = [&](const QString& path, QStringList* into) {
        const QString key = folded(path);
        if (folders.contains(key))
            return;
        folders.insert(key);
        into->append(path);
    };
    for (const QString& directory : batch.directories()) {
        const QString normalized = VaultPath::normalized(directory);
        if (normalized.isEmpty() ||
            (!VaultPath::isPortable(normalized) && !folders.contains(folded(normalized)))) {
            out.skipped.append(
                SkippedItem{directory, Why::InvalidName, Error(Reason::InvalidPath, directory)});
            continue;
        }
        const QStringList above = ancestors(normalized);
        const bool fileInTheWay = storedFiles.contains(folded(normalized)) ||
                                  std::any_of(above.cbegin(), above.cend(), [&](const QString& folder) {
                                      return storedFiles.contains(folded(folder));
                                  });
        if (fileInTheWay) {
            out.skipped.append(
                SkippedItem{directory, Why::Failed, clash(QStringLiteral("a file has that path"))});
            continue;
        }
        for (const QString& folder : above)
            addFolder(folder, &newFolders);
        addFolder(normalized, &newFolders);
    }

    QList<PlannedFile> plan;
    QSet<QString> taken;
    qint64 bytesTotal = 0;
    qint64 storedTotal = 0;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const ImportBatchItem& item = items.at(i);
        const QString normalized = VaultPath::normalized(item.vaultPath);
        const QString key = folded(normalized);
        const auto stored = storedFiles.constFind(key);
        // As a single import: a new name must be one every system can hold;
        // a file of a vault made elsewhere keeps its name when replaced.
        if (normalized.isEmpty() ||
            (!VaultPath::isPortable(normalized) && stored == storedFiles.constEnd())) {
            out.skipped.append(
                SkippedItem{item.sourcePath, Why::InvalidName, Error(Reason::InvalidPath, item.vaultPath)});
            continue;
        }
        if (taken.contains(key)) {
            out.skipped.append(
                SkippedItem{item.sourcePath, Why::Failed, clash(QStringLiteral("twice in the batch"))});
            continue;
        }
        const QStringList above = ancestors(normalized);
        const bool blocked =
            folders.contains(key) || std::any_of(above.cbegin(), above.cend(), [&](const QString& folder) {
                return storedFiles.contains(folded(folder)) || taken.contains(folded(folder));
            });
        if (blocked) {
            out.skipped.append(SkippedItem{item.sourcePath, Why::Failed,
                                           clash(QStringLiteral("a folder or file is in the way"))});
            continue;
        }
        PlannedFile planned{i, normalized, QString(), {}};
        if (stored != storedFiles.constEnd()) {
            if (existing == ExistingFiles::Skip) {
                out.skipped.append(SkippedItem{item.sourcePath, Why::Existing, clash(*stored)});
                continue;
            }
            planned.replaces = *stored;
        }
        for (const QString& folder : above)
            addFolder(folder, &planned.newFolders);
        taken.insert(key);
        bytesTotal += item.sizeBytes;
        storedTotal += storedSize(item.sizeBytes);
        plan.append(planned);
    }

    // The whole batch is checked before a byte is written: a refusal after
    // minutes of writing would only undo them.
    const IndexRoom room(change.document());
    qint64 added = 0;
    for (const QString& folder : std::as_const(newFolders))
        added += room.folderCost(folder);
    QList<qint64> fileCosts;
    fileCosts.reserve(plan.size());
    for (const PlannedFile& planned : std::as_const(plan)) {
        qint64 cost = room.fileCost(planned.vaultPath, items.at(planned.item).sizeBytes);
        for (const QString& folder : planned.newFolders)
            cost += room.folderCost(folder);
        fileCosts.append(cost);
    }
    qint64 wholeBatch = added;
    for (const qint64 cost : std::as_const(fileCosts))
        wholeBatch += cost;
    if (!room.fits(wholeBatch)) {
        int fit = 0;
        while (fit < fileCosts.size() && room.fits(added + fileCosts.at(fit)))
            added += fileCosts.at(fit++);
        out.filesThatFit = room.fits(added) ? fit : 0;
        return fail(Reason::IndexFull, QStringLiteral("no room in the header for the batch"));
    }
    const qint64 appendAt = change.appendOffset();
    const qint64 limit = FileSizeLimit::forPath(m_containerPath);
    if (limit > 0 && appendAt + storedTotal > limit)
        return fail(Reason::FileSystemLimit, QStringLiteral("the container would outgrow its file system"));
    const QStorageInfo storage(QFileInfo(m_containerPath).absolutePath());
    if (storage.isValid() && storage.isReady() && storage.bytesAvailable() >= 0) {
        // Dead bytes after the last block are cut off before appending; each
        // checkpoint needs room for its journal, the header's old and new bytes.
        const qint64 freed = qMax<qint64>(0, QFileInfo(m_containerPath).size() - appendAt);
        const qint64 journal = 2 * room.headerSize(wholeBatch) + JournalSlack;
        if (storage.bytesAvailable() + freed < storedTotal + journal)
            return fail(Reason::DriveFull, QStringLiteral("no room on the drive for the batch"));
    }

    Counts pending;
    Counts committed;
    const auto report = [&](const Error& error) {
        out.imported = committed.imported;
        out.replaced = committed.replaced;
        out.foldersCreated = committed.foldersCreated;
        out.bytes = committed.bytes;
        return finish(error);
    };
    QElapsedTimer sinceCheckpoint;
    sinceCheckpoint.start();
    qint64 storedSinceCheckpoint = 0;
    const auto checkpoint = [&]() {
        const Error stored = change.commit();
        if (stored.ok()) {
            committed = pending;
            storedSinceCheckpoint = 0;
            sinceCheckpoint.restart();
        }
        return stored;
    };
    const auto cancelled = [&]() {
        return report(Error(Reason::Cancelled, QStringLiteral("import cancelled")));
    };

    SecureFileIndex& index = change.index();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QString& folder : std::as_const(newFolders)) {
        index.addDirectory(VaultDirectoryEntry{folder, now, now});
        ++pending.foldersCreated;
    }

    qint64 bytesDone = 0;
    for (qsizetype n = 0; n < plan.size(); ++n) {
        if (cancelRequested())
            return cancelled();
        const PlannedFile& planned = plan.at(n);
        const ImportBatchItem& item = items.at(planned.item);
        BatchProgress state{int(n + 1), int(plan.size()), bytesDone, bytesTotal, planned.vaultPath};
        if (progress)
            progress(state);

        // Looked at again: the tree may have changed since it was gathered.
        const QFileInfo info(item.sourcePath);
        if (info.isSymLink() || info.isJunction()) {
            out.skipped.append(SkippedItem{item.sourcePath, Why::Link, Error()});
            continue;
        }
        QFile source(item.sourcePath);
        if (!info.exists() || !info.isFile()) {
            out.skipped.append(
                SkippedItem{item.sourcePath, Why::Unreadable,
                            Error(Reason::SourceUnreadable, QStringLiteral("missing or not a file"))});
            continue;
        }
        // Reading the container while appending to it would never reach its end.
        if (sameFile(item.sourcePath, m_containerPath)) {
            out.skipped.append(
                SkippedItem{item.sourcePath, Why::Failed,
                            Error(Reason::InvalidArgument, QStringLiteral("the source is the container"))});
            continue;
        }
        if (!source.open(QIODevice::ReadOnly)) {
            out.skipped.append(SkippedItem{item.sourcePath, Why::Unreadable,
                                           Error(Reason::SourceUnreadable, source.errorString())});
            continue;
        }

        if (const Error opened = change.openPayload(); !opened.ok())
            return report(opened);
        const qint64 fileStart = change.payload().pos();
        VaultFileEntry entry;
        entry.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        entry.vaultPath = planned.vaultPath;
        entry.lastModifiedUtc = info.fileTime(QFileDevice::FileModificationTime).toUTC();
        const ProgressCallback blockProgress = [&](qint64 done, qint64, const QString&) {
            if (!progress)
                return;
            state.bytesDone = bytesDone + qMin(done, item.sizeBytes);
            progress(state);
        };
        if (const Error appended = appendBlocks(change, source, item.sizeBytes, blockProgress, &entry);
            !appended.ok()) {
            if (!appended.is(Reason::SourceUnreadable))
                return appended.is(Reason::Cancelled) ? cancelled() : report(appended);
            // A file that fails half way is left out; its blocks are cut off
            // so the next file's go in their place.
            ContainerFile& payload = change.payload();
            if (!payload.resize(fileStart) || !payload.seek(fileStart))
                return report(payload.error());
            out.skipped.append(SkippedItem{item.sourcePath, Why::Unreadable, appended});
            continue;
        }

        if (!planned.replaces.isEmpty() && planned.replaces != entry.vaultPath)
            index.remove(planned.replaces);
        for (const QString& folder : planned.newFolders) {
            index.addDirectory(VaultDirectoryEntry{folder, now, now});
            ++pending.foldersCreated;
        }
        if (!index.addOrReplace(entry))
            return report(Error(Reason::Internal, QStringLiteral("index refused the entry")));
        ++(planned.replaces.isEmpty() ? pending.imported : pending.replaced);
        pending.bytes += entry.sizeBytes;
        bytesDone += item.sizeBytes;
        storedSinceCheckpoint += storedSize(entry.sizeBytes);

        const bool last = n + 1 == plan.size();
        if (!last && (storedSinceCheckpoint >= batch.checkpointBytes() ||
                      sinceCheckpoint.elapsed() >= batch.checkpointMsecs())) {
            if (const Error stored = checkpoint(); !stored.ok())
                return report(stored);
        }
    }
    if (cancelRequested())
        return cancelled();
    if (progress && !plan.isEmpty())
        progress(
            BatchProgress{int(plan.size()), int(plan.size()), bytesTotal, bytesTotal, plan.last().vaultPath});
    // Nothing to store when every file was skipped and no folder is new.
    const bool changed = pending.imported != committed.imported || pending.replaced != committed.replaced ||
                         pending.foldersCreated != committed.foldersCreated;
    if (changed) {
        if (const Error stored = checkpoint(); !stored.ok())
            return report(stored);
    }
    return report(Error());
}

} // namespace Keldra::Core
