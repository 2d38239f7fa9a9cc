#include "format/JsonStringLocator.h"

#include <array>
#include <cstring>

namespace Keldra::Core {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

constexpr std::array<bool, 256> makeBase64Table()
{
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                   c == '/' || c == '=';
    return table;
}

constexpr std::array<bool, 256> IsBase64 = makeBase64Table();

class Cursor
{
public:
    explicit Cursor(const QByteArray& text) : m_data(text.constData()), m_size(text.size()) {}

    qsizetype pos() const { return m_pos; }
    bool atEnd() const { return m_pos >= m_size; }
    char peek() const { return atEnd() ? '\0' : m_data[m_pos]; }

    void skipSpace()
    {
        while (!atEnd() && isSpace(m_data[m_pos]))
            ++m_pos;
    }

    bool expect(char c)
    {
        skipSpace();
        if (peek() != c)
            return false;
        ++m_pos;
        return true;
    }

    // At an opening quote: moves past the closing one. Escapes are stepped
    // over without being checked; the real parser checks them later.
    bool skipString(bool* escaped)
    {
        if (peek() != '"')
            return false;
        *escaped = false;
        ++m_pos;
        // memchr rather than a byte loop: the string may be megabytes long.
        while (m_pos < m_size) {
            const char* start = m_data + m_pos;
            const auto* quote = static_cast<const char*>(std::memchr(start, '"', size_t(m_size - m_pos)));
            if (!quote)
                return false;
            const auto* backslash = static_cast<const char*>(std::memchr(start, '\\', size_t(quote - start)));
            if (!backslash) {
                m_pos = quote - m_data + 1;
                return true;
            }
            *escaped = true;
            m_pos = backslash - m_data + 2; // past the escaped character, which may be a quote
        }
        return false;
    }

    // Any value: strings, nested objects and arrays (brackets matched with
    // strings taken into account) and bare words such as numbers or true.
    bool skipValue()
    {
        skipSpace();
        const char first = peek();
        bool escaped = false;
        if (first == '"')
            return skipString(&escaped);
        if (first == '{' || first == '[') {
            int depth = 0;
            while (!atEnd()) {
                const char c = m_data[m_pos];
                if (c == '"') {
                    if (!skipString(&escaped))
                        return false;
                    continue;
                }
                if (c == '{' || c == '[')
                    ++depth;
                else if (c == '}' || c == ']')
                    --depth;
                ++m_pos;
                if (depth == 0)
                    return true;
            }
            return false;
        }
        const qsizetype start = m_pos;
        while (!atEnd() && !isSpace(peek()) && peek() != ',' && peek() != '}' && peek() != ']')
            ++m_pos;
        return m_pos > start;
    }

    const char* data() const { return m_data; }

private:
    const char* m_data;
    qsizetype m_size;
    qsizetype m_pos = 0;
};

} // namespace

bool JsonStringLocator::findBase64Member(const QByteArray& json, QLatin1String key, Span* span)
{
    if (!span)
        return false;
    Cursor cursor(json);
    if (!cursor.expect('{'))
        return false;
    cursor.skipSpace();
    if (cursor.peek() == '}')
        return false;

    bool found = false;
    Span result;
    for (;;) {
        cursor.skipSpace();
        const qsizetype keyStart = cursor.pos() + 1;
        bool escaped = false;
        if (!cursor.skipString(&escaped))
            return false;
        const QLatin1String name(cursor.data() + keyStart, cursor.pos() - 1 - keyStart);
        if (escaped)
            return false; // escaped keys could spell the key another way: leave them to the parser
        if (!cursor.expect(':'))
            return false;
        cursor.skipSpace();
        if (!escaped && name == key) {
            if (found || cursor.peek() != '"')
                return false;
            const qsizetype valueStart = cursor.pos() + 1;
            if (!cursor.skipString(&escaped) || escaped)
                return false;
            result.begin = valueStart;
            result.length = cursor.pos() - 1 - valueStart;
            for (qsizetype i = 0; i < result.length; ++i) {
                if (!IsBase64[static_cast<unsigned char>(cursor.data()[result.begin + i])])
                    return false;
            }
            found = true;
        } else if (!cursor.skipValue()) {
            return false;
        }
        cursor.skipSpace();
        if (cursor.peek() == ',') {
            cursor.expect(',');
            continue;
        }
        if (!cursor.expect('}'))
            return false;
        break;
    }
    cursor.skipSpace();
    if (!cursor.atEnd() || !found)
        return false;
    *span = result;
    return true;
}

} // namespace Keldra::Core
