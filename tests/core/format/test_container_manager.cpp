#include "core/format/ContainerFormat.h"
#include "core/format/ContainerManager.h"

#include "SampleContainers.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using Keldra::Core::ContainerCryptoMetadata;
using Keldra::Core::ContainerDocument;
using Keldra::Core::ContainerManager;
using Keldra::Core::PayloadWriter;
namespace ContainerFormat = Keldra::Core::ContainerFormat;
using namespace TestSupport;

namespace {

constexpr qint64 Region = ContainerFormat::HeaderRegionSize;
constexpr qint64 PayloadStart = ContainerFormat::PayloadStart;

// A document whose header is exactly `size` bytes long: the kdf text absorbs the remainder.
ContainerDocument documentWithHeaderSize(qint64 size)
{
    const ContainerManager manager;
    ContainerDocument document = sampleDocument();
    document.encryptedIndex.clear();
    document.crypto.kdf.clear();
    const qint64 fixed = manager.buildHeader(document).size();
    const qint64 indexBytes = 3 * ((size - fixed - 8) / 4); // Base64: 4 characters per 3 bytes
    document.encryptedIndex = QByteArray(indexBytes, 'i');
    document.crypto.kdf = QString(size - fixed - indexBytes / 3 * 4, QLatin1Char('k'));
    return document;
}

bool sameDocument(const ContainerDocument& a, const ContainerDocument& b)
{
    const ContainerManager manager;
    return manager.buildHeader(a) == manager.buildHeader(b) && a.encryptedPayload == b.encryptedPayload &&
           a.filePayloads == b.filePayloads && a.payloadOffset == b.payloadOffset &&
           a.fileIndex.toJson() == b.fileIndex.toJson();
}

} // namespace

class TestContainerManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void containerPathIsAtTheFolderRoot();
    void headerIsCompactSortedJson();
    void newContainerLayoutAndRoundTrip();
    void readRefusalsLeaveOutputAlone_data();
    void readRefusalsLeaveOutputAlone();
    void lenientHeaderReading();
    void olderHeaderKeysAreReadThenDropped();
    void updateHeaderKeepsPayload();
    void headerSizeLimit();
    void updateRefusalsWriteNothing_data();
    void updateRefusalsWriteNothing();
    void abortedPayloadWriterLeavesFilesAlone();
    void payloadWriterMayCompleteTheDocument();

private:
    QString path() const { return m_dir->filePath(QStringLiteral("keldra.kldr")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    ContainerManager m_manager;
};

void TestContainerManager::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestContainerManager::containerPathIsAtTheFolderRoot()
{
    QCOMPARE(m_manager.containerPath(QStringLiteral("/media/usb")), QStringLiteral("/media/usb/keldra.kldr"));
}

void TestContainerManager::headerIsCompactSortedJson()
{
    ContainerDocument document = sampleDocument();
    document.fileIndex.addDirectory({QStringLiteral("never written"), {}, {}});
    document.encryptedPayload = "old";
    QCOMPARE(
        m_manager.buildHeader(document),
        QByteArray(R"({"crypto":{"authTag":"","cipher":"XChaCha20-Poly1305","encryptedMasterKey":")" +
                   QByteArray(80, '\x03').toBase64() +
                   R"(","kdf":"Argon2id","kdfIterations":0,"nonce":"AQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEB",)"
                   R"("payloadNonce":"AgICAgICAgICAgICAgICAgICAgICAgIC","salt":"AAAAAAAAAAAAAAAAAAAAAA=="},)"
                   R"("encryptedIndex":"YWJj","formatVersion":3,"magic":"KELDRA"})"));
    QCOMPARE(QByteArray(80, '\x03').toBase64().size(), 108);
}

void TestContainerManager::newContainerLayoutAndRoundTrip()
{
    const ContainerDocument document = sampleDocument();
    QVERIFY(m_manager.writeDocument(path(), document).ok());
    const QByteArray bytes = readFile(path());
    const QByteArray header = m_manager.buildHeader(document);
    QCOMPARE(bytes.size(), 8388636);
    QCOMPARE(bytes.left(28), QByteArray("KELDRA3") + lengthLine(header.size()));
    QCOMPARE(bytes.mid(28, header.size()), header);
    QCOMPARE(bytes.mid(28 + header.size()), QByteArray(Region - header.size(), '\0'));

    ContainerDocument read;
    QVERIFY(m_manager.readDocument(path(), &read).ok());
    QCOMPARE(read.payloadOffset, 8388636);
    QCOMPARE(read.formatVersion, 3);
    QCOMPARE(read.crypto.kdfIterations, 0);
    QCOMPARE(read.crypto.salt, document.crypto.salt);
    QCOMPARE(read.crypto.encryptedMasterKey, document.crypto.encryptedMasterKey);
    QCOMPARE(read.encryptedIndex, document.encryptedIndex);
    QVERIFY(read.crypto.authTag.isEmpty());
    QCOMPARE(m_manager.buildHeader(read), header);

    // A scratch copy holds the same bytes, also over a longer leftover file.
    const QString scratch = path() + QStringLiteral(".scratch");
    QFile leftover(scratch);
    QVERIFY(leftover.open(QIODevice::WriteOnly));
    QVERIFY(leftover.write(QByteArray(9 * 1024 * 1024, 'x')) > 0);
    leftover.close();
    QVERIFY(m_manager.writeDocument(scratch, document, PayloadWriter(), ContainerManager::WriteMode::Scratch)
                .ok());
    QVERIFY(readFile(scratch) == bytes);
}

void TestContainerManager::readRefusalsLeaveOutputAlone_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = m_manager.buildHeader(sampleDocument());
    auto withHeader = [](QJsonObject root) { return QJsonDocument(root).toJson(QJsonDocument::Compact); };
    QJsonObject root = QJsonDocument::fromJson(good).object();

    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("magic digit 2") << rawContainer(good, lengthLine(good.size()), "KELDRA2");
    QTest::newRow("magic digit x") << rawContainer(good, lengthLine(good.size()), "KELDRAx");
    QTest::newRow("length zero") << rawContainer(good, lengthLine(0));
    QTest::newRow("length above region") << rawContainer(good, lengthLine(Region + 1));
    QTest::newRow("length negative") << rawContainer(good, "-0000000000000000001\n");
    QTest::newRow("length not a number") << rawContainer(good, "0000000000000000abcd\n");
    QTest::newRow("length overflows") << rawContainer(good, "99999999999999999999\n");
    QTest::newRow("length line endless") << QByteArray("KELDRA3") + QByteArray(Region + 64, '1');
    QTest::newRow("region truncated") << rawContainer(good, lengthLine(good.size()), "KELDRA3", Region - 1);
    QTest::newRow("length cuts json") << rawContainer(good, lengthLine(good.size() - 1));
    QTest::newRow("json array") << rawContainer("[1,2,3]");
    QTest::newRow("json garbage") << rawContainer("{\"magic\":");

    QJsonObject v2 = root;
    v2.insert(QStringLiteral("formatVersion"), 2);
    QTest::newRow("formatVersion 2") << rawContainer(withHeader(v2));
    v2.insert(QStringLiteral("formatVersion"), QStringLiteral("3"));
    QTest::newRow("formatVersion as text") << rawContainer(withHeader(v2));
    v2.remove(QStringLiteral("formatVersion"));
    QTest::newRow("formatVersion missing") << rawContainer(withHeader(v2));
    QJsonObject lower = root;
    lower.insert(QStringLiteral("magic"), QStringLiteral("keldra"));
    QTest::newRow("magic lower case") << rawContainer(withHeader(lower));
    lower.remove(QStringLiteral("magic"));
    QTest::newRow("magic missing") << rawContainer(withHeader(lower));
}

void TestContainerManager::readRefusalsLeaveOutputAlone()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(writeFile(path(), bytes));

    ContainerDocument out;
    out.formatVersion = 77;
    out.encryptedIndex = "sentinel";
    out.payloadOffset = 5;
    const ContainerDocument before = out;
    QVERIFY(!m_manager.readDocument(path(), &out).ok());
    QVERIFY(sameDocument(out, before));
    QCOMPARE(out.formatVersion, 77);
}

void TestContainerManager::lenientHeaderReading()
{
    ContainerDocument out;
    QVERIFY(!m_manager.readDocument(path(), &out).ok()); // missing file
    QVERIFY(!m_manager.readDocument(path(), nullptr).ok());

    // No crypto object at all, and a short length line padded with blanks.
    const QByteArray bare = R"({"formatVersion":3.0,"magic":"KELDRA"})";
    const QByteArray shortLine = "  " + QByteArray::number(bare.size()) + " \r\n";
    QVERIFY(writeFile(path(), rawContainer(bare, shortLine) + "payload"));
    QVERIFY(m_manager.readDocument(path(), &out).ok());
    QCOMPARE(out.payloadOffset, 7 + shortLine.size() + Region);
    QVERIFY(out.crypto.kdf.isEmpty() && out.crypto.cipher.isEmpty());
    QVERIFY(out.crypto.salt.isEmpty() && out.crypto.encryptedMasterKey.isEmpty());
    QCOMPARE(out.crypto.kdfIterations, 250000);
    QVERIFY(out.encryptedIndex.isEmpty());
    QVERIFY(out.fileIndex.entries().isEmpty());

    const ContainerCryptoMetadata partial = m_manager.cryptoMetadataFromJson(
        QJsonDocument::fromJson(R"({"kdf":5,"kdfIterations":"12","salt":"AAEC"})").object());
    QVERIFY(partial.kdf.isEmpty());
    QCOMPARE(partial.kdfIterations, 250000);
    QCOMPARE(partial.salt, QByteArray("\x00\x01\x02", 3));
}

void TestContainerManager::olderHeaderKeysAreReadThenDropped()
{
    QFile fixture(QStringLiteral(KELDRA_TEST_DATA_DIR "/core/legacy-header.json"));
    QVERIFY(fixture.open(QIODevice::ReadOnly));
    QVERIFY(writeFile(path(), rawContainer(fixture.readAll())));

    ContainerDocument document;
    QVERIFY(m_manager.readDocument(path(), &document).ok());
    QCOMPARE(document.encryptedPayload, QByteArray("old payload"));
    QCOMPARE(document.filePayloads.size(), 2);
    QCOMPARE(document.filePayloads.value(QStringLiteral("notes.txt")), QByteArray("hello"));
    QVERIFY(document.filePayloads.contains(QStringLiteral("empty")));
    QCOMPARE(document.crypto.salt.size(), 16);
    QCOMPARE(document.fileIndex.entries().size(), 1);
    QCOMPARE(document.fileIndex.entries().at(0).vaultPath, QStringLiteral("docs/notes.txt"));
    QCOMPARE(document.fileIndex.entries().at(0).lastModifiedUtc.time().msec(), 500);
    QCOMPARE(document.fileIndex.directories().size(), 1);

    QVERIFY(m_manager.updateDocumentHeader(path(), document).ok());
    ContainerDocument rewritten;
    QVERIFY(m_manager.readDocument(path(), &rewritten).ok());
    QVERIFY(rewritten.encryptedPayload.isEmpty());
    QVERIFY(rewritten.filePayloads.isEmpty());
    QVERIFY(rewritten.fileIndex.entries().isEmpty());
    QCOMPARE(rewritten.crypto.salt, document.crypto.salt);
}

void TestContainerManager::updateHeaderKeepsPayload()
{
    QByteArray payload;
    for (int i = 0; i < 300000; ++i)
        payload.append(char((quint32(i) * 7919u) >> 3));
    QVERIFY(m_manager
                .writeDocument(path(), sampleDocument(),
                               [&](QIODevice* device) {
                                   return device->pos() == PayloadStart &&
                                          device->write(payload) == payload.size();
                               })
                .ok());

    ContainerDocument document = sampleDocument();
    document.encryptedIndex = QByteArray(50000, 'z');
    document.crypto.payloadNonce = QByteArray(24, '\x09');
    QVERIFY(m_manager.updateDocumentHeader(path(), document).ok());
    const QByteArray bytes = readFile(path());
    QCOMPARE(bytes.size(), PayloadStart + payload.size());
    QVERIFY(bytes.mid(PayloadStart) == payload);

    // Shrinking the header must clear the bytes the longer one used.
    QVERIFY(m_manager.updateDocumentHeader(path(), sampleDocument()).ok());
    const QByteArray shrunk = readFile(path());
    const QByteArray header = m_manager.buildHeader(sampleDocument());
    QCOMPARE(shrunk.mid(28 + header.size(), Region - header.size()),
             QByteArray(Region - header.size(), '\0'));
    QVERIFY(shrunk.mid(PayloadStart) == payload);

    ContainerDocument read;
    QVERIFY(m_manager.readDocument(path(), &read).ok());
    QCOMPARE(read.encryptedIndex, QByteArray("abc"));
}

void TestContainerManager::headerSizeLimit()
{
    const ContainerDocument exact = documentWithHeaderSize(Region);
    const ContainerDocument tooBig = documentWithHeaderSize(Region + 1);
    QCOMPARE(m_manager.buildHeader(exact).size(), Region);
    QCOMPARE(m_manager.buildHeader(tooBig).size(), Region + 1);

    QVERIFY(!m_manager.writeDocument(path(), tooBig).ok());
    QVERIFY(!QFile::exists(path()));

    QVERIFY(m_manager
                .writeDocument(path(), sampleDocument(),
                               [](QIODevice* device) { return device->write("tail") == 4; })
                .ok());
    QVERIFY(m_manager.updateDocumentHeader(path(), exact).ok());
    const QByteArray full = readFile(path());
    QCOMPARE(full.mid(7, 21), QByteArray("00000000000008388608\n"));
    QCOMPARE(full.mid(28, Region), m_manager.buildHeader(exact)); // no padding left
    QCOMPARE(full.mid(PayloadStart), QByteArray("tail"));
    ContainerDocument read;
    QVERIFY(m_manager.readDocument(path(), &read).ok());
    QCOMPARE(read.crypto.kdf, exact.crypto.kdf);

    QVERIFY(!m_manager.updateDocumentHeader(path(), tooBig).ok());
    QVERIFY(readFile(path()) == full);
    QVERIFY(!m_manager.writeDocument(path(), tooBig).ok());
    QVERIFY(readFile(path()) == full);
}

void TestContainerManager::updateRefusalsWriteNothing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray header = m_manager.buildHeader(sampleDocument());
    const QByteArray line = lengthLine(header.size());
    QTest::newRow("magic digit") << rawContainer(header, line, "KELDRA4") + "payload";
    QTest::newRow("too short for magic") << QByteArray("KELD");
    QTest::newRow("19 digits") << rawContainer(header, line.mid(1)) + "payload";
    QTest::newRow("21 digits") << rawContainer(header, '0' + line) + "payload";
    QTest::newRow("blank in digits") << rawContainer(header, " " + line.mid(1)) + "payload";
    QTest::newRow("carriage return") << rawContainer(header, line.left(20) + "\r\n") + "payload";
    QTest::newRow("truncated line") << QByteArray("KELDRA3000000");
}

void TestContainerManager::updateRefusalsWriteNothing()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(writeFile(path(), bytes));
    QVERIFY(!m_manager.updateDocumentHeader(path(), sampleDocument()).ok());
    QVERIFY(readFile(path()) == bytes);

    const QString missing = m_dir->filePath(QStringLiteral("absent.kldr"));
    QVERIFY(!m_manager.updateDocumentHeader(missing, sampleDocument()).ok());
    QVERIFY(!QFile::exists(missing));
}

void TestContainerManager::abortedPayloadWriterLeavesFilesAlone()
{
    int calls = 0;
    const PayloadWriter failing = [&](QIODevice* device) {
        ++calls;
        device->write("partial");
        return false;
    };
    QVERIFY(!m_manager.writeDocument(path(), sampleDocument(), failing).ok());
    QCOMPARE(calls, 1);
    QVERIFY(!QFile::exists(path()));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList());

    const QByteArray earlier("earlier container");
    QVERIFY(writeFile(path(), earlier));
    QVERIFY(!m_manager.writeDocument(path(), sampleDocument(), failing).ok());
    QCOMPARE(readFile(path()), earlier);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList({"keldra.kldr"}));
}

void TestContainerManager::payloadWriterMayCompleteTheDocument()
{
    ContainerDocument document = sampleDocument();
    document.encryptedIndex.clear();
    QVERIFY(m_manager
                .writeDocument(path(), document,
                               [&](QIODevice* device) {
                                   document.encryptedIndex = "filled by the writer";
                                   return device->write("block") == 5;
                               })
                .ok());
    ContainerDocument read;
    QVERIFY(m_manager.readDocument(path(), &read).ok());
    QCOMPARE(read.encryptedIndex, QByteArray("filled by the writer"));
    QCOMPARE(readFile(path()).mid(PayloadStart), QByteArray("block"));
}

QTEST_GUILESS_MAIN(TestContainerManager)
#include "test_container_manager.moc"
