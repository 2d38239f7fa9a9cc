// The vault against what others write: a second program changing the same
// container, an index that authenticates but lies, and names other systems
// cannot hold. Nothing may be lost, read twice or written outside its place.

#include "EndedProcess.h"
#include "ForgedIndex.h"
#include "TempLocationOverride.h"
#include "TestFiles.h"
#include "VaultTestSupport.h"

#include "core/format/ContainerFormat.h"
#include "core/format/ContainerManager.h"
#include "core/storage/ContainerLock.h"
#include "core/storage/HeaderJournal.h"
#include "core/vault/VaultManager.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <thread>

#include <sys/file.h>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Keldra::Core;
using namespace TestSupport;
using namespace VaultTest;
using Reason = Error::Reason;

namespace {

const QByteArray Password = QByteArrayLiteral("correct horse battery");

QByteArray payloadNonceOf(const QString& container)
{
    ContainerDocument document;
    if (!ContainerManager().readDocument(container, &document).ok())
        return QByteArray();
    return document.crypto.payloadNonce;
}

} // namespace

class VaultHostileInputTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void anotherProgramsChangesAreBuiltUpon();
    void heldContainerRefusesEveryChange();
    void lockFileGuardsWhereTheSystemCannotLock();
    void readsFollowAnotherProgramsCompaction();
    void readsWaitForAnotherProgramsChange();
    void lyingIndexRecordsAreDamaged();
    void unreadableIndexIsDamagedAndNeverOverwritten();
    void forgedJournalNeverCutsTheVault();
    void journalOfAnEarlierVersionStillRollsBack();
    void namesWindowsCannotHoldAreNeverMade();
    void namesDifferingInCaseStayApart();
    void everyIndexSaveHasAFreshNonce();
    void exportNeverReplacesTheVaultOrASpecialFile();

private:
    QString source(const QString& name, const QByteArray& bytes);
    QString freshVault(const QString& name);

    QTemporaryDir m_dir;
    std::unique_ptr<TempLocationOverride> m_tempLocation;
    int m_count = 0;
};

QString VaultHostileInputTest::source(const QString& name, const QByteArray& bytes)
{
    const QString path = m_dir.filePath(QStringLiteral("src-%1-%2").arg(++m_count).arg(name));
    return writeFile(path, bytes) ? path : QString();
}

QString VaultHostileInputTest::freshVault(const QString& name)
{
    const QString path = m_dir.filePath(name);
    VaultManager vault;
    return vault.createVault(path, Password) ? path : QString();
}

void VaultHostileInputTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("tmp"))));
    m_tempLocation = std::make_unique<TempLocationOverride>(m_dir.filePath(QStringLiteral("tmp")));
}

void VaultHostileInputTest::cleanup()
{
    ContainerLock::setSystemLocksUnsupported(false);
}

void VaultHostileInputTest::anotherProgramsChangesAreBuiltUpon()
{
    // Two sessions on one container, as the window and keldra-cli would be.
    const QString container = freshVault(QStringLiteral("two.kldr"));
    QVERIFY(!container.isEmpty());
    VaultManager window;
    VaultManager cli;
    QVERIFY(window.unlockVault(container, Password));
    QVERIFY(cli.unlockVault(container, Password));

    QVERIFY(cli.importFile(source("x", "from the other program"), QStringLiteral("x.txt")));
    // The window's index is older than the header: its change goes on top.
    QVERIFY(window.createDirectory(QStringLiteral("Nova")));
    QCOMPARE(filePaths(window), QStringList{QStringLiteral("x.txt")});
    QVERIFY(window.importFile(source("y", "from the window"), QStringLiteral("y.txt")));
    QVERIFY(cli.renameFile(QStringLiteral("x.txt"), QStringLiteral("x2.txt")));
    QCOMPARE(filePaths(cli), QStringList({QStringLiteral("x2.txt"), QStringLiteral("y.txt")}));
    QVERIFY(window.deleteFile(QStringLiteral("y.txt")));
    // A change refused by the current index, not the stale one.
    QVERIFY(!cli.deleteFile(QStringLiteral("y.txt")));
    QCOMPARE(cli.lastError().reason(), Reason::FileNotFound);
    QVERIFY(cli.compactVault(VaultManager::ProgressCallback(), nullptr));
    QVERIFY(window.verifyFile(QStringLiteral("x2.txt"))); // after the other's compaction moved its blocks
    QVERIFY(window.createDirectory(QStringLiteral("Depois")));

    VaultManager fresh;
    QVERIFY(fresh.unlockVault(container, Password));
    QCOMPARE(filePaths(fresh), QStringList{QStringLiteral("x2.txt")});
    QCOMPARE(directoryPaths(fresh), QStringList({QStringLiteral("Nova"), QStringLiteral("Depois")}));
    QVERIFY(fresh.verifyFile(QStringLiteral("x2.txt")));
    QVERIFY(fresh.lockVault() && window.lockVault() && cli.lockVault());
}

void VaultHostileInputTest::heldContainerRefusesEveryChange()
{
#ifndef Q_OS_UNIX
    QSKIP("the other program's lock is taken with flock, which Windows does not have");
#else
    const QString container = freshVault(QStringLiteral("held.kldr"));
    QVERIFY(!container.isEmpty());
    VaultManager vault;
    QVERIFY(vault.unlockVault(container, Password));
    QVERIFY(vault.importFile(source("a", "a"), QStringLiteral("a.txt")));
    QVERIFY(vault.importFile(source("b", "b"), QStringLiteral("b.txt")));
    QVERIFY(vault.deleteFile(QStringLiteral("b.txt")));

    // Another program in the middle of a change: it holds the lock and its journal is there.
    QFile other(container);
    QVERIFY(other.open(QIODevice::ReadOnly));
    QCOMPARE(::flock(other.handle(), LOCK_EX | LOCK_NB), 0);
    const QByteArray head = readFile(container).mid(ContainerFormat::MagicSize, 10);
    QVERIFY(HeaderJournal::write(container, QFileInfo(container).size(),
                                 {JournalRange{ContainerFormat::MagicSize, head, head}})
                .ok());
    const QByteArray before = readFile(container);

    const auto reason = [&](bool ok) { return ok ? Reason::None : vault.lastError().reason(); };
    const QList<std::function<Reason()>> changes{
        [&] { return reason(vault.importFile(source("c", "c"), QStringLiteral("c.txt"))); },
        [&] { return reason(vault.createDirectory(QStringLiteral("d"))); },
        [&] { return reason(vault.renameFile(QStringLiteral("a.txt"), QStringLiteral("a2.txt"))); },
        [&] { return reason(vault.deleteFile(QStringLiteral("a.txt"))); },
        [&] { return reason(vault.compactVault(VaultManager::ProgressCallback(), nullptr)); },
        [&] {
            VaultManager another;
            return another.unlockVault(container, Password) ? Reason::None : another.lastError().reason();
        },
    };
    for (const auto& change : changes)
        QCOMPARE(change(), Reason::VaultInUse);
    // Its journal is its change in progress: never rolled back under it.
    QVERIFY(QFileInfo::exists(HeaderJournal::journalPath(container)));
    QCOMPARE(readFile(container), before);

    ::flock(other.handle(), LOCK_UN);
    other.close();
    QVERIFY(vault.createDirectory(QStringLiteral("d")));
    QVERIFY(!QFileInfo::exists(HeaderJournal::journalPath(container)));
    QVERIFY(vault.lockVault());
#endif
}

void VaultHostileInputTest::lockFileGuardsWhereTheSystemCannotLock()
{
    // A network or FUSE mount where flock fails: two changes at once would
    // both append at the same end and one index would win.
    ContainerLock::setSystemLocksUnsupported(true);
    const QString container = freshVault(QStringLiteral("nolocks.kldr"));
    QVERIFY(!container.isEmpty());
    const QString lockFile = ContainerLock::lockFilePath(container);
    VaultManager vault;
    QVERIFY(vault.unlockVault(container, Password));
    QVERIFY(vault.importFile(source("a", "first"), QStringLiteral("a.txt")));
    QVERIFY(!QFileInfo::exists(lockFile));

    // Another session of this host in the middle of its change (a running
    // program: this one, whose lock table does not know that file).
    const QByteArray host = QSysInfo::machineHostName().toUtf8();
    QVERIFY(writeFile(lockFile, host + '\n' + QByteArray::number(QCoreApplication::applicationPid()) + '\n'));
    const QByteArray before = readFile(container);
    const auto reason = [&](bool ok) { return ok ? Reason::None : vault.lastError().reason(); };
    QCOMPARE(reason(vault.importFile(source("b", "second"), QStringLiteral("b.txt"))), Reason::VaultInUse);
    QCOMPARE(reason(vault.renameFile(QStringLiteral("a.txt"), QStringLiteral("c.txt"))), Reason::VaultInUse);
    QCOMPARE(reason(vault.compactVault(VaultManager::ProgressCallback(), nullptr)), Reason::VaultInUse);
    QCOMPARE(readFile(container), before);

    // That program ended without removing it: the next change takes it over.
    QVERIFY(writeFile(lockFile, host + '\n' + QByteArray::number(endedProcessId()) + '\n'));
    QVERIFY(vault.importFile(source("b", "second"), QStringLiteral("b.txt")));
    QVERIFY(!QFileInfo::exists(lockFile));
    QCOMPARE(filePaths(vault), QStringList({QStringLiteral("a.txt"), QStringLiteral("b.txt")}));
    QVERIFY(vault.verifyFile(QStringLiteral("a.txt")) && vault.verifyFile(QStringLiteral("b.txt")));
    QVERIFY(vault.lockVault());
}

void VaultHostileInputTest::readsFollowAnotherProgramsCompaction()
{
    const QString container = freshVault(QStringLiteral("moved.kldr"));
    QVERIFY(!container.isEmpty());
    VaultManager cli;
    QVERIFY(cli.unlockVault(container, Password));
    QList<QByteArray> contents;
    for (int i = 0; i < 7; ++i) {
        contents.append(patternBytes(3000 + 1000 * i, 20 + i));
        const QString name = QStringLiteral("f%1.bin").arg(i);
        QVERIFY(cli.importFile(source(name, contents.last()), name));
    }
    // The window read the index; then the other program's compaction moved every block.
    VaultManager window;
    QVERIFY(window.unlockVault(container, Password));
    QVERIFY(cli.deleteFile(QStringLiteral("f0.bin")));
    QVERIFY(cli.compactVault(VaultManager::ProgressCallback(), nullptr));

    // Sound files are read where they are now, never reported damaged.
    const QString out = m_dir.filePath(QStringLiteral("moved.bin"));
    QVERIFY2(window.exportFile(QStringLiteral("f3.bin"), out), qPrintable(window.lastError().toString()));
    QCOMPARE(readFile(out), contents.at(3));
    for (int i = 1; i < 7; ++i) {
        const QString name = QStringLiteral("f%1.bin").arg(i);
        QVERIFY2(window.verifyFile(name), qPrintable(name + window.lastError().toString()));
    }
    QString copy;
    QVERIFY(window.prepareFileForEditing(QStringLiteral("f6.bin"), &copy));
    QCOMPARE(readFile(copy), contents.at(6));
    QVERIFY(!window.verifyFile(QStringLiteral("f0.bin")));
    QCOMPARE(window.lastError().reason(), Reason::FileNotFound);
    QVERIFY(window.lockVault() && cli.lockVault());
}

void VaultHostileInputTest::readsWaitForAnotherProgramsChange()
{
#ifndef Q_OS_UNIX
    QSKIP("the other program's lock is taken with flock, which Windows does not have");
#else
    const QString container = freshVault(QStringLiteral("reading.kldr"));
    QVERIFY(!container.isEmpty());
    const QByteArray content = patternBytes(5000, 40);
    VaultManager vault;
    QVERIFY(vault.unlockVault(container, Password));
    QVERIFY(vault.importFile(source("r", content), QStringLiteral("r.bin")));

    // Another program is changing the container (a compaction may be moving its blocks).
    QFile other(container);
    QVERIFY(other.open(QIODevice::ReadOnly));
    QCOMPARE(::flock(other.handle(), LOCK_EX | LOCK_NB), 0);
    const QString out = m_dir.filePath(QStringLiteral("read.bin"));
    QVERIFY(writeFile(out, "kept"));
    QVERIFY(!vault.exportFile(QStringLiteral("r.bin"), out));
    QCOMPARE(vault.lastError().reason(), Reason::VaultInUse);
    QCOMPARE(readFile(out), QByteArray("kept"));
    QVERIFY(!vault.verifyFile(QStringLiteral("r.bin")));
    QCOMPARE(vault.lastError().reason(), Reason::VaultInUse);
    QString copy;
    QVERIFY(!vault.prepareFileForEditing(QStringLiteral("r.bin"), &copy));
    QCOMPARE(vault.lastError().reason(), Reason::VaultInUse);

    // A change that ends soon is waited for.
    std::thread ends([&] {
        QThread::msleep(300);
        ::flock(other.handle(), LOCK_UN);
    });
    const bool verified = vault.verifyFile(QStringLiteral("r.bin"));
    ends.join();
    QVERIFY(verified);
    // Another program's read is no obstacle.
    QCOMPARE(::flock(other.handle(), LOCK_SH | LOCK_NB), 0);
    QVERIFY(vault.exportFile(QStringLiteral("r.bin"), out));
    QCOMPARE(readFile(out), content);
    ::flock(other.handle(), LOCK_UN);
    QVERIFY(vault.lockVault());
#endif
}

void VaultHostileInputTest::lyingIndexRecordsAreDamaged()
{
    const QString container = freshVault(QStringLiteral("liar.kldr"));
    QVERIFY(!container.isEmpty());
    const QByteArray good = patternBytes(70000, 1);
    QList<VaultFileBlock> dead;
    {
        VaultManager vault;
        QVERIFY(vault.unlockVault(container, Password));
        QVERIFY(vault.importFile(source("good", good), QStringLiteral("good.bin")));
        for (int i = 0; i < 3; ++i) {
            const QString name = QStringLiteral("dead%1.bin").arg(i);
            QVERIFY(vault.importFile(source(name, patternBytes(5000, i + 2)), name));
            VaultFileEntry entry;
            QVERIFY(findEntry(vault, name, &entry));
            dead.append(entry.blocks.first());
            QVERIFY(vault.deleteFile(name));
        }
        QVERIFY(vault.lockVault());
    }
    const qint64 size = QFileInfo(container).size();
    const auto entry = [](const QString& path, qint64 bytes, const QList<VaultFileBlock>& blocks) {
        VaultFileEntry e;
        e.id = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e");
        e.vaultPath = path;
        e.sizeBytes = bytes;
        e.sha256 = QCryptographicHash::hash(QByteArray(int(bytes), 'x'), QCryptographicHash::Sha256);
        e.blocks = blocks;
        return e;
    };
    VaultFileBlock outside = dead.at(2);
    outside.offset = size - outside.encryptedSize + 1;
    VaultFileBlock inHeader = dead.at(2);
    inHeader.offset = ContainerFormat::PayloadStart - 100;
    QVERIFY(resealIndex(container, Password, [&](SecureFileIndex* index) {
        // One block eight times for a 3-byte file: a terabyte from a small header.
        index->addOrReplace(entry(QStringLiteral("repeat.txt"), 3, QList<VaultFileBlock>(8, dead.at(0))));
        index->addOrReplace(entry(QStringLiteral("miscount.txt"), dead.at(1).plainSize + 5, {dead.at(1)}));
        index->addOrReplace(entry(QStringLiteral("outside.txt"), outside.plainSize, {outside}));
        index->addOrReplace(entry(QStringLiteral("header.txt"), inHeader.plainSize, {inHeader}));
        // Sound blocks, wrong digest: only what export reads back can tell.
        index->addOrReplace(entry(QStringLiteral("digest.txt"), dead.at(2).plainSize, {dead.at(2)}));
    }));
    const QByteArray before = readFile(container);

    VaultManager vault;
    QVERIFY(vault.unlockVault(container, Password));
    QCOMPARE(filePaths(vault).size(), 6); // listed all the same
    const QString out = m_dir.filePath(QStringLiteral("out.bin"));
    for (const QString& path :
         {QStringLiteral("repeat.txt"), QStringLiteral("miscount.txt"), QStringLiteral("outside.txt"),
          QStringLiteral("header.txt"), QStringLiteral("digest.txt")}) {
        QVERIFY2(!vault.exportFile(path, out), qPrintable(path));
        QCOMPARE(vault.lastError().reason(), Reason::DamagedFile);
        QVERIFY2(!QFileInfo::exists(out), qPrintable(path)); // nothing kept
        QString copy;
        QVERIFY(!vault.prepareFileForEditing(path, &copy));
        QCOMPARE(vault.lastError().reason(), Reason::DamagedFile);
    }
    QVERIFY(QDir(m_dir.filePath(QStringLiteral("tmp"))).entryList({QStringLiteral("digest.txt")}).isEmpty());
    QVERIFY(writeFile(out, "kept"));
    QVERIFY(!vault.exportFile(QStringLiteral("digest.txt"), out));
    QCOMPARE(readFile(out), QByteArray("kept"));
    QVERIFY(vault.exportFile(QStringLiteral("good.bin"), out));
    QCOMPARE(readFile(out), good);

    // Compaction would copy the repeated block eight times over.
    QVERIFY(!vault.compactVault(VaultManager::ProgressCallback(), nullptr));
    QCOMPARE(vault.lastError().reason(), Reason::DamagedFile);
    QCOMPARE(readFile(container), before);
    for (const QString& path : {QStringLiteral("repeat.txt"), QStringLiteral("miscount.txt"),
                                QStringLiteral("outside.txt"), QStringLiteral("header.txt")})
        QVERIFY(vault.deleteFile(path));
    QVERIFY(vault.compactVault(VaultManager::ProgressCallback(), nullptr));
    QVERIFY(vault.verifyFile(QStringLiteral("good.bin")));
    QVERIFY(vault.lockVault());
}

void VaultHostileInputTest::unreadableIndexIsDamagedAndNeverOverwritten()
{
    // Each seals under the vault's own key, so only reading it can tell.
    const QList<QByteArray> garbage = {
        QByteArrayLiteral("{\"directories\":[],\"files\":["), // cut short
        QByteArrayLiteral("{\"directories\":[],\"files\":[],\"formatVersion\":1,\"x\":\"\xff\xfe\"}"),
        QByteArrayLiteral("[]"),
        QByteArrayLiteral("\x00\x01\x02 binary"),
        QByteArrayLiteral("{\"directories\":[],\"files\":\"a.txt\"}"),
        QByteArrayLiteral("{\"directories\":[],\"files\":[17]}"),
    };
    const QString container = freshVault(QStringLiteral("garbage.kldr"));
    QVERIFY(!container.isEmpty());
    VaultManager session;
    QVERIFY(session.unlockVault(container, Password));
    QVERIFY(session.importFile(source("kept", "a record to keep"), QStringLiteral("kept.txt")));
    const QByteArray sound = readFile(container);
    for (const QByteArray& text : garbage) {
        // Another program seals garbage while this session is open: the
        // takeover before a change must refuse it, not build on nothing.
        QVERIFY(writeFile(container, sound));
        QVERIFY(resealIndexText(container, Password, [&](const QByteArray&) { return text; }));
        const QByteArray before = readFile(container);
        QVERIFY2(!session.createDirectory(QStringLiteral("Nova")), text.constData());
        QCOMPARE(session.lastError().reason(), Reason::DamagedContainer);
        QVERIFY(!session.refreshIndex());
        QCOMPARE(session.lastError().reason(), Reason::DamagedContainer);
        QCOMPARE(readFile(container), before);

        VaultManager later;
        QVERIFY2(!later.unlockVault(container, Password), text.constData());
        QCOMPARE(later.lastError().reason(), Reason::DamagedContainer);
        QCOMPARE(later.state(), VaultState::Locked);
        QCOMPARE(readFile(container), before);
    }
    QVERIFY(session.lockVault());
}

void VaultHostileInputTest::forgedJournalNeverCutsTheVault()
{
    const QString container = freshVault(QStringLiteral("forged-journal.kldr"));
    QVERIFY(!container.isEmpty());
    const QByteArray a = patternBytes(70000, 7);
    const QByteArray b = patternBytes(3000, 8);
    {
        VaultManager vault;
        QVERIFY(vault.unlockVault(container, Password));
        QVERIFY(vault.importFile(source("a", a), QStringLiteral("a.bin")));
        QVERIFY(vault.importFile(source("b", b), QStringLiteral("b.bin")));
        QVERIFY(vault.lockVault());
    }
    const QByteArray sound = readFile(container);
    const QString journal = HeaderJournal::journalPath(container);
    const auto filesAreWhole = [&](VaultManager& vault) {
        const QString out = m_dir.filePath(QStringLiteral("forged-out.bin"));
        return vault.exportFile(QStringLiteral("a.bin"), out) && readFile(out) == a &&
               vault.exportFile(QStringLiteral("b.bin"), out) && readFile(out) == b;
    };
    // Puts the header back byte for byte and cuts every block off.
    const JournalRange same{ContainerFormat::MagicSize, sound.mid(ContainerFormat::MagicSize, 64),
                            sound.mid(ContainerFormat::MagicSize, 64)};
    const QByteArray withoutMac = HeaderJournal::serialize(ContainerFormat::PayloadStart, {same});
    const QByteArray otherKey = HeaderJournal::serialize(ContainerFormat::PayloadStart, {same},
                                                         HeaderJournal::keyFor(QByteArray(64, 'x')));
    for (const QByteArray& forged : {withoutMac, otherKey}) {
        QVERIFY(writeFile(journal, forged));
        VaultManager wrong;
        QVERIFY(!wrong.unlockVault(container, "not the password"));
        QCOMPARE(wrong.lastError().reason(), Reason::WrongPassword);
        QVERIFY(!wrong.changePassword(container, "not the password", "another one"));
        QCOMPARE(wrong.lastError().reason(), Reason::WrongPassword);
        QCOMPARE(readFile(container), sound);
        QCOMPARE(readFile(journal), forged);

        VaultManager vault;
        QVERIFY(vault.unlockVault(container, Password));
        QCOMPARE(readFile(container), sound);
        QVERIFY(!QFileInfo::exists(journal));
        QVERIFY(filesAreWhole(vault));
        QVERIFY(vault.lockVault());
    }

    // Planted while a session is open: the next change sets it aside and goes on.
    VaultManager vault;
    QVERIFY(vault.unlockVault(container, Password));
    QVERIFY(writeFile(journal, otherKey));
    QVERIFY(vault.createDirectory(QStringLiteral("Nova")));
    QVERIFY(!QFileInfo::exists(journal));
    QVERIFY(filesAreWhole(vault));
    QVERIFY(vault.lockVault());
    // Kept for whoever wants to look, never deleted.
    QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("forged-journal.kldr-journal.rejected-*")}).size(),
             3);
}

void VaultHostileInputTest::journalOfAnEarlierVersionStillRollsBack()
{
    const QString container = freshVault(QStringLiteral("earlier-journal.kldr"));
    QVERIFY(!container.isEmpty());
    const QByteArray a = patternBytes(5000, 11);
    VaultManager vault;
    QVERIFY(vault.unlockVault(container, Password));
    QVERIFY(vault.importFile(source("a", a), QStringLiteral("a.bin")));
    const QByteArray before = readFile(container);
    QVERIFY(vault.importFile(source("b", patternBytes(9000, 12)), QStringLiteral("b.bin")));
    QVERIFY(vault.lockVault());
    const QByteArray after = readFile(container);

    // The header rewrite of that import, journaled without a MAC as earlier versions did.
    qint64 first = ContainerFormat::MagicSize;
    while (before[first] == after[first])
        ++first;
    qint64 last = ContainerFormat::PayloadStart - 1;
    while (before[last] == after[last])
        --last;
    const qint64 length = last - first + 1;
    const QByteArray journalBytes = HeaderJournal::serialize(
        before.size(), {{first, before.mid(first, length), after.mid(first, length)}});
    const QString journal = HeaderJournal::journalPath(container);

    // Torn halfway: rolled back, but only once the password is proven.
    QByteArray torn = after;
    torn.replace(first + length / 2, length - length / 2,
                 before.mid(first + length / 2, length - length / 2));
    QVERIFY(writeFile(container, torn));
    QVERIFY(writeFile(journal, journalBytes));
    VaultManager wrong;
    QVERIFY(!wrong.unlockVault(container, "not the password"));
    QCOMPARE(readFile(container), torn);
    QVERIFY(vault.unlockVault(container, Password));
    QCOMPARE(readFile(container), before);
    QVERIFY(!QFileInfo::exists(journal));
    QCOMPARE(filePaths(vault), QStringList{QStringLiteral("a.bin")});
    QVERIFY(vault.verifyFile(QStringLiteral("a.bin")));
    QVERIFY(vault.lockVault());

    // Written whole before the crash: the new header stands, nothing is cut.
    QVERIFY(writeFile(container, after));
    QVERIFY(writeFile(journal, journalBytes));
    QVERIFY(vault.unlockVault(container, Password));
    QCOMPARE(readFile(container), after);
    QVERIFY(!QFileInfo::exists(journal));
    QVERIFY(vault.verifyFile(QStringLiteral("b.bin")));
    QVERIFY(vault.lockVault());
}

void VaultHostileInputTest::namesWindowsCannotHoldAreNeverMade()
{
    const QString container = freshVault(QStringLiteral("names.kldr"));
    QVERIFY(!container.isEmpty());
    const QByteArray content = "made elsewhere";
    {
        VaultManager vault;
        QVERIFY(vault.unlockVault(container, Password));
        QVERIFY(vault.importFile(source("e", content), QStringLiteral("res/a.txt")));
        QVERIFY(vault.lockVault());
    }
    // A vault written by another program, with names only Linux can hold.
    QVERIFY(resealIndex(container, Password, [](SecureFileIndex* index) {
        VaultFileEntry entry = index->entries().first();
        QVERIFY(index->remove(entry.vaultPath));
        entry.vaultPath = QStringLiteral(":res/a.txt");
        index->addOrReplace(entry);
        entry.vaultPath = QStringLiteral("COM1.txt");
        entry.blocks.clear();
        entry.sizeBytes = 0;
        entry.sha256 = QCryptographicHash::hash(QByteArray(), QCryptographicHash::Sha256);
        index->addOrReplace(entry);
    }));

    VaultManager vault;
    QVERIFY(vault.unlockVault(container, Password));
    const QStringList refused{QStringLiteral("C:\\Windows\\x.txt"),
                              QStringLiteral("CON"),
                              QStringLiteral("docs/nul.txt"),
                              QStringLiteral("Lpt9.tar.gz"),
                              QStringLiteral("a."),
                              QStringLiteral("x|y"),
                              QStringLiteral("why?"),
                              QStringLiteral("a\tb"),
                              QStringLiteral("quote\"d"),
                              QStringLiteral("<b>")};
    const QString text = source("t", "t");
    for (const QString& name : refused) {
        QVERIFY2(!vault.importFile(text, name), qPrintable(name));
        QCOMPARE(vault.lastError().reason(), Reason::InvalidPath);
        QVERIFY2(!vault.createDirectory(name), qPrintable(name));
        QCOMPARE(vault.lastError().reason(), Reason::InvalidPath);
        QVERIFY2(!vault.renameFile(QStringLiteral("COM1.txt"), name), qPrintable(name));
        QCOMPARE(vault.lastError().reason(), Reason::InvalidPath);
    }
    QCOMPARE(filePaths(vault), QStringList({QStringLiteral(":res/a.txt"), QStringLiteral("COM1.txt")}));

    // The editing copy of ":res/a.txt" would be a Qt resource path, not a file in the workspace.
    QString copy;
    QVERIFY(!vault.prepareFileForEditing(QStringLiteral(":res/a.txt"), &copy));
    QCOMPARE(vault.lastError().reason(), Reason::InvalidPath);
    QVERIFY(copy.isEmpty());

    // Such files are exported, replaced in place and renamed to names every system holds.
    const QString out = m_dir.filePath(QStringLiteral("safe.txt"));
    QVERIFY(vault.exportFile(QStringLiteral(":res/a.txt"), out));
    QCOMPARE(readFile(out), content);
    QVERIFY(vault.importFile(text, QStringLiteral("com1.TXT")));
    QVERIFY(vault.renameFile(QStringLiteral(":res/a.txt"), QStringLiteral("res/a.txt")));
    QVERIFY(vault.renameFile(QStringLiteral("com1.TXT"), QStringLiteral("com10.txt")));
    QVERIFY(vault.prepareFileForEditing(QStringLiteral("res/a.txt"), &copy));
    QVERIFY(copy.startsWith(m_dir.filePath(QStringLiteral("tmp")) + QLatin1Char('/')));
    QVERIFY(vault.lockVault());
}

void VaultHostileInputTest::namesDifferingInCaseStayApart()
{
    const QString container = freshVault(QStringLiteral("case.kldr"));
    QVERIFY(!container.isEmpty());
    {
        VaultManager vault;
        QVERIFY(vault.unlockVault(container, Password));
        QVERIFY(vault.importFile(source("upper", "upper case"), QStringLiteral("Notas.txt")));
        QVERIFY(vault.importFile(source("lower", "lower case"), QStringLiteral("other.txt")));
        QVERIFY(vault.lockVault());
    }
    // Made on a system whose names tell case apart: both spellings are files.
    QVERIFY(resealIndex(container, Password, [](SecureFileIndex* index) {
        VaultFileEntry entry = index->entries().last();
        QVERIFY(index->remove(QStringLiteral("other.txt")));
        entry.vaultPath = QStringLiteral("notas.txt");
        index->addOrReplace(entry);
    }));

    VaultManager vault;
    QVERIFY(vault.unlockVault(container, Password));
    const QString out = m_dir.filePath(QStringLiteral("case.txt"));
    QVERIFY(vault.exportFile(QStringLiteral("notas.txt"), out));
    QCOMPARE(readFile(out), QByteArray("lower case"));
    QVERIFY(vault.exportFile(QStringLiteral("Notas.txt"), out));
    QCOMPARE(readFile(out), QByteArray("upper case"));
    // Another spelling still finds a file.
    QVERIFY(vault.exportFile(QStringLiteral("NOTAS.TXT"), out));
    QVERIFY(vault.verifyFile(QStringLiteral("notas.txt")));
    QVERIFY(vault.lockVault());
}

void VaultHostileInputTest::everyIndexSaveHasAFreshNonce()
{
    // The index key never changes: a nonce used twice would expose both indexes.
    const QString container = freshVault(QStringLiteral("nonce.kldr"));
    QVERIFY(!container.isEmpty());
    VaultManager vault;
    QVERIFY(vault.unlockVault(container, Password));
    QSet<QByteArray> seen{payloadNonceOf(container)};
    const auto fresh = [&](const char* what) {
        const QByteArray nonce = payloadNonceOf(container);
        if (nonce.size() != 24 || seen.contains(nonce)) {
            qWarning("%s reused or lost the index nonce", what);
            return false;
        }
        seen.insert(nonce);
        return true;
    };
    QVERIFY(vault.importFile(source("a", "a"), QStringLiteral("a.txt")) && fresh("import"));
    QVERIFY(vault.importFile(source("a2", "a2"), QStringLiteral("a.txt")) && fresh("replacing import"));
    QVERIFY(vault.importFile(source("b", "b"), QStringLiteral("b.txt")) && fresh("import"));
    QVERIFY(vault.createDirectory(QStringLiteral("d")) && fresh("new folder"));
    QVERIFY(vault.renameDirectory(QStringLiteral("d"), QStringLiteral("e")) && fresh("folder rename"));
    QVERIFY(vault.renameFile(QStringLiteral("a.txt"), QStringLiteral("c.txt")) && fresh("rename"));
    QVERIFY(vault.moveFile(QStringLiteral("c.txt"), QStringLiteral("e")) && fresh("move"));
    QVERIFY(vault.deleteFile(QStringLiteral("b.txt")) && fresh("delete"));
    QVERIFY(vault.deleteFile(QStringLiteral("e/c.txt")) && fresh("delete"));
    QVERIFY(vault.deleteDirectory(QStringLiteral("e")) && fresh("folder delete"));
    QVERIFY(vault.compactVault(VaultManager::ProgressCallback(), nullptr) && fresh("compaction"));
    QVERIFY(vault.compactVault(VaultManager::ProgressCallback(), nullptr) && fresh("compaction"));
    QVERIFY(vault.lockVault());
}

void VaultHostileInputTest::exportNeverReplacesTheVaultOrASpecialFile()
{
    const QString container = freshVault(QStringLiteral("Export.kldr"));
    QVERIFY(!container.isEmpty());
    VaultManager vault;
    QVERIFY(vault.unlockVault(container, Password));
    QVERIFY(vault.importFile(source("p", "plaintext"), QStringLiteral("p.txt")));
    const QByteArray before = readFile(container);

    // The container under other names, and the names of its journal and
    // compaction copy, present or not, in any letter case.
    const QString journal = container + QStringLiteral("-journal");
    const QString compact = container + QStringLiteral("-compact");
    QVERIFY(writeFile(compact, "compacted copy"));
    QStringList refused = {container, journal, m_dir.filePath(QStringLiteral("EXPORT.KLDR-JOURNAL")), compact,
                           m_dir.filePath(QStringLiteral("tmp/../Export.kldr"))};
#ifdef Q_OS_UNIX
    const QString link = m_dir.filePath(QStringLiteral("link-to-vault"));
    const QString hardLink = m_dir.filePath(QStringLiteral("hard-link-to-vault"));
    const QString danglingToJournal = m_dir.filePath(QStringLiteral("link-to-journal"));
    QVERIFY(QFile::link(container, link));
    QCOMPARE(::link(QFile::encodeName(container).constData(), QFile::encodeName(hardLink).constData()), 0);
    QVERIFY(QFile::link(journal, danglingToJournal));
    refused << link << hardLink << danglingToJournal;
#endif
    for (const QString& destination : refused) {
        QVERIFY2(!vault.exportFile(QStringLiteral("p.txt"), destination), qPrintable(destination));
        QCOMPARE(vault.lastError().reason(), Reason::InvalidArgument);
    }
    QCOMPARE(readFile(container), before);
    QCOMPARE(readFile(compact), QByteArray("compacted copy"));
    QVERIFY(!QFileInfo::exists(journal));
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("EXPORT.KLDR-JOURNAL"))));
    QVERIFY(QFile::remove(compact));

    // A folder is no file to write; a pipe (or a device) is never turned into
    // a regular file holding the plaintext.
    QVERIFY(!vault.exportFile(QStringLiteral("p.txt"), m_dir.filePath(QStringLiteral("tmp"))));
    QCOMPARE(vault.lastError().reason(), Reason::DestinationUnwritable);
#ifdef Q_OS_UNIX
    const QString fifo = m_dir.filePath(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString linkToFifo = m_dir.filePath(QStringLiteral("link-to-fifo"));
    QVERIFY(QFile::link(fifo, linkToFifo));
    for (const QString& destination : {fifo, linkToFifo}) {
        QVERIFY2(!vault.exportFile(QStringLiteral("p.txt"), destination), qPrintable(destination));
        QCOMPARE(vault.lastError().reason(), Reason::DestinationUnwritable);
    }
    struct stat status;
    QCOMPARE(::lstat(QFile::encodeName(fifo).constData(), &status), 0);
    QVERIFY(S_ISFIFO(status.st_mode));

    // A link to an ordinary file still leads to it, and stays a link.
    const QString target = m_dir.filePath(QStringLiteral("target.txt"));
    const QString linkToTarget = m_dir.filePath(QStringLiteral("link-to-target"));
    QVERIFY(writeFile(target, "old"));
    QVERIFY(QFile::link(target, linkToTarget));
    QVERIFY(vault.exportFile(QStringLiteral("p.txt"), linkToTarget));
    QCOMPARE(readFile(target), QByteArray("plaintext"));
    QVERIFY(QFileInfo(linkToTarget).isSymLink());
#endif
    QVERIFY(vault.lockVault());
    QVERIFY(vault.unlockVault(container, Password));
    QCOMPARE(filePaths(vault), QStringList{QStringLiteral("p.txt")});
    QVERIFY(vault.lockVault());
}

QTEST_GUILESS_MAIN(VaultHostileInputTest)
#include "test_vault_hostile_input.moc"
