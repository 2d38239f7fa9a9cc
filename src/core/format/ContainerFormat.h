#pragma once

#include <QByteArray>

// The fixed start of every container: the magic, a line with the header's
// length in 20 digits, and the header region the JSON header is padded to.
// The payload blocks follow the region.
namespace Keldra::Core::ContainerFormat {

inline constexpr char Magic[] = "KELDRA3";
inline constexpr qint64 MagicSize = sizeof(Magic) - 1;
inline constexpr int LengthDigits = 20;
inline constexpr qint64 LengthLineSize = LengthDigits + 1; // and a line feed
inline constexpr qint64 HeaderRegionStart = MagicSize + LengthLineSize;
inline constexpr qint64 HeaderRegionSize = 8388608;
inline constexpr qint64 PayloadStart = HeaderRegionStart + HeaderRegionSize;

// The length line for a header of that many bytes, line feed included.
QByteArray lengthLine(qint64 headerLength);

} // namespace Keldra::Core::ContainerFormat
