#pragma once

#include "Error.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace Keldra::Core {

// The compacted container kept on the local disk while compaction without
// room on the drive empties the container and writes it again: until that
// write is complete it is the only whole copy of the vault. It lives in a
// private per-user folder that survives a restart (not the temporary folder,
// which may be memory), one subfolder per container, with a record naming
// the container it belongs to and the copy's size and SHA-256, so the next
// unlock can find it and put it back.
//
// The folder is $KELDRA_STATE_DIR when set, else $XDG_STATE_HOME/keldra or
// ~/.local/state/keldra (%LOCALAPPDATA%\Keldra on Windows).
class CompactionCopy
{
public:
    struct Kept
    {
        QString path; // the copy
        qint64 size = 0;
        QByteArray sha256;
    };

    // Copies `scratch` into the folder of `containerPath`, then writes the
    // record; both are synced before this returns.
    [[nodiscard]] static Error keep(const QString& scratch, const QString& containerPath, Kept* kept);
    // The copy recorded for `containerPath` whose bytes still match the record.
    [[nodiscard]] static bool find(const QString& containerPath, Kept* kept);
    // Writes the copy over the container (beside it and renamed when the
    // drive has room, else in place), synced. `verify` checks what the drive holds.
    [[nodiscard]] static Error restore(const Kept& kept, const QString& containerPath,
                                       const std::function<Error(const QString&)>& verify);
    // Removes the copy and its record.
    static void discard(const QString& containerPath);
    // Removes what find() does not accept: a copy left without a whole
    // record (by a run killed while writing or removing it), or one whose
    // bytes no longer match it. Such a copy is never put back.
    static void discardUnusable(const QString& containerPath);
};

} // namespace Keldra::Core
