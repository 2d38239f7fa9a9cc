// keldra-cli prepare-drive as people preparing many drives run it.
#include "BundleTestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace BundleTestSupport;

namespace {

struct Run
{
    int exitCode = -1;
    QStringList out;
    QString err;
};

Run runCli(const QStringList& arguments)
{
    QProcess cli;
    cli.start(QStringLiteral(KELDRA_BIN_DIR "/keldra-cli"), arguments);
    Run run;
    if (!cli.waitForFinished(120000) || cli.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = cli.exitCode();
    run.out = QString::fromUtf8(cli.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.err = QString::fromUtf8(cli.readAllStandardError());
    return run;
}

} // namespace

class PrepareDriveCliTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString& relative) const { return QDir(m_dir.path()).filePath(relative); }

private slots:
    void preparesWithTheGivenBundles()
    {
        // Finished runtimes on both sides, so nothing depends on ldd.
        QVERIFY(writeFile(path(QStringLiteral("win/Keldra.exe")), "exe"));
        QVERIFY(writeFile(path(QStringLiteral("linux/Keldra")), "program"));
        QVERIFY(writeFile(path(QStringLiteral("linux/qt.conf")), "[Paths]\n"));
        QVERIFY(writeFile(path(QStringLiteral("linux/Keldra.version")), "1.4.2\n"));
        const QString drive = path(QStringLiteral("drive"));
        QVERIFY(QDir().mkpath(drive));

        const Run run = runCli({QStringLiteral("prepare-drive"), drive, QStringLiteral("--windows"),
                                path(QStringLiteral("win")), QStringLiteral("--linux"),
                                path(QStringLiteral("linux/Keldra"))});
        QCOMPARE(run.exitCode, 0);
        // The sources it found, one line per preparation step as it happens,
        // then the drive, the state file and the outcome.
        QCOMPARE(run.out.size(), 12);
        QVERIFY(run.out.at(0).endsWith(QLatin1Char(' ') + path(QStringLiteral("win/Keldra.exe"))));
        QVERIFY(run.out.at(1).endsWith(QLatin1Char(' ') + path(QStringLiteral("linux/Keldra"))));
        QVERIFY(run.out.at(9).endsWith(QLatin1Char(' ') + drive));
        QVERIFY(
            run.out.at(10).endsWith(QLatin1Char(' ') + drive + QStringLiteral("/Keldra/update-state.json")));
        QCOMPARE(readFile(drive + QStringLiteral("/Keldra/windows/Keldra.exe")), QByteArray("exe"));
        QCOMPARE(readFile(drive + QStringLiteral("/Keldra/linux/qt.conf")), QByteArray("[Paths]\n"));
        const QJsonObject state =
            QJsonDocument::fromJson(readFile(drive + QStringLiteral("/Keldra/update-state.json"))).object();
        // The copied bundle's version, not the tool's.
        QCOMPARE(state.value(QStringLiteral("installedVersion")).toString(), QStringLiteral("1.4.2"));
    }

    void failuresAndMisuseAreReported()
    {
        QVERIFY(writeFile(path(QStringLiteral("linux2/Keldra")), "program"));
        QVERIFY(writeFile(path(QStringLiteral("linux2/qt.conf")), "x"));
        Run run = runCli({QStringLiteral("prepare-drive"), path(QStringLiteral("missing-drive")),
                          QStringLiteral("--linux"), path(QStringLiteral("linux2"))});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("Falha: Unidade USB inválida.")), qPrintable(run.err));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("missing-drive"))));

        run = runCli({QStringLiteral("prepare-drive"), path(QStringLiteral("drive2")),
                      QStringLiteral("--linux"), path(QStringLiteral("no-such-build"))});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(QStringLiteral("Executável do Keldra não encontrado:")));

        run = runCli({QStringLiteral("prepare-drive")});
        QCOMPARE(run.exitCode, 2);
        run = runCli(
            {QStringLiteral("prepare-drive"), path(QStringLiteral("drive2")), QStringLiteral("--linux")});
        QCOMPARE(run.exitCode, 2);
    }
};

QTEST_GUILESS_MAIN(PrepareDriveCliTest)
#include "test_prepare_drive_cli.moc"
