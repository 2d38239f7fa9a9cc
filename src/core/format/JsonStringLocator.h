#pragma once

#include <QByteArray>
#include <QLatin1String>

namespace Keldra::Core {

// Finds the text of one large string member of a JSON object without
// parsing it, so a reader can cut it out and let QJsonDocument parse only
// the small rest. Turning a multi-megabyte Base64 value into a QString and
// back costs far more than the rest of a container header together.
class JsonStringLocator
{
public:
    struct Span
    {
        qsizetype begin = 0;  // first character inside the quotes
        qsizetype length = 0; // characters between the quotes
    };

    // True when `json` is an object whose top level holds `key` exactly once
    // and its value is a string made only of Base64 characters
    // (A-Z a-z 0-9 + / =). Anything else, including malformed text, gives
    // false: the caller then parses the whole text the ordinary way.
    [[nodiscard]] static bool findBase64Member(const QByteArray& json, QLatin1String key, Span* span);
};

} // namespace Keldra::Core
