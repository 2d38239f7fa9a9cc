#pragma once

#include <QDateTime>
#include <QString>

namespace Keldra::Core {

// One decrypted copy handed to an external editor, remembered so that lock
// can store it back when the editor changed it.
struct TrackedTempFile
{
    QString vaultPath;
    QString tempPath;
    QDateTime lastModifiedUtc;
};

} // namespace Keldra::Core
