#pragma once

#include "Error.h"

#include <QString>

namespace Keldra::Core {

// Settles whatever an interrupted run left beside a container. Run it before
// anything reads the container (unlock, password change, every command of
// keldra-cli) and before any change starts (appended blocks must never
// precede a roll-back that truncates the file).
class ContainerRecovery
{
public:
    // The compacted copy written beside the container before it replaces it.
    static QString compactTempPath(const QString& containerPath);

    // Rolls back a torn header rewrite and removes a leftover compacted copy.
    // Fails only when an interrupted change could not be settled; the
    // container must not be used then.
    [[nodiscard]] static Error recover(const QString& containerPath);
};

} // namespace Keldra::Core
