#include "deployment/DeploymentError.h"

#include <QMetaEnum>

namespace Keldra::Deployment {

Error::Error(Reason reason, const Error& cause, const QStringList& arguments)
    : m_reason(reason), m_arguments(arguments), m_cause(std::make_shared<const Error>(cause))
{
}

Error Error::within(const QString& context) const
{
    if (ok())
        return *this;
    Error result = *this;
    result.m_detail = m_detail.isEmpty() ? context : context + QStringLiteral(": ") + m_detail;
    return result;
}

QString Error::toString() const
{
    QString text = reasonName(m_reason);
    if (!m_arguments.isEmpty())
        text += QStringLiteral(" [") + m_arguments.join(QStringLiteral(", ")) + QLatin1Char(']');
    if (!m_detail.isEmpty())
        text += QStringLiteral(" (") + m_detail + QLatin1Char(')');
    if (m_cause)
        text += QStringLiteral(" <- ") + m_cause->toString();
    return text;
}

QString Error::reasonName(Reason reason)
{
    return QString::fromLatin1(QMetaEnum::fromType<Reason>().valueToKey(int(reason)));
}

} // namespace Keldra::Deployment
