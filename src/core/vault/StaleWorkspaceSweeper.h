#pragma once

#include "vault/WorkspaceRecord.h"

#include <QList>
#include <QString>

namespace Keldra::Core {

// Removes the plain copies that a crashed or killed run left in its
// workspace. Each run marks its workspace with an owner file beside it
// ("<workspace>.owner": process id, its start time and the boot it ran in);
// at the next start every workspace of the same user whose owner is no
// longer running is removed, unless its record shows an edited copy: that
// one is a leftover, kept until the next unlock of its vault stores it.
// Folders without a mark are left alone: we cannot tell whose they are.
class StaleWorkspaceSweeper
{
public:
    static QString ownerMarkPath(const QString& workspacePath);
    // Records the running process as the owner of the workspace.
    [[nodiscard]] static bool markOwner(const QString& workspacePath);
    static void removeOwnerMark(const QString& workspacePath);
    // Gives the workspace up: it is a leftover from now on, as after a crash.
    [[nodiscard]] static bool releaseOwner(const QString& workspacePath);
    // Marks a leftover as ours while it is stored. Marks are written only in
    // a folder of ours alone (PrivateTempFolder): an earlier version's
    // workspace in the shared folder is taken without a mark.
    [[nodiscard]] static bool claim(const QString& workspacePath);
    // Looks at "<private folder>/<uuid>" and "<private folder>/compact-*",
    // and at the places of earlier versions: "<tempRoot>/Keldra/<uuid>",
    // "<tempRoot>/Keldra-<uuid>" and "<tempRoot>/Keldra-compact-*"; returns
    // how many stale folders were removed.
    static int removeStaleWorkspaces(const QString& tempRoot);
    // The folder, its record and its mark.
    static bool removeWorkspace(const QString& workspacePath);

    // Workspaces of dead runs that hold edited copies.
    struct Leftover
    {
        QString workspacePath;
        WorkspaceRecord record;
        QList<TrackedTempFile> changed;
    };
    static QList<Leftover> leftovers(const QString& tempRoot);

    // The mark's text for the running process, and whether a mark names a live process.
    static QByteArray currentOwner();
    static bool ownerIsRunning(const QByteArray& mark);
};

} // namespace Keldra::Core
