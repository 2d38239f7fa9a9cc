#pragma once

#include "deployment/BundleSwap.h"

#include <QString>

namespace Keldra::Deployment {

enum class RecoveryOutcome {
    NothingToDo,
    Finished,         // an interrupted swap had both new bundles in place; it was completed
    RolledBack,       // an interrupted swap was undone; the old bundles are back
    LeftoversRemoved, // only stray staging folders or backups were found and removed
    JournalRejected,  // the record did not match the drive: set aside unused, strays removed
};

// Runs before anything else touches a prepared drive: finishes or undoes a bundle swap
// that was cut short (see UpdateJournal), then removes the staging folders at the root
// (".update-<stamp>") and the backups in Keldra/ ("windows.backup-<stamp>",
// "linux.backup-<stamp>"). A bundle folder that is missing gets its newest backup back
// before the backups go. Links are removed, never followed. A record that does not match
// what is on the drive is renamed aside ("update-in-progress.json.rejected-<stamp>") and
// not acted on. outcome (may be null) is set on success; on failure the record stays for
// the next try.
[[nodiscard]] Error recoverInterruptedUpdate(const QString& root, RecoveryOutcome* outcome = nullptr,
                                             const DirectoryRenamer& rename = renameDirectory);

} // namespace Keldra::Deployment
