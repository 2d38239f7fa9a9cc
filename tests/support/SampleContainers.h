#pragma once

#include "core/format/ContainerFormat.h"
#include "core/format/ContainerManager.h"

#include <QByteArray>

namespace TestSupport {

// A document with fixed, recognisable crypto fields: salt all 0x00, nonce all
// 0x01, payload nonce all 0x02, an 80-byte "wrapped key" of 0x03. It makes a
// well-formed header, not a vault that unlocks.
Keldra::Core::ContainerDocument sampleDocument(const QByteArray& encryptedIndex = "abc");

// The 20-digit length line with its line feed, spelled out here rather than
// taken from the code under test.
QByteArray lengthLine(qint64 headerLength);

// A container assembled by hand, so damaged variants can be made of each
// part: magic, length line and header, then `fill` up to the end of a header
// region of regionSize bytes.
QByteArray rawContainer(const QByteArray& header, const QByteArray& line,
                        const QByteArray& magic = Keldra::Core::ContainerFormat::Magic,
                        qint64 regionSize = Keldra::Core::ContainerFormat::HeaderRegionSize,
                        char fill = '\0');
// The same with the header's own length line.
QByteArray rawContainer(const QByteArray& header, char fill = '\0');

} // namespace TestSupport
