// Tree export: files and folders of the vault written into an outside
// folder under their own names, folders with everything inside them.

#include "vault/VaultManager.h"

#include "storage/DeferredSync.h"
#include "vault/ExportDestination.h"
#include "vault/VaultPath.h"
#include "vault/VaultSelection.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace Keldra::Core {

namespace {

using Reason = Error::Reason;

// Longest name the file systems here hold: 255 bytes on Linux, 255 UTF-16
// units on Windows.
constexpr int kMaxNameLength = 255;

// What an export writes where, worked out before anything is written.
struct ExportPlan
{
    struct File
    {
        QString vaultPath;
        QString target; // absolute outside path
        qint64 size = 0;
    };
    QStringList folders; // absolute outside paths, each after its parent
    QList<File> files;
    QList<SkippedItem> skipped;
    Error error;
};

// Whether the file systems here can hold a name of a vault made elsewhere.
// Windows refuses what the vault's own path rules refuse for new names; a
// name is never changed to fit, so that nothing lands where it was not asked.
bool outsideCanHold(const QString& name)
{
#ifdef Q_OS_WIN
    return VaultPath::isValidName(name) && name == name.trimmed() && name.size() <= kMaxNameLength;
#else
    return !name.contains(QChar(0)) && name.toUtf8().size() <= kMaxNameLength;
#endif
}

bool everyNameFits(const QString& relativePath)
{
    const QStringList names = relativePath.split(QLatin1Char('/'));
    return std::all_of(names.cbegin(), names.cend(), outsideCanHold);
}

ExportPlan planExport(const SecureFileIndex& index, const QStringList& vaultPaths, const QString& destination)
{
    ExportPlan plan;
    QStringList normalized;
    for (const QString& path : vaultPaths) {
        const QString clean = VaultPath::normalized(path);
        if (clean.isEmpty()) {
            plan.error = Error(Reason::InvalidPath, path);
            return plan;
        }
        normalized.append(clean);
    }
    const VaultSelection selection = VaultSelection::of(index, normalized);
    if (!selection.error().ok()) {
        plan.error = selection.error();
        return plan;
    }
    const QDir root(destination);
    // Targets already planned, case-folded: two selected items of one name
    // would otherwise write over each other, and many drives ignore case.
    QSet<QString> taken;
    const auto addFile = [&](const VaultFileEntry& entry, const QString& relative) {
        if (!everyNameFits(relative)) {
            plan.skipped.append(
                {entry.vaultPath, SkippedItem::Why::InvalidName,
                 Error(Reason::InvalidPath, QStringLiteral("name not held here: ") + relative)});
            return;
        }
        const QString target = root.filePath(relative);
        if (taken.contains(target.toCaseFolded())) {
            plan.skipped.append(
                {entry.vaultPath, SkippedItem::Why::Failed,
                 Error(Reason::AlreadyExists, QStringLiteral("another item of this name: ") + target)});
            return;
        }
        taken.insert(target.toCaseFolded());
        plan.files.append({entry.vaultPath, target, entry.sizeBytes});
    };
    const QHash<QString, QString> knownFolders = VaultSelection::knownFolders(index);
    const QList<VaultFileEntry> entries = index.entries();
    for (const VaultSelection::Item& item : selection.items()) {
        // Outside paths are relative to the item's parent folder in the vault.
        const QString parent = VaultPath::parent(item.path);
        const qsizetype cut = parent.isEmpty() ? 0 : parent.size() + 1;
        if (!item.folder) {
            if (const VaultFileEntry* entry = VaultPath::findFile(index, item.path))
                addFile(*entry, item.path.mid(cut));
            continue;
        }
        QStringList folders;
        for (const QString& folder : knownFolders) {
            if (QString::compare(folder, item.path, Qt::CaseInsensitive) == 0 ||
                VaultPath::isInside(folder, item.path))
                folders.append(folder);
        }
        // Parents before their children.
        std::sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) {
            return a.count(QLatin1Char('/')) < b.count(QLatin1Char('/'));
        });
        for (const QString& folder : std::as_const(folders)) {
            const QString relative = folder.mid(cut);
            if (!everyNameFits(relative)) {
                plan.skipped.append(
                    {folder, SkippedItem::Why::InvalidName,
                     Error(Reason::InvalidPath, QStringLiteral("name not held here: ") + relative)});
                continue;
            }
            plan.folders.append(root.filePath(relative));
        }
        for (const VaultFileEntry& entry : entries) {
            if (VaultPath::isInside(entry.vaultPath, item.path))
                addFile(entry, entry.vaultPath.mid(cut));
        }
    }
    return plan;
}

bool exists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Failures after which no later file of the batch could be written either.
bool endsTheBatch(const Error& error)
{
    return error.is(Reason::Cancelled) || error.is(Reason::WrongState) ||
           error.is(Reason::ContainerUnavailable) || error.is(Reason::VaultInUse);
}

} // namespace

QStringList VaultManager::existingExportTargets(const QStringList& vaultPaths,
                                                const QString& destinationFolder) const
{
    m_lastError = Error();
    if (m_state != VaultState::Unlocked) {
        (void)fail(Reason::WrongState, QStringLiteral("not unlocked"));
        return {};
    }
    const ExportPlan plan = planExport(m_index, vaultPaths, QFileInfo(destinationFolder).absoluteFilePath());
    if (!plan.error.ok()) {
        (void)fail(plan.error);
        return {};
    }
    QStringList existing;
    for (const ExportPlan::File& file : plan.files) {
        if (exists(file.target))
            existing.append(file.target);
    }
    return existing;
}

bool VaultManager::exportBatch(const QStringList& vaultPaths, const QString& destinationFolder,
                               ExistingFiles existing, const BatchProgressCallback& progress,
                               ExportBatchSummary* summary) const
{
    m_lastError = Error();
    ExportBatchSummary done;
    // What was written is made durable once, at the end, also when the batch
    // stops early: the files already in place stay.
    DeferredSync sync;
    const auto finishWith = [&](const Error& error) {
        const Error synced = sync.finish();
        if (summary)
            *summary = done;
        return finish(error.ok() ? synced : error);
    };
    if (m_state != VaultState::Unlocked)
        return finishWith(Error(Reason::WrongState, QStringLiteral("not unlocked")));
    QString destination;
    if (const Error refused =
            ExportDestination::resolveFolder(destinationFolder, m_containerPath, &destination);
        !refused.ok())
        return finishWith(refused);
    const ExportPlan plan = planExport(m_index, vaultPaths, destination);
    if (!plan.error.ok())
        return finishWith(plan.error);
    if (!QFileInfo(destination).isDir() && !QDir().mkpath(destination))
        return finishWith(Error(Reason::DestinationUnwritable, QStringLiteral("cannot make ") + destination));

    Error firstFailure;
    const auto skip = [&](const SkippedItem& item) {
        done.skipped.append(item);
        if (item.why != SkippedItem::Why::Existing && firstFailure.ok())
            firstFailure = item.error;
    };
    for (const SkippedItem& item : plan.skipped)
        skip(item);

    for (const QString& folder : plan.folders) {
        // A folder inside the tree may take the name of the vault's own files.
        QString resolved;
        Error made = ExportDestination::resolveFolder(folder, m_containerPath, &resolved);
        const bool existed = made.ok() && QFileInfo(resolved).isDir();
        if (made.ok() && !existed && !QDir().mkdir(resolved))
            made = Error(Reason::DestinationUnwritable, QStringLiteral("cannot make ") + folder);
        if (!made.ok()) {
            // Its files fail on their own below, each with its name.
            skip({folder, SkippedItem::Why::Failed, made});
            continue;
        }
        if (!existed) {
            ++done.foldersCreated;
            sync.renamedInto(QFileInfo(resolved).absolutePath());
        }
    }

    BatchProgress state;
    state.fileCount = static_cast<int>(plan.files.size());
    for (const ExportPlan::File& file : plan.files)
        state.bytesTotal += file.size;
    qint64 bytesBefore = 0;
    for (const ExportPlan::File& file : plan.files) {
        ++state.fileNumber;
        state.currentName = file.vaultPath;
        state.bytesDone = bytesBefore;
        if (cancelRequested())
            return finishWith(Error(Reason::Cancelled, QStringLiteral("export cancelled")));
        if (existing == ExistingFiles::Skip && exists(file.target)) {
            skip({file.vaultPath, SkippedItem::Why::Existing, Error()});
            bytesBefore += file.size;
            continue;
        }
        if (progress)
            progress(state);
        const ProgressCallback fileProgress = [&](qint64 bytes, qint64, const QString&) {
            state.bytesDone = bytesBefore + bytes;
            if (progress)
                progress(state);
        };
        bool appeared = false;
        if (!exportForBatch(file.vaultPath, file.target, existing == ExistingFiles::Replace, fileProgress,
                            &sync, &appeared)) {
            const Error error = m_lastError;
            if (endsTheBatch(error))
                return finishWith(error);
            // The reason with the outside path in front, for a log to name the file.
            skip({file.vaultPath, SkippedItem::Why::Failed, error.within(file.target)});
        } else if (appeared) {
            // Made by someone else while this file was written: still not written over.
            skip({file.vaultPath, SkippedItem::Why::Existing, Error()});
        } else {
            ++done.exported;
            done.bytes += file.size;
        }
        bytesBefore += file.size;
    }
    state.bytesDone = bytesBefore;
    if (progress && state.fileCount > 0)
        progress(state);
    return finishWith(firstFailure);
}

} // namespace Keldra::Core
