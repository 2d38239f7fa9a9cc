#include "JsonTextWriter.h"

namespace Keldra::Core {

namespace {

char hexDigit(uint value)
{
    return char(value < 10 ? '0' + value : 'a' + value - 10);
}

void appendUnicodeEscape(QByteArray* out, char16_t unit)
{
    const char escape[6] = {'\\', 'u', hexDigit((unit >> 12) & 0xf), hexDigit((unit >> 8) & 0xf),
                            hexDigit((unit >> 4) & 0xf), hexDigit(unit & 0xf)};
    out->append(escape, 6);
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

void JsonTextWriter::asciiValue(const QByteArray& text)
{
    separate();
    m_text.append('"');
    m_text.append(text);
    m_text.append('"');
    m_needComma = true;
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
    out->append('"');
    const char16_t* unit = reinterpret_cast<const char16_t*>(text.constData());
    const char16_t* const end = unit + text.size();
    while (unit != end) {
        const char16_t u = *unit++;
        if (u < 0x80) {
            if (u >= 0x20 && u != '"' && u != '\\') {
                out->append(char(u));
                continue;
            }
            switch (u) {
            case '"': out->append("\\\"", 2); break;
            case '\\': out->append("\\\\", 2); break;
            case '\b': out->append("\\b", 2); break;
            case '\f': out->append("\\f", 2); break;
            case '\n': out->append("\\n", 2); break;
            case '\r': out->append("\\r", 2); break;
            case '\t': out->append("\\t", 2); break;
            default: appendUnicodeEscape(out, u); break;
            }
        } else if (u < 0x800) {
            out->append(char(0xc0 | (u >> 6)));
            out->append(char(0x80 | (u & 0x3f)));
        } else if (u < 0xd800 || u > 0xdfff) {
            out->append(char(0xe0 | (u >> 12)));
            out->append(char(0x80 | ((u >> 6) & 0x3f)));
            out->append(char(0x80 | (u & 0x3f)));
        } else if (u < 0xdc00 && unit != end && *unit >= 0xdc00 && *unit <= 0xdfff) {
            const char32_t code = 0x10000 + ((char32_t(u) - 0xd800) << 10) + (char32_t(*unit++) - 0xdc00);
            out->append(char(0xf0 | (code >> 18)));
            out->append(char(0x80 | ((code >> 12) & 0x3f)));
            out->append(char(0x80 | ((code >> 6) & 0x3f)));
            out->append(char(0x80 | (code & 0x3f)));
        } else {
            appendUnicodeEscape(out, u);
        }
    }
    out->append('"');
}

} // namespace Keldra::Core
