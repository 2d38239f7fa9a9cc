// Reading and building the container header through the fast paths gives
// exactly what the plain QJsonDocument route gives, also for headers this
// program would never write itself.
#include "core/format/ContainerFormat.h"
#include "core/format/ContainerManager.h"

#include "SampleContainers.h"
#include "TestFiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace Keldra::Core;
using namespace TestSupport;

namespace {

// The sample document with an encrypted index of that many patterned bytes.
ContainerDocument documentWithIndex(int indexBytes)
{
    QByteArray index(indexBytes, Qt::Uninitialized);
    for (int i = 0; i < indexBytes; ++i)
        index[i] = char(i * 7 + 3);
    return sampleDocument(index);
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

} // namespace

class TestHeaderIo : public QObject
{
    Q_OBJECT

private slots:
    void builtHeaderMatchesQtTree();
    void readsHeadersWithAnyPaddingAndLayout_data();
    void readsHeadersWithAnyPaddingAndLayout();

private:
    QTemporaryDir m_dir;
};

void TestHeaderIo::builtHeaderMatchesQtTree()
{
    const ContainerManager manager;
    for (int size : {0, 1, 2, 3, 80, 100000}) {
        const ContainerDocument document = documentWithIndex(size);
        QCOMPARE(manager.buildHeader(document), referenceHeader(manager, document));
    }
    // Texts that need escaping, including ones that look like the index member.
    ContainerDocument odd = documentWithIndex(48);
    odd.crypto.kdf = QStringLiteral("\"encryptedIndex\":\"\"");
    odd.crypto.cipher = QStringLiteral("çifra\\\n");
    QCOMPARE(manager.buildHeader(odd), referenceHeader(manager, odd));
}

void TestHeaderIo::readsHeadersWithAnyPaddingAndLayout_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<char>("fill");
    const ContainerManager manager;
    const ContainerDocument document = documentWithIndex(4000);
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
    QByteArray first =
        "{\"encryptedIndex\":\"" + b64 + "\",\"magic\":\"KELDRA\",\"formatVersion\":3,\"crypto\":" +
        QJsonDocument(manager.cryptoMetadataToJson(document.crypto)).toJson(QJsonDocument::Compact) + "}";
    QTest::newRow("index first") << first << '\x01';
}

void TestHeaderIo::readsHeadersWithAnyPaddingAndLayout()
{
    QFETCH(QByteArray, header);
    QFETCH(char, fill);
    const ContainerManager manager;
    const ContainerDocument expected = documentWithIndex(4000);
    const QString path = m_dir.filePath(QStringLiteral("layout.kldr"));
    QVERIFY(writeFile(path, rawContainer(header, fill) + QByteArray(100, '\x5a')));

    ContainerDocument read;
    QVERIFY(manager.readDocument(path, &read).ok());
    QCOMPARE(read.encryptedIndex, expected.encryptedIndex);
    QCOMPARE(read.crypto.kdf, expected.crypto.kdf);
    QCOMPARE(read.crypto.kdfIterations, 0);
    QCOMPARE(read.crypto.salt, expected.crypto.salt);
    QCOMPARE(read.crypto.nonce, expected.crypto.nonce);
    QCOMPARE(read.crypto.payloadNonce, expected.crypto.payloadNonce);
    QCOMPARE(read.crypto.encryptedMasterKey, expected.crypto.encryptedMasterKey);
    QCOMPARE(read.payloadOffset, ContainerFormat::PayloadStart);
}

QTEST_GUILESS_MAIN(TestHeaderIo)
#include "test_header_io.moc"
