// The pieces an update trusts nothing without: the manifest signature, the version and
// address rules, and the archive checks that keep a package inside its staging folder.
#include "TinyZip.h"
#include "UpdateFixtures.h"
#include "UpdateTestKey.h"
#include "deployment/HttpGet.h"
#include "deployment/UpdateManifest.h"
#include "deployment/UpdatePackage.h"
#include "deployment/UpdateSignature.h"
#include "texts/DeploymentErrorText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Keldra::Deployment;
using namespace UpdateFixtures;

namespace {

// True on success; error receives the message users would see.
bool succeeded(const Error& result, QString* error)
{
    *error = Keldra::Texts::DeploymentErrorText::message(result);
    return result.ok();
}

} // namespace

class UpdatePackageTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_work.isValid()); }
    void signatureCoversEverySignedField();
    void versionsAndAddresses();
    void hostileArchivesAreRefusedBeforeWriting_data();
    void hostileArchivesAreRefusedBeforeWriting();
    void archivesBeyondTheLimitsAreRefused();
    void goodArchiveUnpacksWithItsExecutables();

private:
    QString writeArchive(const QString& name, const QByteArray& bytes);

    QTemporaryDir m_work;
};

QString UpdatePackageTest::writeArchive(const QString& name, const QByteArray& bytes)
{
    const QString path = QDir(m_work.path()).filePath(name);
    if (!writeFile(path, bytes))
        return {};
    return path;
}

void UpdatePackageTest::signatureCoversEverySignedField()
{
    UpdateManifest signedOne;
    signedOne.version = QStringLiteral("1.2.0");
    signedOne.size = 4096;
    signedOne.sha256 = QString(64, QLatin1Char('a'));
    signedOne.signature =
        signUpdate(signedOne.version, signedOne.size, signedOne.sha256, UpdateTestKey::secretKey());
    QCOMPARE(signedOne.signature.size(), kUpdateSignatureBytes);
    QVERIFY(verifyUpdateSignature(signedOne, UpdateTestKey::publicKey()));

    UpdateManifest changed = signedOne;
    changed.version = QStringLiteral("1.2.1");
    QVERIFY(!verifyUpdateSignature(changed, UpdateTestKey::publicKey()));
    changed = signedOne;
    changed.size = 4097;
    QVERIFY(!verifyUpdateSignature(changed, UpdateTestKey::publicKey()));
    changed = signedOne;
    changed.sha256 = QString(64, QLatin1Char('b'));
    QVERIFY(!verifyUpdateSignature(changed, UpdateTestKey::publicKey()));
    changed = signedOne;
    changed.signature.clear();
    QVERIFY(!verifyUpdateSignature(changed, UpdateTestKey::publicKey()));

    QByteArray otherPublic;
    QByteArray otherSecret;
    QVERIFY(generateUpdateKeyPair(&otherPublic, &otherSecret));
    QCOMPARE(updatePublicKeyOf(otherSecret), otherPublic);
    QVERIFY(!verifyUpdateSignature(signedOne, otherPublic));

    // Fields that could make the signed text ambiguous are never signed.
    QVERIFY(signUpdate(QStringLiteral("1.2.0\nsize: 1"), 1, signedOne.sha256, otherSecret).isEmpty());
    QVERIFY(signUpdate(signedOne.version, -1, signedOne.sha256, otherSecret).isEmpty());
    QVERIFY(signUpdate(signedOne.version, 1, QStringLiteral("ABC"), otherSecret).isEmpty());
}

void UpdatePackageTest::versionsAndAddresses()
{
    for (const char* good : {"1.2.0", "0.0.1", "1.10.0.7", "123456789.0.0"})
        QVERIFY2(isUpdateVersion(QString::fromLatin1(good)), good);
    for (const char* bad : {"", "1.2", "1.2.3.4.5", "1234567890.0.0", "1.2.0-beta", "v1.2.0", "1.2.0\n",
                            "1..2", "2.0.0\n\nVersão instalada: 9.9.9"})
        QVERIFY2(!isUpdateVersion(QString::fromUtf8(bad)), bad);

    for (const char* allowed :
         {"https://atualizacoes.keldra.com.br/pkg.zip", "https://mirror.example/x.zip",
          "http://127.0.0.1:8080/pkg.zip", "http://localhost/pkg.zip", "http://[::1]:80/p"})
        QVERIFY2(isAllowedUpdateUrl(QUrl(QString::fromLatin1(allowed))), allowed);
    for (const char* refused :
         {"http://atualizacoes.keldra.com.br/pkg.zip", "file:///etc/passwd", "ftp://127.0.0.1/p", "pkg.zip",
          "https:///pkg.zip", "http://127.0.0.1.example/p"})
        QVERIFY2(!isAllowedUpdateUrl(QUrl(QString::fromLatin1(refused))), refused);
}

void UpdatePackageTest::hostileArchivesAreRefusedBeforeWriting_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("reason");
    const auto good = TinyZip::file(QStringLiteral("Keldra/linux/qt.conf"), "[Paths]\n");
    QTest::newRow("link") << TinyZip::archive({good, TinyZip::link(QStringLiteral("Keldra/linux/Keldra"),
                                                                   "/etc/hostname")})
                          << "Pacote com link simbólico: Keldra/linux/Keldra";
    QTest::newRow("dot-dot") << TinyZip::archive(
                                    {good, TinyZip::file(QStringLiteral("Keldra/../../outside.txt"), "x")})
                             << "Pacote com caminho inseguro: Keldra/../../outside.txt";
    QTest::newRow("absolute") << TinyZip::archive(
                                     {good, TinyZip::file(QStringLiteral("/tmp/outside.txt"), "x")})
                              << "Pacote com caminho inseguro: /tmp/outside.txt";
    QTest::newRow("backslash") << TinyZip::archive(
                                      {good, TinyZip::file(QStringLiteral("..\\outside.txt"), "x")})
                               << "Pacote com caminho inseguro: ..\\outside.txt";
    QTest::newRow("control character")
        << TinyZip::archive({good, TinyZip::file(QStringLiteral("Keldra/a\nb"), "x")})
        << "Pacote com caminho inseguro: Keldra/a?b";
    QTest::newRow("fifo") << TinyZip::archive(
                                 {good, TinyZip::file(QStringLiteral("Keldra/pipe"), {}, 010644)})
                          << "Pacote com entrada que não é arquivo nem pasta: Keldra/pipe";
}

void UpdatePackageTest::hostileArchivesAreRefusedBeforeWriting()
{
    QFETCH(QByteArray, archive);
    QFETCH(QString, reason);
    const QString zip = writeArchive(QStringLiteral("hostile.zip"), archive);
    const QString destination = QDir(m_work.path()).filePath(QStringLiteral("hostile-out"));
    QString error;
    QVERIFY(!succeeded(inspectZip(zip, nullptr), &error));
    QCOMPARE(error, reason);
    error.clear();
    QVERIFY(!succeeded(extractZip(zip, destination), &error));
    QCOMPARE(error, reason);
    // Refused as a whole: not even the harmless entry before it was written.
    QVERIFY(!QFileInfo::exists(destination));
}

void UpdatePackageTest::archivesBeyondTheLimitsAreRefused()
{
    const QString zip = writeArchive(QStringLiteral("limits.zip"),
                                     TinyZip::archive({TinyZip::file(QStringLiteral("a"), "12345"),
                                                       TinyZip::file(QStringLiteral("b"), "67890")}));
    PackageContents contents;
    QString error;
    QVERIFY(succeeded(inspectZip(zip, &contents, PackageLimits{2, 10}), &error));
    QCOMPARE(contents.entries, 2);
    QCOMPARE(contents.uncompressedBytes, 10);
    QVERIFY(!succeeded(inspectZip(zip, nullptr, PackageLimits{1, 10}), &error));
    QCOMPARE(error, QStringLiteral("Pacote com entradas demais: 2 (limite: 1)."));
    QVERIFY(!succeeded(
        extractZip(zip, QDir(m_work.path()).filePath(QStringLiteral("limits-out")), PackageLimits{2, 9}),
        &error));
    QCOMPARE(error, QStringLiteral("Pacote grande demais: mais de 9 bytes descompactados."));

    // A header that claims gigabytes is refused from the directory alone.
    auto huge = TinyZip::file(QStringLiteral("huge"), "small");
    huge.declaredSize = 0xFFFFFFF0;
    const QString hugeZip = writeArchive(QStringLiteral("huge.zip"), TinyZip::archive({huge}));
    QVERIFY(!succeeded(inspectZip(hugeZip, nullptr, PackageLimits{10, 1024}), &error));
    QCOMPARE(error, QStringLiteral("Pacote grande demais: mais de 1024 bytes descompactados."));

    // One that claims less than it holds never writes more than it claimed.
    auto lying = TinyZip::file(QStringLiteral("lying"), QByteArray(4096, 'x'));
    lying.declaredSize = 16;
    const QString lyingZip = writeArchive(QStringLiteral("lying.zip"), TinyZip::archive({lying}));
    const QString out = QDir(m_work.path()).filePath(QStringLiteral("lying-out"));
    QVERIFY(!succeeded(extractZip(lyingZip, out), &error));
    QVERIFY(QFileInfo(QDir(out).filePath(QStringLiteral("lying"))).size() <= 16);
}

void UpdatePackageTest::goodArchiveUnpacksWithItsExecutables()
{
    const QString zip = writeArchive(
        QStringLiteral("good.zip"),
        TinyZip::archive({TinyZip::file(QStringLiteral("Keldra/linux/Keldra"), "elf", 0100755),
                          TinyZip::Entry{QStringLiteral("Keldra/linux/plugins/"), {}, 040755, -1},
                          TinyZip::file(QStringLiteral("Keldra/linux/qt.conf"), "[Paths]\n")}));
    const QString out = QDir(m_work.path()).filePath(QStringLiteral("good-out"));
    QString error;
    QVERIFY2(succeeded(extractZip(zip, out), &error), qPrintable(error));
    const QDir linux(QDir(out).filePath(QStringLiteral("Keldra/linux")));
    QCOMPARE(readFile(linux.filePath(QStringLiteral("Keldra"))), QByteArrayLiteral("elf"));
    QVERIFY(QFileInfo(linux.filePath(QStringLiteral("plugins"))).isDir());
#ifdef Q_OS_WIN
    QSKIP("Windows files have no execute bit; Qt judges them by their extension");
#endif
    QVERIFY(QFileInfo(linux.filePath(QStringLiteral("Keldra"))).isExecutable());
    QVERIFY(!QFileInfo(linux.filePath(QStringLiteral("qt.conf"))).isExecutable());
}

QTEST_GUILESS_MAIN(UpdatePackageTest)
#include "test_update_package.moc"
