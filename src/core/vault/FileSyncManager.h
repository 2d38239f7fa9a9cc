#pragma once

#include "vault/TrackedTempFile.h"
#include "vault/WorkspaceRecord.h"

#include <QHash>
#include <QList>
#include <QString>

namespace Keldra::Core {

// Remembers the temporary copies opened for editing and tells which of them
// the editor has changed since (by size and SHA-256). Once a workspace is
// given, every change of the list is written to its record, so a crash
// cannot make the next session forget an edited copy.
class FileSyncManager
{
public:
    // The workspace whose record mirrors the list, and the vault it belongs to.
    [[nodiscard]] bool attach(const QString& workspacePath, const QString& containerPath,
                              const QByteArray& vaultId);
    // Stops writing the record (the record itself stays on disk).
    void detach();

    // Measures the copy now; false (and nothing tracked) when it cannot be
    // read or the record cannot be written.
    [[nodiscard]] bool track(const QString& vaultPath, const QString& tempPath);
    void untrack(const QString& vaultPath);
    // The copy of oldVaultPath now belongs to newVaultPath; its file stays where the editor has it.
    void retarget(const QString& oldVaultPath, const QString& newVaultPath);
    bool isModified(const QString& vaultPath) const;
    // The record of vaultPath in any letter case; false when it is not tracked.
    bool find(const QString& vaultPath, TrackedTempFile* out = nullptr) const;
    QList<TrackedTempFile> trackedFiles() const;
    QList<TrackedTempFile> modifiedFiles() const;
    void clear();

private:
    bool saveRecord() const;

    QHash<QString, TrackedTempFile> m_files;
    QString m_workspacePath;
    WorkspaceRecord m_record;
};

} // namespace Keldra::Core
