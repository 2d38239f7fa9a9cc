// The hand-written JSON paths must agree byte for byte with QJsonDocument:
// the writer with its compact output, the locator with its parse.
#include "core/format/Base64.h"
#include "core/format/JsonStringLocator.h"
#include "core/format/JsonTextWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

using Keldra::Core::Base64;
using Keldra::Core::JsonStringLocator;
using Keldra::Core::JsonTextWriter;

namespace {

QByteArray qtString(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray ourString(const QString& text)
{
    QByteArray out;
    JsonTextWriter::appendEscaped(&out, text);
    return out;
}

QString fromUnits(std::initializer_list<char16_t> units)
{
    QString text;
    for (char16_t unit : units)
        text.append(QChar(unit));
    return text;
}

} // namespace

class TestJsonFastPaths : public QObject
{
    Q_OBJECT

private slots:
    void stringsEscapeLikeQt_data();
    void stringsEscapeLikeQt();
    void randomUtf16EscapesLikeQt();
    void documentMatchesQtCompactOutput();
    void datesMatchQtIsoWithMs();
    void locatorAgreesWithQtParse_data();
    void locatorAgreesWithQtParse();
    void base64MatchesQt();
    void base64RefusesWhatItCannotDecodeExactly();
};

void TestJsonFastPaths::stringsEscapeLikeQt_data()
{
    QTest::addColumn<QString>("text");
    QString controls;
    for (char16_t c = 0; c < 0x80; ++c)
        controls.append(QChar(c));
    QTest::newRow("every ASCII unit") << controls;
    QTest::newRow("accents and symbols") << QStringLiteral("relatório çãé € 中文");
    QTest::newRow("surrogate pair") << fromUnits({u'a', 0xd83d, 0xde00, u'b'});
    QTest::newRow("lone high at end") << fromUnits({u'x', 0xd83d});
    QTest::newRow("high then letter") << fromUnits({0xd83d, u'q'});
    QTest::newRow("lone low") << fromUnits({0xde00, u'z'});
    QTest::newRow("two highs then low") << fromUnits({0xd800, 0xd800, 0xdc00});
    QTest::newRow("BMP edges") << fromUnits({0x7f, 0x80, 0x7ff, 0x800, 0xd7ff, 0xe000, 0xfffd, 0xffff});
    QTest::newRow("empty") << QString();
}

void TestJsonFastPaths::stringsEscapeLikeQt()
{
    QFETCH(QString, text);
    QCOMPARE(ourString(text), qtString(text));
}

void TestJsonFastPaths::randomUtf16EscapesLikeQt()
{
    QRandomGenerator generator(8);
    for (int round = 0; round < 2000; ++round) {
        QString text;
        const int length = int(generator.bounded(12));
        for (int i = 0; i < length; ++i) {
            // Weighted towards the interesting ranges: ASCII, surrogates, the rest.
            const quint32 pick = generator.bounded(4);
            const char16_t unit = pick == 0   ? char16_t(generator.bounded(0x80))
                                  : pick == 1 ? char16_t(0xd800 + generator.bounded(0x800))
                                              : char16_t(generator.bounded(0x10000));
            text.append(QChar(unit));
        }
        QCOMPARE(ourString(text), qtString(text));
    }
}

void TestJsonFastPaths::documentMatchesQtCompactOutput()
{
    const QString path = QStringLiteral("pasta/\"relatório\"\\\n.txt");
    const QList<qint64> numbers{
        0, -1, 1, 16777232, std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min()};

    QJsonArray files;
    QJsonArray blocks;
    for (qint64 n : numbers)
        blocks.append(
            QJsonObject{{QStringLiteral("offset"), n}, {QStringLiteral("nonce"), QStringLiteral("AAE=")}});
    files.append(QJsonObject{{QStringLiteral("blocks"), blocks}, {QStringLiteral("vaultPath"), path}});
    files.append(
        QJsonObject{{QStringLiteral("blocks"), QJsonArray()}, {QStringLiteral("vaultPath"), QString()}});
    const QJsonObject root{{QStringLiteral("directories"), QJsonArray()},
                           {QStringLiteral("files"), files},
                           {QStringLiteral("formatVersion"), 1}};
    const QByteArray expected = QJsonDocument(root).toJson(QJsonDocument::Compact);

    JsonTextWriter writer;
    writer.beginObject();
    writer.key(QLatin1String("directories"));
    writer.beginArray();
    writer.endArray();
    writer.key(QLatin1String("files"));
    writer.beginArray();
    writer.beginObject();
    writer.key(QLatin1String("blocks"));
    writer.beginArray();
    for (qint64 n : numbers) {
        writer.beginObject();
        writer.key(QLatin1String("nonce"));
        writer.asciiValue("AAE=");
        writer.key(QLatin1String("offset"));
        writer.value(n);
        writer.endObject();
    }
    writer.endArray();
    writer.key(QLatin1String("vaultPath"));
    writer.value(path);
    writer.endObject();
    writer.beginObject();
    writer.key(QLatin1String("blocks"));
    writer.beginArray();
    writer.endArray();
    writer.key(QLatin1String("vaultPath"));
    writer.value(QString());
    writer.endObject();
    writer.endArray();
    writer.key(QLatin1String("formatVersion"));
    writer.value(qint64(1));
    writer.endObject();
    QCOMPARE(writer.take(), expected);
}

void TestJsonFastPaths::datesMatchQtIsoWithMs()
{
    QList<QDateTime> dates{QDateTime(),
                           QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9, 120), Qt::UTC),
                           QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC),
                           QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC),
                           QDateTime(QDate(0, 6, 1), QTime(1, 2), Qt::UTC), // not a year: Qt spells it
                           QDateTime(QDate(-44, 3, 15), QTime(12, 0), Qt::UTC),
                           QDateTime(QDate(12000, 1, 1), QTime(0, 0), Qt::UTC),
                           QDateTime(QDate(2024, 1, 1), QTime(1, 30), Qt::OffsetFromUTC, 5 * 3600),
                           QDateTime(QDate(2024, 7, 1), QTime(12, 0), Qt::LocalTime)};
    QRandomGenerator generator(2024);
    for (int i = 0; i < 500; ++i)
        dates << QDateTime::fromMSecsSinceEpoch(qint64(generator.bounded(4e11)) - qint64(6e10), Qt::UTC);
    for (const QDateTime& date : dates) {
        JsonTextWriter writer;
        writer.dateValue(date);
        const QString expected = date.isValid() ? date.toUTC().toString(Qt::ISODateWithMs) : QString();
        QCOMPARE(writer.take(), qtString(expected));
    }
}

void TestJsonFastPaths::locatorAgreesWithQtParse_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("located");
    const QByteArray index = QByteArray(3000, 'Q') + "+/9==";
    QTest::newRow("compact header")
        << QByteArray(R"({"crypto":{"kdf":"Argon2id","salt":"AAAA"},"encryptedIndex":")" + index +
                      R"(","formatVersion":3,"magic":"KELDRA"})")
        << true;
    QTest::newRow("spaces, other order, nested tricks")
        << QByteArray(" {\n \"magic\" : \"KELDRA\", \"x\": [1, {\"a\":\"}]\\\"{\"}, -2.5e3, true, null],\n"
                      " \"encryptedIndex\" : \"" +
                      index + "\" , \"formatVersion\": 3 }\n")
        << true;
    QTest::newRow("empty value") << QByteArray(R"({"encryptedIndex":"","magic":"KELDRA"})") << true;
    QTest::newRow("key twice") << QByteArray(R"({"encryptedIndex":"QQ==","encryptedIndex":"Qg=="})") << false;
    QTest::newRow("escaped key") << QByteArray(R"({"encrypted\u0049ndex":"QQ=="})") << false;
    QTest::newRow("escape in value") << QByteArray(R"({"encryptedIndex":"QQ\/="})") << false;
    QTest::newRow("not Base64") << QByteArray(R"({"encryptedIndex":"Q Q"})") << false;
    QTest::newRow("number value") << QByteArray(R"({"encryptedIndex":5})") << false;
    QTest::newRow("only nested") << QByteArray(R"({"crypto":{"encryptedIndex":"QQ=="}})") << false;
    QTest::newRow("array") << QByteArray(R"(["encryptedIndex","QQ=="])") << false;
    QTest::newRow("unterminated") << QByteArray(R"({"encryptedIndex":"QQ==)") << false;
    QTest::newRow("missing brace") << QByteArray(R"({"encryptedIndex":"QQ==")") << false;
    QTest::newRow("garbage after") << QByteArray(R"({"encryptedIndex":"QQ=="} x)") << false;
    QTest::newRow("bad value elsewhere") << QByteArray(R"({"encryptedIndex":"QQ==","a":tru})") << true;
    QTest::newRow("bad nesting elsewhere") << QByteArray(R"({"a":[1,2},"encryptedIndex":"QQ=="})") << true;
}

void TestJsonFastPaths::locatorAgreesWithQtParse()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, located);
    JsonStringLocator::Span span;
    QCOMPARE(JsonStringLocator::findBase64Member(json, QLatin1String("encryptedIndex"), &span), located);
    if (!located)
        return;
    // Cutting the value out must change nothing else: same validity, same
    // members, and the cut text is exactly the parsed string.
    const QJsonDocument full = QJsonDocument::fromJson(json);
    const QByteArray rest = json.left(span.begin) + json.mid(span.begin + span.length);
    const QJsonDocument cut = QJsonDocument::fromJson(rest);
    QCOMPARE(cut.isObject(), full.isObject());
    if (!full.isObject())
        return;
    QJsonObject fullObject = full.object();
    QCOMPARE(json.mid(span.begin, span.length),
             fullObject.value(QLatin1String("encryptedIndex")).toString().toLatin1());
    QJsonObject cutObject = cut.object();
    QCOMPARE(cutObject.value(QLatin1String("encryptedIndex")).toString(), QString());
    fullObject.remove(QLatin1String("encryptedIndex"));
    cutObject.remove(QLatin1String("encryptedIndex"));
    QCOMPARE(cutObject, fullObject);
}

void TestJsonFastPaths::base64MatchesQt()
{
    QRandomGenerator generator(64);
    QList<int> sizes;
    for (int n = 0; n < 70; ++n)
        sizes << n;
    sizes << 1024 * 1024 + 1;
    for (int size : sizes) {
        QByteArray data(size, Qt::Uninitialized);
        for (char& c : data)
            c = char(generator.bounded(256));
        const QByteArray text = Base64::encode(data);
        QCOMPARE(text, data.toBase64());
        QByteArray decoded("stale");
        QVERIFY(Base64::decodeCanonical(text, &decoded));
        QCOMPARE(decoded, data);
    }
}

void TestJsonFastPaths::base64RefusesWhatItCannotDecodeExactly()
{
    // Qt reads these leniently; the fast decoder leaves them to it.
    for (const char* text : {"QQ", "Q===", "QQ=A", "QQ Q", "=QQQ", "QQ==QQ==", "QUJD\n", "QU-D", "QUJ\x80"}) {
        QByteArray out("kept");
        QVERIFY2(!Base64::decodeCanonical(QByteArray(text), &out), text);
        QCOMPARE(out, QByteArray("kept"));
    }
}

QTEST_GUILESS_MAIN(TestJsonFastPaths)
#include "test_json_fast_paths.moc"
