// A session with edited copies open is killed for real; keldra-cli then
// tells about the edits and `recover` stores them in the vault.

#include "ForgedIndex.h"
#include "TempLocationOverride.h"
#include "TestFiles.h"

#include "core/vault/VaultManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstdio>

using namespace TestSupport;

namespace {

const QByteArray Password = QByteArrayLiteral("senha de teste longa");

// A name another program wrote: a line feed that would forge a line of
// output and escape sequences that would clear the terminal. Windows holds no
// character below 0x20 in a file name (the copy's): the 8-bit escape there.
#ifdef Q_OS_WIN
const QString kHostileName = QStringLiteral("a\u009b2J\u007f.txt");
const QString kHostileShown = QStringLiteral("a\\x9b2J\\x7f.txt");
#else
const QString kHostileName =
    QStringLiteral("a\nAlterações salvas no cofre: 9 arquivo(s).\x1b[2J\x1b]0;t\x07.txt");
const QString kHostileShown =
    QStringLiteral("a\\x0aAlterações salvas no cofre: 9 arquivo(s).\\x1b[2J\\x1b]0;t\\x07.txt");
#endif

// The session that gets killed: opens nota.txt and the hostile name, edits
// their copies, says where the first copy is, and waits.
int runEditSession(const QString& container)
{
    Keldra::Core::VaultManager vault;
    QString copy;
    QString hostileCopy;
    if (!vault.unlockVault(container, Password) ||
        !vault.prepareFileForEditing(QStringLiteral("nota.txt"), &copy) || !writeFile(copy, "editada") ||
        !vault.prepareFileForEditing(kHostileName, &hostileCopy) || !writeFile(hostileCopy, "outra editada"))
        return 1;
    std::printf("%s\n", QFile::encodeName(copy).constData());
    std::fflush(stdout);
    for (;;)
        QThread::sleep(1);
}

} // namespace

class CliRecoverTest : public QObject
{
    Q_OBJECT

private slots:
    void killedSessionEditIsReportedAndRecovered();

private:
    struct Run
    {
        int code = -1;
        QString out;
        QString err;
    };
    Run cli(const QStringList& args);

    QTemporaryDir m_dir;
};

CliRecoverTest::Run CliRecoverTest::cli(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral(KELDRA_BIN_DIR "/keldra-cli" KELDRA_EXE_SUFFIX), args);
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    process.write(Password + '\n');
    process.closeWriteChannel();
    if (!process.waitForFinished(120000))
        return run;
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void CliRecoverTest::killedSessionEditIsReportedAndRecovered()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("tmp"))));
    // The programs started here inherit it: their workspaces land in a folder of this test.
    const TempLocationOverride location(m_dir.filePath(QStringLiteral("tmp")));
    const QString container = m_dir.filePath(QStringLiteral("keldra.kldr"));
    const QString original = m_dir.filePath(QStringLiteral("nota.txt"));
    QVERIFY(writeFile(original, "original"));
    QCOMPARE(cli({QStringLiteral("create"), container}).code, 0);
    QCOMPARE(cli({QStringLiteral("import"), container, original, QStringLiteral("nota.txt")}).code, 0);
    QCOMPARE(cli({QStringLiteral("import"), container, original, QStringLiteral("outra.txt")}).code, 0);
    QVERIFY(VaultTest::resealIndex(container, Password, [](Keldra::Core::SecureFileIndex* index) {
        const QList<Keldra::Core::VaultFileEntry> entries = index->entries();
        for (Keldra::Core::VaultFileEntry entry : entries) {
            if (entry.vaultPath == QStringLiteral("outra.txt")) {
                index->remove(entry.vaultPath);
                entry.vaultPath = kHostileName;
                index->addOrReplace(entry);
            }
        }
    }));

    QProcess session;
    session.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--edit-session"), container});
    QVERIFY(session.waitForStarted(10000));
    QVERIFY(session.waitForReadyRead(120000));
    const QString copy = QString::fromLocal8Bit(session.readLine()).trimmed();
    QVERIFY2(QFileInfo::exists(copy), qPrintable(copy));
    session.kill();
    QVERIFY(session.waitForFinished(10000));
    QCOMPARE(session.exitStatus(), QProcess::CrashExit);

    // Any command on the vault says so, and leaves the edit where it is.
    const Run listed = cli({QStringLiteral("ls"), container});
    QCOMPARE(listed.code, 0);
    QVERIFY2(listed.err.contains(QStringLiteral("Foram encontradas alterações de uma sessão anterior que não "
                                                "foram salvas no cofre: 2 arquivo(s).")),
             qPrintable(listed.err));
    QVERIFY2(listed.err.contains(QStringLiteral("keldra-cli recover")), qPrintable(listed.err));
    QCOMPARE(readFile(copy), QByteArray("editada"));

    const Run recovered = cli({QStringLiteral("recover"), container});
    QCOMPARE(recovered.code, 0);
    // Each name on a line of its own, escaped as ls shows it.
    const QStringList lines =
        QString(recovered.out).remove(QLatin1Char('\r')).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.contains(QStringLiteral("nota.txt")), qPrintable(recovered.out));
    QVERIFY2(lines.contains(kHostileShown), qPrintable(recovered.out));
    QCOMPARE(lines.last(), QStringLiteral("Alterações salvas no cofre: 2 arquivo(s)."));
    QVERIFY(!QFileInfo::exists(copy));

    const QString exported = m_dir.filePath(QStringLiteral("saida.txt"));
    const Run exportRun = cli({QStringLiteral("export"), container, QStringLiteral("nota.txt"), exported});
    QCOMPARE(exportRun.code, 0);
    QVERIFY(exportRun.err.isEmpty()); // nothing left to tell about
    QCOMPARE(readFile(exported), QByteArray("editada"));
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--edit-session") == 0)
        return runEditSession(QString::fromLocal8Bit(argv[2]));
    CliRecoverTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_cli_recover.moc"
