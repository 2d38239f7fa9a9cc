#pragma once

#include <QDir>
#include <QString>

namespace Keldra::Core {

// Owns the private folder on the local disk that holds the decrypted copies
// of vault files opened for editing. Nothing is created before prepare().
class TempWorkspaceManager
{
public:
    TempWorkspaceManager();

    // Creates the folder readable by its owner only (0700) inside the user's
    // private folder (PrivateTempFolder), never directly in the shared one.
    [[nodiscard]] bool prepare();
    QString workspacePath() const;
    // The system's temporary folder, where other sessions' workspaces are found too.
    QString tempRoot() const { return m_tempRoot; }
    QString pathForVaultFile(const QString& vaultPath) const;
    // Removes the folder, every copy in it and its record; true when nothing is left.
    [[nodiscard]] bool cleanup();
    // Leaves the folder as it is, for a later session to recover, and moves
    // on to a new folder for the next prepare().
    void abandon();

private:
    QString m_tempRoot;
    QString m_id;
    QDir m_dir;
};

} // namespace Keldra::Core
