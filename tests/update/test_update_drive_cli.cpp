// keldra-cli update-drive run as a separate program against a server on 127.0.0.1.
#include "LoopbackHttpServer.h"
#include "TinyZip.h"
#include "UpdateFixtures.h"
#include "UpdateTestCase.h"
#include "UpdateTestKey.h"
#include "deployment/UpdateManifest.h"
#include "deployment/UpdateSignature.h"
#include "deployment/UpdateState.h"

#include <QJsonDocument>
#include <QJsonObject>

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
    void releaseNotesReachTheTerminalEscaped();
    void hashMismatchFailsAndLeavesDrive();
    void wrongCommandLines();
    void withoutPgrepTheUpdateIsRefused();
    void shippedProgramTrustsOnlyTheReleaseKey();
    void signedReleaseAppliesEndToEnd();
    void signingRefusesWhatDrivesWouldRefuse();

private:
    // Waits with the event loop running, since the server lives in this process.
    // Runs keldra-cli built with the test key unless program says otherwise.
    CliRun runCli(const QStringList& arguments, const QString& path = QString(),
                  const QString& program = QString());

    QString m_cli;        // keldra-cli as shipped
    QString m_testKeyCli; // the same program trusting the tests' key
};

void UpdateDriveCliTest::initTestCase()
{
    m_cli = QDir(QStringLiteral(KELDRA_BIN_DIR)).filePath(QStringLiteral("keldra-cli"));
    QVERIFY2(QFileInfo(m_cli).isExecutable(), qPrintable(m_cli));
    m_testKeyCli = QStringLiteral(KELDRA_TEST_KEY_CLI);
    QVERIFY2(QFileInfo(m_testKeyCli).isExecutable(), qPrintable(m_testKeyCli));
}

void UpdateDriveCliTest::init()
{
    setUpStage();
    publishUpdate();
}

CliRun UpdateDriveCliTest::runCli(const QStringList& arguments, const QString& path, const QString& program)
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
    cli.start(program.isEmpty() ? m_testKeyCli : program, arguments);
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

void UpdateDriveCliTest::releaseNotesReachTheTerminalEscaped()
{
    // The notes are not signed: whoever serves the manifest writes them. An
    // escape sequence that clears the screen and a line that looks like ours.
    QJsonObject object =
        manifest(QStringLiteral("1.2.0"), m_server->baseUrl() + QStringLiteral("/pkg.zip"), m_package);
    object.insert(QStringLiteral("releaseNotes"),
                  QStringLiteral("Notas\x1b[2J\x1b[H\nVersão instalada: 1.2.0\\fim"));
    m_server->serve(kManifestPath, toJson(object));
    const CliRun run =
        runCli({QStringLiteral("update-drive"), m_root, QStringLiteral("--manifest"), manifestUrl()});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(!run.out.contains(QLatin1Char('\x1b')), qPrintable(run.out));
    QVERIFY2(run.out.contains(QStringLiteral("\nNotas\\x1b[2J\\x1b[H\\x0aVersão instalada: 1.2.0\\\\fim\n")),
             qPrintable(run.out));
    QCOMPARE(run.out.count(QStringLiteral("\nVersão instalada: ")), 1);
    QVERIFY(run.out.contains(QStringLiteral("\nVersão instalada: desconhecida\n")) ||
            run.out.contains(QStringLiteral("\nVersão instalada: 1.0.0\n")));
}

void UpdateDriveCliTest::hashMismatchFailsAndLeavesDrive()
{
    auto object =
        manifest(QStringLiteral("1.2.0"), m_server->baseUrl() + QStringLiteral("/pkg.zip"), m_package);
    object.insert(QStringLiteral("sha256"), QString(64, QLatin1Char('a')));
    m_server->serve(kManifestPath, toJson(UpdateTestKey::signedManifest(object)));
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

// A manifest signed with any other key is refused by the program users get. Its pgrep
// is one that finds no process, whatever else runs on this machine.
void UpdateDriveCliTest::shippedProgramTrustsOnlyTheReleaseKey()
{
    const QString tools = QDir(m_work->path()).filePath(QStringLiteral("tools"));
    QVERIFY(QDir().mkpath(tools));
    const QString pgrep = QDir(tools).filePath(QStringLiteral("pgrep"));
    QVERIFY(writeFile(pgrep, "#!/bin/sh\nexit 1\n"));
    QVERIFY(QFile::setPermissions(pgrep, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const auto before = snapshot(m_root);
    const CliRun run = runCli({QStringLiteral("update-drive"), m_root, QStringLiteral("--manifest"),
                               manifestUrl(), QStringLiteral("--yes")},
                              tools + QLatin1Char(':') + qEnvironmentVariable("PATH"), m_cli);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.out.endsWith(QStringLiteral("\nA atualização não está assinada pelo Keldra.\n")),
             qPrintable(run.out));
    QCOMPARE(m_server->requestCount(QStringLiteral("/pkg.zip")), 0);
    QCOMPARE(snapshot(m_root), before);
}

void UpdateDriveCliTest::signedReleaseAppliesEndToEnd()
{
    const QDir work(m_work->path());
    // keygen: a fresh pair, the secret owner-only, never over an existing file.
    const QString keyFile = work.filePath(QStringLiteral("release.key"));
    CliRun run = runCli({QStringLiteral("keygen"), keyFile}, QString(), m_cli);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(QFile::permissions(keyFile) & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
             QFileDevice::Permissions());
    const QByteArray publicKey = QByteArray::fromHex(readFile(keyFile + QStringLiteral(".pub")).trimmed());
    QVERIFY(run.out.contains(QString::fromLatin1(publicKey.toHex())));
    const QByteArray secretBefore = readFile(keyFile);
    QCOMPARE(runCli({QStringLiteral("keygen"), keyFile}, QString(), m_cli).exitCode, 1);
    QCOMPARE(readFile(keyFile), secretBefore);

    const QString packageFile = work.filePath(QStringLiteral("keldra-1.2.0.zip"));
    QVERIFY(writeFile(packageFile, m_package));
    run = runCli({QStringLiteral("sign-update"), packageFile, QStringLiteral("1.2.0"), keyFile}, QString(),
                 m_cli);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    Keldra::Deployment::UpdateManifest parsed;
    const Keldra::Deployment::Error error =
        Keldra::Deployment::parseUpdateManifest(run.out.toUtf8(), &parsed);
    QVERIFY2(error.ok(), qPrintable(error.toString()));
    QCOMPARE(parsed.packageUrl,
             QStringLiteral("https://atualizacoes.keldra.com.br/000Updates/keldra/keldra-1.2.0.zip"));
    QCOMPARE(parsed.size, m_package.size());
    QVERIFY(Keldra::Deployment::verifyUpdateSignature(parsed, publicKey));

    // Signed with the key the test program trusts, the release goes onto the drive.
    const QString testKeyFile = work.filePath(QStringLiteral("test.key"));
    QVERIFY(writeFile(testKeyFile, UpdateTestKey::secretKeyFileText()));
    run = runCli({QStringLiteral("sign-update"), packageFile, QStringLiteral("1.2.0"), testKeyFile,
                  QStringLiteral("--url"), m_server->baseUrl() + QStringLiteral("/pkg.zip")},
                 QString(), m_cli);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    m_server->serve(kManifestPath, run.out.toUtf8());
    run = runCli({QStringLiteral("update-drive"), m_root, QStringLiteral("--manifest"), manifestUrl(),
                  QStringLiteral("--yes")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
    QCOMPARE(readFile(QDir(m_root).filePath(QStringLiteral("Keldra/linux/Keldra"))),
             QByteArrayLiteral("Keldra/linux/Keldra 1.2.0"));
}

void UpdateDriveCliTest::signingRefusesWhatDrivesWouldRefuse()
{
    const QDir work(m_work->path());
    const QString keyFile = work.filePath(QStringLiteral("test.key"));
    QVERIFY(writeFile(keyFile, UpdateTestKey::secretKeyFileText()));
    const QString packageFile = work.filePath(QStringLiteral("p.zip"));
    QVERIFY(writeFile(packageFile, m_package));
    const QString linked = work.filePath(QStringLiteral("linked.zip"));
    QVERIFY(writeFile(
        linked, TinyZip::archive({TinyZip::link(QStringLiteral("Keldra/linux/Keldra"), "/etc/hostname")})));

    const QStringList sign{QStringLiteral("sign-update")};
    QCOMPARE(
        runCli(sign + QStringList{packageFile, QStringLiteral("1.2"), keyFile}, QString(), m_cli).exitCode,
        1);
    QCOMPARE(runCli(sign + QStringList{packageFile, QStringLiteral("1.2.0"), keyFile, QStringLiteral("--url"),
                                       QStringLiteral("http://atualizacoes.keldra.com.br/p.zip")},
                    QString(), m_cli)
                 .exitCode,
             1);
    const CliRun hostile =
        runCli(sign + QStringList{linked, QStringLiteral("1.2.0"), keyFile}, QString(), m_cli);
    QCOMPARE(hostile.exitCode, 1);
    QCOMPARE(hostile.err,
             QStringLiteral("Pacote recusado: Pacote com link simbólico: Keldra/linux/Keldra\n"));
    QVERIFY(hostile.out.isEmpty());
    QCOMPARE(runCli(sign + QStringList{packageFile, QStringLiteral("1.2.0"), packageFile}, QString(), m_cli)
                 .exitCode,
             1);
    QCOMPARE(runCli(sign + QStringList{packageFile, QStringLiteral("1.2.0")}, QString(), m_cli).exitCode, 2);
}

QTEST_GUILESS_MAIN(UpdateDriveCliTest)
#include "test_update_drive_cli.moc"
