#include "DeploymentErrorText.h"

namespace Keldra::Texts {

namespace {

using Reason = Deployment::Error::Reason;

// The message's template for reason; %1, %2... are the error's arguments, and
// a wrapping reason's last placeholder is its cause's message.
QString pattern(Reason reason)
{
    // No default: -Wswitch names a reason added without its text.
    switch (reason) {
    case Reason::None:
        return QString();

    case Reason::ManifestMalformed:
        return QStringLiteral("%1");
    case Reason::ManifestNotKeldra:
        return QStringLiteral("Manifesto não pertence ao Keldra ou usa schema não suportado.");
    case Reason::ManifestIncomplete:
        return QStringLiteral("Manifesto sem version, packageUrl ou sha256.");
    case Reason::ManifestBadVersion:
        return QStringLiteral("Manifesto com versão inválida.");
    case Reason::ManifestBadPackageUrl:
        return QStringLiteral("Manifesto com endereço de pacote não permitido (somente https).");

    case Reason::JournalNotWritable:
        return QStringLiteral("Não foi possível registrar a atualização em andamento: %1");
    case Reason::StateFolderNotCreated:
        return QStringLiteral("Não foi possível criar a pasta de estado da atualização.");
    case Reason::StateFileNotOpened:
        return QStringLiteral("Não foi possível abrir o arquivo de estado: %1");
    case Reason::StateFileNotSaved:
        return QStringLiteral("Não foi possível salvar o arquivo de estado: %1");
    }
    return QString();
}

// One pass over the template, so a path that itself holds "%2" stays as it is.
QString fill(const QString& pattern, const QStringList& values)
{
    QString text;
    text.reserve(pattern.size());
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('%') && i + 1 < pattern.size() && pattern.at(i + 1) >= QLatin1Char('1') &&
            pattern.at(i + 1) <= QLatin1Char('9')) {
            text += values.value(pattern.at(i + 1).digitValue() - 1);
            ++i;
        } else {
            text += c;
        }
    }
    return text;
}

} // namespace

QString DeploymentErrorText::message(const Deployment::Error& error)
{
    QStringList values = error.arguments();
    if (const Deployment::Error* cause = error.cause())
        values.append(message(*cause));
    return fill(pattern(error.reason()), values);
}

} // namespace Keldra::Texts
