#pragma once

// Brings a vault's index to the end of its header region cheaply: a few
// folders with very long names instead of tens of thousands of files.

#include "core/Error.h"
#include "core/format/ContainerFormat.h"
#include "core/vault/VaultManager.h"

#include <QFile>
#include <QString>

namespace VaultTest {

// The header length in the container's length line; -1 when unreadable.
inline qint64 headerLength(const QString& container)
{
    QFile file(container);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(Keldra::Core::ContainerFormat::MagicSize))
        return -1;
    bool ok = false;
    const qint64 length = file.read(Keldra::Core::ContainerFormat::LengthDigits).toLongLong(&ok);
    return ok ? length : -1;
}

// Adds folders below "Full" to an unlocked vault until fewer than `room`
// bytes of the header region are left or not even a short folder fits: no
// new file or folder can be added then. False when the vault refuses for
// another reason.
inline bool fillIndex(Keldra::Core::VaultManager& vault, qint64 room = 64)
{
    using Reason = Keldra::Core::Error::Reason;
    qint64 margin = 200; // a folder record's JSON beside its name, and some slack
    for (int n = 0; n < 64; ++n) {
        const qint64 left =
            Keldra::Core::ContainerFormat::HeaderRegionSize - headerLength(vault.containerPath());
        if (left < room)
            return true;
        // Every byte of index JSON takes 4/3 of a byte of header (Base64).
        const qint64 nameLength = qMax<qint64>(1, left * 3 / 4 - margin);
        const QString name = QStringLiteral("Full/%1-").arg(n) + QString(int(nameLength), QLatin1Char('x'));
        if (vault.createDirectory(name))
            continue;
        if (!vault.lastError().is(Reason::IndexFull))
            return false;
        if (nameLength == 1)
            return true;
        margin += 16;
    }
    return false;
}

} // namespace VaultTest
