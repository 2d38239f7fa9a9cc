// Content of an unlocked vault: import/export across block boundaries,
// replacement, roll-back, tree operations, compaction and editing copies.
// One vault is unlocked once and shared, since every unlock costs an
// Argon2id derivation.

#include "FullIndex.h"
#include "TestFiles.h"
#include "VaultTestSupport.h"

#include "core/format/ContainerFormat.h"
#include "core/format/ContainerManager.h"
#include "core/storage/ContainerFaultInjector.h"
#include "core/storage/HeaderJournal.h"
#include "core/vault/VaultManager.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace Keldra::Core;
using namespace TestSupport;
using namespace VaultTest;

class VaultContentTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void importExportAcrossBlockBoundaries_data();
    void importExportAcrossBlockBoundaries();
    void replacementIgnoresLetterCase();
    void refusesPathsThatNormaliseToEmpty();
    void failedImportLeavesContainerByteIdentical();
    void failedExportLeavesNoPlaintextAndKeepsDestination();

    void fileRenameAndMoveRules();
    void folderCreateRenameDeleteRules();
    void deleteFileKeepsContainerLength();
    void refusalsSayWhy();
    void fullDriveSaysSoAndChangesNothing();
    void fullIndexIsRefusedBeforeAnythingIsWritten();

    void compactionDropsDeadSpaceAndKeepsContent();

    void editCopiesArePrivateAndSyncedAtLock();
    void everyOperationRefusedWhileLocked();

private:
    QString source(const QString& name, const QByteArray& bytes);
    QByteArray exported(const QString& vaultPath);

    QTemporaryDir m_dir;
    QString m_container;
    const QByteArray m_password = QByteArrayLiteral("correct horse battery");
    VaultManager m_vault;
    int m_sourceCount = 0;
};

QString VaultContentTest::source(const QString& name, const QByteArray& bytes)
{
    const QString path = m_dir.filePath(QStringLiteral("src-%1-%2").arg(++m_sourceCount).arg(name));
    if (!writeFile(path, bytes))
        return QString();
    return path;
}

QByteArray VaultContentTest::exported(const QString& vaultPath)
{
    const QString path = m_dir.filePath(QStringLiteral("out-%1").arg(++m_sourceCount));
    if (!m_vault.exportFile(vaultPath, path))
        return QByteArrayLiteral("<export failed>");
    return readFile(path);
}

void VaultContentTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_container = m_dir.filePath(QStringLiteral("keldra.kldr"));
    QVERIFY(m_vault.createVault(m_container, m_password));
    QVERIFY(m_vault.unlockVault(m_container, m_password));
    QCOMPARE(m_vault.state(), VaultState::Unlocked);
    QVERIFY(m_vault.fileIndex().entries().isEmpty());
}

void VaultContentTest::importExportAcrossBlockBoundaries_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("blocks");
    QTest::newRow("empty") << qint64(0) << 0;
    QTest::newRow("one byte") << qint64(1) << 1;
    QTest::newRow("exactly one block") << VaultManager::BlockSize << 1;
    QTest::newRow("one block and a byte") << VaultManager::BlockSize + 1 << 2;
}

void VaultContentTest::importExportAcrossBlockBoundaries()
{
    QFETCH(qint64, size);
    QFETCH(int, blocks);
    const QByteArray content = patternBytes(size, blocks);
    const QString path = source(QStringLiteral("boundary"), content);
    const QString vaultPath = QStringLiteral("Sizes/file-%1.bin").arg(size);
    const qint64 before = QFileInfo(m_container).size();

    QList<qint64> progressDone;
    const bool imported =
        m_vault.importFile(path, vaultPath, [&](qint64 done, qint64 total, const QString& text) {
            progressDone.append(done);
            QCOMPARE(total, size);
            QCOMPARE(text, vaultPath);
        });
    QVERIFY(imported);

    VaultFileEntry entry;
    QVERIFY(findEntry(m_vault, vaultPath, &entry));
    QCOMPARE(entry.sizeBytes, size);
    QCOMPARE(entry.sha256, QCryptographicHash::hash(content, QCryptographicHash::Sha256));
    QCOMPARE(entry.blocks.size(), blocks);
    QCOMPARE(progressDone.size(), blocks);
    qint64 expectedOffset = before;
    qint64 plainTotal = 0;
    for (const VaultFileBlock& block : entry.blocks) {
        QCOMPARE(block.offset, expectedOffset); // back to back at the old end
        QCOMPARE(block.encryptedSize, block.plainSize + 16);
        QCOMPARE(block.nonce.size(), 24);
        QVERIFY(block.plainSize <= VaultManager::BlockSize);
        expectedOffset += block.encryptedSize;
        plainTotal += block.plainSize;
    }
    QCOMPARE(plainTotal, size);
    if (blocks == 2)
        QCOMPARE(entry.blocks.last().plainSize, qint64(1));
    QCOMPARE(QFileInfo(m_container).size(), expectedOffset);
    if (!progressDone.isEmpty())
        QCOMPARE(progressDone.last(), size);

    QCOMPARE(exported(vaultPath), content);
    qint64 checked = 0;
    QVERIFY(m_vault.verifyFile(vaultPath, [&](qint64 done, qint64 total, const QString& text) {
        QCOMPARE(total, size);
        QCOMPARE(text, entry.vaultPath);
        checked = done;
    }));
    QCOMPARE(checked, size);
}

void VaultContentTest::replacementIgnoresLetterCase()
{
    QVERIFY(m_vault.importFile(source(QStringLiteral("a"), "first"), QStringLiteral("Case/Report.txt")));
    QVERIFY(m_vault.importFile(source(QStringLiteral("b"), "other"), QStringLiteral("Case/other.txt")));
    VaultFileEntry first;
    QVERIFY(findEntry(m_vault, QStringLiteral("Case/Report.txt"), &first));
    const int directoriesBefore = m_vault.fileIndex().directories().size();

    QVERIFY(m_vault.importFile(source(QStringLiteral("c"), "second version"),
                               QStringLiteral("case\\REPORT.TXT ")));
    QVERIFY(!findEntry(m_vault, QStringLiteral("Case/Report.txt")));
    VaultFileEntry replaced;
    QVERIFY(findEntry(m_vault, QStringLiteral("case/REPORT.TXT"), &replaced));
    QVERIFY(replaced.id != first.id);
    QCOMPARE(filePaths(m_vault).last(), QStringLiteral("case/REPORT.TXT"));
    // "case" matches the existing folder "Case": no second folder.
    QCOMPARE(m_vault.fileIndex().directories().size(), directoriesBefore);
    QCOMPARE(exported(QStringLiteral("CASE/report.txt")), QByteArray("second version"));
    QCOMPARE(exported(QStringLiteral("Case/other.txt")), QByteArray("other"));
}

void VaultContentTest::refusesPathsThatNormaliseToEmpty()
{
    const QString path = source(QStringLiteral("x"), "x");
    const QStringList filePathsBefore = filePaths(m_vault);
    const QByteArray indexBefore = m_vault.fileIndex().toJson();
    const qint64 sizeBefore = QFileInfo(m_container).size();
    const QStringList bad = {QString(),
                             QStringLiteral("/"),
                             QStringLiteral("."),
                             QStringLiteral(".."),
                             QStringLiteral("a/../b"),
                             QStringLiteral("a/./b"),
                             QStringLiteral("a/ /b"),
                             QStringLiteral("   ")};
    for (const QString& vaultPath : bad) {
        QVERIFY2(!m_vault.importFile(path, vaultPath), qPrintable(vaultPath));
        QVERIFY(!m_vault.exportFile(vaultPath, m_dir.filePath(QStringLiteral("never"))));
        QVERIFY(!m_vault.createDirectory(vaultPath));
        QVERIFY(!m_vault.deleteFile(vaultPath));
        QVERIFY(!m_vault.deleteDirectory(vaultPath));
        QVERIFY(!m_vault.renameFile(vaultPath, QStringLiteral("n.txt")));
        QVERIFY(!m_vault.renameDirectory(vaultPath, QStringLiteral("n")));
        QVERIFY(!m_vault.moveFile(vaultPath, QString()));
    }
    // A missing or non-regular source, and the container itself.
    QVERIFY(!m_vault.importFile(m_dir.filePath(QStringLiteral("missing")), QStringLiteral("m.txt")));
    QVERIFY(!m_vault.importFile(m_dir.path(), QStringLiteral("m.txt")));
    QVERIFY(!m_vault.importFile(m_container, QStringLiteral("self.kldr")));
    QCOMPARE(m_vault.fileIndex().toJson(), indexBefore);
    QCOMPARE(QFileInfo(m_container).size(), sizeBefore);
    // Exporting over the container would replace the vault by one file.
    QVERIFY(m_vault.importFile(path, QStringLiteral("x.txt")));
    QVERIFY(!m_vault.exportFile(QStringLiteral("x.txt"), m_container));
    QVERIFY(m_vault.deleteFile(QStringLiteral("x.txt")));
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("never"))));
    QCOMPARE(filePaths(m_vault), filePathsBefore);

    // Blanks, backslashes and doubled slashes are tidied, letter case kept.
    QVERIFY(m_vault.createDirectory(QStringLiteral(" \\Norm\\ Work \\")));
    QVERIFY(directoryPaths(m_vault).contains(QStringLiteral("Norm/Work")));
    QVERIFY(directoryPaths(m_vault).contains(QStringLiteral("Norm")));
}

void VaultContentTest::failedImportLeavesContainerByteIdentical()
{
    const QByteArray before = readFile(m_container);
    const QByteArray indexBefore = m_vault.fileIndex().toJson();
    const QString path = source(QStringLiteral("big"), patternBytes(VaultManager::BlockSize + 100, 7));

    // After the first block is on disk, spoil the magic so the header
    // rewrite at the end is refused and the import has to roll back.
    int calls = 0;
    const bool imported =
        m_vault.importFile(path, QStringLiteral("Rollback/big.bin"), [&](qint64, qint64, const QString&) {
            if (++calls == 1) {
                QFile file(m_container);
                QVERIFY(file.open(QIODevice::ReadWrite));
                QVERIFY(file.seek(6));
                QCOMPARE(file.write("9", 1), qint64(1));
            }
        });
    QVERIFY(!imported);
    QCOMPARE(calls, 2);
    {
        QFile file(m_container);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(6));
        QCOMPARE(file.write("3", 1), qint64(1));
    }
    QCOMPARE(readFile(m_container), before.left(usedEnd(m_vault.fileIndex(), ContainerFormat::PayloadStart)));
    QCOMPARE(m_vault.fileIndex().toJson(), indexBefore);
    QVERIFY(!directoryPaths(m_vault).contains(QStringLiteral("Rollback")));
}

void VaultContentTest::failedExportLeavesNoPlaintextAndKeepsDestination()
{
    const QByteArray content = patternBytes(VaultManager::BlockSize + 10, 3);
    QVERIFY(m_vault.importFile(source(QStringLiteral("two"), content), QStringLiteral("Export/two.bin")));
    VaultFileEntry entry;
    QVERIFY(findEntry(m_vault, QStringLiteral("Export/two.bin"), &entry));
    QCOMPARE(entry.blocks.size(), 2);

    // Spoil one byte of the second block: the first block would already be
    // plaintext in the destination if export wrote in place.
    const qint64 spoilAt = entry.blocks.at(1).offset + 3;
    QFile container(m_container);
    QVERIFY(container.open(QIODevice::ReadWrite));
    QVERIFY(container.seek(spoilAt));
    char original = 0;
    QCOMPARE(container.read(&original, 1), qint64(1));
    const char spoiled = static_cast<char>(original ^ 0x5a);
    QVERIFY(container.seek(spoilAt));
    QCOMPARE(container.write(&spoiled, 1), qint64(1));
    container.flush();

    const QString fresh = m_dir.filePath(QStringLiteral("fresh-export.bin"));
    const QString existing = m_dir.filePath(QStringLiteral("existing-export.bin"));
    QVERIFY(writeFile(existing, "keep me"));
    QVERIFY(!m_vault.exportFile(QStringLiteral("Export/two.bin"), fresh));
    QVERIFY(!m_vault.exportFile(QStringLiteral("Export/two.bin"), existing));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::DamagedFile);
    QVERIFY(!m_vault.verifyFile(QStringLiteral("Export/two.bin")));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::DamagedFile);
    QVERIFY(!QFileInfo::exists(fresh));
    QCOMPARE(readFile(existing), QByteArray("keep me"));
    QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("*export*")}, QDir::Files).size(), 1);

    QVERIFY(container.seek(spoilAt));
    QCOMPARE(container.write(&original, 1), qint64(1));
    container.close();
    QCOMPARE(exported(QStringLiteral("export/TWO.bin")), content);
    QVERIFY(!m_vault.exportFile(QStringLiteral("Export/missing.bin"), fresh));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::FileNotFound);
    QVERIFY(!m_vault.exportFile(QStringLiteral("Export/two.bin"),
                                m_dir.filePath(QStringLiteral("no/such/dir/f"))));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::DestinationUnwritable);
}

void VaultContentTest::fileRenameAndMoveRules()
{
    QVERIFY(m_vault.createDirectory(QStringLiteral("Tree/a")));
    QVERIFY(m_vault.createDirectory(QStringLiteral("Tree/b")));
    QVERIFY(m_vault.importFile(source(QStringLiteral("n"), "notes"), QStringLiteral("Tree/a/Notes.txt")));
    QVERIFY(m_vault.importFile(source(QStringLiteral("o"), "other"), QStringLiteral("Tree/b/notes.TXT")));
    VaultFileEntry original;
    QVERIFY(findEntry(m_vault, QStringLiteral("Tree/a/Notes.txt"), &original));

    // Renames: case-only change, clashes with a file or a folder, missing source.
    QVERIFY(!m_vault.renameFile(QStringLiteral("Tree/a/Notes.txt"), QStringLiteral("tree/A/notes.txt")));
    QVERIFY(!m_vault.renameFile(QStringLiteral("Tree/a/Notes.txt"), QStringLiteral("TREE/B/NOTES.txt")));
    QVERIFY(!m_vault.renameFile(QStringLiteral("Tree/a/Notes.txt"), QStringLiteral("tree/b")));
    QVERIFY(!m_vault.renameFile(QStringLiteral("Tree/a/none.txt"), QStringLiteral("Tree/a/x.txt")));

    // Moves: same folder, folder without a record, clash in any case, ".." target.
    QVERIFY(!m_vault.moveFile(QStringLiteral("Tree/a/Notes.txt"), QStringLiteral("tree/A")));
    QVERIFY(!m_vault.moveFile(QStringLiteral("Tree/a/Notes.txt"), QStringLiteral("Tree/nowhere")));
    QVERIFY(!m_vault.moveFile(QStringLiteral("Tree/a/Notes.txt"), QStringLiteral("Tree/B")));
    QVERIFY(!m_vault.moveFile(QStringLiteral("Tree/a/Notes.txt"), QStringLiteral("..")));
    QVERIFY(!m_vault.moveFile(QStringLiteral("Tree/a/missing.txt"), QString()));

    // Rename to a new parent does not create folders; the entry keeps its identity.
    QVERIFY(m_vault.renameFile(QStringLiteral("tree/a/NOTES.txt"), QStringLiteral("Elsewhere/N.txt")));
    VaultFileEntry renamed;
    QVERIFY(findEntry(m_vault, QStringLiteral("Elsewhere/N.txt"), &renamed));
    QVERIFY(!directoryPaths(m_vault).contains(QStringLiteral("Elsewhere"), Qt::CaseInsensitive));
    QCOMPARE(renamed.id, original.id);
    QCOMPARE(renamed.sha256, original.sha256);
    QCOMPARE(renamed.blocks.first().offset, original.blocks.first().offset);
    QCOMPARE(renamed.lastModifiedUtc, original.lastModifiedUtc);

    // Move to the root, then into a folder; a root clash is refused.
    QVERIFY(m_vault.moveFile(QStringLiteral("Elsewhere/N.txt"), QStringLiteral("/")));
    QVERIFY(findEntry(m_vault, QStringLiteral("N.txt")));
    QVERIFY(m_vault.moveFile(QStringLiteral("n.TXT"), QStringLiteral("Tree/a")));
    QVERIFY(findEntry(m_vault, QStringLiteral("Tree/a/N.txt")));
    QVERIFY(m_vault.createDirectory(QStringLiteral("n.txt")));
    QVERIFY(!m_vault.moveFile(QStringLiteral("Tree/a/N.txt"), QString()));
    QVERIFY(m_vault.deleteDirectory(QStringLiteral("N.TXT")));
    QCOMPARE(exported(QStringLiteral("Tree/a/N.txt")), QByteArray("notes"));
}

void VaultContentTest::folderCreateRenameDeleteRules()
{
    QVERIFY(m_vault.createDirectory(QStringLiteral("Dirs/a/b/c")));
    const QStringList created = directoryPaths(m_vault);
    QVERIFY(created.contains(QStringLiteral("Dirs")));
    QVERIFY(created.contains(QStringLiteral("Dirs/a")));
    QVERIFY(created.contains(QStringLiteral("Dirs/a/b")));
    QVERIFY(!m_vault.createDirectory(QStringLiteral("dirs/A/B/C")));
    QVERIFY(m_vault.importFile(source(QStringLiteral("f"), "f"), QStringLiteral("Dirs/a/f.txt")));
    QVERIFY(m_vault.importFile(source(QStringLiteral("g"), "g"), QStringLiteral("Dirs/a/b/g.txt")));
    QVERIFY(!m_vault.createDirectory(QStringLiteral("Dirs/A/F.TXT")));

    QVERIFY(!m_vault.renameDirectory(QStringLiteral("Dirs/a"), QStringLiteral("DIRS/A")));
    QVERIFY(!m_vault.renameDirectory(QStringLiteral("Dirs/a"), QStringLiteral("Dirs/a/b2")));
    QVERIFY(!m_vault.renameDirectory(QStringLiteral("Dirs/a"), QStringLiteral("Dirs/A/F.txt")));
    QVERIFY(!m_vault.renameDirectory(QStringLiteral("Dirs/none"), QStringLiteral("Dirs/x")));
    QVERIFY(!m_vault.renameDirectory(QStringLiteral("Dirs/a/b"), QStringLiteral("Dirs/a/B/c")));

    QVERIFY(m_vault.renameDirectory(QStringLiteral("dirs/A"), QStringLiteral("Dirs/x/y/a")));
    const QStringList moved = directoryPaths(m_vault);
    QVERIFY(moved.contains(QStringLiteral("Dirs/x")));
    QVERIFY(moved.contains(QStringLiteral("Dirs/x/y")));
    QVERIFY(moved.contains(QStringLiteral("Dirs/x/y/a/b/c")));
    QVERIFY(!moved.contains(QStringLiteral("Dirs/a"), Qt::CaseInsensitive));
    // Ancestors come before what they contain.
    QVERIFY(moved.indexOf(QStringLiteral("Dirs/x/y")) < moved.indexOf(QStringLiteral("Dirs/x/y/a")));
    QCOMPARE(exported(QStringLiteral("Dirs/x/y/a/f.txt")), QByteArray("f"));
    QCOMPARE(exported(QStringLiteral("Dirs/x/y/a/b/g.txt")), QByteArray("g"));
    // "ab" is beside "a", not inside it.
    QVERIFY(m_vault.renameDirectory(QStringLiteral("Dirs/x/y/a/b/c"), QStringLiteral("Dirs/x/y/a/b/cd")));

    QVERIFY(!m_vault.deleteDirectory(QStringLiteral("Dirs/x/y/a/b"))); // holds a file and a folder
    QVERIFY(m_vault.deleteDirectory(QStringLiteral("Dirs/x/y/a/b/CD")));
    QVERIFY(!m_vault.deleteDirectory(QStringLiteral("Dirs/x/y/a/b"))); // still holds g.txt
    QVERIFY(m_vault.deleteFile(QStringLiteral("Dirs/x/y/a/b/g.txt")));
    const QStringList beforeDelete = directoryPaths(m_vault);
    QVERIFY(m_vault.deleteDirectory(QStringLiteral("Dirs/x/y/a/b")));
    QStringList expected = beforeDelete;
    expected.removeOne(QStringLiteral("Dirs/x/y/a/b"));
    QCOMPARE(directoryPaths(m_vault), expected);
    QVERIFY(!m_vault.deleteDirectory(QStringLiteral("Dirs/x/y/a/b")));
}

void VaultContentTest::deleteFileKeepsContainerLength()
{
    QVERIFY(m_vault.importFile(source(QStringLiteral("d"), "doomed"), QStringLiteral("Del/doomed.txt")));
    const qint64 size = QFileInfo(m_container).size();
    QVERIFY(m_vault.deleteFile(QStringLiteral("DEL/DOOMED.TXT")));
    QVERIFY(!findEntry(m_vault, QStringLiteral("Del/doomed.txt")));
    QCOMPARE(QFileInfo(m_container).size(), size);
    QVERIFY(!m_vault.deleteFile(QStringLiteral("Del/doomed.txt")));
    QVERIFY(!m_vault.exportFile(QStringLiteral("Del/doomed.txt"), m_dir.filePath(QStringLiteral("gone"))));
}

void VaultContentTest::refusalsSayWhy()
{
    const auto reason = [&] { return m_vault.lastError().reason(); };
    QVERIFY(m_vault.createDirectory(QStringLiteral("Why/a")));
    QVERIFY(m_vault.lastError().ok());
    QVERIFY(!m_vault.createDirectory(QStringLiteral("why/A")));
    QCOMPARE(reason(), Error::Reason::AlreadyExists);
    QVERIFY(!m_vault.deleteFile(QStringLiteral("Why/none.txt")));
    QCOMPARE(reason(), Error::Reason::FileNotFound);
    QVERIFY(!m_vault.deleteDirectory(QStringLiteral("Why/none")));
    QCOMPARE(reason(), Error::Reason::FolderNotFound);
    QVERIFY(!m_vault.deleteDirectory(QStringLiteral("Why")));
    QCOMPARE(reason(), Error::Reason::NotEmpty);
    QVERIFY(!m_vault.renameDirectory(QStringLiteral("Why"), QStringLiteral("Why/a/b")));
    QCOMPARE(reason(), Error::Reason::InvalidPath);
    QVERIFY(!m_vault.importFile(source(QStringLiteral("w"), "w"), QStringLiteral("Why/../w.txt")));
    QCOMPARE(reason(), Error::Reason::InvalidPath);
    // A success clears what the last failure said.
    QVERIFY(m_vault.deleteDirectory(QStringLiteral("Why/a")));
    QVERIFY(m_vault.lastError().ok());
}

void VaultContentTest::fullDriveSaysSoAndChangesNothing()
{
    using Mode = ContainerFaultInjector::Mode;
    const QByteArray before = readFile(m_container);
    const QByteArray indexBefore = m_vault.fileIndex().toJson();
    const QString path = source(QStringLiteral("full"), patternBytes(5000, 9));

    // The drive fills up at the first write of each change: the journal's for
    // a folder, the first block's for an import.
    ContainerFaultInjector::arm(Mode::DriveFull, 1);
    QVERIFY(!m_vault.createDirectory(QStringLiteral("Full")));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::DriveFull);
    ContainerFaultInjector::arm(Mode::DriveFull, 1);
    QVERIFY(!m_vault.importFile(path, QStringLiteral("full.bin")));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::DriveFull);
    // Any other refused write is not a full drive.
    ContainerFaultInjector::arm(Mode::FailCall, 2);
    QVERIFY(!m_vault.createDirectory(QStringLiteral("Full")));
    QCOMPARE(m_vault.lastError().reason(), Error::Reason::WriteFailed);
    ContainerFaultInjector::reset();

    QCOMPARE(readFile(m_container), before.left(usedEnd(m_vault.fileIndex(), ContainerFormat::PayloadStart)));
    QCOMPARE(m_vault.fileIndex().toJson(), indexBefore);
    QVERIFY(!QFileInfo::exists(HeaderJournal::journalPath(m_container)));
}

void VaultContentTest::fullIndexIsRefusedBeforeAnythingIsWritten()
{
    // A vault of its own: its header ends up as large as it can be.
    const QString container = m_dir.filePath(QStringLiteral("full-index.kldr"));
    VaultManager vault;
    QVERIFY(vault.createVault(container, m_password));
    QVERIFY(vault.unlockVault(container, m_password));
    QVERIFY(vault.importFile(source(QStringLiteral("s"), "small"), QStringLiteral("small.txt")));
    QVERIFY(fillIndex(vault));
    const QByteArray before = readFile(container);
    const QByteArray indexBefore = vault.fileIndex().toJson();

    using Mode = ContainerFaultInjector::Mode;
    ContainerFaultInjector::arm(Mode::Count, 0);
    QVERIFY(!vault.createDirectory(QStringLiteral("Nova")));
    QCOMPARE(vault.lastError().reason(), Error::Reason::IndexFull);
    const QString refused = source(QStringLiteral("b"), patternBytes(100000, 4));
    QVERIFY(!vault.importFile(refused, QStringLiteral("novo.bin")));
    QCOMPARE(vault.lastError().reason(), Error::Reason::IndexFull);
    QVERIFY(!vault.renameFile(QStringLiteral("small.txt"), QString(300, QLatin1Char('r'))));
    QCOMPARE(vault.lastError().reason(), Error::Reason::IndexFull);
    // Not one byte was offered to the drive, not even a journal.
    QCOMPARE(ContainerFaultInjector::calls(), 0);
    ContainerFaultInjector::reset();
    QCOMPARE(readFile(container), before);
    QCOMPARE(vault.fileIndex().toJson(), indexBefore);

    // Deleting a file makes room again.
    QVERIFY(vault.deleteFile(QStringLiteral("small.txt")));
    QVERIFY(vault.createDirectory(QStringLiteral("Nova")));
    QVERIFY(vault.lockVault());
}

void VaultContentTest::compactionDropsDeadSpaceAndKeepsContent()
{
    // Dead space from the replacement and deletions above, plus one more.
    QVERIFY(m_vault.importFile(source(QStringLiteral("v1"), patternBytes(5000, 11)),
                               QStringLiteral("Comp/v.bin")));
    QVERIFY(m_vault.importFile(source(QStringLiteral("v2"), patternBytes(7000, 12)),
                               QStringLiteral("Comp/v.bin")));

    const QList<VaultFileEntry> before = m_vault.fileIndex().entries();
    const QStringList directoriesBefore = directoryPaths(m_vault);
    QHash<QString, QByteArray> contents;
    qint64 live = 0;
    for (const VaultFileEntry& entry : before) {
        contents.insert(entry.vaultPath, exported(entry.vaultPath));
        for (const VaultFileBlock& block : entry.blocks)
            live += block.encryptedSize;
    }
    const qint64 oldSize = QFileInfo(m_container).size();
    QVERIFY(oldSize > ContainerFormat::PayloadStart + live);

    QStringList texts;
    QString preserved = QStringLiteral("stale");
    QVERIFY(
        m_vault.compactVault([&](qint64, qint64, const QString& text) { texts.append(text); }, &preserved));
    QVERIFY(preserved.isEmpty());
    QCOMPARE(texts.last(), QStringLiteral("Substituindo container no USB"));
    QCOMPARE(QFileInfo(m_container).size(), ContainerFormat::PayloadStart + live);

    const QList<VaultFileEntry> after = m_vault.fileIndex().entries();
    QCOMPARE(after.size(), before.size());
    QCOMPARE(directoryPaths(m_vault), directoriesBefore);
    qint64 expectedOffset = ContainerFormat::PayloadStart;
    for (int i = 0; i < after.size(); ++i) {
        QCOMPARE(after.at(i).id, before.at(i).id);
        QCOMPARE(after.at(i).vaultPath, before.at(i).vaultPath);
        QCOMPARE(after.at(i).sha256, before.at(i).sha256);
        for (const VaultFileBlock& block : after.at(i).blocks) {
            QCOMPARE(block.offset, expectedOffset);
            expectedOffset += block.encryptedSize;
        }
        QCOMPARE(exported(after.at(i).vaultPath), contents.value(after.at(i).vaultPath));
        QVERIFY(m_vault.verifyFile(after.at(i).vaultPath));
    }

    // The header on disk carries the new offsets too.
    ContainerDocument document;
    QVERIFY(ContainerManager().readDocument(m_container, &document).ok());
    QVERIFY(!document.encryptedIndex.isEmpty());
}

void VaultContentTest::editCopiesArePrivateAndSyncedAtLock()
{
    QVERIFY(m_vault.importFile(source(QStringLiteral("e"), "original"), QStringLiteral("Edit/Docs/a.txt")));
    QVERIFY(m_vault.importFile(source(QStringLiteral("k"), "kept"), QStringLiteral("Edit/kept.txt")));
    VaultFileEntry keptBefore;
    QVERIFY(findEntry(m_vault, QStringLiteral("Edit/kept.txt"), &keptBefore));

    QString copy;
    QString untouched;
    QVERIFY(!m_vault.prepareFileForEditing(QStringLiteral("Edit/missing.txt"), &copy));
    QVERIFY(!m_vault.prepareFileForEditing(QStringLiteral("Edit/kept.txt"), nullptr));
    QVERIFY(m_vault.prepareFileForEditing(QStringLiteral("Edit/Docs/a.txt"), &copy));
    QVERIFY(m_vault.prepareFileForEditing(QStringLiteral("Edit/kept.txt"), &untouched));
    QVERIFY(copy.endsWith(QStringLiteral("/Edit/Docs/a.txt")));
    QCOMPARE(readFile(copy), QByteArray("original"));

#ifdef Q_OS_UNIX
    // Nobody but the owner may read the plaintext copies or list them.
    const QFileDevice::Permissions group =
        QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup;
    const QFileDevice::Permissions other =
        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QCOMPARE(QFileInfo(copy).permissions() & (group | other), QFileDevice::Permissions());
    const QString workspace = copy.left(copy.size() - QStringLiteral("/Edit/Docs/a.txt").size());
    QCOMPARE(QFileInfo(workspace).permissions() & (group | other), QFileDevice::Permissions());
#endif

    QVERIFY(m_vault.modifiedOpenFiles().isEmpty());
    QVERIFY(writeFile(copy, "edited by the user"));
    QVERIFY(setModified(copy, QDateTime::currentDateTimeUtc().addSecs(5)));
    QCOMPARE(m_vault.modifiedOpenFiles().size(), 1);

    // A copy that cannot be read back keeps the vault open with its copies.
    QVERIFY(QFile::rename(copy, copy + QStringLiteral(".saved")));
    QVERIFY(QDir().mkdir(copy));
    QVERIFY(setDirectoryModified(copy, QDateTime::currentDateTimeUtc().addSecs(7)));
    QVERIFY(!m_vault.lockVault());
    QCOMPARE(m_vault.state(), VaultState::Unlocked);
    QVERIFY(QFileInfo::exists(untouched));
    QVERIFY(QDir(copy).removeRecursively());
    QVERIFY(QFile::rename(copy + QStringLiteral(".saved"), copy));
    QVERIFY(setModified(copy, QDateTime::currentDateTimeUtc().addSecs(10)));

    QVERIFY(m_vault.lockVault());
    QCOMPARE(m_vault.state(), VaultState::Locked);
    QVERIFY(!QFileInfo::exists(copy));
    QVERIFY(!QFileInfo::exists(untouched));

    QVERIFY(m_vault.unlockVault(m_container, m_password));
    QCOMPARE(exported(QStringLiteral("Edit/Docs/a.txt")), QByteArray("edited by the user"));
    VaultFileEntry keptAfter;
    QVERIFY(findEntry(m_vault, QStringLiteral("Edit/kept.txt"), &keptAfter));
    QCOMPARE(keptAfter.id, keptBefore.id); // an unchanged copy is not imported again
    QVERIFY(m_vault.lockVault());
}

void VaultContentTest::everyOperationRefusedWhileLocked()
{
    QCOMPARE(m_vault.state(), VaultState::Locked);
    const QByteArray before = readFile(m_container);
    const QString path = source(QStringLiteral("l"), "locked");
    QString copy;
    QString preserved;
    QVERIFY(!m_vault.importFile(path, QStringLiteral("l.txt")));
    QVERIFY(
        !m_vault.exportFile(QStringLiteral("Edit/kept.txt"), m_dir.filePath(QStringLiteral("locked-out"))));
    QVERIFY(!m_vault.verifyFile(QStringLiteral("Edit/kept.txt")));
    QVERIFY(!m_vault.createDirectory(QStringLiteral("L")));
    QVERIFY(!m_vault.deleteFile(QStringLiteral("Edit/kept.txt")));
    QVERIFY(!m_vault.renameFile(QStringLiteral("Edit/kept.txt"), QStringLiteral("k.txt")));
    QVERIFY(!m_vault.moveFile(QStringLiteral("Edit/kept.txt"), QString()));
    QVERIFY(!m_vault.renameDirectory(QStringLiteral("Edit"), QStringLiteral("E")));
    QVERIFY(!m_vault.deleteDirectory(QStringLiteral("Tree/b")));
    QVERIFY(!m_vault.prepareFileForEditing(QStringLiteral("Edit/kept.txt"), &copy));
    QVERIFY(!m_vault.compactVault({}, &preserved));
    QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("locked-out"))));
    QCOMPARE(readFile(m_container), before);
}

QTEST_GUILESS_MAIN(VaultContentTest)
#include "test_vault_content.moc"
