// The private workspace folder and the tracking of editing copies.

#include "TempLocationOverride.h"
#include "TestFiles.h"
#include "VaultTestSupport.h"

#include "vault/FileSyncManager.h"
#include "vault/TempWorkspaceManager.h"
#include "vault/WorkspaceRecord.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace Keldra::Core;
using namespace TestSupport;
using namespace VaultTest;

namespace {

constexpr QFileDevice::Permissions GroupOrOther = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                  QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                  QFileDevice::WriteOther | QFileDevice::ExeOther;

} // namespace

class WorkspaceTest : public QObject
{
    Q_OBJECT

private slots:
    void workspaceIsOwnerOnlyAndRemovedByCleanup();
    void foreignSharedParentIsNotUsed();
    void trackingDetectsChangedContentOnly();
};

void WorkspaceTest::workspaceIsOwnerOnlyAndRemovedByCleanup()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const TempLocationOverride location(root.path());
    TempWorkspaceManager workspace;
    const QString path = workspace.workspacePath();
    QVERIFY(!QFileInfo::exists(path)); // nothing on disk before prepare
    QVERIFY(workspace.cleanup());

    QVERIFY(workspace.prepare());
    QVERIFY(QFileInfo(workspace.workspacePath()).isDir());
    QVERIFY(
        workspace.workspacePath().startsWith(QDir(root.path()).absoluteFilePath(QStringLiteral("Keldra/"))));
    QCOMPARE(workspace.pathForVaultFile(QStringLiteral("Docs/a.txt")),
             workspace.workspacePath() + QStringLiteral("/Docs/a.txt"));
#ifdef Q_OS_UNIX
    QCOMPARE(QFileInfo(workspace.workspacePath()).permissions() & GroupOrOther, QFileDevice::Permissions());
    // A folder left with wider rights is narrowed when prepared again.
    QVERIFY(QFile::setPermissions(workspace.workspacePath(), QFileDevice::Permissions(0x7755)));
    QVERIFY(workspace.prepare());
    QCOMPARE(QFileInfo(workspace.workspacePath()).permissions() & GroupOrOther, QFileDevice::Permissions());
#endif

    QVERIFY(QDir().mkpath(workspace.pathForVaultFile(QStringLiteral("Docs"))));
    QVERIFY(writeFile(workspace.pathForVaultFile(QStringLiteral("Docs/a.txt")), "plain"));
    QVERIFY(workspace.cleanup());
    QVERIFY(!QFileInfo::exists(workspace.workspacePath()));

    // Two managers never share a folder.
    TempWorkspaceManager other;
    QVERIFY(other.workspacePath() != path);
}

void WorkspaceTest::foreignSharedParentIsNotUsed()
{
#ifndef Q_OS_UNIX
    QSKIP("Ownership checks apply to Unix temporary folders");
#else
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString shared = QDir(root.path()).filePath(QStringLiteral("Keldra"));
    QVERIFY(QDir().mkdir(shared));
    if (::getuid() == 0) {
        // Someone else's folder, readable by all, that we could not guard.
        QVERIFY(::chown(QFile::encodeName(shared).constData(), 65534, 65534) == 0);
        QVERIFY(QFile::setPermissions(shared, QFileDevice::Permissions(0x7755)));
    } else {
        // Ours, but anyone may swap entries in it.
        QVERIFY(QFile::setPermissions(shared, QFileDevice::Permissions(0x7777)));
    }

    const TempLocationOverride location(root.path());
    TempWorkspaceManager workspace;
    QVERIFY(workspace.prepare());
    const QString path = workspace.workspacePath();
    QVERIFY2(!path.startsWith(shared + QLatin1Char('/')), qPrintable(path));
    QVERIFY(path.startsWith(QDir(root.path()).absoluteFilePath(QStringLiteral("Keldra-"))));
    QCOMPARE(QFileInfo(path).permissions() & GroupOrOther, QFileDevice::Permissions());
    QVERIFY(workspace.cleanup());
    QVERIFY(!QFileInfo::exists(path));
    QVERIFY(QFileInfo(shared).isDir()); // the other user's folder is left alone
#endif
}

void WorkspaceTest::trackingDetectsChangedContentOnly()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString copy = root.filePath(QStringLiteral("a.txt"));
    const QString second = root.filePath(QStringLiteral("b.txt"));
    QVERIFY(writeFile(copy, "a"));
    QVERIFY(writeFile(second, "b"));
    const QDateTime base = QDateTime::currentDateTimeUtc().addSecs(-100);
    QVERIFY(setModified(copy, base));

    FileSyncManager sync;
    QVERIFY(!sync.track(QStringLiteral("x.txt"), root.filePath(QStringLiteral("missing"))));
    QVERIFY(!sync.track(QStringLiteral("x.txt"), root.path()));
    QVERIFY(!sync.isModified(QStringLiteral("x.txt")));

    QVERIFY(sync.track(QStringLiteral("Docs/a.txt"), second));
    QVERIFY(sync.track(QStringLiteral("Docs/a.txt"), copy)); // the later record wins
    QVERIFY(sync.track(QStringLiteral("b.txt"), second));
    QCOMPARE(sync.trackedFiles().size(), 2);
    QVERIFY(!sync.isModified(QStringLiteral("Docs/a.txt")));
    QVERIFY(!sync.isModified(QStringLiteral("docs/A.txt"))); // keys are exact
    QVERIFY(sync.find(QStringLiteral("docs/A.txt")));        // lookups by the vault's rules are not

    // Time alone, forwards or backwards, is not a change; content is, even at the old time.
    QVERIFY(setModified(copy, base.addSecs(10)));
    QVERIFY(sync.modifiedFiles().isEmpty());
    QVERIFY(writeFile(copy, "A"));
    QVERIFY(setModified(copy, base.addSecs(-10)));
    const QList<TrackedTempFile> modified = sync.modifiedFiles();
    QCOMPARE(modified.size(), 1);
    QCOMPARE(modified.first().vaultPath, QStringLiteral("Docs/a.txt"));
    QCOMPARE(modified.first().tempPath, QFileInfo(copy).absoluteFilePath());
    QCOMPARE(modified.first().lastModifiedUtc, base);

    // Every change of the list is in the record beside the workspace.
    QVERIFY(sync.attach(root.path(), QStringLiteral("/media/u/USB/keldra.kldr"), "id"));
    sync.retarget(QStringLiteral("docs/A.txt"), QStringLiteral("Docs/renamed.txt"));
    WorkspaceRecord record;
    QVERIFY(WorkspaceRecord::load(root.path(), &record));
    QCOMPARE(record.vaultId, QByteArray("id"));
    QCOMPARE(record.copies.size(), 2);
    QStringList recorded;
    for (const TrackedTempFile& file : std::as_const(record.copies))
        recorded << file.vaultPath + QLatin1Char('=') + QFileInfo(file.tempPath).fileName();
    recorded.sort();
    QCOMPARE(recorded, QStringList({"Docs/renamed.txt=a.txt", "b.txt=b.txt"}));
    QVERIFY(sync.isModified(QStringLiteral("Docs/renamed.txt")));

    QVERIFY(QFile::remove(copy)); // a deleted copy is not a change
    QVERIFY(!sync.isModified(QStringLiteral("Docs/renamed.txt")));

    sync.untrack(QStringLiteral("b.txt"));
    QCOMPARE(sync.trackedFiles().size(), 1);
    sync.clear();
    QVERIFY(sync.trackedFiles().isEmpty());
    QVERIFY(QFileInfo::exists(second)); // clearing never touches files
}

QTEST_GUILESS_MAIN(WorkspaceTest)
#include "test_workspace.moc"
