// Editing through temporary copies: decrypt a file into the private
// workspace for the desktop's editor, and store changed copies back.

#include "vault/VaultManager.h"
#include "vault/VaultPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Keldra::Core {

namespace {

// Plain copies are readable by their owner only.
constexpr QFileDevice::Permissions OwnerReadWrite = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

using Reason = Error::Reason;

} // namespace

bool VaultManager::prepareFileForEditing(const QString& vaultPath, QString* tempPath)
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

    const QString copyPath = m_tempWorkspace.pathForVaultFile(normalized);
    const auto workspace = [&](const QString& why) { return fail(Reason::WorkspaceUnavailable, why); };
    if (!QDir().mkpath(QFileInfo(copyPath).absolutePath()))
        return workspace(QStringLiteral("folder for the copy"));

    QFile file(copyPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate, OwnerReadWrite))
        return workspace(file.errorString());
    // An existing copy keeps the rights it had; narrow them before writing.
    if (!file.setPermissions(OwnerReadWrite))
        return workspace(file.errorString());
    if (!writeVaultFileToDevice(normalized, &file)) {
        // The copy is the destination here, and it lives in the workspace.
        if (m_lastError.is(Reason::DestinationUnwritable))
            return workspace(m_lastError.detail());
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        return workspace(file.errorString());

    if (!m_fileSync.track(normalized, copyPath))
        return workspace(QStringLiteral("copy vanished"));
    *tempPath = QFileInfo(copyPath).absoluteFilePath();
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

} // namespace Keldra::Core
