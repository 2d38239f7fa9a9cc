#include "format/JsonTextWriter.h"

namespace Keldra::Core {

namespace {

char hexDigit(uint value)
{
    return char(value < 10 ? '0' + value : 'a' + value - 10);
}

} // namespace

JsonTextWriter::JsonTextWriter(qsizetype expectedSize)
{
    if (expectedSize > 0)
        m_text.reserve(expectedSize);
}

void JsonTextWriter::separate()
{
    if (m_needComma)
        m_text.append(',');
}

void JsonTextWriter::beginObject()
{
    separate();
    m_text.append('{');
    m_needComma = false;
}

void JsonTextWriter::endObject()
{
    m_text.append('}');
    m_needComma = true;
}

void JsonTextWriter::beginArray()
{
    separate();
    m_text.append('[');
    m_needComma = false;
}

void JsonTextWriter::endArray()
{
    m_text.append(']');
    m_needComma = true;
}

void JsonTextWriter::key(QLatin1String name)
{
    separate();
    m_text.append('"');
    m_text.append(name.data(), name.size());
    m_text.append("\":", 2);
    m_needComma = false;
}

void JsonTextWriter::value(const QString& text)
{
    separate();
    appendEscaped(&m_text, text);
    m_needComma = true;
}

void JsonTextWriter::asciiValue(QByteArrayView text)
{
    separate();
    m_text.append('"');
    m_text.append(text);
    m_text.append('"');
    m_needComma = true;
}

void JsonTextWriter::dateValue(const QDateTime& date)
{
    if (!date.isValid()) {
        asciiValue(QByteArrayView());
        return;
    }
    const QDateTime utc = date.toUTC();
    int year = 0, month = 0, day = 0;
    utc.date().getDate(&year, &month, &day);
    if (year < 1 || year > 9999) {
        // Qt's own spelling of unusual years; never seen in practice.
        value(utc.toString(Qt::ISODateWithMs));
        return;
    }
    // Formatted by hand: QDateTime::toString takes several microseconds,
    // which ten thousand files turn into most of an index save.
    const QTime time = utc.time();
    char text[24];
    const auto put = [&text](int at, int number, int digits) {
        for (int i = digits - 1; i >= 0; --i, number /= 10)
            text[at + i] = char('0' + number % 10);
    };
    put(0, year, 4);
    text[4] = '-';
    put(5, month, 2);
    text[7] = '-';
    put(8, day, 2);
    text[10] = 'T';
    put(11, time.hour(), 2);
    text[13] = ':';
    put(14, time.minute(), 2);
    text[16] = ':';
    put(17, time.second(), 2);
    text[19] = '.';
    put(20, time.msec(), 3);
    text[23] = 'Z';
    asciiValue(QByteArrayView(text, 24));
}

void JsonTextWriter::value(qint64 number)
{
    separate();
    m_text.append(QByteArray::number(number));
    m_needComma = true;
}

QByteArray JsonTextWriter::take()
{
    QByteArray result;
    result.swap(m_text);
    m_needComma = false;
    return result;
}

// Same rules as Qt's writer: quote, backslash and control characters are
// escaped (\b \f \n \r \t, otherwise \u00XX), everything else is UTF-8, and
// a surrogate without its partner is written as a \uXXXX escape.
void JsonTextWriter::appendEscaped(QByteArray* out, const QString& text)
{
    // Written through a raw pointer into room for the worst case (six bytes
    // per UTF-16 unit), then cut to size: appending byte by byte costs more
    // than the escaping itself.
    const qsizetype start = out->size();
    const qsizetype room = start + 2 + 6 * text.size();
    if (room > out->capacity()) // grow geometrically, or every string would copy the whole text
        out->reserve(qMax(room, 2 * out->capacity()));
    out->resize(room);
    char* o = out->data() + start;
    const auto escape = [&o](char16_t unit) {
        *o++ = '\\';
        *o++ = 'u';
        *o++ = hexDigit((unit >> 12) & 0xf);
        *o++ = hexDigit((unit >> 8) & 0xf);
        *o++ = hexDigit((unit >> 4) & 0xf);
        *o++ = hexDigit(unit & 0xf);
    };
    *o++ = '"';
    const char16_t* unit = reinterpret_cast<const char16_t*>(text.constData());
    const char16_t* const end = unit + text.size();
    while (unit != end) {
        const char16_t u = *unit++;
        if (u < 0x80) {
            if (u >= 0x20 && u != '"' && u != '\\') {
                *o++ = char(u);
                continue;
            }
            *o++ = '\\';
            switch (u) {
            case '"':
                *o++ = '"';
                break;
            case '\\':
                *o++ = '\\';
                break;
            case '\b':
                *o++ = 'b';
                break;
            case '\f':
                *o++ = 'f';
                break;
            case '\n':
                *o++ = 'n';
                break;
            case '\r':
                *o++ = 'r';
                break;
            case '\t':
                *o++ = 't';
                break;
            default:
                --o;
                escape(u);
                break;
            }
        } else if (u < 0x800) {
            *o++ = char(0xc0 | (u >> 6));
            *o++ = char(0x80 | (u & 0x3f));
        } else if (u < 0xd800 || u > 0xdfff) {
            *o++ = char(0xe0 | (u >> 12));
            *o++ = char(0x80 | ((u >> 6) & 0x3f));
            *o++ = char(0x80 | (u & 0x3f));
        } else if (u < 0xdc00 && unit != end && *unit >= 0xdc00 && *unit <= 0xdfff) {
            const char32_t code = 0x10000 + ((char32_t(u) - 0xd800) << 10) + (char32_t(*unit++) - 0xdc00);
            *o++ = char(0xf0 | (code >> 18));
            *o++ = char(0x80 | ((code >> 12) & 0x3f));
            *o++ = char(0x80 | ((code >> 6) & 0x3f));
            *o++ = char(0x80 | (code & 0x3f));
        } else {
            escape(u);
        }
    }
    *o++ = '"';
    out->resize(o - out->constData());
}

} // namespace Keldra::Core
