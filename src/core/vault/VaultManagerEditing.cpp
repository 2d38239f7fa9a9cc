// Editing through temporary copies: decrypt a file into the private
// workspace for the desktop's editor, store changed copies back, and store
// the edits an earlier session left behind.

#include "crypto/SecureMemory.h"
#include "vault/StaleWorkspaceSweeper.h"
#include "vault/VaultManager.h"
#include "vault/VaultPath.h"
#include "vault/WorkspaceRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Keldra::Core {

namespace {

// Plain copies are readable by their owner only.
constexpr QFileDevice::Permissions OwnerReadWrite = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

using Reason = Error::Reason;

bool samePath(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

// "Docs/a.txt" -> "Docs/a<suffix>.txt"; a leading dot is part of the name.
QString withSuffix(const QString& vaultPath, const QString& suffix)
{
    const QString name = VaultPath::baseName(vaultPath);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString renamed = dot > 0 ? name.left(dot) + suffix + name.mid(dot) : name + suffix;
    return VaultPath::join(VaultPath::parent(vaultPath), renamed);
}

// A vault made elsewhere may hold names that are absolute or special here
// ("C:/...", ":res/..."): the copy must land inside the workspace or nowhere.
bool liesInside(const QString& copyPath, const QString& workspace)
{
    const QString root = QDir::cleanPath(QFileInfo(workspace).absoluteFilePath());
    const QString copy = QDir::cleanPath(QFileInfo(copyPath).absoluteFilePath());
    return !root.isEmpty() && !copyPath.startsWith(QLatin1Char(':')) && QFileInfo(copyPath).isAbsolute() &&
           copy.startsWith(root + QLatin1Char('/'));
}

} // namespace

QString VaultManager::freeCopyPath(const QString& vaultPath) const
{
    const QList<TrackedTempFile> tracked = m_fileSync.trackedFiles();
    const auto taken = [&](const QString& path) {
        for (const TrackedTempFile& copy : tracked) {
            if (samePath(copy.tempPath, path))
                return true;
        }
        return false;
    };
    QString candidate = QFileInfo(m_tempWorkspace.pathForVaultFile(vaultPath)).absoluteFilePath();
    for (int n = 2; taken(candidate); ++n) {
        candidate =
            QFileInfo(m_tempWorkspace.pathForVaultFile(withSuffix(vaultPath, QStringLiteral(" (%1)").arg(n))))
                .absoluteFilePath();
    }
    return candidate;
}

bool VaultManager::prepareFileForEditing(const QString& vaultPath, QString* tempPath,
                                         const ProgressCallback& progress)
{
    m_lastError = Error();
    if (m_state != VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    if (!tempPath)
        return fail(Reason::InvalidArgument, QStringLiteral("no path to return"));
    const QString normalized = VaultPath::normalized(vaultPath);
    if (normalized.isEmpty())
        return fail(Reason::InvalidPath, vaultPath);
    // No empty copy for a file that is not in the vault.
    if (!VaultPath::hasFile(m_index, normalized))
        return fail(Reason::FileNotFound, normalized);
    // Tracked under the index's spelling, so renames and lock find it.
    QString stored = normalized;
    const QList<VaultFileEntry> entries = m_index.entries();
    for (const VaultFileEntry& entry : entries) {
        if (samePath(entry.vaultPath, normalized))
            stored = entry.vaultPath;
    }

    TrackedTempFile open;
    const bool tracked = m_fileSync.find(stored, &open);
    if (tracked && m_fileSync.isModified(open.vaultPath))
        return fail(Reason::FileInUse, QStringLiteral("open copy holds edits: ") + stored);
    const QString copyPath = tracked ? open.tempPath : freeCopyPath(stored);
    if (!liesInside(copyPath, m_tempWorkspace.workspacePath()))
        return fail(Reason::InvalidPath, stored);
    if (tracked)
        m_fileSync.untrack(open.vaultPath);

    // Whatever fails below, no untracked plaintext is left behind.
    const auto workspace = [&](const QString& why) {
        (void)WorkspaceRecord::wipeFile(copyPath);
        return fail(Reason::WorkspaceUnavailable, why);
    };
    if (!QDir().mkpath(QFileInfo(copyPath).absolutePath()))
        return workspace(QStringLiteral("folder for the copy"));

    QFile file(copyPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate, OwnerReadWrite))
        return workspace(file.errorString());
    // An existing copy keeps the rights it had; narrow them before writing.
    if (!file.setPermissions(OwnerReadWrite))
        return workspace(file.errorString());
    if (!writeVaultFileToDevice(stored, &file, progress)) {
        file.close();
        // The copy is the destination here, and it lives in the workspace.
        if (m_lastError.is(Reason::DestinationUnwritable))
            return workspace(m_lastError.detail());
        const Error why = m_lastError;
        (void)WorkspaceRecord::wipeFile(copyPath);
        return fail(why);
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        return workspace(file.errorString());

    if (!m_fileSync.track(stored, copyPath))
        return workspace(QStringLiteral("copy not readable or its record not written"));
    *tempPath = copyPath;
    return true;
}

bool VaultManager::discardOpenCopy(const QString& vaultPath)
{
    m_lastError = Error();
    if (m_state != VaultState::Unlocked)
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    TrackedTempFile open;
    if (!m_fileSync.find(VaultPath::normalized(vaultPath), &open))
        return true;
    m_fileSync.untrack(open.vaultPath);
    if (!WorkspaceRecord::wipeFile(open.tempPath))
        return fail(Reason::WorkspaceUnavailable, QStringLiteral("copy not removed"));
    return true;
}

bool VaultManager::syncModifiedTempFiles()
{
    m_lastError = Error();
    const QList<TrackedTempFile> modified = m_fileSync.modifiedFiles();
    for (const TrackedTempFile& file : modified) {
        if (!importFile(file.tempPath, file.vaultPath)) {
            // The source of this import is a copy in the workspace.
            if (m_lastError.is(Reason::SourceUnreadable))
                return fail(Reason::WorkspaceUnavailable, m_lastError.detail());
            return false;
        }
    }
    return true;
}

QList<TrackedTempFile> VaultManager::recoverableCopies() const
{
    QList<TrackedTempFile> copies;
    if (m_state != VaultState::Unlocked || m_vaultId.isEmpty())
        return copies;
    const QList<StaleWorkspaceSweeper::Leftover> leftovers =
        StaleWorkspaceSweeper::leftovers(m_tempWorkspace.tempRoot());
    for (const StaleWorkspaceSweeper::Leftover& leftover : leftovers) {
        if (leftover.record.vaultId == m_vaultId)
            copies += leftover.changed;
    }
    return copies;
}

QString VaultManager::recoveryTarget(const TrackedTempFile& copy) const
{
    QString path = VaultPath::normalized(copy.vaultPath);
    if (path.isEmpty())
        path = VaultPath::normalized(QFileInfo(copy.tempPath).fileName());
    qint64 size = -1;
    QByteArray sha256;
    (void)WorkspaceRecord::measure(copy.tempPath, &size, &sha256);
    // The entry at `at` (any letter case), if there is one.
    const auto entryAt = [&](const QString& at, VaultFileEntry* out) {
        const QList<VaultFileEntry> entries = m_index.entries();
        for (const VaultFileEntry& entry : entries) {
            if (samePath(entry.vaultPath, at)) {
                *out = entry;
                return true;
            }
        }
        return false;
    };
    // A recovery cut short may have stored this copy already: never twice.
    const auto holdsCopy = [&](const VaultFileEntry& entry) {
        return entry.sizeBytes == size && entry.sha256 == sha256;
    };

    VaultFileEntry entry;
    const bool present = entryAt(path, &entry);
    if (!present && !VaultPath::hasFolder(m_index, path))
        return path; // gone meanwhile: the edit brings it back
    if (present && holdsCopy(entry))
        return QString();
    if (present && entry.sizeBytes == copy.openedSize && entry.sha256 == copy.openedSha256)
        return entry.vaultPath; // as the copy found it: the edit replaces it
    // Changed meanwhile: both versions are kept.
    QString target = withSuffix(path, QStringLiteral(" (recuperado)"));
    for (int n = 2; VaultPath::hasFile(m_index, target) || VaultPath::hasFolder(m_index, target); ++n) {
        if (entryAt(target, &entry) && holdsCopy(entry))
            return QString();
        target = withSuffix(path, QStringLiteral(" (recuperado %1)").arg(n));
    }
    return target;
}

bool VaultManager::recoverCopies()
{
    m_lastError = Error();
    if (m_state != VaultState::Unlocked || m_vaultId.isEmpty())
        return fail(Reason::WrongState, QStringLiteral("not unlocked"));
    const QList<StaleWorkspaceSweeper::Leftover> leftovers =
        StaleWorkspaceSweeper::leftovers(m_tempWorkspace.tempRoot());
    for (const StaleWorkspaceSweeper::Leftover& leftover : leftovers) {
        if (leftover.record.vaultId != m_vaultId)
            continue;
        // Ours while we store it: another session must not take it meanwhile.
        if (!StaleWorkspaceSweeper::claim(leftover.workspacePath))
            return fail(Reason::WorkspaceUnavailable, QStringLiteral("leftover workspace not claimed"));
        for (const TrackedTempFile& copy : leftover.changed) {
            const QString target = recoveryTarget(copy);
            if (target.isEmpty() || importFile(copy.tempPath, target))
                continue;
            const Error why = m_lastError.is(Reason::SourceUnreadable)
                                  ? Error(Reason::WorkspaceUnavailable, m_lastError.detail())
                                  : m_lastError;
            (void)StaleWorkspaceSweeper::releaseOwner(leftover.workspacePath);
            return fail(why);
        }
        for (const TrackedTempFile& copy : leftover.changed)
            (void)WorkspaceRecord::wipeFile(copy.tempPath);
        if (!StaleWorkspaceSweeper::removeWorkspace(leftover.workspacePath))
            return fail(Reason::WorkspaceUnavailable, QStringLiteral("leftover workspace not removed"));
    }
    return true;
}

int VaultManager::abandonVault()
{
    if (m_state != VaultState::Unlocked)
        return 0;
    const QList<TrackedTempFile> tracked = m_fileSync.trackedFiles();
    int kept = 0;
    for (const TrackedTempFile& copy : tracked) {
        if (WorkspaceRecord::copyChanged(copy))
            ++kept;
        else
            (void)WorkspaceRecord::wipeFile(copy.tempPath);
    }
    m_fileSync.clear();
    m_fileSync.detach();
    if (kept > 0)
        m_tempWorkspace.abandon();
    else
        (void)m_tempWorkspace.cleanup(); // nothing of value in it; a failure only leaves wiped folders
    forgetMasterKey();
    wipe(m_vaultId);
    m_index.clear();
    m_state = VaultState::Locked;
    m_lastError = Error();
    return kept;
}

} // namespace Keldra::Core
