#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace Keldra::Core {

// One decrypted copy handed to an external editor, remembered so that lock
// can store it back when the editor changed it. The size and SHA-256 it was
// written with tell a change; editors may keep or step back the file time.
struct TrackedTempFile
{
    QString vaultPath;
    QString tempPath;
    QDateTime lastModifiedUtc;
    qint64 openedSize = -1;
    QByteArray openedSha256;
};

} // namespace Keldra::Core
