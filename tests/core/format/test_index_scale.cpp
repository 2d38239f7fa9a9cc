// The index keeps its order and matching rules however its lookups are
// implemented, and its JSON stays exactly what QJsonDocument would write.
#include "format/SecureFileIndex.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace Keldra::Core;

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
            blocks.append(QJsonObject{{QStringLiteral("offset"), block.offset},
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

VaultFileEntry entry(const QString& path, qint64 size = 1)
{
    VaultFileEntry result;
    result.id = QStringLiteral("id-") + path;
    result.vaultPath = path;
    result.sizeBytes = size;
    return result;
}

QStringList paths(const SecureFileIndex& index)
{
    QStringList result;
    for (const VaultFileEntry& e : index.entries())
        result << e.vaultPath;
    return result;
}

} // namespace

class TestIndexScale : public QObject
{
    Q_OBJECT

private slots:
    void jsonMatchesQtTree();
    void lookupsFollowEveryChange();
    void directoriesFollowEveryChange();
    void copiesAreIndependent();
    void fromJsonKeepsFirstPositionOfDuplicates();
};

void TestIndexScale::jsonMatchesQtTree()
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
    VaultFileEntry bare = entry(QString(QChar(0xd800)) + QStringLiteral("lone"), 0); // invalid date, no digest
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

void TestIndexScale::lookupsFollowEveryChange()
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

void TestIndexScale::directoriesFollowEveryChange()
{
    SecureFileIndex index;
    for (const char* path : {"a", "a/b", "c"})
        QVERIFY(index.addDirectory({QString::fromLatin1(path), {}, {}}));
    QVERIFY(!index.addDirectory({QString(), {}, {}}));
    index.addOrReplace(entry(QStringLiteral("a/x.txt")));
    QVERIFY(index.removeDirectory(QStringLiteral("a")));
    QVERIFY(!index.containsDirectory(QStringLiteral("a")));
    QVERIFY(index.containsDirectory(QStringLiteral("a/b")));
    QVERIFY(index.contains(QStringLiteral("a/x.txt")));
    const QDateTime later = QDateTime::currentDateTimeUtc();
    QVERIFY(index.addDirectory({QStringLiteral("c"), later, later}));
    QCOMPARE(index.directories().size(), 2);
    QCOMPARE(index.directories().at(1).path, QStringLiteral("c"));
    QCOMPARE(index.directories().at(1).modifiedUtc, later);
}

void TestIndexScale::copiesAreIndependent()
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

void TestIndexScale::fromJsonKeepsFirstPositionOfDuplicates()
{
    const QByteArray json = R"({"files":[{"vaultPath":"a","sizeBytes":1},{"vaultPath":"b"},)"
                            R"({"vaultPath":"a","sizeBytes":2},{"sizeBytes":3}],)"
                            R"("directories":[{"path":"d"},{"path":"d","createdUtc":"2024-03-05T14:07:09.120Z"}]})";
    const SecureFileIndex index = SecureFileIndex::fromJson(json);
    QCOMPARE(paths(index), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    QCOMPARE(index.entries().at(0).sizeBytes, qint64(2));
    QCOMPARE(index.directories().size(), 1);
    QVERIFY(index.directories().at(0).createdUtc.isValid());
    QVERIFY(index.contains(QStringLiteral("b")));
}

QTEST_GUILESS_MAIN(TestIndexScale)
#include "test_index_scale.moc"
