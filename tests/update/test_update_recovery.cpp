// A swap cut short at any step is finished or undone by the next run, and stray staging
// folders and backups go, without a link ever leading the clean-up off the drive.
#include "UpdateFixtures.h"
#include "UpdateRecorder.h"
#include "UpdateTestCase.h"
#include "deployment/BundleUpdater.h"
#include "deployment/PortableBundleManager.h"
#include "deployment/UpdateJournal.h"
#include "deployment/UpdateRecovery.h"
#include "deployment/UpdateState.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace Keldra::Deployment;
using namespace UpdateFixtures;

namespace {

const QString kStateFile = QStringLiteral("Keldra/update-state.json");

// The drive without its state file, whose installedAt changes with every write.
QMap<QString, QByteArray> bundles(const QString& root)
{
    auto entries = snapshot(root);
    entries.remove(kStateFile);
    return entries;
}

} // namespace

class UpdateRecoveryTest : public UpdateTestCase
{
    Q_OBJECT

private slots:
    void initTestCase();
    void killAtEveryStepIsRecovered();
    void strayLeftoversAreCleanedWithoutFollowingLinks();
    void preparationRecoversFirst();
    void forgedJournalsAreSetAside();
    void addedBundleIsUndoneOnlyWhenItCarriesTheVersion();

private:
    UpdateOutcome runUpdate(const std::function<bool(SwapStep)>& hook);
};

void UpdateRecoveryTest::initTestCase()
{
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
}

UpdateOutcome UpdateRecoveryTest::runUpdate(const std::function<bool(SwapStep)>& hook)
{
    UpdateRecorder recorder;
    BundleUpdater updater(recorder.callbacks());
    updater.setRunningProbe([] { return false; });
    updater.setTimeouts(10000, 10000);
    updater.setSwapStepHook(hook);
    return recorder.finish(updater, updater.updateDrive(m_root, QUrl(manifestUrl())));
}

void UpdateRecoveryTest::killAtEveryStepIsRecovered()
{
    setUpStage();
    publishUpdate();
    QCOMPARE(runUpdate({}), UpdateOutcome::Updated);
    const auto updated = bundles(m_root);

    for (int kill = int(SwapStep::JournalWritten); kill <= int(SwapStep::JournalRemoved); ++kill) {
        const QByteArray step = "killed after step " + QByteArray::number(kill);
        setUpStage();
        publishUpdate();
        const auto before = snapshot(m_root);
        QCOMPARE(runUpdate([kill](SwapStep step) { return int(step) != kill; }), UpdateOutcome::Failed);

        // Odd steps are recovered by the next update, even ones by the recovery alone.
        if (kill % 2) {
            UpdateRecorder recorder;
            recorder.answer = false;
            BundleUpdater next(recorder.callbacks());
            next.setRunningProbe([] { return false; });
            QVERIFY2(next.updateDrive(m_root, QUrl(manifestUrl())) != UpdateOutcome::Failed,
                     step.constData());
        } else {
            const Error error = recoverInterruptedUpdate(m_root);
            QVERIFY2(error.ok(), qPrintable(error.toString()));
        }
        if (kill < int(SwapStep::SwapRecorded)) {
            QVERIFY2(snapshot(m_root) == before, step.constData());
        } else {
            QVERIFY2(bundles(m_root) == updated, step.constData());
            QCOMPARE(BundleUpdater::installedVersion(m_root), QStringLiteral("1.2.0"));
        }
        RecoveryOutcome outcome = RecoveryOutcome::Finished;
        QVERIFY(recoverInterruptedUpdate(m_root, &outcome).ok());
        QCOMPARE(outcome, RecoveryOutcome::NothingToDo);
    }
}

void UpdateRecoveryTest::strayLeftoversAreCleanedWithoutFollowingLinks()
{
    setUpStage();
    const QDir work(m_work->path());
    const QDir drive(m_root);
    const QString outside = work.filePath(QStringLiteral("outside"));
    QVERIFY(writeFile(QDir(outside).filePath(QStringLiteral("precious.txt")), "keep me"));
    // What an older tool killed mid-swap leaves: Windows only in its backup.
    const QString windows = drive.filePath(QStringLiteral("Keldra/windows"));
    QVERIFY(QDir().rename(windows, drive.filePath(QStringLiteral("Keldra/windows.backup-20250101000000"))));
    QVERIFY(writeFile(drive.filePath(QStringLiteral("Keldra/windows.backup-20240101000000/Keldra.exe")),
                      "older"));
    QVERIFY(writeFile(drive.filePath(QStringLiteral("Keldra/linux.backup-20250101000000/Keldra")), "old"));
    QVERIFY(writeFile(drive.filePath(QStringLiteral(".update-20250101000000/extracted/x")), "half"));
    QVERIFY(QFile::link(outside, drive.filePath(QStringLiteral(".update-20250102000000"))));
    QVERIFY(QFile::link(outside, drive.filePath(QStringLiteral("Keldra/linux.backup-20250102000000"))));
    QVERIFY(writeFile(drive.filePath(QStringLiteral(".update-notes/mine.txt")), "the user's"));
    // A record naming places off the drive names nothing recovery touches.
    QVERIFY(writeFile(updateJournalPath(m_root),
                      R"({"staging": "../outside", "backupStamp": "../../outside", "version": "1.2.0",
                          "sha256": "", "hadWindows": false, "hadLinux": false, "swapped": false})"));
    const auto outsideBefore = snapshot(outside);

    RecoveryOutcome outcome = RecoveryOutcome::NothingToDo;
    QVERIFY(recoverInterruptedUpdate(m_root, &outcome).ok());
    QCOMPARE(outcome, RecoveryOutcome::LeftoversRemoved);
    QCOMPARE(readFile(QDir(windows).filePath(QStringLiteral("Keldra.exe"))),
             QByteArrayLiteral("Keldra/windows/Keldra.exe 1.0.0"));
    QCOMPARE(readFile(drive.filePath(QStringLiteral("Keldra/linux/Keldra"))),
             QByteArrayLiteral("Keldra/linux/Keldra 1.0.0"));
    QCOMPARE(drive.entryList({QStringLiteral(".update-*")}, QDir::AllEntries | QDir::Hidden | QDir::System),
             QStringList{QStringLiteral(".update-notes")});
    QCOMPARE(QDir(drive.filePath(QStringLiteral("Keldra")))
                 .entryList({QStringLiteral("*.backup-*"), QStringLiteral("*.json")},
                            QDir::AllEntries | QDir::Hidden | QDir::System),
             QStringList{QStringLiteral("update-state.json")});
    QCOMPARE(snapshot(outside), outsideBefore);
}

void UpdateRecoveryTest::preparationRecoversFirst()
{
    setUpStage();
    publishUpdate();
    const auto before = bundles(m_root);
    QCOMPARE(runUpdate([](SwapStep step) { return step != SwapStep::LinuxMovedAside; }),
             UpdateOutcome::Failed);
    QVERIFY(!QFileInfo::exists(QDir(m_root).filePath(QStringLiteral("Keldra/linux"))));

    // A Linux runtime that is copied as it is, with no system tools involved.
    const QString source = QDir(m_work->path()).filePath(QStringLiteral("runtime"));
    QVERIFY(writeFile(QDir(source).filePath(QStringLiteral("Keldra")), "Keldra/linux/Keldra 1.0.0"));
    QVERIFY(writeFile(QDir(source).filePath(QStringLiteral("qt.conf")), "Keldra/linux/qt.conf 1.0.0"));
    PortableBundleOptions options;
    options.linuxExecutable = QDir(source).filePath(QStringLiteral("Keldra"));
    const Error result = PortableBundleManager().preparePortableBundle(m_root, options, {});
    QVERIFY2(result.ok(), qPrintable(result.toString()));

    auto after = bundles(m_root);
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (it.key().startsWith(QStringLiteral("Keldra/")) && it.key() != QStringLiteral("Keldra/README.txt"))
            QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
    }
    QVERIFY(QDir(m_root).entryList({QStringLiteral(".update-*")}, QDir::AllEntries | QDir::Hidden).isEmpty());
    QVERIFY(!QFileInfo::exists(updateJournalPath(m_root)));
}

// A record that does not describe what is on the drive is never acted on: no bundle goes,
// the state file keeps its version, and the next update goes ahead.
void UpdateRecoveryTest::forgedJournalsAreSetAside()
{
    struct Forged
    {
        const char* name;
        const char* journal;
        bool staging;        // the named staging folder exists
        const char* backups; // what stands at the named backups: "", "folder" or "link"
    };
    const QList<Forged> forged{
        {"no bundle before, nothing else", R"("version": "1.2.0", "hadWindows": false, "hadLinux": false)",
         false, ""},
        {"no bundle before, staging", R"("version": "1.2.0", "hadWindows": false, "hadLinux": false)", true,
         ""},
        {"backups, other version in bundles", R"("version": "1.2.0", "hadWindows": true, "hadLinux": true)",
         true, "folder"},
        {"swapped, nothing else",
         R"("version": "999.999.999", "hadWindows": true, "hadLinux": true, "swapped": true)", false, ""},
        {"swapped, linked backups",
         R"("version": "999.999.999", "hadWindows": true, "hadLinux": true, "swapped": true)", true, "link"},
        {"swapped, other version in bundles",
         R"("version": "999.999.999", "hadWindows": true, "hadLinux": true, "swapped": true)", true,
         "folder"},
    };
    for (const Forged& forgery : forged) {
        setUpStage();
        publishUpdate();
        const QDir drive(m_root);
        const QDir outside(QDir(m_work->path()).filePath(QStringLiteral("outside")));
        for (const QString& platform : {QStringLiteral("windows"), QStringLiteral("linux")}) {
            QVERIFY(writeFile(drive.filePath(QStringLiteral("Keldra/%1/Keldra.version").arg(platform)),
                              "1.0.0\n"));
            const QString backup =
                drive.filePath(QStringLiteral("Keldra/%1.backup-20250101000000").arg(platform));
            if (qstrcmp(forgery.backups, "folder") == 0)
                QVERIFY(writeFile(QDir(backup).filePath(QStringLiteral("Keldra")), "planted"));
            if (qstrcmp(forgery.backups, "link") == 0) {
                QVERIFY(writeFile(outside.filePath(platform + QStringLiteral("/Keldra")), "outside"));
                QVERIFY(QFile::link(outside.filePath(platform), backup));
            }
        }
        if (forgery.staging)
            QVERIFY(QDir().mkpath(drive.filePath(QStringLiteral(".update-20250101000000/extracted"))));
        QVERIFY(writeFile(updateJournalPath(m_root),
                          QByteArray(R"({"staging": ".update-20250101000000", "backupStamp": "20250101000000",
                                         "sha256": "", )") +
                              forgery.journal + "}"));
        const auto windows = snapshot(drive.filePath(QStringLiteral("Keldra/windows")));
        const auto linux = snapshot(drive.filePath(QStringLiteral("Keldra/linux")));

        RecoveryOutcome outcome = RecoveryOutcome::NothingToDo;
        const Error error = recoverInterruptedUpdate(m_root, &outcome);
        QVERIFY2(error.ok(), qPrintable(error.toString()));
        QVERIFY2(outcome == RecoveryOutcome::JournalRejected, forgery.name);
        QVERIFY2(snapshot(drive.filePath(QStringLiteral("Keldra/windows"))) == windows, forgery.name);
        QVERIFY2(snapshot(drive.filePath(QStringLiteral("Keldra/linux"))) == linux, forgery.name);
        QCOMPARE(BundleUpdater::installedVersion(m_root), QStringLiteral("1.0.0"));
        QVERIFY(!QFileInfo::exists(updateJournalPath(m_root)));
        QCOMPARE(QDir(drive.filePath(QStringLiteral("Keldra")))
                     .entryList({QStringLiteral("update-in-progress.json.rejected-*")}, QDir::Files)
                     .size(),
                 1);
        QCOMPARE(readFile(outside.filePath(QStringLiteral("linux/Keldra"))),
                 qstrcmp(forgery.backups, "link") == 0 ? QByteArrayLiteral("outside") : QByteArray());

        QVERIFY2(runUpdate({}) == UpdateOutcome::Updated, forgery.name);
        QCOMPARE(BundleUpdater::installedVersion(m_root), QStringLiteral("1.2.0"));
        QCOMPARE(readFile(drive.filePath(QStringLiteral("Keldra/linux/Keldra"))),
                 QByteArrayLiteral("Keldra/linux/Keldra 1.2.0"));
    }
}

// An update onto a drive without a Linux bundle, cut short once the new one is in: undoing
// it removes that bundle only when the bundle names the update's version.
void UpdateRecoveryTest::addedBundleIsUndoneOnlyWhenItCarriesTheVersion()
{
    for (const bool versioned : {true, false}) {
        setUpStage();
        const QDir work(m_work->path());
        if (versioned) {
            const QString content = work.filePath(QStringLiteral("content-1.2.0"));
            for (const char* platform : {"windows", "linux"})
                QVERIFY(
                    writeFile(QDir(content).filePath(
                                  QStringLiteral("Keldra/%1/Keldra.version").arg(QLatin1String(platform))),
                              "1.2.0\n"));
            m_package = zipFolder(content, work.filePath(QStringLiteral("versioned.zip")));
        }
        publishUpdate();
        const QDir drive(m_root);
        QVERIFY(QDir(drive.filePath(QStringLiteral("Keldra/linux"))).removeRecursively());
        QCOMPARE(runUpdate([](SwapStep step) { return step != SwapStep::LinuxMovedIn; }),
                 UpdateOutcome::Failed);

        RecoveryOutcome outcome = RecoveryOutcome::NothingToDo;
        QVERIFY(recoverInterruptedUpdate(m_root, &outcome).ok());
        QCOMPARE(outcome, versioned ? RecoveryOutcome::RolledBack : RecoveryOutcome::JournalRejected);
        QCOMPARE(readFile(drive.filePath(QStringLiteral("Keldra/linux/Keldra"))),
                 versioned ? QByteArray() : QByteArrayLiteral("Keldra/linux/Keldra 1.2.0"));
        QCOMPARE(readFile(drive.filePath(QStringLiteral("Keldra/windows/Keldra.exe"))),
                 versioned ? QByteArrayLiteral("Keldra/windows/Keldra.exe 1.0.0")
                           : QByteArrayLiteral("Keldra/windows/Keldra.exe 1.2.0"));
        QCOMPARE(BundleUpdater::installedVersion(m_root), QStringLiteral("1.0.0"));
    }
}

QTEST_GUILESS_MAIN(UpdateRecoveryTest)
#include "test_update_recovery.moc"
