// The private workspace folder and the tracking of editing copies.

#include "TempLocationOverride.h"
#include "TestFiles.h"
#include "VaultTestSupport.h"

#include "core/vault/FileSyncManager.h"
#include "core/vault/StaleWorkspaceSweeper.h"
#include "core/vault/TempWorkspaceManager.h"
#include "core/vault/WorkspaceRecord.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace Keldra::Core;
using namespace TestSupport;
using namespace VaultTest;

namespace {

constexpr QFileDevice::Permissions GroupOrOther = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                  QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                  QFileDevice::WriteOther | QFileDevice::ExeOther;

#ifdef Q_OS_UNIX
// A real folder of ours with exactly 0700, seen without following a link.
bool ownPrivateFolder(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::geteuid() && (status.st_mode & 07777) == 0700;
}

QString userFolderName()
{
    return QStringLiteral("keldra-%1").arg(::geteuid());
}

// Runs `step` as another user (nobody) in a child process; its exit code.
int asAnotherUser(const std::function<int()>& step)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(100);
        ::_exit(step());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
#endif

} // namespace

class WorkspaceTest : public QObject
{
    Q_OBJECT

private slots:
    void workspaceIsOwnerOnlyAndRemovedByCleanup();
    void foreignSharedParentIsNotUsed();
    void privateFolderIsNeverOneOthersCouldReach();
    void recordsAreNeverWrittenThroughALink();
    void anotherUsersLinksAreNeverFollowed();
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
#ifdef Q_OS_UNIX
    const QString privateFolder = QDir(root.path()).absoluteFilePath(userFolderName());
#else
    const QString privateFolder = QDir(root.path()).absoluteFilePath(QStringLiteral("Keldra"));
#endif
    QVERIFY(workspace.workspacePath().startsWith(privateFolder + QLatin1Char('/')));
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
    QVERIFY(ownPrivateFolder(QFileInfo(path).absolutePath()));
    QCOMPARE(QFileInfo(path).permissions() & GroupOrOther, QFileDevice::Permissions());
    QVERIFY(workspace.cleanup());
    QVERIFY(!QFileInfo::exists(path));
    QVERIFY(QFileInfo(shared).isDir()); // the other user's folder is left alone
#endif
}

void WorkspaceTest::privateFolderIsNeverOneOthersCouldReach()
{
#ifndef Q_OS_UNIX
    QSKIP("the temporary folder of a Windows user is the user's own");
#else
    QTemporaryDir root;
    QTemporaryDir elsewhere;
    QVERIFY(root.isValid() && elsewhere.isValid());
    QVERIFY(QFile::setPermissions(root.path(), QFileDevice::Permissions(0x7777))); // shared, as /tmp
    const QString usual = QDir(root.path()).filePath(userFolderName());
    const TempLocationOverride location(root.path());

    // What may already stand at the usual name: a link to a folder of ours,
    // a folder of ours others may enter, and (as root) someone else's folder.
    QList<std::function<bool()>> planted{
        [&] { return QFile::link(elsewhere.path(), usual); },
        [&] { return QDir().mkdir(usual) && QFile::setPermissions(usual, QFileDevice::Permissions(0x7755)); },
    };
    if (::geteuid() == 0) {
        planted.append([&] {
            return QDir().mkdir(usual, QFileDevice::Permissions(0x7700)) &&
                   ::chown(QFile::encodeName(usual).constData(), 65534, 65534) == 0;
        });
    }
    for (int i = 0; i < planted.size(); ++i) {
        QVERIFY(planted[i]());
        TempWorkspaceManager workspace;
        QVERIFY(workspace.prepare());
        const QString parent = QFileInfo(workspace.workspacePath()).absolutePath();
        QVERIFY2(parent != usual && ownPrivateFolder(parent), qPrintable(parent));
        QVERIFY(parent.startsWith(usual + QLatin1Char('-')));
        QVERIFY(QDir(elsewhere.path()).isEmpty()); // nothing through the link
        QVERIFY(workspace.cleanup());
        QVERIFY(QFile::remove(usual) || QDir().rmdir(usual));
    }

    // The session's runtime folder comes first when it is private.
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    for (const bool open : {false, true}) {
        QVERIFY(QFile::setPermissions(runtime.path(), QFileDevice::Permissions(open ? 0x7755 : 0x7700)));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        TempWorkspaceManager workspace;
        QVERIFY(workspace.prepare());
        const QString parent = QFileInfo(workspace.workspacePath()).absolutePath();
        QCOMPARE(parent, open ? usual : QDir(runtime.path()).filePath(QStringLiteral("keldra")));
        QVERIFY(ownPrivateFolder(parent));
        QVERIFY(workspace.cleanup());
        qunsetenv("XDG_RUNTIME_DIR");
    }
#endif
}

void WorkspaceTest::recordsAreNeverWrittenThroughALink()
{
#ifndef Q_OS_UNIX
    QSKIP("links in a shared temporary folder are a Unix matter");
#else
    QTemporaryDir root;
    QTemporaryDir victimDir;
    QVERIFY(root.isValid() && victimDir.isValid());
    QVERIFY(QFile::setPermissions(root.path(), QFileDevice::Permissions(0x7777))); // shared, as /tmp
    // The plain name is unusable for us: anyone may swap entries in it.
    QVERIFY(QDir().mkdir(QDir(root.path()).filePath(QStringLiteral("Keldra"))));
    QVERIFY(QFile::setPermissions(QDir(root.path()).filePath(QStringLiteral("Keldra")),
                                  QFileDevice::Permissions(0x7777)));
    const QString victim = victimDir.filePath(QStringLiteral("own-file.txt"));
    QVERIFY(writeFile(victim, "the victim's own file"));
    const TempLocationOverride location(root.path());

    TempWorkspaceManager workspace;
    QVERIFY(workspace.prepare());
    const QString path = workspace.workspacePath();
    // Links at the names of the record and the mark, wherever they are.
    const QString record = WorkspaceRecord::pathFor(path);
    const QString mark = StaleWorkspaceSweeper::ownerMarkPath(path);
    QVERIFY(QFile::link(victim, record));
    QVERIFY(QFile::remove(mark) && QFile::link(victim, mark));
    FileSyncManager sync;
    QVERIFY(sync.attach(path, QStringLiteral("/media/u/USB/keldra.kldr"), "id"));
    QVERIFY(StaleWorkspaceSweeper::markOwner(path));
    workspace.abandon(); // writes the released mark
    QCOMPARE(readFile(victim), QByteArray("the victim's own file"));
    QVERIFY(!QFileInfo(record).isSymLink() && !QFileInfo(mark).isSymLink());
    WorkspaceRecord read;
    QVERIFY(WorkspaceRecord::load(path, &read));
    QCOMPARE(read.vaultId, QByteArray("id"));

    // Nothing of ours lies loose in the shared folder: only folders of ours alone.
    const QStringList entries =
        QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : entries) {
        if (name != QStringLiteral("Keldra"))
            QVERIFY2(ownPrivateFolder(QDir(root.path()).filePath(name)), qPrintable(name));
    }
    QVERIFY(StaleWorkspaceSweeper::removeWorkspace(path));
#endif
}

void WorkspaceTest::anotherUsersLinksAreNeverFollowed()
{
#ifndef Q_OS_UNIX
    QSKIP("links in a shared temporary folder are a Unix matter");
#else
    if (::geteuid() != 0)
        QSKIP("another user's links can only be planted as root");
    QTemporaryDir root;
    QTemporaryDir victimDir;
    QVERIFY(root.isValid() && victimDir.isValid());
    QVERIFY(QFile::setPermissions(root.path(), QFileDevice::Permissions(0x7777)));
    QVERIFY(::chmod(QFile::encodeName(root.path()).constData(), 01777) == 0); // sticky, as /tmp
    const QString victim = victimDir.filePath(QStringLiteral("own-file.txt"));
    QVERIFY(writeFile(victim, "root's own file"));
    const QByteArray shared = QFile::encodeName(root.path());
    const QByteArray victimName = QFile::encodeName(victim);

    // The other user owns the plain names first, one a link into our files.
    QCOMPARE(asAnotherUser([&] {
                 return ::mkdir((shared + "/Keldra").constData(), 0755) == 0 &&
                                ::symlink(victimDir.path().toUtf8().constData(),
                                          (shared + "/" + userFolderName().toUtf8()).constData()) == 0
                            ? 0
                            : 1;
             }),
             0);
    const TempLocationOverride location(root.path());
    TempWorkspaceManager workspace;
    QVERIFY(workspace.prepare());
    const QString path = workspace.workspacePath();
    QVERIFY(ownPrivateFolder(QFileInfo(path).absolutePath()));
    // It watches the folder and plants links at the record's name as soon as it sees the workspace.
    const QByteArray record = QFile::encodeName(WorkspaceRecord::pathFor(path));
    (void)asAnotherUser([&] { return ::symlink(victimName.constData(), record.constData()) == 0 ? 0 : 1; });
    FileSyncManager sync;
    QVERIFY(sync.attach(path, QStringLiteral("/media/u/USB/keldra.kldr"), "id"));
    workspace.abandon();
    QCOMPARE(readFile(victim), QByteArray("root's own file"));
    QCOMPARE(QDir(victimDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("own-file.txt")});
    QVERIFY(StaleWorkspaceSweeper::removeWorkspace(path));
#endif
}

void WorkspaceTest::trackingDetectsChangedContentOnly()
{
    // Records are written only in a folder of ours alone: the copies' folder lies in one.
    QTemporaryDir outer;
    QTemporaryDir root(outer.filePath(QStringLiteral("workspace-XXXXXX")));
    QVERIFY(outer.isValid() && root.isValid());
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
