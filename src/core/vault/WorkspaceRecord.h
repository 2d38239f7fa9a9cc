#pragma once

#include "vault/TrackedTempFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace Keldra::Core {

// The record kept beside a workspace ("<workspace>.copies"): which vault its
// copies belong to and what each copy held when it was opened. It outlives a
// crash, so the next session can tell an edited copy from an untouched one
// and offer it back to the same vault.
struct WorkspaceRecord
{
    QString containerPath;
    // Derived from the vault's master key: the same vault whatever path its drive mounts at.
    QByteArray vaultId;
    QList<TrackedTempFile> copies;

    static QString pathFor(const QString& workspacePath);
    // Readable by the owner only; replaced in one step. Refused unless the
    // workspace lies in a folder of the user alone.
    [[nodiscard]] bool save(const QString& workspacePath) const;
    // False when missing or unreadable. Copies whose path would leave the workspace are dropped.
    [[nodiscard]] static bool load(const QString& workspacePath, WorkspaceRecord* out);

    // A copy differs from what it was opened with: another size or SHA-256.
    // A copy that is there but cannot be read counts as changed, so it is
    // never wiped unseen; a missing copy has nothing to store.
    static bool copyChanged(const TrackedTempFile& copy);
    // Size and SHA-256 of a file; false when it cannot be read.
    static bool measure(const QString& path, qint64* size, QByteArray* sha256);
    // Overwrites a plain copy with zeros before removing it.
    static bool wipeFile(const QString& path);
};

} // namespace Keldra::Core
