#pragma once

#include "deployment/DeploymentError.h"

#include <QString>

namespace Keldra::Deployment {

// The drive's record of a bundle swap in progress, Keldra/update-in-progress.json. It is
// written before the first rename and removed after the last clean-up, so a run that
// finds it knows an update was cut short and can finish or undo it.
struct UpdateJournal
{
    QString staging;     // the staging folder's name at the drive root: ".update-<stamp>"
    QString backupStamp; // names the backups: windows.backup-<stamp>, linux.backup-<stamp>
    QString version;     // what the swap installs
    QString sha256;
    bool hadWindows = false; // the drive had Keldra/windows before the swap
    bool hadLinux = false;
    bool swapped = false; // both new bundles are in place; only the state file may lag
};

QString updateJournalPath(const QString& root);

// Atomic (QSaveFile).
[[nodiscard]] Error writeUpdateJournal(const QString& root, const UpdateJournal& journal);

// False when there is none, or when it is not one this tool wrote (it then names
// nothing that may be touched).
[[nodiscard]] bool readUpdateJournal(const QString& root, UpdateJournal* journal);

} // namespace Keldra::Deployment
