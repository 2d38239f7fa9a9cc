#pragma once

#include <QString>

namespace Keldra::Core {

// Removes the plain copies that a crashed or killed run left in its
// workspace. Each run marks its workspace with an owner file beside it
// ("<workspace>.owner": process id, its start time and the boot it ran in);
// at the next start every workspace of the same user whose owner is no
// longer running is removed. Workspaces without a mark are left alone: we
// cannot tell whose they are.
class StaleWorkspaceSweeper
{
public:
    static QString ownerMarkPath(const QString& workspacePath);
    // Records the running process as the owner of the workspace.
    [[nodiscard]] static bool markOwner(const QString& workspacePath);
    static void removeOwnerMark(const QString& workspacePath);
    // Looks at "<tempRoot>/Keldra/<uuid>" and "<tempRoot>/Keldra-<uuid>";
    // returns how many stale workspaces were removed.
    static int removeStaleWorkspaces(const QString& tempRoot);

    // The mark's text for the running process, and whether a mark names a live process.
    static QByteArray currentOwner();
    static bool ownerIsRunning(const QByteArray& mark);
};

} // namespace Keldra::Core
