#pragma once

#include "core/Error.h"

#include <QString>

namespace Keldra::Texts {

// The window's one table from a failure reason to its message. Reasons that
// mean the same whatever the command (a damaged container, a full drive, a
// full index...) have a text of their own; the others are best told by the
// command's own message, which also covers a wrong password (it cannot be
// told from an altered container) and a copy open for editing.
class VaultErrorText
{
public:
    // The reason's own text, or an empty string when the command's message says it better.
    static QString forReason(const Core::Error& error);
    // Why an export refused its destination (the vault itself, under any
    // name), or an empty string for any other failure.
    static QString forExportDestination(const Core::Error& error);
    // What a failed command shows: the reason's own text, else `commandText`.
    // `commandReason` is a reason that `commandText` already explains in the
    // command's own words; the command's text then wins.
    static QString message(const Core::Error& error, const QString& commandText,
                           Core::Error::Reason commandReason = Core::Error::Reason::None);
};

} // namespace Keldra::Texts
