#pragma once

#include "vault/TrackedTempFile.h"

#include <QHash>
#include <QList>
#include <QString>

namespace Keldra::Core {

// Remembers the temporary copies opened for editing and tells which of them
// the editor has saved since (by modification time only).
class FileSyncManager
{
public:
    [[nodiscard]] bool track(const QString& vaultPath, const QString& tempPath);
    void untrack(const QString& vaultPath);
    bool isModified(const QString& vaultPath) const;
    QList<TrackedTempFile> trackedFiles() const;
    QList<TrackedTempFile> modifiedFiles() const;
    void clear();

private:
    QHash<QString, TrackedTempFile> m_files;
};

} // namespace Keldra::Core
