// The index keeps its order and matching rules however its lookups are
// implemented, and its JSON stays exactly what QJsonDocument would write.
#include "core/format/SecureFileIndex.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using Keldra::Core::SecureFileIndex;
using Keldra::Core::VaultDirectoryEntry;
using Keldra::Core::VaultFileBlock;
using Keldra::Core::VaultFileEntry;

namespace {

QString date(const QDateTime& value)
{
    return value.isValid() ? value.toUTC().toString(Qt::ISODateWithMs) : QString();
}

// The index JSON as a QJsonObject tree builds it: the reference for the text writer.
QByteArray referenceJson(const SecureFileIndex& index)
{
    QJsonArray files;
    for (const VaultFileEntry& entry : index.entries()) {
        QJsonArray blocks;
        for (const VaultFileBlock& block : entry.blocks) {
            blocks.append(
                QJsonObject{{QStringLiteral("offset"), block.offset},
                            {QStringLiteral("plainSize"), block.plainSize},
                            {QStringLiteral("encryptedSize"), block.encryptedSize},
                            {QStringLiteral("nonce"), QString::fromLatin1(block.nonce.toBase64())}});
        }
        files.append(QJsonObject{{QStringLiteral("id"), entry.id},
                                 {QStringLiteral("vaultPath"), entry.vaultPath},
                                 {QStringLiteral("sizeBytes"), entry.sizeBytes},
                                 {QStringLiteral("lastModifiedUtc"), date(entry.lastModifiedUtc)},
                                 {QStringLiteral("sha256"), QString::fromLatin1(entry.sha256.toHex())},
                                 {QStringLiteral("blocks"), blocks}});
    }
    QJsonArray directories;
    for (const VaultDirectoryEntry& directory : index.directories()) {
        directories.append(QJsonObject{{QStringLiteral("path"), directory.path},
                                       {QStringLiteral("createdUtc"), date(directory.createdUtc)},
                                       {QStringLiteral("modifiedUtc"), date(directory.modifiedUtc)}});
    }
    const QJsonObject root{{QStringLiteral("formatVersion"), 1},
                           {QStringLiteral("files"), files},
                           {QStringLiteral("directories"), directories}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

VaultFileEntry entry(const QString& path, qint64 size = 0)
{
    VaultFileEntry e;
    e.id = QStringLiteral("3f2b8f0e-8a47-4c5e-9d0a-6f1f2a3b4c5d");
    e.vaultPath = path;
    e.sizeBytes = size;
    return e;
}

VaultDirectoryEntry directory(const QString& path)
{
    VaultDirectoryEntry d;
    d.path = path;
    return d;
}

QStringList paths(const SecureFileIndex& index)
{
    QStringList out;
    for (const VaultFileEntry& e : index.entries())
        out << e.vaultPath;
    return out;
}

QStringList directoryPaths(const SecureFileIndex& index)
{
    QStringList out;
    for (const VaultDirectoryEntry& d : index.directories())
        out << d.path;
    return out;
}

} // namespace

class TestSecureFileIndex : public QObject
{
    Q_OBJECT

private slots:
    void emptyIndexJson();
    void exactJsonForm();
    void jsonMatchesQtTree();
    void roundTripKeepsEveryField();
    void keysMatchExactlyAndKeepPosition();
    void lookupsFollowEveryChange();
    void removeTakesOnlyThatRecord();
    void copiesAreIndependent();
    void fromJsonRejectsNonObjects();
    void fromJsonIsLenient();
    void fromJsonDuplicatesOverwriteInPlace();
    void parseWholeRefusesWhatWouldDropRecords();
};

void TestSecureFileIndex::emptyIndexJson()
{
    QCOMPARE(SecureFileIndex().toJson(), QByteArray(R"({"directories":[],"files":[],"formatVersion":1})"));
}

void TestSecureFileIndex::exactJsonForm()
{
    VaultFileEntry file = entry(QStringLiteral("docs/a.txt"), 5);
    // A local time must be written in UTC.
    file.lastModifiedUtc = QDateTime(QDate(2024, 3, 5), QTime(16, 7, 9, 120), Qt::OffsetFromUTC, 2 * 3600);
    file.sha256 = QByteArray::fromHex("00ff10");
    file.blocks.append({8388636, 5, 21, QByteArray(24, '\0')});
    VaultDirectoryEntry folder = directory(QStringLiteral("docs"));
    folder.createdUtc = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5, 6), Qt::UTC);

    SecureFileIndex index;
    QVERIFY(index.addOrReplace(file));
    QVERIFY(index.addDirectory(folder));
    QCOMPARE(
        index.toJson(),
        QByteArray(
            R"({"directories":[{"createdUtc":"2024-01-02T03:04:05.006Z","modifiedUtc":"","path":"docs"}],)"
            R"("files":[{"blocks":[{"encryptedSize":21,"nonce":"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA",)"
            R"("offset":8388636,"plainSize":5}],"id":"3f2b8f0e-8a47-4c5e-9d0a-6f1f2a3b4c5d",)"
            R"("lastModifiedUtc":"2024-03-05T14:07:09.120Z","sha256":"00ff10","sizeBytes":5,)"
            R"("vaultPath":"docs/a.txt"}],"formatVersion":1})"));
}

void TestSecureFileIndex::jsonMatchesQtTree()
{
    SecureFileIndex index;
    QCOMPARE(index.toJson(), referenceJson(index));

    const QDateTime when = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9, 120), Qt::UTC);
    VaultFileEntry odd = entry(QStringLiteral("pasta \"x\"/relatório\\\t€ 😀.txt"), 33554449);
    odd.lastModifiedUtc = when.toOffsetFromUtc(-3 * 3600); // written in UTC whatever its zone
    odd.sha256 = QByteArray(32, '\xab');
    for (qint64 i = 0; i < 3; ++i)
        odd.blocks.append({8388636 + i * 16777232, 16777216, 16777232, QByteArray(24, char(i))});
    index.addOrReplace(odd);
    VaultFileEntry bare =
        entry(QString(QChar(0xd800)) + QStringLiteral("lone"), 0); // invalid date, no digest
    bare.id.clear();
    index.addOrReplace(bare);
    index.addDirectory({QStringLiteral("pasta \"x\""), when, QDateTime()});
    index.addDirectory({QStringLiteral("a/b"), when.addYears(-30), when.addMSecs(1)});
    QCOMPARE(index.toJson(), referenceJson(index));

    for (int i = 0; i < 500; ++i)
        index.addOrReplace(entry(QStringLiteral("d/file-%1").arg(i), i * 1000003LL));
    QCOMPARE(index.toJson(), referenceJson(index));
    QCOMPARE(SecureFileIndex::fromJson(index.toJson()).toJson(), index.toJson());
}

void TestSecureFileIndex::roundTripKeepsEveryField()
{
    SecureFileIndex index;
    VaultFileEntry big = entry(QStringLiteral("Fotos/férias 2024/ímã.jpg"), 40LL * 1024 * 1024 * 1024 + 7);
    big.id = QStringLiteral("a1b2c3d4-0000-4000-8000-123456789abc");
    big.lastModifiedUtc = QDateTime(QDate(2023, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);
    big.sha256 = QByteArray::fromHex("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    big.blocks.append({8388636, 16777216, 16777232, QByteArray(24, '\x5a')});
    big.blocks.append(
        {8388636 + 16777232, 3, 19, QByteArray::fromHex("000102030405060708090a0b0c0d0e0f1011121314151617")});
    QVERIFY(index.addOrReplace(big));
    QVERIFY(index.addOrReplace(entry(QStringLiteral("empty.txt")))); // no blocks, invalid date
    VaultDirectoryEntry folder = directory(QStringLiteral("Fotos/férias 2024"));
    folder.createdUtc = QDateTime(QDate(2020, 2, 29), QTime(0, 0, 0, 1), Qt::UTC);
    folder.modifiedUtc = QDateTime(QDate(2021, 6, 1), QTime(12, 30, 0, 500), Qt::UTC);
    QVERIFY(index.addDirectory(folder));
    QVERIFY(index.addDirectory(directory(QStringLiteral("Fotos"))));

    const SecureFileIndex copy = SecureFileIndex::fromJson(index.toJson());
    QCOMPARE(copy.entries().size(), 2);
    const VaultFileEntry readBig = copy.entries().at(0);
    QCOMPARE(readBig.id, big.id);
    QCOMPARE(readBig.vaultPath, big.vaultPath);
    QCOMPARE(readBig.sizeBytes, big.sizeBytes);
    QCOMPARE(readBig.lastModifiedUtc, big.lastModifiedUtc);
    QCOMPARE(readBig.lastModifiedUtc.time().msec(), 999);
    QCOMPARE(readBig.sha256, big.sha256);
    QCOMPARE(readBig.blocks.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(readBig.blocks.at(i).offset, big.blocks.at(i).offset);
        QCOMPARE(readBig.blocks.at(i).plainSize, big.blocks.at(i).plainSize);
        QCOMPARE(readBig.blocks.at(i).encryptedSize, big.blocks.at(i).encryptedSize);
        QCOMPARE(readBig.blocks.at(i).nonce, big.blocks.at(i).nonce);
    }
    const VaultFileEntry readEmpty = copy.entries().at(1);
    QVERIFY(readEmpty.blocks.isEmpty());
    QVERIFY(!readEmpty.lastModifiedUtc.isValid());
    QVERIFY(readEmpty.sha256.isEmpty());

    QCOMPARE(directoryPaths(copy), directoryPaths(index));
    QCOMPARE(copy.directories().at(0).createdUtc, folder.createdUtc);
    QCOMPARE(copy.directories().at(0).modifiedUtc, folder.modifiedUtc);
    QCOMPARE(copy.toJson(), index.toJson());
}

void TestSecureFileIndex::keysMatchExactlyAndKeepPosition()
{
    SecureFileIndex index;
    QVERIFY(!index.addOrReplace(entry(QString())));
    QVERIFY(!index.addDirectory(directory(QString())));
    QVERIFY(index.entries().isEmpty() && index.directories().isEmpty());

    QVERIFY(index.addOrReplace(entry(QStringLiteral("a.txt"), 1)));
    QVERIFY(index.addOrReplace(entry(QStringLiteral("b.txt"), 2)));
    QVERIFY(index.addOrReplace(entry(QStringLiteral("A.txt"), 3)));  // case differs: a new entry
    QVERIFY(index.addOrReplace(entry(QStringLiteral("a.txt "), 4))); // no trimming either
    QVERIFY(index.addOrReplace(entry(QStringLiteral("a.txt"), 5)));
    QCOMPARE(paths(index), QStringList({"a.txt", "b.txt", "A.txt", "a.txt "}));
    QCOMPARE(index.entries().at(0).sizeBytes, 5);
    QVERIFY(index.contains(QStringLiteral("A.txt")));
    QVERIFY(!index.contains(QStringLiteral("B.txt")));

    VaultDirectoryEntry docs = directory(QStringLiteral("docs"));
    QVERIFY(index.addDirectory(docs));
    QVERIFY(index.addDirectory(directory(QStringLiteral("more"))));
    docs.modifiedUtc = QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC);
    QVERIFY(index.addDirectory(docs));
    QCOMPARE(directoryPaths(index), QStringList({"docs", "more"}));
    QCOMPARE(index.directories().at(0).modifiedUtc, docs.modifiedUtc);
    QVERIFY(!index.containsDirectory(QStringLiteral("Docs")));
    QVERIFY(!index.containsDirectory(QStringLiteral("a.txt"))); // files and folders are separate lists

    index.clear();
    QVERIFY(index.entries().isEmpty() && index.directories().isEmpty());
}

void TestSecureFileIndex::lookupsFollowEveryChange()
{
    SecureFileIndex index;
    QVERIFY(!index.addOrReplace(entry(QString())));
    for (int i = 0; i < 2000; ++i)
        QVERIFY(index.addOrReplace(entry(QStringLiteral("f%1").arg(i))));

    // Replacing keeps the position; exact matching only.
    QVERIFY(index.addOrReplace(entry(QStringLiteral("f1000"), 77)));
    QCOMPARE(index.entries().at(1000).sizeBytes, qint64(77));
    QCOMPARE(index.entries().size(), 2000);
    QVERIFY(!index.contains(QStringLiteral("F1000")));
    QVERIFY(index.addOrReplace(entry(QStringLiteral("F1000"))));
    QCOMPARE(index.entries().size(), 2001);

    // Removals shift later entries; every lookup must still find the right one.
    QVERIFY(index.remove(QStringLiteral("f0")));
    QVERIFY(index.remove(QStringLiteral("f1500")));
    QVERIFY(!index.remove(QStringLiteral("f1500")));
    QVERIFY(!index.contains(QStringLiteral("f0")));
    QVERIFY(index.contains(QStringLiteral("f1999")));
    QVERIFY(index.addOrReplace(entry(QStringLiteral("f1999"), 5)));
    QCOMPARE(index.entries().at(1997).vaultPath, QStringLiteral("f1999"));
    QCOMPARE(index.entries().at(1997).sizeBytes, qint64(5));
    QVERIFY(index.addOrReplace(entry(QStringLiteral("f0"), 9)));
    QCOMPARE(paths(index).last(), QStringLiteral("f0"));
    QCOMPARE(paths(index).count(QStringLiteral("f0")), 1);

    index.clear();
    QVERIFY(!index.contains(QStringLiteral("f1")));
    QVERIFY(index.addOrReplace(entry(QStringLiteral("f1"))));
    QCOMPARE(paths(index), QStringList{QStringLiteral("f1")});
}

void TestSecureFileIndex::removeTakesOnlyThatRecord()
{
    SecureFileIndex index;
    for (const char* path : {"a/x.txt", "b.txt", "c.txt"})
        QVERIFY(index.addOrReplace(entry(QString::fromLatin1(path))));
    for (const char* path : {"a", "a/b", "c"})
        QVERIFY(index.addDirectory(directory(QString::fromLatin1(path))));

    QVERIFY(index.removeDirectory(QStringLiteral("a")));
    QVERIFY(!index.removeDirectory(QStringLiteral("a")));
    QCOMPARE(directoryPaths(index), QStringList({"a/b", "c"}));
    QVERIFY(!index.containsDirectory(QStringLiteral("a")));
    QVERIFY(index.containsDirectory(QStringLiteral("a/b")));
    QVERIFY(index.contains(QStringLiteral("a/x.txt")));
    // The removal shifted "c": replacing it must still find its new position.
    const QDateTime later = QDateTime::currentDateTimeUtc();
    QVERIFY(index.addDirectory({QStringLiteral("c"), later, later}));
    QCOMPARE(directoryPaths(index), QStringList({"a/b", "c"}));
    QCOMPARE(index.directories().at(1).modifiedUtc, later);

    QVERIFY(index.remove(QStringLiteral("b.txt")));
    QVERIFY(!index.remove(QStringLiteral("B.TXT")));
    QCOMPARE(paths(index), QStringList({"a/x.txt", "c.txt"}));
}

void TestSecureFileIndex::copiesAreIndependent()
{
    SecureFileIndex original;
    original.addOrReplace(entry(QStringLiteral("keep")));
    original.addOrReplace(entry(QStringLiteral("drop")));
    SecureFileIndex copy = original;
    QVERIFY(copy.remove(QStringLiteral("drop")));
    copy.addOrReplace(entry(QStringLiteral("new")));
    QCOMPARE(paths(original), (QStringList{QStringLiteral("keep"), QStringLiteral("drop")}));
    QVERIFY(original.contains(QStringLiteral("drop")));
    QVERIFY(!original.contains(QStringLiteral("new")));
    QCOMPARE(paths(copy), (QStringList{QStringLiteral("keep"), QStringLiteral("new")}));
}

void TestSecureFileIndex::fromJsonRejectsNonObjects()
{
    for (const QByteArray& text : {QByteArray(R"([{"files":[]}])"), QByteArray("not json"), QByteArray(),
                                   QByteArray(R"({"files":[{"vaultPath":"a"}])"), QByteArray("\"string\"")}) {
        const SecureFileIndex index = SecureFileIndex::fromJson(text);
        QVERIFY2(index.entries().isEmpty() && index.directories().isEmpty(), text.constData());
    }
}

void TestSecureFileIndex::fromJsonIsLenient()
{
    const QByteArray text = R"({"formatVersion":99,
        "files":[
          {"vaultPath":"digits.txt","sizeBytes":"123","lastModifiedUtc":"yesterday",
           "blocks":[{"offset":"8388636","plainSize":2.0,"encryptedSize":true,"nonce":"%%%"}, 7]},
          {"id":"no-path","sizeBytes":1},
          {"vaultPath":""},
          42,
          {"vaultPath":"bare.txt","blocks":{"not":"an array"}},
          {"vaultPath":"secs.txt","lastModifiedUtc":"2024-03-05T14:07:09Z"}
        ],
        "directories":[{"path":"d","createdUtc":12}, {"nopath":true}, "x"]})";
    const SecureFileIndex index = SecureFileIndex::fromJson(text);
    QCOMPARE(paths(index), QStringList({"digits.txt", "bare.txt", "secs.txt"}));

    const VaultFileEntry digits = index.entries().at(0);
    QCOMPARE(digits.sizeBytes, 123);
    QVERIFY(!digits.lastModifiedUtc.isValid());
    QCOMPARE(digits.blocks.size(), 2);
    QCOMPARE(digits.blocks.at(0).offset, 8388636);
    QCOMPARE(digits.blocks.at(0).plainSize, 2);
    QCOMPARE(digits.blocks.at(1).offset, 0); // a non-object block reads as an empty one

    const VaultFileEntry bare = index.entries().at(1);
    QCOMPARE(bare.sizeBytes, 0);
    QVERIFY(bare.sha256.isEmpty());
    QVERIFY(bare.blocks.isEmpty());
    QVERIFY(bare.id.isEmpty());

    QCOMPARE(index.entries().at(2).lastModifiedUtc, QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9), Qt::UTC));

    QCOMPARE(directoryPaths(index), QStringList({"d"}));
    QVERIFY(!index.directories().at(0).createdUtc.isValid());

    const SecureFileIndex noLists = SecureFileIndex::fromJson(R"({"files":"x","directories":null})");
    QVERIFY(noLists.entries().isEmpty() && noLists.directories().isEmpty());
}

void TestSecureFileIndex::fromJsonDuplicatesOverwriteInPlace()
{
    const QByteArray text = R"({"files":[
          {"vaultPath":"a.txt","sizeBytes":1,"id":"first"},
          {"vaultPath":"b.txt","sizeBytes":2},
          {"vaultPath":"a.txt","sizeBytes":3,"id":"second"}],
        "directories":[{"path":"d","createdUtc":"2024-01-01T00:00:00.000Z"},{"path":"e"},
          {"path":"d","createdUtc":"2025-01-01T00:00:00.000Z"}]})";
    const SecureFileIndex index = SecureFileIndex::fromJson(text);
    QCOMPARE(paths(index), QStringList({"a.txt", "b.txt"}));
    QCOMPARE(index.entries().at(0).id, QStringLiteral("second"));
    QCOMPARE(index.entries().at(0).sizeBytes, 3);
    QVERIFY(index.contains(QStringLiteral("b.txt")));
    QCOMPARE(directoryPaths(index), QStringList({"d", "e"}));
    QCOMPARE(index.directories().at(0).createdUtc.date().year(), 2025);
}

void TestSecureFileIndex::parseWholeRefusesWhatWouldDropRecords()
{
    SecureFileIndex index;
    index.addOrReplace(entry(QStringLiteral("a.txt")));
    SecureFileIndex read;
    QVERIFY(SecureFileIndex::parseWhole(index.toJson(), &read));
    QCOMPARE(read.toJson(), index.toJson());
    // Lists left out and members we do not know are no loss: an empty index.
    for (const QByteArray& text : {QByteArray("{}"), QByteArray(R"({"formatVersion":2,"extra":[1]})")}) {
        QVERIFY2(SecureFileIndex::parseWhole(text, &read), text.constData());
        QVERIFY(read.entries().isEmpty());
    }
    for (const QByteArray& text :
         {QByteArray("not json"), QByteArray(), QByteArray("[]"), QByteArray(R"({"files":[)"),
          QByteArray("{\"files\":[],\"x\":\"\xc3\x28\"}"), QByteArray(R"({"files":{}})"),
          QByteArray(R"({"directories":null})"), QByteArray(R"({"files":[{"vaultPath":"a"},7]})")}) {
        read = index;
        QVERIFY2(!SecureFileIndex::parseWhole(text, &read), text.constData());
        QCOMPARE(read.toJson(), index.toJson()); // left as it was
    }
}

QTEST_GUILESS_MAIN(TestSecureFileIndex)
#include "test_secure_file_index.moc"
