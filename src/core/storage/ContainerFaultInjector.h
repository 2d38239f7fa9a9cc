#pragma once

#include "Error.h"

#include <QList>
#include <QSet>
#include <QString>

namespace Keldra::Core {

// Process-wide hook consulted by ContainerFile before every operation that
// changes a file on the drive. Idle (and free) unless a test arms it: it can
// fail the Nth call, make the Nth call a short write, "crash" at the Nth
// call or byte, after which every further change is refused, as if the
// process had been killed, or fill the drive at the Nth write. It also records which files and folders were
// changed and not yet synced, so a test can check that a reported success
// has its data on the drive. Single-threaded, like the vault.
class ContainerFaultInjector
{
public:
    enum class Mode {
        Off,        // nothing counted, nothing refused
        Count,      // counts calls and bytes only
        FailCall,   // the Nth call reports an error; later calls work
        ShortWrite, // the Nth call, if a write, stores only half of its bytes
        CrashCall,  // the Nth call and everything after it is refused
        CrashByte,  // writing stops once N bytes were written; then everything is refused
        DriveFull,  // every write from the Nth call on fails as on a full drive; other calls work
    };

    // One write seen: its call number, where it started in the byte count, and its length.
    struct WriteRecord
    {
        int call = 0;
        qint64 firstByte = 0;
        qint64 length = 0;
    };

    static void reset();
    static void arm(Mode mode, qint64 target);
    static Mode mode();

    static int calls();
    static qint64 bytesWritten();
    // True once the armed fault has happened.
    static bool fired();
    static bool crashed();
    static QList<WriteRecord> writes();
    // Container headers rewritten (changed on the drive) while armed.
    static int headerRewrites();

    // Files written and folders changed (entries created, removed, renamed) since their last sync.
    static QSet<QString> unsyncedFiles();
    static QSet<QString> unsyncedFolders();

    // Power cut: every change that was not synced is lost. Written bytes go
    // back to what they were, sizes to their synced size, files created in an
    // unsynced folder vanish and files removed from one come back. (Renames
    // are kept.) Then the injector is reset.
    static void powerCut();

    // --- Used by ContainerFile --------------------------------------------
    // Whether a non-write operation (flush, sync, resize, remove, rename, open for writing) may run.
    static bool admitCall();
    // How many of `length` bytes may be written: -1 refuses the write.
    static qint64 admitWrite(qint64 length);
    // What a refused call or write reports: a full drive in DriveFull mode,
    // otherwise an ordinary write failure.
    static Error refusal();
    static void noteFileDirty(const QString& path);
    // Used by ContainerHeaderWriter when it is about to change a header.
    static void noteHeaderRewrite();
    // Called before the change, while the old bytes can still be read.
    static void noteOverwrite(const QString& path, qint64 offset, qint64 length);
    static void noteResize(const QString& path, qint64 size);
    static void noteCreated(const QString& path);
    static void noteRemoving(const QString& path);
    static void noteFileSynced(const QString& path);
    static void noteFolderDirty(const QString& path);
    static void noteFolderSynced(const QString& path);
};

} // namespace Keldra::Core
