#pragma once

#include "Error.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

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
// old and new bytes, a MAC of all that under a key derived from the vault's
// master key, and a SHA-256 of all of it. The new bytes let recovery see that
// the journal was made for this file (every byte in a range must be either
// old or new); the MAC proves it was made by someone holding the vault's key,
// so a file planted beside the container can never roll it back or cut it
// short. Journals of earlier versions have no MAC; the caller judges those.
class HeaderJournal
{
public:
    enum class Recovery {
        NothingToDo,   // no journal
        RolledBack,    // old bytes put back, container truncated, journal removed
        DiscardedTorn, // journal incomplete: the container was never touched; journal removed
        SetAside,      // not applied (not for this container, or not accepted); container left
                       // alone, journal renamed aside so that it is kept but never applied
        Failed,        // could not finish, or the judge left it for later; journal kept
    };
    struct RecoveryResult
    {
        Recovery outcome = Recovery::NothingToDo;
        Error error; // why, when Failed
    };

    // A journal found beside a container, read without changing anything.
    struct Pending
    {
        enum class State {
            None,       // no journal
            Torn,       // incomplete or unreadable: it never reached the container
            Foreign,    // not a header rewrite of this container
            Applicable, // would roll this container back
        };
        State state = State::None;
        QByteArray bytes;
        qint64 sizeToRestore = 0;
        QList<JournalRange> ranges;
        // The length line and header region as the journal would restore them,
        // from the start of the file to the payload (Applicable only).
        QByteArray restoredHead;
    };

    // What the caller decides about a journal that would roll this container back.
    enum class Verdict { Apply, SetAside, Leave };
    using Judge = std::function<Verdict(const Pending& journal)>;

    static QString journalPath(const QString& containerPath);

    // The key journals of a vault are authenticated with.
    static QByteArray keyFor(const QByteArray& masterKey);

    // Writes the journal and puts it on the drive (file and folder synced).
    // Without a key it has no MAC, as earlier versions wrote it. On failure
    // nothing usable is left behind.
    [[nodiscard]] static Error write(const QString& containerPath, qint64 sizeToRestore,
                                     const QList<JournalRange>& ranges, const QByteArray& key = QByteArray());
    // Removes the journal durably once the change it guards is on the drive.
    [[nodiscard]] static Error discard(const QString& containerPath);
    [[nodiscard]] static Pending inspect(const QString& containerPath);
    // Settles a journal: a torn one is removed, one that is not for this
    // container is set aside, and `judge` decides about the rest. Run it
    // before anything reads the container for a change.
    [[nodiscard]] static RecoveryResult recover(const QString& containerPath, const Judge& judge);

    static QByteArray serialize(qint64 sizeToRestore, const QList<JournalRange>& ranges,
                                const QByteArray& key = QByteArray());
    // False for anything torn, truncated or altered. A MAC is not checked here.
    [[nodiscard]] static bool parse(const QByteArray& bytes, qint64* sizeToRestore,
                                    QList<JournalRange>* ranges);
    // True for a journal written with a key (whether the MAC holds or not).
    [[nodiscard]] static bool hasMac(const QByteArray& bytes);
    // True only when the journal parses and its MAC holds under `key`.
    [[nodiscard]] static bool authenticates(const QByteArray& bytes, const QByteArray& key);

    // Test-only switch: with the journal off, write() and discard() do nothing,
    // which is what the crash tests must catch.
    static void setEnabledForTesting(bool enabled);
    static bool isEnabled();
};

} // namespace Keldra::Core
