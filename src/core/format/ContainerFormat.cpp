#include "format/ContainerFormat.h"

namespace Keldra::Core::ContainerFormat {

QByteArray lengthLine(qint64 headerLength)
{
    return QByteArray::number(headerLength).rightJustified(LengthDigits, '0') + '\n';
}

} // namespace Keldra::Core::ContainerFormat
