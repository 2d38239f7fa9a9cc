// Editing through temporary copies: decrypt a file into the private
// workspace for the desktop's editor, and store changed copies back.

#include "vault/VaultManager.h"
#include "vault/VaultManagerHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Keldra::Core {

namespace {

// Plain copies are readable by their owner only.
constexpr QFileDevice::Permissions OwnerReadWrite = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

bool VaultManager::prepareFileForEditing(const QString& vaultPath, QString* tempPath)
{
    if (m_state != VaultState::Unlocked || !tempPath)
        return false;
    const QString normalized = detail::normalizedVaultPath(vaultPath);
    if (normalized.isEmpty())
        return false;
    // No empty copy for a file that is not in the vault.
    if (!detail::indexContainsFilePath(m_index, normalized))
        return false;

    const QString copyPath = m_tempWorkspace.pathForVaultFile(normalized);
    if (!QDir().mkpath(QFileInfo(copyPath).absolutePath()))
        return false;

    QFile file(copyPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate, OwnerReadWrite))
        return false;
    // An existing copy keeps the rights it had; narrow them before writing.
    if (!file.setPermissions(OwnerReadWrite))
        return false;
    if (!writeVaultFileToDevice(normalized, &file))
        return false;
    file.close();
    if (file.error() != QFileDevice::NoError)
        return false;

    if (!m_fileSync.track(normalized, copyPath))
        return false;
    *tempPath = QFileInfo(copyPath).absoluteFilePath();
    return true;
}

bool VaultManager::syncModifiedTempFiles()
{
    const QList<TrackedTempFile> modified = m_fileSync.modifiedFiles();
    for (const TrackedTempFile& file : modified) {
        if (!importFile(file.tempPath, file.vaultPath))
            return false;
    }
    return true;
}

} // namespace Keldra::Core
