// keldra-cli update-drive run as a separate program against a server on 127.0.0.1.
#include "LoopbackHttpServer.h"
#include "UpdateFixtures.h"
#include "UpdateState.h"
#include "UpdateTestCase.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace UpdateFixtures;

namespace {

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

} // namespace

class UpdateDriveCliTest : public UpdateTestCase
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void updatesThenReportsUpToDate();
    void withoutTerminalOrYesStopsBeforeDownloading();
    void hashMismatchFailsAndLeavesDrive();
    void wrongCommandLines();
    void withoutPgrepTheUpdateIsRefused();

private:
    // Waits with the event loop running, since the server lives in this process.
    CliRun runCli(const QStringList& arguments, const QString& path = QString());

    QString m_cli;
};

void UpdateDriveCliTest::initTestCase()
{
    m_cli = QDir(QStringLiteral(KELDRA_BIN_DIR)).filePath(QStringLiteral("keldra-cli"));
    QVERIFY2(QFileInfo(m_cli).isExecutable(), qPrintable(m_cli));
}

void UpdateDriveCliTest::init()
{
    setUpStage();
    publishUpdate();
}

CliRun UpdateDriveCliTest::runCli(const QStringList& arguments, const QString& path)
{
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name :
         {QStringLiteral("http_proxy"), QStringLiteral("https_proxy"), QStringLiteral("HTTP_PROXY"),
          QStringLiteral("HTTPS_PROXY"), QStringLiteral("all_proxy"), QStringLiteral("ALL_PROXY")})
        environment.remove(name);
    if (!path.isEmpty())
        environment.insert(QStringLiteral("PATH"), path);
    cli.setProcessEnvironment(environment);
    cli.setStandardInputFile(QProcess::nullDevice());
    cli.start(m_cli, arguments);
    CliRun run;
    if (!cli.waitForStarted(10000))
        return run;
    QDeadlineTimer deadline(120000);
    while (cli.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(20);
    if (cli.state() != QProcess::NotRunning) {
        cli.kill();
        cli.waitForFinished(10000);
        return run;
    }
    run.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    run.out = QString::fromUtf8(cli.readAllStandardOutput());
    run.err = QString::fromUtf8(cli.readAllStandardError());
    return run;
}

void UpdateDriveCliTest::updatesThenReportsUpToDate()
{
    CliRun run = runCli({QStringLiteral("update-drive"), m_root, QStringLiteral("--manifest"), manifestUrl(),
                         QStringLiteral("--yes")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
    QVERIFY(run.out.contains(QStringLiteral("Unidade atualizada para Keldra 1.2.0.\n")));
    QVERIFY(run.out.contains(QStringLiteral("Atualização concluída.\n\nVersão instalada: 1.2.0\n")));
    QCOMPARE(readFile(QDir(m_root).filePath(QStringLiteral("Keldra/windows/Keldra.exe"))),
             QByteArrayLiteral("Keldra/windows/Keldra.exe 1.2.0"));
    QCOMPARE(m_server->lastHeader("User-Agent"), QByteArrayLiteral("KeldraConfig/1.0.0"));

    run = runCli({QStringLiteral("update-drive"), m_root, QStringLiteral("--manifest"), manifestUrl()});
    QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
    QVERIFY(
        run.out.contains(QStringLiteral("Nenhuma atualização disponível. Instalado: 1.2.0 | Remoto: 1.2.0")));
    QCOMPARE(m_server->requestCount(QStringLiteral("/pkg.zip")), 1);
}

void UpdateDriveCliTest::withoutTerminalOrYesStopsBeforeDownloading()
{
    const auto before = snapshot(m_root);
    const CliRun run =
        runCli({QStringLiteral("update-drive"), m_root, QStringLiteral("--manifest"), manifestUrl()});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.out.contains(QStringLiteral("Versão disponível: 1.2.0")));
    QVERIFY(run.err.contains(QStringLiteral("--yes")));
    QCOMPARE(m_server->requestCount(QStringLiteral("/pkg.zip")), 0);
    QCOMPARE(snapshot(m_root), before);
}

void UpdateDriveCliTest::hashMismatchFailsAndLeavesDrive()
{
    auto object =
        manifest(QStringLiteral("1.2.0"), m_server->baseUrl() + QStringLiteral("/pkg.zip"), m_package);
    object.insert(QStringLiteral("sha256"), QString(64, QLatin1Char('a')));
    m_server->serve(kManifestPath, toJson(object));
    const auto before = snapshot(m_root);

    const CliRun run = runCli({QStringLiteral("update-drive"), m_root, QStringLiteral("--manifest"),
                               manifestUrl(), QStringLiteral("--yes")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.contains(QStringLiteral("Hash SHA-256 divergente. O pacote não será aplicado.")));
    QVERIFY(
        run.out.contains(QStringLiteral("Hash divergente. Esperado: %1").arg(QString(64, QLatin1Char('a')))));
    QCOMPARE(snapshot(m_root), before);
}

void UpdateDriveCliTest::wrongCommandLines()
{
    QCOMPARE(runCli({QStringLiteral("update-drive")}).exitCode, 2);
    QCOMPARE(runCli({QStringLiteral("update-drive"), m_root, QStringLiteral("--manifest")}).exitCode, 2);
    QCOMPARE(runCli({QStringLiteral("update-drive"), m_root, QStringLiteral("--force")}).exitCode, 2);
    const CliRun relative = runCli({QStringLiteral("update-drive"), m_root, QStringLiteral("--manifest"),
                                    QStringLiteral("manifest.json")});
    QCOMPARE(relative.exitCode, 1);
    QVERIFY(m_server->requestedPaths().isEmpty());
}

// Without pgrep nobody can tell whether Keldra runs from the drive, so nothing starts.
void UpdateDriveCliTest::withoutPgrepTheUpdateIsRefused()
{
    const CliRun run = runCli({QStringLiteral("update-drive"), m_root, QStringLiteral("--manifest"),
                               manifestUrl(), QStringLiteral("--yes")},
                              m_work->path());
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, QStringLiteral("Feche o Keldra antes de atualizar os bundles da unidade USB.\n"));
    QVERIFY(m_server->requestedPaths().isEmpty());
}

QTEST_GUILESS_MAIN(UpdateDriveCliTest)
#include "test_update_drive_cli.moc"
