#pragma once

#include "Error.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace Keldra::Core {

// One stretch of the container about to be overwritten: the bytes there now
// and the bytes that will replace them (same length).
struct JournalRange
{
    qint64 offset = 0;
    QByteArray oldBytes;
    QByteArray newBytes;
};

// Undo record kept beside a container ("keldra.kldr-journal") while its
// header is rewritten in place: a rewrite torn by a crash or a pulled drive
// is rolled back at the next open instead of destroying the wrapped master
// key. Layout: magic line, container size to restore, the ranges with their
// old and new bytes, and a SHA-256 of all of it. The new bytes let recovery
// see that the journal belongs to this container (every byte in a range must
// be either old or new) before it writes anything.
class HeaderJournal
{
public:
    enum class Recovery {
        NothingToDo,      // no journal
        RolledBack,       // old bytes put back, container truncated, journal removed
        DiscardedTorn,    // journal incomplete: the container was never touched; journal removed
        DiscardedForeign, // journal does not match the container; container left alone, journal removed
        Failed,           // could not finish; journal kept for the next attempt
    };
    struct RecoveryResult
    {
        Recovery outcome = Recovery::NothingToDo;
        Error error; // why, when Failed
    };

    static QString journalPath(const QString& containerPath);

    // Writes the journal and puts it on the drive (file and folder synced).
    // On failure nothing usable is left behind.
    [[nodiscard]] static Error write(const QString& containerPath, qint64 sizeToRestore,
                                     const QList<JournalRange>& ranges);
    // Removes the journal durably once the change it guards is on the drive.
    [[nodiscard]] static Error discard(const QString& containerPath);
    // Rolls back an interrupted change; run before anything reads the container.
    [[nodiscard]] static RecoveryResult recover(const QString& containerPath);

    static QByteArray serialize(qint64 sizeToRestore, const QList<JournalRange>& ranges);
    // False for anything torn, truncated or altered.
    [[nodiscard]] static bool parse(const QByteArray& bytes, qint64* sizeToRestore,
                                    QList<JournalRange>* ranges);

    // Test-only switch: with the journal off, write() and discard() do nothing,
    // which is what the crash tests must catch.
    static void setEnabledForTesting(bool enabled);
    static bool isEnabled();
};

} // namespace Keldra::Core
