// Edits in open copies survive what used to lose them: a killed session, an
// editor that keeps the file time, a rename, move or delete of the file, a
// second open, and a container that vanishes while unlocked.

#include "EndedProcess.h"
#include "TempLocationOverride.h"
#include "TestFiles.h"
#include "VaultTestSupport.h"

#include "core/vault/StaleWorkspaceSweeper.h"
#include "core/vault/VaultManager.h"
#include "core/vault/WorkspaceRecord.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Keldra::Core;
using namespace TestSupport;
using namespace VaultTest;

namespace {

const QByteArray Password = QByteArrayLiteral("correct horse battery");

// A mark that names a process which has ended: the session that wrote it is dead.
QByteArray deadOwnerMark(qint64 endedId)
{
    return QByteArray::number(endedId) + "\n\n\n";
}

bool writeMark(const QString& workspace, const QByteArray& mark)
{
    return writeFile(StaleWorkspaceSweeper::ownerMarkPath(workspace), mark);
}

QString workspaceOf(const QString& copy, const QString& vaultPath)
{
    return copy.left(copy.size() - vaultPath.size() - 1);
}

} // namespace

class EditRecoveryTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void changeIsSeenByContentNotTime();
    void openCopyFollowsRenameMoveAndDelete();
    void editsOfAKilledSessionAreStoredAtNextUnlock();
    void vanishedContainerKeepsOnlyEditedCopies();

private:
    QString source(const QByteArray& bytes);
    QByteArray exported(VaultManager& vault, const QString& vaultPath);
    QString openCopy(VaultManager& vault, const QString& vaultPath);

    QTemporaryDir m_dir;
    std::unique_ptr<TempLocationOverride> m_tempLocation;
    QString m_container;
    int m_count = 0;
};

void EditRecoveryTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Workspaces go to a folder of the test, so no other run's are looked at.
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("tmp"))));
    m_tempLocation = std::make_unique<TempLocationOverride>(m_dir.filePath(QStringLiteral("tmp")));
    m_container = m_dir.filePath(QStringLiteral("keldra.kldr"));
    VaultManager vault;
    QVERIFY(vault.createVault(m_container, Password));
}

void EditRecoveryTest::cleanupTestCase()
{
    m_tempLocation.reset();
}

QString EditRecoveryTest::source(const QByteArray& bytes)
{
    const QString path = m_dir.filePath(QStringLiteral("src-%1").arg(++m_count));
    return writeFile(path, bytes) ? path : QString();
}

QByteArray EditRecoveryTest::exported(VaultManager& vault, const QString& vaultPath)
{
    const QString path = m_dir.filePath(QStringLiteral("out-%1").arg(++m_count));
    return vault.exportFile(vaultPath, path) ? readFile(path) : QByteArrayLiteral("<export failed>");
}

QString EditRecoveryTest::openCopy(VaultManager& vault, const QString& vaultPath)
{
    QString copy;
    return vault.prepareFileForEditing(vaultPath, &copy) ? copy : QString();
}

void EditRecoveryTest::changeIsSeenByContentNotTime()
{
    VaultManager vault;
    QVERIFY(vault.unlockVault(m_container, Password));
    QVERIFY(vault.importFile(source("same size"), QStringLiteral("kept-time.txt")));
    QVERIFY(vault.importFile(source("touched"), QStringLiteral("touched.txt")));
    const QString edited = openCopy(vault, QStringLiteral("kept-time.txt"));
    const QString touched = openCopy(vault, QStringLiteral("touched.txt"));
    QVERIFY(!edited.isEmpty() && !touched.isEmpty());

    // An editor that saves the same size and puts the old time back.
    const QDateTime opened = QFileInfo(edited).fileTime(QFileDevice::FileModificationTime);
    QVERIFY(writeFile(edited, "SAME SIZE"));
    QVERIFY(setModified(edited, opened));
    // A save without a change (or a clock step forwards) is no edit.
    QVERIFY(setModified(touched, QDateTime::currentDateTimeUtc().addSecs(60)));
    const QList<TrackedTempFile> modified = vault.modifiedOpenFiles();
    QCOMPARE(modified.size(), 1);
    QCOMPARE(modified.first().vaultPath, QStringLiteral("kept-time.txt"));

    // Opening an edited file again never writes the vault's version over the edit.
    QString again;
    QVERIFY(!vault.prepareFileForEditing(QStringLiteral("KEPT-time.txt"), &again));
    QCOMPARE(vault.lastError().reason(), Error::Reason::FileInUse);
    QCOMPARE(readFile(edited), QByteArray("SAME SIZE"));

    VaultFileEntry before;
    QVERIFY(findEntry(vault, QStringLiteral("touched.txt"), &before));
    QVERIFY(vault.lockVault());
    QVERIFY(vault.unlockVault(m_container, Password));
    QCOMPARE(exported(vault, QStringLiteral("kept-time.txt")), QByteArray("SAME SIZE"));
    VaultFileEntry after;
    QVERIFY(findEntry(vault, QStringLiteral("touched.txt"), &after));
    QCOMPARE(after.id, before.id);
    QVERIFY(vault.lockVault());
}

void EditRecoveryTest::openCopyFollowsRenameMoveAndDelete()
{
    VaultManager vault;
    QVERIFY(vault.unlockVault(m_container, Password));
    QVERIFY(vault.createDirectory(QStringLiteral("Pasta")));
    for (const char* name : {"renamed.txt", "moved.txt", "in-folder/x.txt", "deleted.txt", "quiet.txt"})
        QVERIFY(vault.importFile(source("old"), QString::fromLatin1(name)));

    const QString renamed = openCopy(vault, QStringLiteral("renamed.txt"));
    const QString moved = openCopy(vault, QStringLiteral("moved.txt"));
    const QString inFolder = openCopy(vault, QStringLiteral("in-folder/x.txt"));
    const QString deleted = openCopy(vault, QStringLiteral("deleted.txt"));
    const QString quiet = openCopy(vault, QStringLiteral("quiet.txt"));
    for (const QString& copy : {renamed, moved, inFolder, deleted})
        QVERIFY(writeFile(copy, "new " + QFileInfo(copy).fileName().toUtf8()));

    QVERIFY(vault.renameFile(QStringLiteral("renamed.txt"), QStringLiteral("now.txt")));
    QVERIFY(vault.moveFile(QStringLiteral("moved.txt"), QStringLiteral("Pasta")));
    QVERIFY(vault.renameDirectory(QStringLiteral("in-folder"), QStringLiteral("other")));

    // The old name is free again; its new copy must not land on the carried one.
    QVERIFY(vault.importFile(source("second"), QStringLiteral("renamed.txt")));
    const QString second = openCopy(vault, QStringLiteral("renamed.txt"));
    QVERIFY(!second.isEmpty() && second != renamed);
    QCOMPARE(readFile(renamed), QByteArray("new renamed.txt"));

    // An edited copy is never dropped by a delete unasked.
    QVERIFY(!vault.deleteFile(QStringLiteral("deleted.txt")));
    QCOMPARE(vault.lastError().reason(), Error::Reason::FileInUse);
    QVERIFY(vault.discardOpenCopy(QStringLiteral("deleted.txt")));
    QVERIFY(!QFileInfo::exists(deleted));
    QVERIFY(vault.deleteFile(QStringLiteral("deleted.txt")));
    QVERIFY(vault.deleteFile(QStringLiteral("quiet.txt"))); // unchanged copy: wiped with the file
    QVERIFY(!QFileInfo::exists(quiet));

    QVERIFY(vault.lockVault());
    QVERIFY(vault.unlockVault(m_container, Password));
    QCOMPARE(exported(vault, QStringLiteral("now.txt")), QByteArray("new renamed.txt"));
    QCOMPARE(exported(vault, QStringLiteral("renamed.txt")), QByteArray("second"));
    QCOMPARE(exported(vault, QStringLiteral("Pasta/moved.txt")), QByteArray("new moved.txt"));
    QCOMPARE(exported(vault, QStringLiteral("other/x.txt")), QByteArray("new x.txt"));
    const QStringList paths = filePaths(vault);
    for (const char* gone : {"moved.txt", "in-folder/x.txt", "deleted.txt", "quiet.txt"})
        QVERIFY2(!paths.contains(QString::fromLatin1(gone)), gone);
    QVERIFY(vault.lockVault());
}

void EditRecoveryTest::editsOfAKilledSessionAreStoredAtNextUnlock()
{
    QString workspace;
    QString unchanged;
    QString editedC;
    {
        // The session that dies: copies open, two edited, then it is gone
        // without locking (its destructor only forgets the key).
        VaultManager killed;
        QVERIFY(killed.unlockVault(m_container, Password));
        QVERIFY(killed.importFile(source("a v1"), QStringLiteral("Docs/a.txt")));
        QVERIFY(killed.importFile(source("b v1"), QStringLiteral("b.txt")));
        QVERIFY(killed.importFile(source("c v1"), QStringLiteral("c.txt")));
        const QString a = openCopy(killed, QStringLiteral("Docs/a.txt"));
        unchanged = openCopy(killed, QStringLiteral("b.txt"));
        editedC = openCopy(killed, QStringLiteral("c.txt"));
        QVERIFY(writeFile(a, "a edited in the dead session"));
        QVERIFY(writeFile(editedC, "c edited in the dead session"));
        workspace = workspaceOf(a, QStringLiteral("Docs/a.txt"));
    }
    const qint64 endedId = endedProcessId();
    QVERIFY(endedId > 0);
    QVERIFY(writeMark(workspace, deadOwnerMark(endedId)));

    // Any later start sweeps dead workspaces, but keeps this one for its edits.
    QCOMPARE(StaleWorkspaceSweeper::removeStaleWorkspaces(QDir::tempPath()), 0);
    QVERIFY(QFileInfo::exists(unchanged));

    VaultManager next;
    QVERIFY(next.unlockVault(m_container, Password));
    VaultFileEntry bBefore;
    QVERIFY(findEntry(next, QStringLiteral("b.txt"), &bBefore));
    // c changes in the vault after the dead session opened it.
    QVERIFY(next.importFile(source("c v2"), QStringLiteral("c.txt")));
    QCOMPARE(next.recoverableCopies().size(), 2);
    // As if an earlier recovery had stored c's edit beside it, then died: not stored twice.
    QVERIFY(next.importFile(editedC, QStringLiteral("c (recuperado).txt")));

    QVERIFY(next.recoverCopies());
    QVERIFY(!filePaths(next).contains(QStringLiteral("c (recuperado 2).txt")));
    QCOMPARE(exported(next, QStringLiteral("Docs/a.txt")), QByteArray("a edited in the dead session"));
    QCOMPARE(exported(next, QStringLiteral("c.txt")), QByteArray("c v2"));
    QCOMPARE(exported(next, QStringLiteral("c (recuperado).txt")),
             QByteArray("c edited in the dead session"));
    VaultFileEntry bAfter;
    QVERIFY(findEntry(next, QStringLiteral("b.txt"), &bAfter));
    QCOMPARE(bAfter.id, bBefore.id);
    QVERIFY(!QFileInfo::exists(workspace));
    QVERIFY(!QFileInfo::exists(WorkspaceRecord::pathFor(workspace)));
    QVERIFY(next.recoverableCopies().isEmpty());
    QVERIFY(next.lockVault());
}

void EditRecoveryTest::vanishedContainerKeepsOnlyEditedCopies()
{
    VaultManager vault;
    QVERIFY(vault.unlockVault(m_container, Password));
    QVERIFY(vault.importFile(source("gone v1"), QStringLiteral("gone.txt")));
    QVERIFY(vault.importFile(source("plain"), QStringLiteral("plain.txt")));
    const QString edited = openCopy(vault, QStringLiteral("gone.txt"));
    const QString plain = openCopy(vault, QStringLiteral("plain.txt"));
    QVERIFY(writeFile(edited, "gone edited"));

    const QString aside = m_container + QStringLiteral(".aside");
    QVERIFY(QFile::rename(m_container, aside));
    QCOMPARE(vault.abandonVault(), 1);
    QCOMPARE(vault.state(), VaultState::Locked);
    QVERIFY(vault.fileIndex().entries().isEmpty());
    QVERIFY(QFileInfo::exists(edited));
    QVERIFY(!QFileInfo::exists(plain));

    // Back again, in the same run: the edit is offered and stored.
    QVERIFY(QFile::rename(aside, m_container));
    QVERIFY(vault.unlockVault(m_container, Password));
    QCOMPARE(vault.recoverableCopies().size(), 1);
    QVERIFY(vault.recoverCopies());
    QCOMPARE(exported(vault, QStringLiteral("gone.txt")), QByteArray("gone edited"));
    QVERIFY(!QFileInfo::exists(edited));
    QVERIFY(vault.lockVault());
}

QTEST_GUILESS_MAIN(EditRecoveryTest)
#include "test_edit_recovery.moc"
