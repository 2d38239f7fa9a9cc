// Reading and building the container header through the fast paths gives
// exactly what the plain QJsonDocument route gives, also for headers this
// program would never write itself.
#include "format/ContainerFormat.h"
#include "format/ContainerManager.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace Keldra::Core;

namespace {

ContainerDocument sampleDocument(int indexBytes)
{
    ContainerDocument document;
    document.crypto.kdf = QStringLiteral("Argon2id");
    document.crypto.cipher = QStringLiteral("XChaCha20-Poly1305");
    document.crypto.kdfIterations = 0;
    document.crypto.salt = QByteArray(16, '\x01');
    document.crypto.nonce = QByteArray(24, '\x02');
    document.crypto.payloadNonce = QByteArray(24, '\x03');
    document.crypto.encryptedMasterKey = QByteArray(80, '\x04');
    document.encryptedIndex.resize(indexBytes);
    for (int i = 0; i < indexBytes; ++i)
        document.encryptedIndex[i] = char(i * 7 + 3);
    return document;
}

QByteArray referenceHeader(const ContainerManager& manager, const ContainerDocument& document)
{
    QJsonObject root;
    root.insert(QStringLiteral("magic"), QStringLiteral("KELDRA"));
    root.insert(QStringLiteral("formatVersion"), document.formatVersion);
    root.insert(QStringLiteral("crypto"), manager.cryptoMetadataToJson(document.crypto));
    root.insert(QStringLiteral("encryptedIndex"), QString::fromLatin1(document.encryptedIndex.toBase64()));
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

// A container whose header is `header`, followed by `fill` up to the end of the region.
QByteArray containerBytes(const QByteArray& header, char fill, qint64 payload = 100)
{
    QByteArray bytes = "KELDRA3" + QByteArray::number(header.size()).rightJustified(20, '0') + '\n' + header;
    bytes.append(QByteArray(ContainerFormat::HeaderRegionSize - header.size(), fill));
    bytes.append(QByteArray(payload, '\x5a'));
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestHeaderIo : public QObject
{
    Q_OBJECT

private slots:
    void builtHeaderMatchesQtTree();
    void readsHeadersWithAnyPaddingAndLayout_data();
    void readsHeadersWithAnyPaddingAndLayout();
    void refusesRegionCutShort();

private:
    QTemporaryDir m_dir;
};

void TestHeaderIo::builtHeaderMatchesQtTree()
{
    const ContainerManager manager;
    for (int size : {0, 1, 2, 3, 80, 100000}) {
        const ContainerDocument document = sampleDocument(size);
        QCOMPARE(manager.buildHeader(document), referenceHeader(manager, document));
    }
    // Texts that need escaping, including ones that look like the index member.
    ContainerDocument odd = sampleDocument(48);
    odd.crypto.kdf = QStringLiteral("\"encryptedIndex\":\"\"");
    odd.crypto.cipher = QStringLiteral("çifra\\\n");
    QCOMPARE(manager.buildHeader(odd), referenceHeader(manager, odd));
}

void TestHeaderIo::readsHeadersWithAnyPaddingAndLayout_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<char>("fill");
    const ContainerManager manager;
    const ContainerDocument document = sampleDocument(4000);
    const QByteArray compact = referenceHeader(manager, document);
    QTest::newRow("zero padding") << compact << '\0';
    QTest::newRow("garbage after the header") << compact << '\xff';
    QTest::newRow("JSON-looking garbage") << compact << '}';

    // Another writer's layout: indented, index first, escaped slashes in the Base64 text.
    QJsonObject root = QJsonDocument::fromJson(compact).object();
    QByteArray indented = QJsonDocument(root).toJson(QJsonDocument::Indented);
    QTest::newRow("indented") << indented << 'x';
    QByteArray escaped = compact;
    escaped.replace("/", "\\/");
    QTest::newRow("escaped slashes") << escaped << '\0';
    const QByteArray b64 = document.encryptedIndex.toBase64();
    QByteArray first = "{\"encryptedIndex\":\"" + b64 + "\",\"magic\":\"KELDRA\",\"formatVersion\":3,\"crypto\":"
                       + QJsonDocument(manager.cryptoMetadataToJson(document.crypto)).toJson(QJsonDocument::Compact)
                       + "}";
    QTest::newRow("index first") << first << '\x01';
}

void TestHeaderIo::readsHeadersWithAnyPaddingAndLayout()
{
    QFETCH(QByteArray, header);
    QFETCH(char, fill);
    const ContainerManager manager;
    const ContainerDocument expected = sampleDocument(4000);
    const QString path = m_dir.filePath(QStringLiteral("layout.kldr"));
    QVERIFY(writeFile(path, containerBytes(header, fill)));

    ContainerDocument read;
    QVERIFY(manager.readDocument(path, &read));
    QCOMPARE(read.encryptedIndex, expected.encryptedIndex);
    QCOMPARE(read.crypto.kdf, expected.crypto.kdf);
    QCOMPARE(read.crypto.kdfIterations, 0);
    QCOMPARE(read.crypto.salt, expected.crypto.salt);
    QCOMPARE(read.crypto.nonce, expected.crypto.nonce);
    QCOMPARE(read.crypto.payloadNonce, expected.crypto.payloadNonce);
    QCOMPARE(read.crypto.encryptedMasterKey, expected.crypto.encryptedMasterKey);
    QCOMPARE(read.payloadOffset, ContainerFormat::PayloadStart);
}

void TestHeaderIo::refusesRegionCutShort()
{
    const ContainerManager manager;
    const QByteArray header = referenceHeader(manager, sampleDocument(64));
    QByteArray bytes = containerBytes(header, '\0', 0);
    bytes.chop(1); // the header itself is complete; the region is not
    const QString path = m_dir.filePath(QStringLiteral("short.kldr"));
    QVERIFY(writeFile(path, bytes));
    ContainerDocument untouched;
    untouched.formatVersion = 99;
    QVERIFY(!manager.readDocument(path, &untouched));
    QCOMPARE(untouched.formatVersion, 99);
}

QTEST_GUILESS_MAIN(TestHeaderIo)
#include "test_header_io.moc"
