#pragma once

#include "Error.h"

#include <QSet>
#include <QString>

class QFileDevice;

namespace Keldra::Core {

// Makes a run of new files durable once, at its end, instead of syncing each
// one: on a USB stick a thousand small files synced one by one take many
// times longer than the writing. Where the system can sync a whole file
// system (syncfs on Linux) each file is only written and renamed, and
// finish() syncs once per file system written to. Elsewhere every file is
// synced before its rename (FlushFileBuffers on Windows, fsync on other
// systems), and finish() syncs the folders' entries where the system needs it.
class DeferredSync
{
public:
    // `file` is written and flushed, about to be renamed into place.
    [[nodiscard]] Error beforeRename(QFileDevice* file);
    // `folder` received a file since the last finish().
    void renamedInto(const QString& folder) { m_folders.insert(folder); }
    // Everything written and renamed so far on the drive. Syncs nothing when
    // nothing was renamed.
    [[nodiscard]] Error finish();

    // The syncs every DeferredSync issued so far (files, folders and file
    // systems), for tests to count.
    static int syncCount();

private:
    QSet<QString> m_folders;
};

namespace OutsideFile {

// Renames `from` to `to` in one step. With `replace` an existing `to` is
// replaced; without, an existing `to` is left as it is and *existed is set
// (the result is then ok and `from` stays).
[[nodiscard]] Error moveIntoPlace(const QString& from, const QString& to, bool replace, bool* existed);

} // namespace OutsideFile

} // namespace Keldra::Core
