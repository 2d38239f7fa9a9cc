// The update procedure against a loopback HTTP server: what reaches the drive, what the
// user is told, and that every refusal leaves the bundles exactly as they were.
#include "LoopbackHttpServer.h"
#include "TinyZip.h"
#include "UpdateFixtures.h"
#include "UpdateRecorder.h"
#include "UpdateTestCase.h"
#include "UpdateTestKey.h"
#include "deployment/BundleUpdater.h"
#include "deployment/UpdateSignature.h"
#include "deployment/UpdateState.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Keldra::Deployment;
using namespace UpdateFixtures;
using Kind = UpdateRecorder::Kind;

namespace {

const QString kPackagePath = QStringLiteral("/packages/keldra-1.2.0.zip");

} // namespace

class BundleUpdaterTest : public UpdateTestCase
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void updateIsAppliedEndToEnd();
    void versionsAreComparedNumerically_data();
    void versionsAreComparedNumerically();
    void driveWithoutStateFileIsOfferedTheUpdate();
    void refusedManifestsLeaveDriveUntouched_data();
    void refusedManifestsLeaveDriveUntouched();
    void tolerantManifestReadingStillUpdates_data();
    void tolerantManifestReadingStillUpdates();
    void badPackagesLeaveDriveUntouched_data();
    void badPackagesLeaveDriveUntouched();
    void downloadsStopAtTheirLimits();
    void packageThatDoesNotFitIsRefused();
    void slowServerTimesOut();
    void runningKeldraBlocksTheUpdate();
    void unpreparedDriveIsRefused();
    void failedLinuxSwapRestoresBothBundles();
    void failedStateWriteKeepsNewBundlesAndBackups();
    void removingALinkSparesItsTarget();

private:
    UpdateOutcome run(UpdateRecorder& recorder);
    QString packageUrl() const { return m_server->baseUrl() + kPackagePath; }
    void publish(const QJsonObject& manifest, const QByteArray& package);
    QStringList leftovers() const;

    DirectoryRenamer m_renamer;
    bool m_keldraRunning = false;
};

void BundleUpdaterTest::initTestCase()
{
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
}

void BundleUpdaterTest::init()
{
    setUpStage();
    m_renamer = {};
    m_keldraRunning = false;
}

UpdateOutcome BundleUpdaterTest::run(UpdateRecorder& recorder)
{
    BundleUpdater updater(recorder.callbacks());
    updater.setRunningProbe([this] { return m_keldraRunning; });
    updater.setTimeouts(10000, 10000);
    if (m_renamer)
        updater.setDirectoryRenamer(m_renamer);
    return recorder.finish(updater, updater.updateDrive(m_root, QUrl(manifestUrl())));
}

void BundleUpdaterTest::publish(const QJsonObject& manifest, const QByteArray& package)
{
    m_server->serve(kManifestPath, toJson(manifest));
    m_server->serve(kPackagePath, package);
}

// Staging folders at the root and backups beside the bundles.
QStringList BundleUpdaterTest::leftovers() const
{
    QStringList found =
        QDir(m_root).entryList({QStringLiteral(".update-*")}, QDir::AllEntries | QDir::Hidden);
    found += QDir(QDir(m_root).filePath(QStringLiteral("Keldra")))
                 .entryList({QStringLiteral("*.backup-*")}, QDir::AllEntries | QDir::Hidden);
    return found;
}

void BundleUpdaterTest::updateIsAppliedEndToEnd()
{
    publish(manifest(QStringLiteral("1.2.0"), packageUrl(), m_package), m_package);
    const QByteArray container = readFile(QDir(m_root).filePath(QStringLiteral("keldra.kldr")));

    UpdateRecorder recorder;
    QCOMPARE(run(recorder), UpdateOutcome::Updated);

    const QDir drive(m_root);
    QCOMPARE(readFile(drive.filePath(QStringLiteral("Keldra/windows/Keldra.exe"))),
             QByteArrayLiteral("Keldra/windows/Keldra.exe 1.2.0"));
    QCOMPARE(readFile(drive.filePath(QStringLiteral("Keldra/linux/lib/libssl.so.3"))),
             QByteArrayLiteral("Keldra/linux/lib/libssl.so.3 1.2.0"));
    QCOMPARE(readFile(drive.filePath(QStringLiteral("keldra.kldr"))), container);
    QVERIFY2(leftovers().isEmpty(), qPrintable(leftovers().join(QLatin1Char(','))));

    const QJsonObject state = QJsonDocument::fromJson(readFile(updateStatePath(m_root))).object();
    QCOMPARE(state.value(QStringLiteral("installedVersion")).toString(), QStringLiteral("1.2.0"));
    QCOMPARE(state.value(QStringLiteral("lastPackageSha256")).toString(), sha256Hex(m_package));

    QCOMPARE(recorder.questions,
             QStringList{QStringLiteral("Atualização disponível|Atualizar Keldra na unidade %1?\n\n"
                                        "Versão instalada: 1.0.0\nVersão disponível: 1.2.0\n\n"
                                        "Correções de estabilidade.")
                             .arg(m_root)});
    QCOMPARE(recorder.logs.last(), QStringLiteral("Unidade atualizada para Keldra 1.2.0."));
    QCOMPARE(recorder.informations(),
             QStringList{QStringLiteral("Atualização concluída.\n\nVersão instalada: 1.2.0")});
    QVERIFY(recorder.warnings().isEmpty());

    QList<int> values;
    for (const auto& step : recorder.progress) {
        QCOMPARE(step.maximum, 6);
        values.append(step.value);
    }
    QCOMPARE(values, (QList<int>{0, 1, 2, 3, 4, 5, 6}));
    QCOMPARE(recorder.progress.first().label, QStringLiteral("Consultando manifesto de atualização..."));
    QCOMPARE(recorder.progress.at(4).label, QStringLiteral("Extraindo pacote..."));
    QCOMPARE(m_server->lastHeader("User-Agent"), QByteArrayLiteral("KeldraConfig/1.0.0"));
}

void BundleUpdaterTest::versionsAreComparedNumerically_data()
{
    QTest::addColumn<QString>("installed");
    QTest::addColumn<QString>("remote");
    QTest::addColumn<bool>("offered");
    QTest::newRow("same version") << "1.2.0"
                                  << "1.2.0" << false;
    QTest::newRow("drive is newer") << "1.3.0"
                                    << "1.2.0" << false;
    QTest::newRow("1.10.0 beats 1.9.3") << "1.9.3"
                                        << "1.10.0" << true;
}

void BundleUpdaterTest::versionsAreComparedNumerically()
{
    QFETCH(QString, installed);
    QFETCH(QString, remote);
    QFETCH(bool, offered);
    QVERIFY(writeUpdateState(m_root, installed, QString()).ok());
    publish(manifest(remote, packageUrl(), m_package), m_package);
    const auto before = snapshot(m_root);

    UpdateRecorder recorder;
    recorder.answer = false;
    const UpdateOutcome outcome = run(recorder);

    QCOMPARE(snapshot(m_root), before);
    QCOMPARE(m_server->requestCount(kPackagePath), 0);
    if (offered) {
        QCOMPARE(outcome, UpdateOutcome::Cancelled);
        QCOMPARE(recorder.questions.size(), 1);
        QCOMPARE(recorder.logs.last(), QStringLiteral("Atualização cancelada pelo usuário."));
    } else {
        QCOMPARE(outcome, UpdateOutcome::UpToDate);
        QVERIFY(recorder.questions.isEmpty());
        QCOMPARE(
            recorder.informations(),
            QStringList{
                QStringLiteral("A unidade já está atualizada.\n\nVersão instalada: %1\nVersão disponível: %2")
                    .arg(installed, remote)});
        QCOMPARE(recorder.logs.last(),
                 QStringLiteral("Nenhuma atualização disponível. Instalado: %1 | Remoto: %2")
                     .arg(installed, remote));
        QCOMPARE(recorder.progress.last().value, 6);
    }
}

void BundleUpdaterTest::driveWithoutStateFileIsOfferedTheUpdate()
{
    QVERIFY(QFile::remove(updateStatePath(m_root)));
    auto stale = manifest(QStringLiteral("0.0.1"), packageUrl(), m_package);
    stale.insert(QStringLiteral("releaseNotes"), QString());
    publish(stale, m_package);

    UpdateRecorder recorder;
    recorder.answer = false;
    QCOMPARE(run(recorder), UpdateOutcome::Cancelled);
    QCOMPARE(recorder.logs.first(),
             QStringLiteral("Estado local ausente em %1; a unidade será tratada como atualizável.")
                 .arg(updateStatePath(m_root)));
    QCOMPARE(recorder.questions.size(), 1);
    QVERIFY(recorder.questions.first().endsWith(
        QStringLiteral("Versão instalada: desconhecida\nVersão disponível: 0.0.1\n\nSem notas de versão.")));

    // A recorded version that is no version is not shown either.
    QVERIFY(writeUpdateState(m_root, QStringLiteral("9.9.9\nVersão disponível: 0.0.0"), QString()).ok());
    UpdateRecorder second;
    second.answer = false;
    QCOMPARE(run(second), UpdateOutcome::Cancelled);
    QVERIFY(second.questions.first().contains(QStringLiteral("Versão instalada: desconhecida\n")));
}

void BundleUpdaterTest::refusedManifestsLeaveDriveUntouched_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("warning"); // empty: "Manifesto inválido: " and the JSON parser's text

    const QByteArray package = "irrelevant";
    const QString url = QStringLiteral("http://127.0.0.1:1/p.zip");
    const auto without = [&](const QString& key) {
        auto object = manifest(QStringLiteral("2.0.0"), url, package);
        object.remove(key);
        return toJson(object);
    };
    const auto with = [&](const QString& key, const QJsonValue& value) {
        auto object = manifest(QStringLiteral("2.0.0"), url, package);
        object.insert(key, value);
        return toJson(object);
    };
    const auto signedWith = [&](const QString& key, const QJsonValue& value) {
        auto object = manifest(QStringLiteral("2.0.0"), url, package);
        object.insert(key, value);
        return toJson(UpdateTestKey::signedManifest(object));
    };
    const QString invalid = QStringLiteral("Manifesto inválido: ");
    const QString notOurs =
        invalid + QStringLiteral("Manifesto não pertence ao Keldra ou usa schema não suportado.");
    const QString incomplete = invalid + QStringLiteral("Manifesto sem version, packageUrl ou sha256.");
    const QString badVersion = invalid + QStringLiteral("Manifesto com versão inválida.");
    const QString badAddress =
        invalid + QStringLiteral("Manifesto com endereço de pacote não permitido (somente https).");
    const QString unsigned_ = QStringLiteral("A atualização não está assinada pelo Keldra.");

    QTest::newRow("other app") << with(QStringLiteral("app"), QStringLiteral("Outro")) << notOurs;
    QTest::newRow("app differs in case") << with(QStringLiteral("app"), QStringLiteral("keldra")) << notOurs;
    QTest::newRow("schema 2") << with(QStringLiteral("schemaVersion"), 2) << notOurs;
    QTest::newRow("no schema") << without(QStringLiteral("schemaVersion")) << notOurs;
    QTest::newRow("array document") << QByteArray("[1, 2]") << notOurs;
    QTest::newRow("no version") << without(QStringLiteral("version")) << incomplete;
    QTest::newRow("no packageUrl") << without(QStringLiteral("packageUrl")) << incomplete;
    QTest::newRow("blank sha256") << with(QStringLiteral("sha256"), QStringLiteral("  ")) << incomplete;
    QTest::newRow("not JSON") << QByteArray("<html>login</html>") << QString();
    QTest::newRow("version with line feeds")
        << with(QStringLiteral("version"), QStringLiteral("2.0.0\n\nVersão instalada: 9.9.9")) << badVersion;
    QTest::newRow("5 MB version") << with(QStringLiteral("version"),
                                          QString(5 * 1024 * 1024, QLatin1Char('9')))
                                  << QStringLiteral(
                                         "Falha ao consultar manifesto: Resposta maior que o limite de "
                                         "1048576 bytes ao acessar: MANIFEST_URL");
    QTest::newRow("five-part version")
        << with(QStringLiteral("version"), QStringLiteral("2.0.0.0.1")) << badVersion;
    QTest::newRow("file packageUrl") << signedWith(QStringLiteral("packageUrl"),
                                                   QStringLiteral("file:///etc/passwd"))
                                     << badAddress;
    QTest::newRow("ftp packageUrl") << signedWith(QStringLiteral("packageUrl"),
                                                  QStringLiteral("ftp://127.0.0.1/p.zip"))
                                    << badAddress;
    QTest::newRow("no signature") << without(QStringLiteral("signature")) << unsigned_;
    QTest::newRow("signature not base64")
        << with(QStringLiteral("signature"), QStringLiteral("%%%")) << unsigned_;
    QTest::newRow("version changed after signing")
        << with(QStringLiteral("version"), QStringLiteral("2.0.1")) << unsigned_;
    QTest::newRow("sha256 changed after signing")
        << with(QStringLiteral("sha256"), QString(64, QLatin1Char('0'))) << unsigned_;
    QTest::newRow("size changed after signing") << with(QStringLiteral("size"), 1.0) << unsigned_;
    QTest::newRow("no size") << without(QStringLiteral("size")) << unsigned_;

    QByteArray otherPublic;
    QByteArray otherSecret;
    QVERIFY(generateUpdateKeyPair(&otherPublic, &otherSecret));
    auto foreign = manifest(QStringLiteral("2.0.0"), url, package);
    foreign.insert(
        QStringLiteral("signature"),
        QString::fromLatin1(
            signUpdate(QStringLiteral("2.0.0"), package.size(), sha256Hex(package), otherSecret).toBase64()));
    QTest::newRow("signed by another key") << toJson(foreign) << unsigned_;
}

void BundleUpdaterTest::refusedManifestsLeaveDriveUntouched()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, warning);
    m_server->serve(kManifestPath, body);
    const auto before = snapshot(m_root);

    UpdateRecorder recorder;
    QCOMPARE(run(recorder), UpdateOutcome::Failed);

    QCOMPARE(recorder.warnings().size(), 1);
    const QString shown = recorder.warnings().first();
    if (warning.isEmpty())
        QVERIFY2(shown.size() > QStringLiteral("Manifesto inválido: ").size() &&
                     shown.startsWith(QStringLiteral("Manifesto inválido: ")),
                 qPrintable(shown));
    else
        QCOMPARE(shown, QString(warning).replace(QStringLiteral("MANIFEST_URL"), manifestUrl()));
    QCOMPARE(recorder.logs, QStringList{shown});
    QVERIFY(recorder.questions.isEmpty());
    QCOMPARE(m_server->requestedPaths(), QStringList{kManifestPath});
    QCOMPARE(snapshot(m_root), before);
}

void BundleUpdaterTest::tolerantManifestReadingStillUpdates_data()
{
    QTest::addColumn<QString>("variant");
    QTest::newRow("upper-case sha256") << "upper";
    QTest::newRow("byte-order mark") << "bom";
}

void BundleUpdaterTest::tolerantManifestReadingStillUpdates()
{
    QFETCH(QString, variant);
    auto object = manifest(QStringLiteral("1.2.0"), packageUrl(), m_package);
    QByteArray body;
    if (variant == QStringLiteral("upper")) {
        object.insert(QStringLiteral("sha256"), sha256Hex(m_package).toUpper());
    } else {
        body = "\xEF\xBB\xBF";
    }
    m_server->serve(kManifestPath, body + toJson(object));
    m_server->serve(kPackagePath, m_package);

    UpdateRecorder recorder;
    QCOMPARE(run(recorder), UpdateOutcome::Updated);
    QCOMPARE(readFile(QDir(m_root).filePath(QStringLiteral("Keldra/linux/Keldra"))),
             QByteArrayLiteral("Keldra/linux/Keldra 1.2.0"));
    QVERIFY(recorder.warnings().isEmpty());
}

void BundleUpdaterTest::badPackagesLeaveDriveUntouched_data()
{
    QTest::addColumn<QString>("variant");
    QTest::addColumn<QString>("warning"); // a regular expression
    QTest::addColumn<QString>("logged");  // a regular expression; empty: nothing logged

    QTest::newRow("size differs")
        << "size"
        << "^Tamanho do pacote divergente\\. Esperado: (\\d+) bytes\\. Recebido: (\\d+) bytes\\.$"
        << "";
    QTest::newRow("hash differs") << "hash"
                                  << "^Hash SHA-256 divergente\\. O pacote não será aplicado\\.$"
                                  << "^Hash divergente\\. Esperado: 0{64} \\| Calculado: [0-9a-f]{64}$";
    QTest::newRow("404") << "404"
                         << "^Falha no download: HTTP 404 ao acessar: PACKAGE_URL$"
                         << "^Falha no download: HTTP 404 ao acessar: PACKAGE_URL$";
    QTest::newRow("no libssl")
        << "nolibssl"
        << "^Falha ao preparar pacote: Pacote sem arquivo obrigatório: "
           "ROOT/\\.update-\\d{14}/extracted/Keldra/linux/lib/libssl\\.so\\.3$"
        << "^Falha ao preparar pacote: Pacote sem arquivo obrigatório: .*libssl\\.so\\.3$";
    QTest::newRow("not a zip") << "notzip"
                               << "^Falha ao preparar pacote: Falha ao extrair ZIP: .+"
                               << "^Falha ao preparar pacote: Falha ao extrair ZIP: .+";
    QTest::newRow("larger than signed")
        << "larger"
        << "^Tamanho do pacote divergente\\. Esperado: (\\d+) bytes\\. Recebido: (\\d+) bytes\\.$"
        << "";
    QTest::newRow("program is a link out of the drive")
        << "link"
        << "^Falha ao preparar pacote: Pacote com link simbólico: Keldra/linux/Keldra$"
        << "^Falha ao preparar pacote: Pacote com link simbólico: Keldra/linux/Keldra$";
    QTest::newRow("entry climbs out of staging")
        << "dotdot"
        << "^Falha ao preparar pacote: Pacote com caminho inseguro: (\\.\\./){3}outside\\.txt$"
        << "^Falha ao preparar pacote: Pacote com caminho inseguro: .*";
}

void BundleUpdaterTest::badPackagesLeaveDriveUntouched()
{
    QFETCH(QString, variant);
    QFETCH(QString, warning);
    QFETCH(QString, logged);

    QByteArray served = m_package;
    auto object = manifest(QStringLiteral("1.2.0"), packageUrl(), m_package);
    // Signed as the publisher would: only the bytes on the server are wrong.
    const QString outside = QDir(m_work->path()).filePath(QStringLiteral("outside.txt"));
    QVERIFY(writeFile(outside, "not the drive's"));
    if (variant == QStringLiteral("size")) {
        object.insert(QStringLiteral("size"), static_cast<double>(m_package.size() + 1));
        object = UpdateTestKey::signedManifest(object);
    } else if (variant == QStringLiteral("hash")) {
        object.insert(QStringLiteral("sha256"), QString(64, QLatin1Char('0')));
        object = UpdateTestKey::signedManifest(object);
    } else if (variant == QStringLiteral("larger")) {
        served = m_package + QByteArray(64 * 1024, 'x');
    } else if (variant == QStringLiteral("link") || variant == QStringLiteral("dotdot")) {
        QList<TinyZip::Entry> entries;
        for (const QString& name :
             {QStringLiteral("Keldra/windows/Keldra.exe"),
              QStringLiteral("Keldra/windows/platforms/qwindows.dll"),
              QStringLiteral("Keldra/linux/Keldra-Linux.sh"), QStringLiteral("Keldra/linux/qt.conf"),
              QStringLiteral("Keldra/linux/lib/libssl.so.3"),
              QStringLiteral("Keldra/linux/plugins/tls/libqopensslbackend.so")})
            entries.append(TinyZip::file(name, name.toUtf8() + " 1.2.0"));
        entries.append(variant == QStringLiteral("link")
                           ? TinyZip::link(QStringLiteral("Keldra/linux/Keldra"), outside.toUtf8())
                           : TinyZip::file(QStringLiteral("../../../outside.txt"), "overwritten"));
        served = TinyZip::archive(entries);
        object = manifest(QStringLiteral("1.2.0"), packageUrl(), served);
    } else if (variant == QStringLiteral("nolibssl")) {
        served = buildPackage(m_work->path(), QStringLiteral("1.2.1"),
                              {QStringLiteral("Keldra/linux/lib/libssl.so.3")});
        object = manifest(QStringLiteral("1.2.0"), packageUrl(), served);
    } else if (variant == QStringLiteral("notzip")) {
        served = "this is no archive";
        object = manifest(QStringLiteral("1.2.0"), packageUrl(), served);
    }
    m_server->serve(kManifestPath, toJson(object));
    if (variant != QStringLiteral("404"))
        m_server->serve(kPackagePath, served);
    const auto before = snapshot(m_root);

    UpdateRecorder recorder;
    QCOMPARE(run(recorder), UpdateOutcome::Failed);
    QCOMPARE(m_server->requestCount(kPackagePath), 1);

    const auto fill = [&](QString pattern) {
        return pattern.replace(QStringLiteral("PACKAGE_URL"), QRegularExpression::escape(packageUrl()))
            .replace(QStringLiteral("ROOT"), QRegularExpression::escape(m_root));
    };
    QCOMPARE(recorder.warnings().size(), 1);
    QVERIFY2(QRegularExpression(fill(warning)).match(recorder.warnings().first()).hasMatch(),
             qPrintable(recorder.warnings().first()));
    if (variant == QStringLiteral("size")) {
        QVERIFY(recorder.warnings().first().contains(QString::number(m_package.size() + 1)));
        QVERIFY(recorder.warnings().first().endsWith(
            QStringLiteral("Recebido: %1 bytes.").arg(m_package.size())));
    }
    if (logged.isEmpty())
        QVERIFY(recorder.logs.isEmpty());
    else
        QVERIFY2(QRegularExpression(fill(logged)).match(recorder.logs.last()).hasMatch(),
                 qPrintable(recorder.logs.last()));
    QCOMPARE(snapshot(m_root), before);
    QCOMPARE(readFile(outside), QByteArrayLiteral("not the drive's"));
}

// Neither body says how long it is and neither ends: only the limits stop them, long
// before the ten-second time-out.
void BundleUpdaterTest::downloadsStopAtTheirLimits()
{
    m_server->serve(kManifestPath,
                    LoopbackHttpServer::Response{200, QByteArray(1024 * 1024 + 1, ' '), {}, false, true});
    UpdateRecorder recorder;
    QCOMPARE(run(recorder), UpdateOutcome::Failed);
    QCOMPARE(recorder.warnings(),
             QStringList{
                 QStringLiteral("Falha ao consultar manifesto: Resposta maior que o limite de 1048576 bytes "
                                "ao acessar: %1")
                     .arg(manifestUrl())});

    publish(manifest(QStringLiteral("1.2.0"), packageUrl(), m_package), {});
    m_server->serve(kPackagePath, LoopbackHttpServer::Response{200, m_package + "more", {}, false, true});
    const auto before = snapshot(m_root);
    UpdateRecorder second;
    QCOMPARE(run(second), UpdateOutcome::Failed);
    QCOMPARE(second.warnings(),
             QStringList{QStringLiteral("Tamanho do pacote divergente. Esperado: %1 bytes. "
                                        "Recebido: %2 bytes.")
                             .arg(m_package.size())
                             .arg(m_package.size() + 4)});
    QCOMPARE(snapshot(m_root), before);
}

void BundleUpdaterTest::packageThatDoesNotFitIsRefused()
{
    publish(manifest(QStringLiteral("1.2.0"), packageUrl(), m_package), m_package);
    const auto before = snapshot(m_root);
    UpdateRecorder recorder;
    BundleUpdater updater(recorder.callbacks());
    updater.setRunningProbe([] { return false; });
    qint64 total = 0;
    for (const QString& file :
         {QStringLiteral("Keldra/windows/Keldra.exe"),
          QStringLiteral("Keldra/windows/platforms/qwindows.dll"), QStringLiteral("Keldra/linux/Keldra"),
          QStringLiteral("Keldra/linux/Keldra-Linux.sh"), QStringLiteral("Keldra/linux/qt.conf"),
          QStringLiteral("Keldra/linux/lib/libssl.so.3"),
          QStringLiteral("Keldra/linux/plugins/tls/libqopensslbackend.so"),
          QStringLiteral("Keldra/linux/plugins/platforms/libqxcb.so")})
        total += file.size() + 6; // "<path> 1.2.0"
    updater.setFreeSpaceProbe([total](const QString&) { return total - 1; });
    QCOMPARE(recorder.finish(updater, updater.updateDrive(m_root, QUrl(manifestUrl()))),
             UpdateOutcome::Failed);
    QCOMPARE(recorder.warnings(),
             QStringList{
                 QStringLiteral("Falha ao preparar pacote: Espaço insuficiente na unidade USB. Necessário: "
                                "%1 bytes. Disponível: %2 bytes.")
                     .arg(total)
                     .arg(total - 1)});
    QCOMPARE(snapshot(m_root), before);
}

void BundleUpdaterTest::slowServerTimesOut()
{
    m_server->serve(kManifestPath, LoopbackHttpServer::Response{200, {}, {}, true, false});
    UpdateRecorder recorder;
    BundleUpdater updater(recorder.callbacks());
    updater.setRunningProbe([] { return false; });
    updater.setTimeouts(300, 300);
    QCOMPARE(recorder.finish(updater, updater.updateDrive(m_root, QUrl(manifestUrl()))),
             UpdateOutcome::Failed);
    QCOMPARE(recorder.warnings(),
             QStringList{QStringLiteral("Falha ao consultar manifesto: Tempo limite excedido ao acessar: %1")
                             .arg(manifestUrl())});

    publish(manifest(QStringLiteral("1.2.0"), packageUrl(), m_package), {});
    m_server->serve(kPackagePath, LoopbackHttpServer::Response{200, {}, {}, true, false});
    const auto before = snapshot(m_root);
    UpdateRecorder second;
    BundleUpdater packageUpdater(second.callbacks());
    packageUpdater.setRunningProbe([] { return false; });
    packageUpdater.setTimeouts(10000, 300);
    QCOMPARE(second.finish(packageUpdater, packageUpdater.updateDrive(m_root, QUrl(manifestUrl()))),
             UpdateOutcome::Failed);
    QCOMPARE(
        second.warnings(),
        QStringList{
            QStringLiteral("Falha no download: Tempo limite excedido ao acessar: %1").arg(packageUrl())});
    QCOMPARE(snapshot(m_root), before);
}

void BundleUpdaterTest::runningKeldraBlocksTheUpdate()
{
    // The real check, under a name no other program on this machine uses: a harmless
    // program started under it is seen, and no longer once it has ended.
    const QString name = QStringLiteral("KeldraT%1").arg(QCoreApplication::applicationPid() % 100000000);
    QVERIFY(!BundleUpdater::processMayBeRunning(name));
    const QString fake = QDir(m_work->path()).filePath(name);
    QVERIFY(QFile::link(QStringLiteral("/bin/sleep"), fake));
    QProcess running;
    running.start(fake, {QStringLiteral("60")});
    QVERIFY(running.waitForStarted(10000));
    const bool seen = BundleUpdater::processMayBeRunning(name);
    running.kill();
    running.waitForFinished(10000);
    QVERIFY(seen);
    QVERIFY(!BundleUpdater::processMayBeRunning(name));

    publish(manifest(QStringLiteral("1.2.0"), packageUrl(), m_package), m_package);
    const auto before = snapshot(m_root);
    m_keldraRunning = true;
    UpdateRecorder recorder;
    QCOMPARE(run(recorder), UpdateOutcome::Failed);
    QCOMPARE(recorder.warnings(),
             QStringList{QStringLiteral("Feche o Keldra antes de atualizar os bundles da unidade USB.")});
    QVERIFY(m_server->requestedPaths().isEmpty());
    QVERIFY(recorder.progress.isEmpty());
    QCOMPARE(snapshot(m_root), before);
}

void BundleUpdaterTest::unpreparedDriveIsRefused()
{
    // A linked Keldra folder counts as none: the swap would rename and delete where it points.
    const QString bundles = QDir(m_root).filePath(QStringLiteral("Keldra"));
    const QString elsewhere = QDir(m_work->path()).filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().rename(bundles, elsewhere));
    QVERIFY(QFile::link(elsewhere, bundles));
    publish(manifest(QStringLiteral("1.2.0"), packageUrl(), m_package), m_package);
    const auto before = snapshot(elsewhere);
    for (int round = 0; round < 2; ++round) {
        UpdateRecorder recorder;
        QCOMPARE(run(recorder), UpdateOutcome::Failed);
        QCOMPARE(recorder.informations(),
                 QStringList{QStringLiteral(
                     "A unidade selecionada ainda não possui uma estrutura Keldra preparada.")});
        QVERIFY(m_server->requestedPaths().isEmpty());
        if (round == 0)
            QVERIFY(QFile::remove(bundles));
    }
    QCOMPARE(snapshot(elsewhere), before);
}

void BundleUpdaterTest::failedLinuxSwapRestoresBothBundles()
{
    publish(manifest(QStringLiteral("1.2.0"), packageUrl(), m_package), m_package);
    m_renamer = [](const QString& from, const QString& to) {
        if (from.endsWith(QStringLiteral("/extracted/Keldra/linux")))
            return false;
        return renameDirectory(from, to);
    };
    const auto before = snapshot(m_root);

    UpdateRecorder recorder;
    QCOMPARE(run(recorder), UpdateOutcome::Failed);
    const QString expected =
        QStringLiteral("Falha ao aplicar atualização: Não foi possível aplicar novo bundle em: %1")
            .arg(QDir(m_root).filePath(QStringLiteral("Keldra/linux")));
    QCOMPARE(recorder.warnings(), QStringList{expected});
    QCOMPARE(recorder.logs.last(), expected);
    QCOMPARE(snapshot(m_root), before);
}

void BundleUpdaterTest::failedStateWriteKeepsNewBundlesAndBackups()
{
    // A directory where the state file belongs cannot be replaced by a file.
    const QString statePath = updateStatePath(m_root);
    QVERIFY(QFile::remove(statePath));
    QVERIFY(QDir().mkpath(QDir(statePath).filePath(QStringLiteral("blocker"))));
    publish(manifest(QStringLiteral("1.2.0"), packageUrl(), m_package), m_package);

    UpdateRecorder recorder;
    QCOMPARE(run(recorder), UpdateOutcome::Failed);
    QCOMPARE(recorder.warnings().size(), 1);
    QVERIFY2(recorder.warnings().first().startsWith(
                 QStringLiteral("Falha ao aplicar atualização: Não foi possível ")),
             qPrintable(recorder.warnings().first()));
    QCOMPARE(readFile(QDir(m_root).filePath(QStringLiteral("Keldra/linux/Keldra"))),
             QByteArrayLiteral("Keldra/linux/Keldra 1.2.0"));
    const QStringList left = leftovers();
    QCOMPARE(left.size(), 2); // both backups, no staging
    QVERIFY(left.filter(QStringLiteral(".update-")).isEmpty());

    // Once the state file can be written, the next run completes the update.
    QVERIFY(QDir(statePath).removeRecursively());
    UpdateRecorder next;
    QCOMPARE(run(next), UpdateOutcome::UpToDate);
    QCOMPARE(next.logs.first(), QStringLiteral("Atualização interrompida concluída."));
    QCOMPARE(BundleUpdater::installedVersion(m_root), QStringLiteral("1.2.0"));
    QVERIFY2(leftovers().isEmpty(), qPrintable(leftovers().join(QLatin1Char(','))));
}

void BundleUpdaterTest::removingALinkSparesItsTarget()
{
    const QString bundles = QDir(m_root).filePath(QStringLiteral("Keldra/linux"));
    const QString link = QDir(m_work->path()).filePath(QStringLiteral("linux.backup-link"));
    QVERIFY(QFile::link(bundles, link));
    const auto before = snapshot(m_root);

    QVERIFY(removeDirectory(link).ok());
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(snapshot(m_root), before);
    QVERIFY(removeDirectory(link).ok()); // already gone counts as removed
}

QTEST_GUILESS_MAIN(BundleUpdaterTest)
#include "test_bundle_updater.moc"
