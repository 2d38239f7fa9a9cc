// The write path under the header: the file layer with its fault injector,
// the journal, the in-place header rewrite and its recovery, swept over every
// byte and every call at which a rewrite can be interrupted.
#include "core/format/ContainerFormat.h"
#include "core/storage/ContainerFaultInjector.h"
#include "core/storage/ContainerFile.h"
#include "core/storage/ContainerHeaderWriter.h"
#include "core/storage/ContainerRecovery.h"
#include "core/storage/HeaderJournal.h"

#include "SampleContainers.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Keldra::Core;
using namespace TestSupport;
using Mode = ContainerFaultInjector::Mode;

namespace {

QString scratchBase()
{
    // tmpfs keeps the thousands of syncs of the sweeps cheap.
    return QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
}

// A container-shaped file: magic, length line, header, zero padding to the
// end of the region and some payload bytes.
QByteArray containerBytes(const QByteArray& header)
{
    return rawContainer(header) + "PAYLOAD-BLOCKS-THAT-MUST-SURVIVE";
}

// The sweeps restore and compare only the start of the file and its size: a
// header rewrite never reaches further (the whole-file comparisons check that).
constexpr qsizetype Head = 64 * 1024;

QByteArray headOf(const QByteArray& bytes)
{
    return bytes.left(Head) + '|' + QByteArray::number(bytes.size());
}

QByteArray readHead(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(Head) + '|' + QByteArray::number(f.size());
}

void restoreHead(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QCOMPARE(f.write(bytes.left(Head)), qint64(Head));
    QVERIFY(f.resize(bytes.size()));
}

// Header pairs that exercise growth, shrinking, and a change in the middle only.
QList<QPair<QByteArray, QByteArray>> headerChanges()
{
    return {
        {R"({"a":"old","n":1})", R"({"a":"a much longer new header","n":2})"},
        {R"({"a":"a much longer old header","n":1})", R"({"a":"new","n":2})"},
        {R"({"a":"same-prefix-XXXX-same-suffix"})", R"({"a":"same-prefix-YYYY-same-suffix"})"},
    };
}

// The key a vault's journals are signed with; here of a made-up master key.
const QByteArray JournalKey = HeaderJournal::keyFor(QByteArray(64, 'k'));

HeaderJournal::Verdict signedWithTheKey(const HeaderJournal::Pending& journal)
{
    return HeaderJournal::authenticates(journal.bytes, JournalKey) ? HeaderJournal::Verdict::Apply
                                                                   : HeaderJournal::Verdict::SetAside;
}

// What an unlocked vault does at its next open.
Error settle(const QString& path)
{
    return ContainerRecovery::recover(path, signedWithTheKey);
}

QStringList setAsideJournals(const QString& path)
{
    const QFileInfo container(path);
    return QDir(container.absolutePath())
        .entryList({container.fileName() + QStringLiteral("-journal.rejected-*")}, QDir::Files);
}

} // namespace

class TestHeaderJournal : public QObject
{
    Q_OBJECT

private slots:
    void init() { ContainerFaultInjector::reset(); }
    void cleanup()
    {
        ContainerFaultInjector::reset();
        HeaderJournal::setEnabledForTesting(true);
    }

    void injectorFaultsReachTheFile()
    {
        QTemporaryDir dir(scratchBase() + "/keldra-journal-XXXXXX");
        const QString path = dir.filePath("f");
        {
            // Short write: half of the bytes land and the write reports failure.
            ContainerFaultInjector::arm(Mode::ShortWrite, 2);
            ContainerFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(!file.writeAll(QByteArray(10, 'a')));
            QVERIFY(ContainerFaultInjector::fired());
            QVERIFY(file.writeAll(QByteArray(4, 'b'))); // later calls work again
        }
        QCOMPARE(readFile(path), QByteArray("aaaaabbbb"));
        {
            // Crash at byte 3: exactly three bytes reach the file, then nothing changes any more.
            ContainerFaultInjector::arm(Mode::CrashByte, 3);
            ContainerFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(!file.writeAll(QByteArray("XYZW")));
            QVERIFY(ContainerFaultInjector::crashed());
            QVERIFY(!file.writeAll(QByteArray("Q")));
            QVERIFY(!file.resize(1));
            QVERIFY(!file.sync());
            QVERIFY(!ContainerFile::removeFile(path).ok());
        }
        QCOMPARE(readFile(path), QByteArray("XYZaabbbb"));
        {
            // An error at a call that is not a write (here the sync).
            ContainerFaultInjector::arm(Mode::FailCall, 3);
            ContainerFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite)); // call 1
            QVERIFY(file.writeAll(QByteArray("1")));  // call 2
            QVERIFY(!file.sync());                    // call 3
            QVERIFY(file.sync());
        }
    }

    void unsyncedChangesAreTracked()
    {
        QTemporaryDir dir(scratchBase() + "/keldra-journal-XXXXXX");
        const QString path = dir.filePath("f");
        ContainerFaultInjector::arm(Mode::Count, 0);
        ContainerFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.writeAll(QByteArray("data")));
        QCOMPARE(ContainerFaultInjector::unsyncedFiles().size(), 1);
        QCOMPARE(ContainerFaultInjector::unsyncedFolders().size(), 1); // a new entry in the folder
        QVERIFY(file.sync());
        QVERIFY(ContainerFaultInjector::unsyncedFiles().isEmpty());
        QVERIFY(ContainerFile::syncFolderOf(path).ok());
        QVERIFY(ContainerFaultInjector::unsyncedFolders().isEmpty());
        QCOMPARE(ContainerFaultInjector::calls(), 4);
        QCOMPARE(ContainerFaultInjector::bytesWritten(), qint64(4));
    }

    void powerCutLosesExactlyWhatWasNotSynced()
    {
        QTemporaryDir dir(scratchBase() + "/keldra-journal-XXXXXX");
        const QString kept = dir.filePath("kept");
        const QString synced = dir.filePath("synced");
        const QString unsyncedName = dir.filePath("new-name-not-synced");
        const QString removed = dir.filePath("removed");
        QVERIFY(writeFile(kept, "0123456789"));
        QVERIFY(writeFile(removed, "was here"));
        ContainerFaultInjector::arm(Mode::Count, 0);
        {
            ContainerFile file(kept);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek(2) && file.writeAll(QByteArray("ab")));
            QVERIFY(file.sync()); // durable
            QVERIFY(file.seek(5) && file.writeAll(QByteArray("XYZ-and-more")));
            QVERIFY(file.resize(12)); // neither the bytes nor the size are synced
        }
        {
            ContainerFile file(synced);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.writeAll(QByteArray("durable")) && file.sync());
        }
        QVERIFY(ContainerFile::syncFolderOf(synced).ok());
        {
            ContainerFile file(unsyncedName);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.writeAll(QByteArray("lost")) && file.sync()); // its folder entry is not synced
        }
        QVERIFY(ContainerFile::removeFile(removed).ok());
        ContainerFaultInjector::powerCut();
        QCOMPARE(readFile(kept), QByteArray("01ab456789"));
        QCOMPARE(readFile(synced), QByteArray("durable"));
        QVERIFY(!QFileInfo::exists(unsyncedName));
        QCOMPARE(readFile(removed), QByteArray("was here"));
    }

    void journalRejectsEveryTornOrAlteredForm()
    {
        JournalRange range{35, "old-bytes", "new-bytes"};
        const QByteArray journal = HeaderJournal::serialize(1234, {range});
        qint64 size = 0;
        QList<JournalRange> ranges;
        QVERIFY(HeaderJournal::parse(journal, &size, &ranges));
        QCOMPARE(size, qint64(1234));
        QCOMPARE(ranges.size(), 1);
        QCOMPARE(ranges[0].offset, qint64(35));
        QCOMPARE(ranges[0].oldBytes, QByteArray("old-bytes"));
        QCOMPARE(ranges[0].newBytes, QByteArray("new-bytes"));
        for (int cut = 0; cut < journal.size(); ++cut)
            QVERIFY2(!HeaderJournal::parse(journal.left(cut), nullptr, nullptr),
                     qPrintable(QString::number(cut)));
        for (int i = 0; i < journal.size(); ++i) {
            QByteArray flipped = journal;
            flipped[i] = char(flipped[i] ^ 0x01);
            QVERIFY2(!HeaderJournal::parse(flipped, nullptr, nullptr), qPrintable(QString::number(i)));
        }
        QVERIFY(!HeaderJournal::parse(journal + "x", nullptr, nullptr));

        // Signed: the same contents, and a MAC only the key reproduces.
        const QByteArray signedJournal = HeaderJournal::serialize(1234, {range}, JournalKey);
        QVERIFY(HeaderJournal::parse(signedJournal, &size, &ranges));
        QCOMPARE(size, qint64(1234));
        QCOMPARE(ranges[0].newBytes, QByteArray("new-bytes"));
        QVERIFY(HeaderJournal::authenticates(signedJournal, JournalKey));
        QVERIFY(!HeaderJournal::authenticates(signedJournal, HeaderJournal::keyFor(QByteArray(64, 'j'))));
        QVERIFY(!HeaderJournal::authenticates(signedJournal, QByteArray()));
        QVERIFY(!HeaderJournal::authenticates(journal, JournalKey)); // no MAC at all
        for (int i = 0; i < signedJournal.size(); ++i) {
            QByteArray flipped = signedJournal;
            flipped[i] = char(flipped[i] ^ 0x01);
            QVERIFY2(!HeaderJournal::authenticates(flipped, JournalKey), qPrintable(QString::number(i)));
        }
    }

    // A journal anyone could have written beside the container: the judge
    // refuses it, so it is neither applied nor lost, and without a judge
    // (no key) it is not even looked at beyond reading.
    void journalTheJudgeRefusesIsKeptAsideUnapplied()
    {
        QTemporaryDir dir(scratchBase() + "/keldra-journal-XXXXXX");
        const QString path = dir.filePath("keldra.kldr");
        const QString journal = HeaderJournal::journalPath(path);
        const QByteArray current = containerBytes(R"({"h":"current"})");
        // Restores the header byte for byte and cuts the file back to the payload.
        const JournalRange same{ContainerFormat::MagicSize, current.mid(7, 30), current.mid(7, 30)};
        const QList<QPair<const char*, QByteArray>> forged{
            {"no MAC", HeaderJournal::serialize(ContainerFormat::PayloadStart, {same})},
            {"another key", HeaderJournal::serialize(ContainerFormat::PayloadStart, {same},
                                                     HeaderJournal::keyFor(QByteArray(64, 'x')))},
        };
        for (const auto& [what, bytes] : forged) {
            QVERIFY(writeFile(path, current));
            QVERIFY(writeFile(journal, bytes));
            QVERIFY2(!ContainerRecovery::recover(path).ok(), what);
            QVERIFY2(readFile(path) == current, what);
            QVERIFY2(readFile(journal) == bytes, what);

            QVERIFY2(settle(path).ok(), what);
            QVERIFY2(readFile(path) == current, what);
            QVERIFY(!QFileInfo::exists(journal));
            const QStringList aside = setAsideJournals(path);
            QCOMPARE(aside.size(), 1);
            QCOMPARE(readFile(dir.filePath(aside.first())), bytes);
            QVERIFY(QFile::remove(dir.filePath(aside.first())));
        }
        // The same cut signed with the key is what a torn change of this vault asks for.
        QVERIFY(
            writeFile(journal, HeaderJournal::serialize(ContainerFormat::PayloadStart, {same}, JournalKey)));
        QVERIFY(settle(path).ok());
        QCOMPARE(readFile(path), current.left(ContainerFormat::PayloadStart));
        QVERIFY(setAsideJournals(path).isEmpty());
    }

    void rewriteWritesOnlyWhatChangesAndKeepsTheFormat()
    {
        QTemporaryDir dir(scratchBase() + "/keldra-journal-XXXXXX");
        const QString path = dir.filePath("keldra.kldr");
        for (const auto& change : headerChanges()) {
            QVERIFY(writeFile(path, containerBytes(change.first)));
            ContainerFaultInjector::arm(Mode::Count, 0);
            QVERIFY(ContainerHeaderWriter::rewriteHeader(path, change.second).ok());
            // Byte for byte what a fresh write gives: new length line, header, zeros, payload untouched.
            QCOMPARE(readFile(path), containerBytes(change.second));
            QVERIFY(!QFileInfo::exists(HeaderJournal::journalPath(path)));
            QVERIFY(ContainerFaultInjector::unsyncedFiles().isEmpty());
            QVERIFY(ContainerFaultInjector::unsyncedFolders().isEmpty());
            // Journal (old + new) plus the container bytes: proportional to the header, not the region.
            const qint64 longest = qMax(change.first.size(), change.second.size()) + 21;
            QVERIFY(ContainerFaultInjector::bytesWritten() <= 3 * longest + 200);
        }
        // Rewriting the same header writes nothing at all.
        ContainerFaultInjector::arm(Mode::Count, 0);
        QVERIFY(ContainerHeaderWriter::rewriteHeader(path, headerChanges().last().second).ok());
        QCOMPARE(ContainerFaultInjector::bytesWritten(), qint64(0));
    }

    void rewriteClearsForeignBytesInThePadding()
    {
        QTemporaryDir dir(scratchBase() + "/keldra-journal-XXXXXX");
        const QString path = dir.filePath("keldra.kldr");
        QByteArray dirty = containerBytes(R"({"h":"old"})");
        dirty.replace(28 + 5000, 7, "GARBAGE");
        dirty[ContainerFormat::PayloadStart - 1] = 'Z';
        QVERIFY(writeFile(path, dirty));
        QVERIFY(ContainerHeaderWriter::rewriteHeader(path, R"({"h":"new"})").ok());
        QCOMPARE(readFile(path), containerBytes(R"({"h":"new"})"));
    }

    void rewriteRefusesWithoutWriting()
    {
        QTemporaryDir dir(scratchBase() + "/keldra-journal-XXXXXX");
        const QString path = dir.filePath("keldra.kldr");
        const QByteArray header = R"({"h":1})";
        QByteArray wrongDigit = containerBytes(header);
        wrongDigit[6] = '2';
        QByteArray shortLine = "KELDRA3" + QByteArray("7\n") + header + QByteArray(100, '\0');
        for (const QByteArray& bytes : {wrongDigit, shortLine, QByteArray("KELDRA3")}) {
            QVERIFY(writeFile(path, bytes));
            QVERIFY(!ContainerHeaderWriter::rewriteHeader(path, R"({"h":2})").ok());
            QCOMPARE(readFile(path), bytes);
        }
        QVERIFY(writeFile(path, containerBytes(header)));
        QVERIFY(!ContainerHeaderWriter::rewriteHeader(path, QByteArray()).ok());
        QVERIFY(!ContainerHeaderWriter::rewriteHeader(path,
                                                      QByteArray(ContainerFormat::HeaderRegionSize + 1, 'x'))
                     .ok());
        // An unsettled journal blocks further rewrites until recovery ran.
        QVERIFY(writeFile(HeaderJournal::journalPath(path), "torn"));
        QVERIFY(!ContainerHeaderWriter::rewriteHeader(path, R"({"h":2})").ok());
        QCOMPARE(readFile(path), containerBytes(header));
        QVERIFY(ContainerRecovery::recover(path).ok());
        QVERIFY(!QFileInfo::exists(HeaderJournal::journalPath(path)));
        QVERIFY(ContainerHeaderWriter::rewriteHeader(path, R"({"h":2})").ok());
    }

    // Every crash point and every failing call of a rewrite, followed by the
    // recovery of the next open: the file is exactly the old or the new one.
    void interruptedRewriteAlwaysRecoversToOldOrNew()
    {
        QTemporaryDir dir(scratchBase() + "/keldra-journal-XXXXXX");
        const QString path = dir.filePath("keldra.kldr");
        int crashPoints = 0;
        int faults = 0;
        for (const auto& change : headerChanges()) {
            const QByteArray full = containerBytes(change.first);
            const QByteArray before = headOf(full);
            const QByteArray after = headOf(containerBytes(change.second));
            QVERIFY(writeFile(path, full));
            ContainerFaultInjector::arm(Mode::Count, 0);
            QVERIFY(ContainerHeaderWriter::rewriteHeader(path, change.second, -1, JournalKey).ok());
            const int calls = ContainerFaultInjector::calls();
            const qint64 bytes = ContainerFaultInjector::bytesWritten();

            // A reported success survives losing everything that was not synced.
            restoreHead(path, full);
            ContainerFaultInjector::arm(Mode::Count, 0);
            QVERIFY(ContainerHeaderWriter::rewriteHeader(path, change.second, -1, JournalKey).ok());
            ContainerFaultInjector::powerCut();
            QCOMPARE(readHead(path), after);

            // A killed process keeps what it wrote; a power cut also loses what was not synced.
            for (bool powerCut : {false, true}) {
                for (qint64 crashAt = 0; crashAt <= bytes; ++crashAt) {
                    restoreHead(path, full);
                    ContainerFaultInjector::arm(Mode::CrashByte, crashAt);
                    const bool ok =
                        ContainerHeaderWriter::rewriteHeader(path, change.second, -1, JournalKey).ok();
                    if (powerCut)
                        ContainerFaultInjector::powerCut();
                    ContainerFaultInjector::reset();
                    QVERIFY(settle(path).ok());
                    const QByteArray now = readHead(path);
                    QVERIFY2(now == after || (!ok && now == before),
                             qPrintable(QStringLiteral("%1 %2").arg(crashAt).arg(powerCut)));
                    QVERIFY(!QFileInfo::exists(HeaderJournal::journalPath(path)));
                    ++crashPoints;
                }
            }
            for (int call = 1; call <= calls; ++call) {
                for (Mode mode : {Mode::FailCall, Mode::ShortWrite, Mode::CrashCall}) {
                    restoreHead(path, full);
                    ContainerFaultInjector::arm(mode, call);
                    const bool ok =
                        ContainerHeaderWriter::rewriteHeader(path, change.second, -1, JournalKey).ok();
                    const bool fired = ContainerFaultInjector::fired();
                    ContainerFaultInjector::reset();
                    if (mode != Mode::CrashCall) {
                        // A plain error is handled at once: the old file stays, no journal is left.
                        QCOMPARE(ok, !fired);
                        QCOMPARE(readHead(path), ok ? after : before);
                        QVERIFY(!QFileInfo::exists(HeaderJournal::journalPath(path)));
                    }
                    QVERIFY(settle(path).ok());
                    // A crash after the journal is gone but before the success is reported keeps the new
                    // file.
                    const QByteArray now = readHead(path);
                    QVERIFY2(now == after || (!ok && now == before), qPrintable(QString::number(call)));
                    ++faults;
                }
            }
        }
        qInfo("header rewrite: %d crash points and %d injected faults tried", crashPoints, faults);
    }

    // The same sweep without the journal must find torn headers: the sweep above can fail.
    void sweepCatchesARewriteWithoutJournal()
    {
        QTemporaryDir dir(scratchBase() + "/keldra-journal-XXXXXX");
        const QString path = dir.filePath("keldra.kldr");
        HeaderJournal::setEnabledForTesting(false);
        const auto change = headerChanges().first();
        const QByteArray full = containerBytes(change.first);
        const QByteArray before = headOf(full);
        const QByteArray after = headOf(containerBytes(change.second));
        QVERIFY(writeFile(path, full));
        int torn = 0;
        for (qint64 crashAt = 0; crashAt <= change.second.size() + 21; ++crashAt) {
            restoreHead(path, full);
            ContainerFaultInjector::arm(Mode::CrashByte, crashAt);
            (void)ContainerHeaderWriter::rewriteHeader(path, change.second);
            ContainerFaultInjector::reset();
            QVERIFY(ContainerRecovery::recover(path).ok());
            const QByteArray now = readHead(path);
            if (now != before && now != after)
                ++torn;
        }
        QVERIFY(torn > 0);
        qInfo("without the journal %d crash points leave a torn header", torn);
    }

    void recoveryIsSafeAgainstForeignTornAndInterruptedRuns()
    {
        QTemporaryDir dir(scratchBase() + "/keldra-journal-XXXXXX");
        const QString path = dir.filePath("keldra.kldr");
        const QString journal = HeaderJournal::journalPath(path);
        const QByteArray before = containerBytes(R"({"h":"old"})");
        const QByteArray torn = containerBytes(R"({"h":"new"})").left(40) + before.mid(40);

        // A journal that belongs to another file (a bytes neither old nor new): container left alone.
        const QByteArray other = containerBytes(R"({"q":"zzz"})");
        QVERIFY(writeFile(path, other));
        QVERIFY(writeFile(
            journal,
            HeaderJournal::serialize(before.size(), {{7, before.mid(7, 40), torn.mid(7, 40)}}, JournalKey)));
        QVERIFY(settle(path).ok());
        QCOMPARE(readFile(path), other);
        QVERIFY(!QFileInfo::exists(journal));

        // A valid journal: old bytes back, appended bytes cut off.
        const QByteArray journalBytes =
            HeaderJournal::serialize(before.size(), {{7, before.mid(7, 40), torn.mid(7, 40)}}, JournalKey);
        QVERIFY(writeFile(path, torn + "appended-block"));
        QVERIFY(writeFile(journal, journalBytes));
        QVERIFY(settle(path).ok());
        QCOMPARE(readFile(path), before);
        QVERIFY(!QFileInfo::exists(journal));

        // Recovery itself interrupted at any call: the next recovery still ends at the old file.
        int points = 0;
        for (int call = 1;; ++call) {
            QVERIFY(writeFile(path, torn + "appended-block"));
            QVERIFY(writeFile(journal, journalBytes));
            ContainerFaultInjector::arm(Mode::CrashCall, call);
            const bool ok = settle(path).ok();
            const bool fired = ContainerFaultInjector::fired();
            ContainerFaultInjector::reset();
            QVERIFY(settle(path).ok());
            QCOMPARE(readFile(path), before);
            ++points;
            if (!fired) {
                QVERIFY(ok);
                break;
            }
        }
        QVERIFY(points > 3);

        // A torn journal is dropped and the container is not touched; so is a leftover compacted copy.
        QVERIFY(writeFile(path, before));
        QVERIFY(writeFile(journal, journalBytes.left(journalBytes.size() - 1)));
        QVERIFY(writeFile(ContainerRecovery::compactTempPath(path), "partial copy"));
        QVERIFY(settle(path).ok());
        QCOMPARE(readFile(path), before);
        QVERIFY(!QFileInfo::exists(journal));
        QVERIFY(!QFileInfo::exists(ContainerRecovery::compactTempPath(path)));
    }

    void journalThatIsNoHeaderRewriteIsSetAside()
    {
        // Files anyone can put beside a container, with a valid checksum: each
        // would cut the payload off, write over the magic or the payload, or
        // have the whole file read into memory.
        QTemporaryDir dir(scratchBase() + "/keldra-journal-XXXXXX");
        const QString path = dir.filePath("keldra.kldr");
        const QString journal = HeaderJournal::journalPath(path);
        const QByteArray container = containerBytes(R"({"h":"current"})");
        const qint64 size = container.size();
        const qint64 payload = ContainerFormat::PayloadStart;
        const QByteArray magic = container.left(ContainerFormat::MagicSize);
        const QByteArray tail = container.mid(payload - 4, 8);
        const JournalRange header{ContainerFormat::MagicSize, container.mid(7, 8), QByteArray(8, '9')};
        const QList<QPair<const char*, QByteArray>> forged{
            {"no range, nothing to keep", HeaderJournal::serialize(0, {})},
            {"a range over the magic", HeaderJournal::serialize(size, {{0, QByteArray(7, 'X'), magic}})},
            {"a range into the payload",
             HeaderJournal::serialize(size, {{payload - 4, QByteArray(8, 'X'), tail}})},
            {"a size that cuts the header region", HeaderJournal::serialize(payload - 1, {header})},
            {"two ranges", HeaderJournal::serialize(size, {header, header})},
        };
        for (const auto& [what, bytes] : forged) {
            QVERIFY(writeFile(path, container));
            QVERIFY(writeFile(journal, bytes));
            QVERIFY2(HeaderJournal::parse(bytes, nullptr, nullptr), what);
            const HeaderJournal::RecoveryResult result = HeaderJournal::recover(path, signedWithTheKey);
            QVERIFY2(result.outcome == HeaderJournal::Recovery::SetAside, what);
            QVERIFY2(readFile(path) == container, what);
            QVERIFY(!QFileInfo::exists(journal));
            QVERIFY(!setAsideJournals(path).isEmpty());
        }

        // Larger than any header rewrite can make: set aside without being read.
        QFile huge(journal);
        QVERIFY(huge.open(QIODevice::WriteOnly));
        QVERIFY(huge.write(HeaderJournal::serialize(size, {header})) > 0);
        QVERIFY(huge.resize(qint64(64) * 1024 * 1024));
        huge.close();
        QCOMPARE(HeaderJournal::recover(path, signedWithTheKey).outcome, HeaderJournal::Recovery::SetAside);
        QCOMPARE(readFile(path), container);
        QVERIFY(!QFileInfo::exists(journal));
    }
};

QTEST_GUILESS_MAIN(TestHeaderJournal)
#include "test_header_journal.moc"
