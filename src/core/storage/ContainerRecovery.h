#pragma once

#include "Error.h"
#include "storage/HeaderJournal.h"

#include <QString>

namespace Keldra::Core {

// Settles whatever an interrupted run left beside a container. Run it before
// anything reads the container for a change (unlock, password change, every
// command of keldra-cli) and before any change starts (appended blocks must
// never precede a roll-back that truncates the file).
class ContainerRecovery
{
public:
    // The compacted copy written beside the container before it replaces it.
    static QString compactTempPath(const QString& containerPath);

    // Rolls back a torn header rewrite the judge accepts, sets aside a journal
    // it refuses, and removes a leftover compacted copy. Fails only when an
    // interrupted change could not be settled (or the judge left it for
    // later); the container must not be changed then.
    [[nodiscard]] static Error recover(const QString& containerPath, const HeaderJournal::Judge& judge);
    // Without the vault's key: nothing is rolled back. A journal that would
    // roll the container back makes it fail and stays for an unlock to judge.
    [[nodiscard]] static Error recover(const QString& containerPath);
};

} // namespace Keldra::Core
