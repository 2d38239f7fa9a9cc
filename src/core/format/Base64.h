#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace Keldra::Core {

// Standard Base64 (RFC 4648 alphabet, with padding) for the multi-megabyte
// encrypted index of a large vault, where QByteArray's own coding is the
// slowest step of every index save. Output is identical to QByteArray's.
class Base64
{
public:
    // Same bytes as QByteArray::toBase64().
    [[nodiscard]] static QByteArray encode(QByteArrayView data);
    // Decodes canonical text only: length a multiple of four, alphabet
    // characters, "=" only as the last one or two. Anything else returns
    // false and leaves *out alone, so the caller can fall back to the
    // lenient QByteArray::fromBase64(), which gives the same bytes for
    // canonical text.
    [[nodiscard]] static bool decodeCanonical(QByteArrayView text, QByteArray* out);
};

} // namespace Keldra::Core
