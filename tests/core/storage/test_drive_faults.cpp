// Real drive failures on a small tmpfs mounted by the test (root only): a full
// drive, a drive that turns read-only while compaction replaces the
// container, and a drive without room for a second container.
#include "core/storage/ContainerFaultInjector.h"
#include "core/storage/ContainerRecovery.h"
#include "core/storage/HeaderJournal.h"
#include "core/vault/VaultManager.h"

#include "SmallDrive.h"
#include "TempLocationOverride.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

using namespace Keldra::Core;
using namespace TestSupport;

namespace {

const QByteArray Password = "correct horse battery";

QString makeSource(const QString& folder, const QString& name, qint64 size)
{
    const QString path = QDir(folder).filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        QByteArray chunk(64 * 1024, Qt::Uninitialized);
        for (int i = 0; i < chunk.size(); ++i)
            chunk[i] = char(i * 31 + size);
        for (qint64 done = 0; done < size; done += chunk.size())
            f.write(chunk.constData(), qMin<qint64>(chunk.size(), size - done));
    }
    return path;
}

} // namespace

class TestDriveFaults : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_local; // sources and the workspace live on the local disk
    std::unique_ptr<TempLocationOverride> m_tempLocation;

private slots:
    void initTestCase()
    {
        QVERIFY(m_local.isValid());
        QVERIFY(QDir().mkpath(m_local.filePath("tmp")));
        m_tempLocation = std::make_unique<TempLocationOverride>(m_local.filePath("tmp"));
    }

    void fullDriveRefusesChangesAndKeepsTheContainer()
    {
        SmallDrive drive("10m");
        if (!drive.mounted())
            QSKIP(SmallDrive::whyNotMounted());
        VaultManager vault;
        QVERIFY(vault.createVault(drive.container(), Password));
        QVERIFY(vault.unlockVault(drive.container(), Password));
        QVERIFY(vault.importFile(makeSource(m_local.path(), "small", 1000), "small.txt"));
        const QByteArray before = readFile(drive.container());

        // The blocks do not fit.
        QVERIFY(!vault.importFile(makeSource(m_local.path(), "big", 3 * 1024 * 1024), "big.bin"));
        QCOMPARE(vault.lastError().reason(), Error::Reason::DriveFull);
        QCOMPARE(readFile(drive.container()), before);
        QCOMPARE(vault.fileIndex().entries().size(), 1);

        // Not even the journal fits: the header is not touched.
        QVERIFY(drive.fill());
        QVERIFY(!vault.renameFile("small.txt", "renamed.txt"));
        QCOMPARE(vault.lastError().reason(), Error::Reason::DriveFull);
        QVERIFY(!vault.createDirectory("folder"));
        QCOMPARE(readFile(drive.container()), before);
        QVERIFY(!QFileInfo::exists(HeaderJournal::journalPath(drive.container())));
        // Nor does a new vault beside it.
        VaultManager other;
        QVERIFY(!other.createVault(drive.path() + "/other.kldr", Password));
        QCOMPARE(other.lastError().reason(), Error::Reason::DriveFull);

        // With room again the same vault goes on working.
        QVERIFY(QFile::remove(drive.path() + "/filler"));
        QVERIFY(vault.renameFile("small.txt", "renamed.txt"));
        QVERIFY(vault.verifyFile("renamed.txt"));
        QVERIFY(vault.lockVault());
    }

    void readOnlyDriveDuringCompactionKeepsTheOldContainer()
    {
        SmallDrive drive("40m");
        if (!drive.mounted())
            QSKIP(SmallDrive::whyNotMounted());
        VaultManager vault;
        QVERIFY(vault.createVault(drive.container(), Password));
        QVERIFY(vault.unlockVault(drive.container(), Password));
        QVERIFY(vault.importFile(makeSource(m_local.path(), "keep", 300000), "keep.bin"));
        QVERIFY(vault.importFile(makeSource(m_local.path(), "drop", 200000), "drop.bin"));
        QVERIFY(vault.deleteFile("drop.bin"));
        const QByteArray before = readFile(drive.container());

        // The drive turns read-only the moment the compacted container is to be put on it.
        bool remounted = false;
        QString preserved;
        const bool compacted = vault.compactVault(
            [&](qint64, qint64, const QString& text) {
                if (!remounted && text == QStringLiteral("Substituindo container no USB"))
                    remounted = drive.remount("ro");
            },
            &preserved);
        QVERIFY(remounted);
        QVERIFY(!compacted);
        QCOMPARE(vault.lastError().reason(), Error::Reason::WriteFailed);
        QVERIFY(preserved.isEmpty());
        QCOMPARE(readFile(drive.container()), before);
        QVERIFY(vault.verifyFile("keep.bin"));

        QVERIFY(drive.remount("rw"));
        QVERIFY(vault.lockVault());
        VaultManager again;
        QVERIFY(again.unlockVault(drive.container(), Password));
        QCOMPARE(again.fileIndex().entries().size(), 1);
        QVERIFY(again.verifyFile("keep.bin"));
        QVERIFY(again.lockVault());
    }

    void compactionWithoutRoomForACopyStillSucceeds()
    {
        SmallDrive drive("12m");
        if (!drive.mounted())
            QSKIP(SmallDrive::whyNotMounted());
        VaultManager vault;
        fillWithLiveAndDeadSpace(drive, vault);
        if (QTest::currentTestFailed())
            return;
        const qint64 sizeBefore = QFileInfo(drive.container()).size();

        QString preserved;
        QVERIFY(vault.compactVault(VaultManager::ProgressCallback(), &preserved));
        QVERIFY(preserved.isEmpty());
        QVERIFY(QFileInfo(drive.container()).size() < sizeBefore - 2 * 1024 * 1024);
        QVERIFY(!QFileInfo::exists(ContainerRecovery::compactTempPath(drive.container())));
        QVERIFY(vault.verifyFile("live.bin"));
        QVERIFY(vault.lockVault());
    }

    void compactionWithoutRoomNeverLosesBothCopies()
    {
        // Every change of the no-room path fails in turn. A failure must leave
        // either the old container untouched or a complete compacted one kept
        // locally (and named to the user); the vault goes on with either.
        SmallDrive drive("12m");
        if (!drive.mounted())
            QSKIP(SmallDrive::whyNotMounted());
        VaultManager vault;
        fillWithLiveAndDeadSpace(drive, vault);
        if (QTest::currentTestFailed())
            return;

        // There is never room for a second container here; each round has dead
        // space to drop, since without any the old container is never removed.
        bool succeeded = false;
        bool fired = true;
        int keptRounds = 0;
        int restoredRounds = 0;
        for (int call = 1; call < 100 && fired; ++call) {
            QVERIFY(vault.importFile(makeSource(m_local.path(), "again", 20000), "again.bin"));
            QVERIFY(vault.deleteFile("again.bin"));
            const QByteArray before = readFile(drive.container());

            QString preserved;
            ContainerFaultInjector::arm(ContainerFaultInjector::Mode::FailCall, call);
            succeeded = vault.compactVault(VaultManager::ProgressCallback(), &preserved);
            fired = ContainerFaultInjector::fired();
            ContainerFaultInjector::reset();
            // A success despite a fault is the ignored sync of the folder after the rename.
            QVERIFY2(succeeded || fired,
                     qPrintable(QString("call %1: %2").arg(call).arg(vault.lastError().toString())));
            if (succeeded)
                continue;
            if (preserved.isEmpty()) {
                QCOMPARE(readFile(drive.container()), before);
            } else {
                // The drive's container is cut (or whole, when only its sync
                // failed); the next unlock puts the kept copy back if needed.
                ++keptRounds;
                QVERIFY(QFileInfo::exists(preserved));
                QVERIFY(vault.lockVault());
                QVERIFY2(vault.unlockVault(drive.container(), Password),
                         qPrintable(QString("call %1: %2").arg(call).arg(vault.lastError().toString())));
                restoredRounds += vault.restoredFromCompactionCopy() ? 1 : 0;
                QVERIFY(!QFileInfo::exists(preserved));
            }
            QVERIFY(vault.verifyFile("live.bin"));
        }
        QVERIFY(succeeded);
        QVERIFY(keptRounds > 0);
        QVERIFY(restoredRounds > 0);
        QVERIFY(vault.verifyFile("live.bin"));
        QVERIFY(vault.lockVault());
    }

    void compactionWithNothingToGainNeverRemovesTheContainer()
    {
        SmallDrive drive("12m");
        if (!drive.mounted())
            QSKIP(SmallDrive::whyNotMounted());
        VaultManager vault;
        QVERIFY(vault.createVault(drive.container(), Password));
        QVERIFY(vault.unlockVault(drive.container(), Password));
        QVERIFY(vault.importFile(makeSource(m_local.path(), "live", 1024 * 1024), "live.bin"));
        QVERIFY(drive.fill());
        const QByteArray before = readFile(drive.container());

        QString preserved;
        QVERIFY(!vault.compactVault(VaultManager::ProgressCallback(), &preserved));
        QCOMPARE(vault.lastError().reason(), Error::Reason::DriveFull);
        QVERIFY(preserved.isEmpty());
        QCOMPARE(readFile(drive.container()), before);
        QVERIFY(vault.lockVault());
    }

    void hardLinkToTheContainerIsNotImported()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs a tmpfs drive and link(), which only Linux offers here");
#else
        SmallDrive drive("20m");
        if (!drive.mounted())
            QSKIP(SmallDrive::whyNotMounted());
        VaultManager vault;
        QVERIFY(vault.createVault(drive.container(), Password));
        QVERIFY(vault.unlockVault(drive.container(), Password));
        const QString link = QDir(drive.path()).filePath("other-name");
        QVERIFY(QFile::link(drive.container(), link + ".sym")); // the symbolic kind was always caught
        QCOMPARE(
            ::link(QFile::encodeName(drive.container()).constData(), QFile::encodeName(link).constData()), 0);
        const QByteArray before = readFile(drive.container());

        // Read while it grows, the container would be copied into itself until the drive is full.
        QVERIFY(!vault.importFile(link, "copy.bin"));
        QCOMPARE(vault.lastError().reason(), Error::Reason::InvalidArgument);
        QVERIFY(!vault.importFile(link + ".sym", "copy.bin"));
        QCOMPARE(vault.lastError().reason(), Error::Reason::InvalidArgument);
        QVERIFY(!vault.exportFile("missing.bin", link));
        QCOMPARE(readFile(drive.container()), before);
        QVERIFY(vault.lockVault());
#endif
    }

private:
    // 8 MiB region + 1 MiB live + 2 MiB dead on a 12 MiB drive: no room for a second container.
    void fillWithLiveAndDeadSpace(const SmallDrive& drive, VaultManager& vault)
    {
        QVERIFY(vault.createVault(drive.container(), Password));
        QVERIFY(vault.unlockVault(drive.container(), Password));
        QVERIFY(vault.importFile(makeSource(m_local.path(), "live", 1024 * 1024), "live.bin"));
        QVERIFY(vault.importFile(makeSource(m_local.path(), "dead", 2 * 1024 * 1024), "dead.bin"));
        QVERIFY(vault.deleteFile("dead.bin"));
    }
};

QTEST_GUILESS_MAIN(TestDriveFaults)
#include "test_drive_faults.moc"
