// Plain copies and compacted containers of crashed runs are removed; live
// runs, unmarked folders (a compacted container that became the only copy)
// and edited copies are left alone.
#include "EndedProcess.h"
#include "TempLocationOverride.h"

#include "core/vault/StaleWorkspaceSweeper.h"
#include "core/vault/TempWorkspaceManager.h"
#include "core/vault/WorkspaceRecord.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace Keldra::Core;

namespace {

QString makeWorkspace(const QString& path, const QByteArray& mark)
{
    QDir().mkpath(path + "/docs");
    QFile copy(path + "/docs/secret.txt");
    if (copy.open(QIODevice::WriteOnly))
        copy.write("plain text");
    if (!mark.isNull()) {
        QFile m(StaleWorkspaceSweeper::ownerMarkPath(path));
        if (m.open(QIODevice::WriteOnly))
            m.write(mark);
    }
    return path;
}

QString uuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

class TestStaleWorkspaces : public QObject
{
    Q_OBJECT

private slots:
    void removesOnlyWorkspacesOfFinishedRuns()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const qint64 ended = TestSupport::endedProcessId();
        QVERIFY(ended > 0);
        const QByteArray deadPid = QByteArray::number(ended) + "\n\n\n";
        const QByteArray mine = StaleWorkspaceSweeper::currentOwner();
        QByteArray reusedPid = mine;
        reusedPid.replace(reusedPid.indexOf('\n') + 1, 0, "1"); // same pid, another start time

        const QString shared = root.path() + "/Keldra/";
        const QString dead = makeWorkspace(shared + uuid(), deadPid);
        const QString deadPrivate = makeWorkspace(root.path() + "/Keldra-" + uuid(), deadPid);
        const QString reused = makeWorkspace(shared + uuid(), reusedPid);
        const QString live = makeWorkspace(shared + uuid(), mine);
        const QString unmarked = makeWorkspace(shared + uuid(), QByteArray());
        const QString halfWritten = makeWorkspace(shared + uuid(), "12");
        const QString compact = makeWorkspace(root.path() + "/Keldra-compact-AbC123", deadPid);
        const QString preserved = makeWorkspace(root.path() + "/Keldra-compact-XyZ789", QByteArray());
        // A dead run whose record says the copy was edited since it was opened.
        const QString edited = makeWorkspace(shared + uuid(), deadPid);
        // Earlier versions made the shared parent theirs alone; records are only written in such a folder.
        QVERIFY(QFile::setPermissions(shared, QFileDevice::Permissions(0x7700)));
        WorkspaceRecord record;
        record.copies.append({QStringLiteral("docs/secret.txt"), edited + "/docs/secret.txt", {}, 3, "x"});
        QVERIFY(record.save(edited));
        const QString unedited = makeWorkspace(shared + uuid(), deadPid);
        QByteArray digest;
        qint64 size = 0;
        QVERIFY(WorkspaceRecord::measure(unedited + "/docs/secret.txt", &size, &digest));
        record.copies = {
            {QStringLiteral("docs/secret.txt"), unedited + "/docs/secret.txt", {}, size, digest}};
        QVERIFY(record.save(unedited));

        QStringList removed = {dead, deadPrivate, reused, compact, unedited};
#ifdef Q_OS_UNIX
        // Where this version puts them: inside the user's private folder.
        const QString own = root.path() + QStringLiteral("/keldra-%1/").arg(::geteuid());
        QVERIFY(QDir().mkdir(own, QFileDevice::Permissions(0x7700)));
        removed << makeWorkspace(own + uuid(), deadPid) << makeWorkspace(own + "compact-Qw3rTy", deadPid);
        const QString ownLive = makeWorkspace(own + uuid(), mine);
#endif
#ifdef Q_OS_LINUX
        // Only Linux names its boot; elsewhere the start time alone tells a reused id apart.
        QByteArray otherBoot = mine;
        otherBoot.replace(otherBoot.lastIndexOf('\n', otherBoot.size() - 2) + 1, 2, "zz");
        removed << makeWorkspace(shared + uuid(), otherBoot);
#endif

        QCOMPARE(StaleWorkspaceSweeper::removeStaleWorkspaces(root.path()), removed.size());
        for (const QString& gone : std::as_const(removed)) {
            QVERIFY2(!QFile::exists(gone), qPrintable(gone));
            QVERIFY(!QFile::exists(StaleWorkspaceSweeper::ownerMarkPath(gone)));
            QVERIFY(!QFile::exists(WorkspaceRecord::pathFor(gone)));
        }
        for (const QString& kept : {live, unmarked, halfWritten, preserved, edited})
            QVERIFY2(QFile::exists(kept + "/docs/secret.txt"), qPrintable(kept));
#ifdef Q_OS_UNIX
        QVERIFY(QFile::exists(ownLive + "/docs/secret.txt"));
#endif
        QCOMPARE(StaleWorkspaceSweeper::leftovers(root.path()).size(), 1);
    }

    // The workspace of the vault marks itself, drops its mark when removed,
    // and a new start clears what a dead run left.
    void workspaceManagerSweepsAtStart()
    {
        QTemporaryDir root;
        const TestSupport::TempLocationOverride location(root.path());
        const qint64 ended = TestSupport::endedProcessId();
        QVERIFY(ended > 0);
        const QString stale =
            makeWorkspace(root.path() + "/Keldra/" + uuid(), QByteArray::number(ended) + "\n\n\n");
        {
            TempWorkspaceManager workspace;
            QVERIFY(!QFile::exists(stale));
            QVERIFY(workspace.prepare());
            QVERIFY(QFile::exists(StaleWorkspaceSweeper::ownerMarkPath(workspace.workspacePath())));
            TempWorkspaceManager other; // a second run at the same time leaves ours alone
            QVERIFY(QFile::exists(workspace.workspacePath()));
            QVERIFY(workspace.cleanup());
            QVERIFY(!QFile::exists(StaleWorkspaceSweeper::ownerMarkPath(workspace.workspacePath())));
        }
    }

    void markRoundTrip()
    {
        QTemporaryDir root;
        const QString workspace = root.filePath("Keldra-" + uuid());
        QVERIFY(QDir().mkpath(workspace));
        QVERIFY(StaleWorkspaceSweeper::markOwner(workspace));
        QVERIFY(StaleWorkspaceSweeper::ownerIsRunning(StaleWorkspaceSweeper::currentOwner()));
        QCOMPARE(StaleWorkspaceSweeper::removeStaleWorkspaces(root.path()), 0);
        StaleWorkspaceSweeper::removeOwnerMark(workspace);
        QVERIFY(!QFile::exists(StaleWorkspaceSweeper::ownerMarkPath(workspace)));
    }
};

QTEST_GUILESS_MAIN(TestStaleWorkspaces)
#include "test_stale_workspace_sweeper.moc"
