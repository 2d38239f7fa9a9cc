// Every vault change interrupted at every call and at the edges and middle of
// every write that reaches the drive: an error, a short write, or a crash
// after which nothing more is written (the process is gone). Afterwards the
// vault must open with exactly the old or the new content, every file must
// verify, a reported success must be on the drive, and a reported failure
// must leave the container as it was.
#include "core/crypto/CryptoManager.h"
#include "core/format/ContainerFormat.h"
#include "core/format/ContainerManager.h"
#include "core/format/SecureFileIndex.h"
#include "core/storage/ContainerFaultInjector.h"
#include "core/storage/ContainerRecovery.h"
#include "core/storage/HeaderJournal.h"
#include "core/vault/ImportBatch.h"
#include "core/vault/VaultManager.h"

#include "TempLocationOverride.h"
#include "TestFiles.h"
#include "VaultTestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace Keldra::Core;
using namespace TestSupport;
using Mode = ContainerFaultInjector::Mode;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

const QByteArray Password = "correct horse battery";
const QByteArray NewPassword = "a brand new passphrase";

QByteArray pattern(int size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(seed + i * 7 + i / 251);
    return bytes;
}

// What a vault shows: folders, and files with size, digest and block offsets
// (offsets tell a compacted container from the one before).
QStringList listingOf(const SecureFileIndex& index)
{
    QStringList lines;
    const QList<VaultDirectoryEntry> directories = index.directories();
    for (const VaultDirectoryEntry& d : directories)
        lines << QStringLiteral("d %1").arg(d.path);
    const QList<VaultFileEntry> entries = index.entries();
    for (const VaultFileEntry& f : entries) {
        QString line = QStringLiteral("f %1 %2 %3")
                           .arg(f.vaultPath)
                           .arg(f.sizeBytes)
                           .arg(QString::fromLatin1(f.sha256.toHex()));
        for (const VaultFileBlock& b : f.blocks)
            line += QStringLiteral(" @%1").arg(b.offset);
        lines << line;
    }
    return lines;
}

// Opens a container the way unlocking does, with the Argon2id result cached
// per salt so that hundreds of states can be checked in seconds.
class VaultProbe
{
public:
    struct State
    {
        QStringList listing;
        int password = -1; // which of the passwords opened it
    };

    bool open(const QString& path, State* state, QString* why)
    {
        ContainerDocument document;
        if (!ContainerManager().readDocument(path, &document).ok()) {
            *why = QStringLiteral("header unreadable");
            return false;
        }
        QByteArray master;
        int used = -1;
        const QList<QByteArray> passwords{Password, NewPassword};
        for (int i = 0; i < passwords.size() && master.isEmpty(); ++i) {
            master =
                m_crypto.decrypt(document.crypto.encryptedMasterKey, derived(passwords[i], document).left(32),
                                 document.crypto.nonce, VaultManager::associatedData(document, "master-key"));
            used = i;
        }
        if (master.isEmpty()) {
            *why = QStringLiteral("master key does not unwrap");
            return false;
        }
        const QByteArray json =
            m_crypto.decrypt(document.encryptedIndex, master.left(32), document.crypto.payloadNonce,
                             VaultManager::associatedData(document, "index"));
        if (json.isEmpty()) {
            *why = QStringLiteral("index does not decrypt");
            return false;
        }
        const SecureFileIndex index = SecureFileIndex::fromJson(json);
        QFile container(path);
        if (!container.open(QIODevice::ReadOnly)) {
            *why = QStringLiteral("container unreadable");
            return false;
        }
        const QByteArray blockData = VaultManager::associatedData(ContainerDocument(), "file-block");
        const QList<VaultFileEntry> entries = index.entries();
        for (const VaultFileEntry& entry : entries) {
            QCryptographicHash hash(QCryptographicHash::Sha256);
            qint64 size = 0;
            bool intact = true;
            for (const VaultFileBlock& block : entry.blocks) {
                const QByteArray plain = container.seek(block.offset)
                                             ? m_crypto.decrypt(container.read(block.encryptedSize),
                                                                master.left(32), block.nonce, blockData)
                                             : QByteArray();
                intact = intact && plain.size() == block.plainSize;
                hash.addData(plain);
                size += plain.size();
            }
            if (!intact || size != entry.sizeBytes || hash.result() != entry.sha256) {
                *why = QStringLiteral("file %1 does not verify").arg(entry.vaultPath);
                return false;
            }
        }
        state->listing = listingOf(index);
        state->password = used;
        return true;
    }

private:
    QByteArray derived(const QByteArray& password, const ContainerDocument& document)
    {
        const QByteArray key = password + '\0' + document.crypto.salt;
        if (!m_keys.contains(key)) {
            KeyDerivationParams params;
            params.algorithm = document.crypto.kdf;
            params.salt = document.crypto.salt;
            params.iterations = document.crypto.kdfIterations;
            params.keyLength = 64;
            m_keys.insert(key, m_crypto.deriveKey(password, params));
        }
        return m_keys.value(key);
    }

    CryptoManager m_crypto;
    QHash<QByteArray, QByteArray> m_keys;
};

struct Scenario
{
    QString name;
    std::function<bool(VaultManager&)> run;
    bool locked = false; // the change runs on a locked vault (password change)
    QByteArray leftover =
        QByteArray(); // appended by the scenario before its change, as a killed import leaves them
};

struct Point
{
    Mode mode;
    qint64 target;
    bool powerCut = false; // the crash also loses everything not yet synced
};

struct SweepResult
{
    int crashPoints = 0;
    int faults = 0;
    QStringList problems;
};

} // namespace

class TestCrashSweep : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_scratch{QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                ? QStringLiteral("/dev/shm/keldra-sweep-XXXXXX")
                                : QDir::tempPath() + QStringLiteral("/keldra-sweep-XXXXXX")};
    std::unique_ptr<TempLocationOverride> m_tempLocation;
    const QString m_cli = QStringLiteral(KELDRA_BIN_DIR "/keldra-cli" KELDRA_EXE_SUFFIX);
    QString m_container;
    QByteArray m_base;
    QByteArray m_journalKey;
    VaultProbe m_probe;
    int m_unlocks = 0;
    // One unlocked vault shared by the scenarios; unlocking costs a full key derivation.
    std::unique_ptr<VaultManager> m_unlocked;

    QString source(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_scratch.filePath(QStringLiteral("src-") + name);
        if (!QFileInfo::exists(path))
            writeFile(path, bytes);
        return path;
    }

    bool restoreBase()
    {
        QFile::remove(HeaderJournal::journalPath(m_container));
        QFile::remove(ContainerRecovery::compactTempPath(m_container));
        return writeFile(m_container, m_base);
    }

    std::unique_ptr<VaultManager> openVault(bool locked)
    {
        auto vault = std::make_unique<VaultManager>();
        if (!locked) {
            ++m_unlocks;
            if (!vault->unlockVault(m_container, Password))
                return nullptr;
        }
        return vault;
    }

    QList<Scenario> scenarios()
    {
        return {
            {QStringLiteral("import"),
             [this](VaultManager& v) {
                 return v.importFile(source("new", pattern(50000, 3)), "docs/new.bin");
             }},
            {QStringLiteral("import replacing a file"),
             [this](VaultManager& v) { return v.importFile(source("a2", pattern(4000, 9)), "A.TXT"); }},
            // The bytes a killed import left after the last block go first.
            {QStringLiteral("import after a killed import"),
             [this](VaultManager& v) {
                 QFile leftover(m_container);
                 if (!leftover.open(QIODevice::Append) || leftover.write(pattern(30000, 5)) != 30000)
                     return false;
                 leftover.close();
                 return v.importFile(source("after", pattern(20000, 4)), "docs/after.bin");
             },
             false, pattern(30000, 5)},
            {QStringLiteral("rename"),
             [](VaultManager& v) { return v.renameFile("a.txt", "docs/sub/a2.txt"); }},
            {QStringLiteral("folder creation"), [](VaultManager& v) { return v.createDirectory("x/y"); }},
            {QStringLiteral("delete"), [](VaultManager& v) { return v.deleteFile("docs/b.bin"); }},
            {QStringLiteral("delete of a selection"),
             [](VaultManager& v) {
                 return v.deletePaths({"docs", "a.txt"});
             }},
            {QStringLiteral("move of a selection"),
             [](VaultManager& v) {
                 return v.movePaths({"a.txt", "docs/b.bin"}, "docs/sub");
             }},
            {QStringLiteral("compaction"),
             [](VaultManager& v) {
                 QString preserved;
                 return v.compactVault(VaultManager::ProgressCallback(), &preserved);
             }},
            {QStringLiteral("password change"),
             [this](VaultManager& v) { return v.changePassword(m_container, Password, NewPassword); }, true},
        };
    }

    // The points of one change: every call (error, short write when it writes,
    // crash before it) and crashes just inside, in the middle of and at the
    // last byte of every write.
    static QList<Point> pointsFor(int calls, const QList<ContainerFaultInjector::WriteRecord>& writes,
                                  int stride)
    {
        QList<Point> points;
        QSet<int> writeCalls;
        for (const auto& w : writes)
            writeCalls.insert(w.call);
        for (int call = 1; call <= calls; ++call) {
            points.append({Mode::CrashCall, call});
            points.append({Mode::CrashCall, call, true});
            points.append({Mode::FailCall, call});
            if (writeCalls.contains(call))
                points.append({Mode::ShortWrite, call});
        }
        QSet<qint64> bytes;
        for (const auto& w : writes) {
            for (qint64 at : {w.firstByte + 1, w.firstByte + w.length / 2, w.firstByte + w.length - 1}) {
                if (at > w.firstByte && at < w.firstByte + w.length && !bytes.contains(at)) {
                    bytes.insert(at);
                    points.append({Mode::CrashByte, at});
                    points.append({Mode::CrashByte, at, true});
                }
            }
        }
        if (stride <= 0) // spread about -stride points over the whole change
            stride = qMax(1, int(points.size()) / qMax(1, -stride));
        QList<Point> kept;
        for (int i = stride / 2; i < points.size(); i += stride)
            kept.append(points[i]);
        return kept;
    }

    // Opens the container as a user would: keldra-cli ls, or an unlock in a fresh vault object.
    bool openThroughProgram(bool useCli)
    {
        if (useCli) {
            ++m_unlocks;
            QProcess process;
            process.start(m_cli, {QStringLiteral("ls"), m_container});
            process.write(Password + '\n');
            process.closeWriteChannel();
            return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
                   process.exitCode() == 0;
        }
        const std::unique_ptr<VaultManager> fresh = openVault(false);
        return fresh && fresh->lockVault();
    }

    SweepResult sweep(const Scenario& scenario, int stride)
    {
        SweepResult result;
        const auto problem = [&](const QString& what) { result.problems << scenario.name + ": " + what; };
        VaultProbe::State before;
        QString why;
        if (!restoreBase() || !m_probe.open(m_container, &before, &why)) {
            problem("base vault does not open: " + why);
            return result;
        }

        // A clean run: what the change writes, and what the vault looks like afterwards.
        std::unique_ptr<VaultManager> vault = scenario.locked ? openVault(true) : std::move(m_unlocked);
        if (!vault || (!scenario.locked && listingOf(vault->fileIndex()) != before.listing))
            vault = openVault(scenario.locked);
        ContainerFaultInjector::arm(Mode::Count, 0);
        const bool cleanOk = vault && scenario.run(*vault);
        const int calls = ContainerFaultInjector::calls();
        const auto writes = ContainerFaultInjector::writes();
        const QSet<QString> unsyncedFiles = ContainerFaultInjector::unsyncedFiles();
        const QSet<QString> unsyncedFolders = ContainerFaultInjector::unsyncedFolders();
        // A power cut right after the success must not take the change back.
        ContainerFaultInjector::powerCut();
        VaultProbe::State after;
        if (!cleanOk || calls == 0 || !m_probe.open(m_container, &after, &why)) {
            problem(QStringLiteral("clean run failed or wrote nothing (%1 calls) %2").arg(calls).arg(why));
            return result;
        }
        if (!unsyncedFiles.isEmpty() || !unsyncedFolders.isEmpty())
            problem("success reported before everything was synced: " +
                    QStringList(unsyncedFiles.values() + unsyncedFolders.values()).join(", "));

        const auto matches = [](const VaultProbe::State& a, const VaultProbe::State& b) {
            return a.listing == b.listing && a.password == b.password;
        };
        vault = restoreBase() ? openVault(scenario.locked) : nullptr;
        bool openedForReal = false;
        for (const Point& point : pointsFor(calls, writes, stride)) {
            if (!vault || !restoreBase()) {
                problem("cannot reset the vault");
                break;
            }
            ContainerFaultInjector::arm(point.mode, point.target);
            const bool ok = scenario.run(*vault);
            const bool crashed = ContainerFaultInjector::crashed();
            if (point.powerCut)
                ContainerFaultInjector::powerCut();
            ContainerFaultInjector::reset();
            (crashed ? result.crashPoints : result.faults)++;
            const QString where = QStringLiteral("mode %1 at %2%3: ")
                                      .arg(int(point.mode))
                                      .arg(point.target)
                                      .arg(point.powerCut ? " with power cut" : "");

            // What the next start finds. In two scenarios a real open (keldra-cli, an unlock) does the
            // recovery itself.
            const bool realOpenWanted =
                scenario.name == QStringLiteral("import") || scenario.name == QStringLiteral("rename");
            if (realOpenWanted && !openedForReal &&
                QFileInfo::exists(HeaderJournal::journalPath(m_container))) {
                openedForReal = true;
                if (!openThroughProgram(scenario.name == QStringLiteral("import")))
                    problem(where + "the program does not open the interrupted vault");
                if (QFileInfo::exists(HeaderJournal::journalPath(m_container)))
                    problem(where + "opening the vault did not settle the journal");
            }
            // As an unlocked vault settles it: only what the vault's key signed is rolled back.
            const auto signedByTheVault = [this](const HeaderJournal::Pending& journal) {
                return HeaderJournal::authenticates(journal.bytes, m_journalKey)
                           ? HeaderJournal::Verdict::Apply
                           : HeaderJournal::Verdict::SetAside;
            };
            if (!ContainerRecovery::recover(m_container, signedByTheVault).ok())
                problem(where + "recovery failed");
            if (QFileInfo::exists(HeaderJournal::journalPath(m_container)) ||
                QFileInfo::exists(ContainerRecovery::compactTempPath(m_container)))
                problem(where + "recovery left files behind");
            VaultProbe::State now;
            if (!m_probe.open(m_container, &now, &why))
                problem(where + why);
            else if (!matches(now, before) && !matches(now, after))
                problem(where + "neither the old nor the new content");
            else if (ok && !matches(now, after))
                problem(where + "success reported but the change is not on the drive");
            if (!crashed) {
                // The program lives on: what it reports and remembers must match the drive.
                // Bytes after the last block belong to no file: an import cuts them off, failed or not.
                const QByteArray content = readFile(m_container);
                if (!ok && content != m_base + scenario.leftover &&
                    (scenario.locked || content != m_base.left(VaultTest::usedEnd(
                                                       vault->fileIndex(), ContainerFormat::PayloadStart))))
                    problem(where + "failure reported but the container changed");
                if (!scenario.locked && listingOf(vault->fileIndex()) != now.listing)
                    problem(where + "the index in memory differs from the drive");
            }
            if (ok && !scenario.locked) // its index moved on; start again from the old one
                vault = restoreBase() ? openVault(false) : nullptr;
        }
        if (!scenario.locked)
            m_unlocked = std::move(vault);
        return result;
    }

    // A tree of four files and an empty folder, stored after the second file and at the end.
    ImportBatch sweepBatch()
    {
        const QString root = m_scratch.filePath(QStringLiteral("lote"));
        if (!QFileInfo::exists(root)) {
            QDir().mkpath(root + QStringLiteral("/sub"));
            QDir().mkpath(root + QStringLiteral("/vazia"));
            writeFile(root + QStringLiteral("/1.bin"), pattern(20000, 11));
            writeFile(root + QStringLiteral("/2.bin"), pattern(15000, 12));
            writeFile(root + QStringLiteral("/sub/3.bin"), pattern(20000, 13));
            writeFile(root + QStringLiteral("/sub/4.bin"), pattern(5000, 14));
        }
        ImportBatch batch = ImportBatch::fromSources({root}, QStringLiteral("docs"));
        batch.setCheckpointInterval(25000, 3600 * 1000);
        return batch;
    }

    // Whether `now` is the vault before the batch plus a whole prefix of the
    // batch's files (in the order they were imported), with no folder the
    // finished batch does not have.
    static bool holdsAPrefix(const QStringList& now, const QStringList& before, const QStringList& after,
                             int* filesKept)
    {
        const auto files = [](const QStringList& listing) {
            return listing.filter(QRegularExpression(QStringLiteral("^f ")));
        };
        const auto folders = [](const QStringList& listing) {
            QStringList result = listing.filter(QRegularExpression(QStringLiteral("^d ")));
            result.sort();
            return result;
        };
        QStringList added = files(after);
        for (const QString& line : files(before))
            added.removeOne(line);
        const QStringList nowFiles = files(now);
        const QStringList nowFolders = folders(now);
        for (const QString& folder : folders(before)) {
            if (!nowFolders.contains(folder))
                return false;
        }
        for (const QString& folder : nowFolders) {
            if (!folders(after).contains(folder))
                return false;
        }
        for (int k = 0; k <= added.size(); ++k) {
            if (nowFiles == files(before) + added.mid(0, k)) {
                *filesKept = k;
                return true;
            }
        }
        return false;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_scratch.isValid());
        // Workspaces and compaction folders of this test stay in the scratch folder.
        QVERIFY(QDir().mkpath(m_scratch.filePath("tmp")));
        m_tempLocation = std::make_unique<TempLocationOverride>(m_scratch.filePath("tmp"));
        QVERIFY2(QFileInfo(m_cli).isExecutable(), qPrintable(m_cli));
        m_container = m_scratch.filePath("keldra.kldr");
        VaultManager vault;
        QVERIFY(vault.createVault(m_container, Password));
        QVERIFY(vault.unlockVault(m_container, Password));
        QVERIFY(vault.importFile(source("a", pattern(3000, 1)), "a.txt"));
        QVERIFY(vault.importFile(source("b", pattern(70000, 2)), "docs/b.bin"));
        QVERIFY(vault.importFile(source("empty", QByteArray()), "empty.txt"));
        QVERIFY(vault.importFile(source("dead", pattern(20000, 5)), "dead.bin"));
        QVERIFY(vault.deleteFile("dead.bin")); // dead space for compaction
        QVERIFY(vault.createDirectory("docs/sub"));
        QVERIFY(vault.lockVault());
        m_base = readFile(m_container);
        QVERIFY(m_base.size() > ContainerFormat::PayloadStart);
        ContainerDocument document;
        QVERIFY(ContainerManager().readDocument(m_container, &document).ok());
        m_journalKey = HeaderJournal::keyFor(VaultManager().decryptMasterKey(document, Password));
        QVERIFY(!m_journalKey.isEmpty());
    }

    void cleanup()
    {
        ContainerFaultInjector::reset();
        HeaderJournal::setEnabledForTesting(true);
    }

    void everyInterruptedChangeLeavesOldOrNew_data()
    {
        QTest::addColumn<int>("scenario");
        const QList<Scenario> all = scenarios();
        for (int i = 0; i < all.size(); ++i)
            QTest::newRow(qPrintable(all[i].name)) << i;
    }

    void everyInterruptedChangeLeavesOldOrNew()
    {
        QFETCH(int, scenario);
        const Scenario s = scenarios().at(scenario);
        // A password change costs two key derivations per point: take a few points spread over it.
        // Under the sanitizers every second point of the others.
        const int stride = s.locked ? -6 : (Sanitized ? 2 : 1);
        const SweepResult result = sweep(s, stride);
        qInfo("%s: %d crash points and %d faults tried (%d unlocks so far)", qPrintable(s.name),
              result.crashPoints, result.faults, m_unlocks);
        QVERIFY2(result.problems.isEmpty(), qPrintable(result.problems.mid(0, 10).join('\n')));
        QVERIFY(result.crashPoints + result.faults > 3);
    }

    // A batch import interrupted anywhere keeps the files of its last
    // checkpoint, each one whole, and never a part of one after it.
    void batchImportKeepsAWholePrefix()
    {
        VaultProbe::State before;
        QString why;
        QVERIFY(restoreBase() && m_probe.open(m_container, &before, &why));
        std::unique_ptr<VaultManager> vault = openVault(false);
        QVERIFY(vault);
        const auto run = [&](ImportBatchSummary* summary) {
            return vault->importBatch(sweepBatch(), ExistingFiles::Replace, {}, summary);
        };
        ImportBatchSummary summary;
        ContainerFaultInjector::arm(Mode::Count, 0);
        QVERIFY2(run(&summary), qPrintable(vault->lastError().toString()));
        const int calls = ContainerFaultInjector::calls();
        const auto writes = ContainerFaultInjector::writes();
        ContainerFaultInjector::powerCut();
        VaultProbe::State after;
        QVERIFY2(m_probe.open(m_container, &after, &why), qPrintable(why));
        QCOMPARE(summary.imported, 4);
        int checkpointFiles = -1;
        QVERIFY(holdsAPrefix(after.listing, before.listing, after.listing, &checkpointFiles));

        QStringList problems;
        QSet<int> kept;
        bool openedForReal = false;
        int points = 0;
        for (const Point& point : pointsFor(calls, writes, Sanitized ? 2 : 1)) {
            if (!restoreBase()) {
                problems << "cannot reset the vault";
                break;
            }
            // Each run starts from the vault before the batch: a session whose
            // index moved on takes the one on the drive over when it begins.
            if (!vault)
                vault = openVault(false);
            if (!vault) {
                problems << "cannot unlock the vault";
                break;
            }
            ContainerFaultInjector::arm(point.mode, point.target);
            const bool ok = run(&summary);
            const bool crashed = ContainerFaultInjector::crashed();
            if (point.powerCut)
                ContainerFaultInjector::powerCut();
            ContainerFaultInjector::reset();
            ++points;
            const QString where = QStringLiteral("mode %1 at %2%3: ")
                                      .arg(int(point.mode))
                                      .arg(point.target)
                                      .arg(point.powerCut ? " with power cut" : "");
            if (!openedForReal && QFileInfo::exists(HeaderJournal::journalPath(m_container))) {
                openedForReal = true;
                if (!openThroughProgram(false))
                    problems << where + "the interrupted vault does not unlock";
            }
            const auto signedByTheVault = [this](const HeaderJournal::Pending& journal) {
                return HeaderJournal::authenticates(journal.bytes, m_journalKey)
                           ? HeaderJournal::Verdict::Apply
                           : HeaderJournal::Verdict::SetAside;
            };
            if (!ContainerRecovery::recover(m_container, signedByTheVault).ok())
                problems << where + "recovery failed";
            VaultProbe::State now;
            int filesKept = -1;
            if (!m_probe.open(m_container, &now, &why)) {
                problems << where + why;
                continue;
            }
            if (!holdsAPrefix(now.listing, before.listing, after.listing, &filesKept)) {
                problems << where + "not a whole prefix of the batch: " + now.listing.join(" | ");
                continue;
            }
            kept.insert(filesKept);
            if (ok && now.listing != after.listing)
                problems << where + "success reported but the batch is not on the drive";
            if (!crashed && listingOf(vault->fileIndex()) != now.listing)
                problems << where + "the index in memory differs from the drive";
            if (!crashed && !ok && summary.imported != filesKept)
                problems << where + QStringLiteral("summary says %1 kept, the drive holds %2")
                                        .arg(summary.imported)
                                        .arg(filesKept);
        }
        qInfo("batch import: %d points tried; files kept: %s", points,
              qPrintable(QStringList([&] {
                             QStringList l;
                             for (int k : kept)
                                 l << QString::number(k);
                             l.sort();
                             return l;
                         }())
                             .join(',')));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 10).join('\n')));
        // The interruptions met the vault before, at the checkpoint and after
        // (under sanitizers only every other point runs, and the last ones,
        // after the final header, may all be skipped).
        QVERIFY(kept.contains(0) && kept.contains(2) && (Sanitized || kept.contains(4)));
        m_unlocked = std::move(vault);
    }

    // With the journal step switched off the same sweep must find torn headers.
    void sweepCatchesAChangeWithoutJournal()
    {
        HeaderJournal::setEnabledForTesting(false);
        const SweepResult result = sweep(scenarios().at(2), 1);
        HeaderJournal::setEnabledForTesting(true);
        qInfo("without the journal: %d of %d points broke the vault", int(result.problems.size()),
              result.crashPoints + result.faults);
        QVERIFY(!result.problems.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCrashSweep)
#include "test_crash_sweep.moc"
