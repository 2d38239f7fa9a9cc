#include "format/Base64.h"

#include <array>

namespace Keldra::Core {

namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr quint8 Invalid = 0xff;

constexpr std::array<quint8, 256> makeDecodeTable()
{
    std::array<quint8, 256> table{};
    for (auto& entry : table)
        entry = Invalid;
    for (int i = 0; i < 64; ++i)
        table[static_cast<quint8>(Alphabet[i])] = static_cast<quint8>(i);
    return table;
}

constexpr std::array<quint8, 256> DecodeTable = makeDecodeTable();

} // namespace

QByteArray Base64::encode(QByteArrayView data)
{
    const auto* in = reinterpret_cast<const quint8*>(data.data());
    const qsizetype size = data.size();
    QByteArray out((size + 2) / 3 * 4, Qt::Uninitialized);
    char* o = out.data();
    qsizetype i = 0;
    for (; i + 3 <= size; i += 3) {
        const quint32 v = (quint32(in[i]) << 16) | (quint32(in[i + 1]) << 8) | in[i + 2];
        *o++ = Alphabet[v >> 18];
        *o++ = Alphabet[(v >> 12) & 63];
        *o++ = Alphabet[(v >> 6) & 63];
        *o++ = Alphabet[v & 63];
    }
    if (i < size) {
        const bool two = i + 1 < size;
        const quint32 v = (quint32(in[i]) << 16) | (two ? quint32(in[i + 1]) << 8 : 0);
        *o++ = Alphabet[v >> 18];
        *o++ = Alphabet[(v >> 12) & 63];
        *o++ = two ? Alphabet[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
    return out;
}

bool Base64::decodeCanonical(QByteArrayView text, QByteArray* out)
{
    if (!out)
        return false;
    const auto* in = reinterpret_cast<const quint8*>(text.data());
    const qsizetype size = text.size();
    if (size % 4 != 0)
        return false;
    if (size == 0) {
        out->clear();
        return true;
    }
    const int padding = in[size - 1] != '=' ? 0 : in[size - 2] != '=' ? 1 : 2;
    QByteArray result(size / 4 * 3 - padding, Qt::Uninitialized);
    auto* o = reinterpret_cast<quint8*>(result.data());
    const qsizetype fullGroups = size / 4 - (padding ? 1 : 0);
    for (qsizetype g = 0; g < fullGroups; ++g) {
        const quint8* p = in + 4 * g;
        const quint8 a = DecodeTable[p[0]], b = DecodeTable[p[1]], c = DecodeTable[p[2]],
                     d = DecodeTable[p[3]];
        if ((a | b | c | d) & 0xc0) // Invalid has the high bits set; alphabet values do not
            return false;
        const quint32 v = (quint32(a) << 18) | (quint32(b) << 12) | (quint32(c) << 6) | d;
        *o++ = quint8(v >> 16);
        *o++ = quint8(v >> 8);
        *o++ = quint8(v);
    }
    if (padding) {
        const quint8* p = in + size - 4;
        const quint8 a = DecodeTable[p[0]], b = DecodeTable[p[1]];
        const quint8 c = padding == 1 ? DecodeTable[p[2]] : 0;
        if ((a | b | c) & 0xc0)
            return false;
        const quint32 v = (quint32(a) << 18) | (quint32(b) << 12) | (quint32(c) << 6);
        *o++ = quint8(v >> 16);
        if (padding == 1)
            *o++ = quint8(v >> 8);
    }
    *out = result;
    return true;
}

} // namespace Keldra::Core
