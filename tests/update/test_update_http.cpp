// The update downloads: status codes, redirects and TLS against servers on 127.0.0.1,
// including a whole update over HTTPS with a certificate made for this run.
#include "LoopbackHttpServer.h"
#include "UpdateFixtures.h"
#include "UpdateRecorder.h"
#include "deployment/BundleUpdater.h"
#include "deployment/HttpGet.h"
#include "texts/DeploymentErrorText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Keldra::Deployment;
using namespace UpdateFixtures;

namespace {

// The body, or empty with error set to the message users would see.
QByteArray fetch(const QUrl& url, int timeoutMs, qint64 maxBytes, QString* error)
{
    QByteArray body;
    *error = Keldra::Texts::DeploymentErrorText::message(httpGet(url, timeoutMs, maxBytes, &body));
    return body;
}

} // namespace

class UpdateHttpTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void statusCodesAndRedirects();
    void unreachableServerGivesReason();
    void httpsNeedsTrustAndNeverFallsBackToHttp();

private:
    QSslConfiguration makeServerTls();

    QTemporaryDir m_work;
    QSslCertificate m_certificate;
};

void UpdateHttpTest::initTestCase()
{
    QVERIFY(m_work.isValid());
}

void UpdateHttpTest::statusCodesAndRedirects()
{
    LoopbackHttpServer server;
    QVERIFY(server.start());
    const QString base = server.baseUrl();
    server.serve(QStringLiteral("/ok"), QByteArrayLiteral("payload"));
    server.serve(QStringLiteral("/broken"), LoopbackHttpServer::Response{500, "oops", {}, false, false});
    server.serve(QStringLiteral("/empty"), QByteArray());
    server.serve(QStringLiteral("/moved"),
                 LoopbackHttpServer::Response{302, {}, (base + "/ok").toLatin1(), false, false});

    QString error;
    QCOMPARE(fetch(QUrl(base + QStringLiteral("/ok")), 5000, kManifestByteLimit, &error),
             QByteArrayLiteral("payload"));
    QCOMPARE(server.lastHeader("Accept"), QByteArrayLiteral("*/*"));
    QCOMPARE(server.lastHeader("User-Agent"), QByteArrayLiteral("KeldraConfig/1.0.0"));

    QCOMPARE(fetch(QUrl(base + QStringLiteral("/moved")), 5000, kManifestByteLimit, &error),
             QByteArrayLiteral("payload"));

    const QString missing = base + QStringLiteral("/absent");
    QVERIFY(fetch(QUrl(missing), 5000, kManifestByteLimit, &error).isEmpty());
    QCOMPARE(error, QStringLiteral("HTTP 404 ao acessar: %1").arg(missing));

    const QString broken = base + QStringLiteral("/broken");
    QVERIFY(fetch(QUrl(broken), 5000, kManifestByteLimit, &error).isEmpty());
    QCOMPARE(error, QStringLiteral("HTTP 500 ao acessar: %1").arg(broken));

    // Only update addresses, on every hop, and never more than asked for.
    QVERIFY(fetch(QUrl(QStringLiteral("file:///etc/hostname")), 5000, kManifestByteLimit, &error).isEmpty());
    QCOMPARE(error, QStringLiteral("Endereço não permitido (somente https): file:///etc/hostname"));
    // 0.0.0.0 reaches this machine too, but it is no loopback address: plain http is refused.
    const QString unspecified = QString(base).replace(QStringLiteral("127.0.0.1"), QStringLiteral("0.0.0.0"));
    server.serve(QStringLiteral("/elsewhere"),
                 LoopbackHttpServer::Response{302, {}, (unspecified + "/ok").toLatin1(), false, false});
    QVERIFY(fetch(QUrl(base + QStringLiteral("/elsewhere")), 5000, kManifestByteLimit, &error).isEmpty());
    QCOMPARE(error, QStringLiteral("Redirecionamento não permitido para: %1/ok").arg(unspecified));
    QCOMPARE(server.requestCount(QStringLiteral("/ok")), 2);
    server.serve(QStringLiteral("/big"), QByteArray(2048, 'x'));
    QVERIFY(fetch(QUrl(base + QStringLiteral("/big")), 5000, 1024, &error).isEmpty());
    QCOMPARE(error, QStringLiteral("Resposta maior que o limite de 1024 bytes ao acessar: %1/big").arg(base));
    QCOMPARE(fetch(QUrl(base + QStringLiteral("/big")), 5000, 2048, &error), QByteArray(2048, 'x'));

    // An empty answer is a failure and must say why.
    const QString empty = base + QStringLiteral("/empty");
    error.clear();
    QVERIFY(fetch(QUrl(empty), 5000, kManifestByteLimit, &error).isEmpty());
    QCOMPARE(error, QStringLiteral("Resposta vazia ao acessar: %1").arg(empty));
}

void UpdateHttpTest::unreachableServerGivesReason()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();

    QString error;
    QVERIFY(fetch(QUrl(QStringLiteral("http://127.0.0.1:%1/manifest.json").arg(port)), 5000,
                  kManifestByteLimit, &error)
                .isEmpty());
    QVERIFY(!error.isEmpty());
}

QSslConfiguration UpdateHttpTest::makeServerTls()
{
    const QDir work(m_work.path());
    const QString keyPath = work.filePath(QStringLiteral("server.key"));
    const QString certPath = work.filePath(QStringLiteral("server.crt"));
    QProcess openssl;
    openssl.start(
        QStringLiteral("openssl"),
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
         QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
         QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certPath, QStringLiteral("-days"),
         QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
         QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1")});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
        qWarning("openssl failed: %s", openssl.readAllStandardError().constData());
        return {};
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(certPath);
    QFile keyFile(keyPath);
    if (certificates.size() != 1 || !keyFile.open(QIODevice::ReadOnly))
        return {};
    m_certificate = certificates.first();

    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(m_certificate);
    tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return tls;
}

void UpdateHttpTest::httpsNeedsTrustAndNeverFallsBackToHttp()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("No TLS backend available");
    const QSslConfiguration tls = makeServerTls();
    QVERIFY(!tls.isNull());
    LoopbackHttpServer secure(tls);
    QVERIFY(secure.start());
    LoopbackHttpServer plain;
    QVERIFY(plain.start());

    const QString root = QDir(m_work.path()).filePath(QStringLiteral("drive"));
    prepareDrive(root, QStringLiteral("1.0.0"));
    const QByteArray package = buildPackage(m_work.path(), QStringLiteral("2.0.0"));
    QVERIFY(!package.isEmpty());
    const QString manifestUrl = secure.baseUrl() + QStringLiteral("/000Updates/keldra/manifest.json");
    const QString packageUrl = secure.baseUrl() + QStringLiteral("/pkg.zip");
    secure.serve(QStringLiteral("/000Updates/keldra/manifest.json"),
                 toJson(manifest(QStringLiteral("2.0.0"), packageUrl, package)));
    secure.serve(QStringLiteral("/pkg.zip"), package);

    // Not trusted yet: the certificate must be refused, not waved through.
    QString error;
    QVERIFY(fetch(QUrl(manifestUrl), 10000, kManifestByteLimit, &error).isEmpty());
    QVERIFY(!error.isEmpty());

    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.addCaCertificate(m_certificate);
    QSslConfiguration::setDefaultConfiguration(trusting);

    UpdateRecorder recorder;
    BundleUpdater updater(recorder.callbacks());
    updater.setRunningProbe([] { return false; });
    QCOMPARE(updater.updateDrive(root, QUrl(manifestUrl)), UpdateOutcome::Updated);
    QCOMPARE(readFile(QDir(root).filePath(QStringLiteral("Keldra/linux/Keldra"))),
             QByteArrayLiteral("Keldra/linux/Keldra 2.0.0"));
    QCOMPARE(BundleUpdater::installedVersion(root), QStringLiteral("2.0.0"));

    // A redirect from HTTPS down to HTTP is not followed.
    plain.serve(QStringLiteral("/pkg.zip"), package);
    secure.serve(
        QStringLiteral("/downgrade"),
        LoopbackHttpServer::Response{302, {}, (plain.baseUrl() + "/pkg.zip").toLatin1(), false, false});
    error.clear();
    QVERIFY(fetch(QUrl(secure.baseUrl() + QStringLiteral("/downgrade")), 10000, kManifestByteLimit, &error)
                .isEmpty());
    QVERIFY(!error.isEmpty());
    QCOMPARE(plain.requestCount(QStringLiteral("/pkg.zip")), 0);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    UpdateHttpTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_update_http.moc"
