#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QLatin1String>
#include <QString>

namespace Keldra::Core {

// Appends compact JSON text to a byte array, byte for byte as
// QJsonDocument::toJson(QJsonDocument::Compact) writes it (same escaping,
// integers as plain decimals), without building a QJsonObject tree first:
// for an index of ten thousand files the tree costs far more than the text.
// The caller writes keys in ascending order, as QJsonObject keeps them.
class JsonTextWriter
{
public:
    explicit JsonTextWriter(qsizetype expectedSize = 0);

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // Starts a member of the current object; the value call follows.
    void key(QLatin1String name);
    void value(const QString& text);
    // ASCII text that needs no escaping (digests, Base64, dates).
    void asciiValue(QByteArrayView text);
    // A date as Qt::ISODateWithMs writes it in UTC ("2024-03-05T14:07:09.120Z");
    // an invalid date is an empty string.
    void dateValue(const QDateTime& date);
    void value(qint64 number);

    [[nodiscard]] const QByteArray& text() const { return m_text; }
    [[nodiscard]] QByteArray take();

    // The quoted, escaped form of a string.
    static void appendEscaped(QByteArray* out, const QString& text);

private:
    void separate();

    QByteArray m_text;
    bool m_needComma = false;
};

} // namespace Keldra::Core
