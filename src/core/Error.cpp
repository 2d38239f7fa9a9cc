#include "Error.h"

#include <QMetaEnum>

namespace Keldra::Core {

Error Error::within(const QString& context) const
{
    if (ok())
        return *this;
    return Error(m_reason, m_detail.isEmpty() ? context : context + QStringLiteral(": ") + m_detail);
}

QString Error::toString() const
{
    const QString name = reasonName(m_reason);
    return m_detail.isEmpty() ? name : name + QStringLiteral(" (") + m_detail + QLatin1Char(')');
}

QString Error::reasonName(Reason reason)
{
    return QString::fromLatin1(QMetaEnum::fromType<Reason>().valueToKey(int(reason)));
}

} // namespace Keldra::Core
