#include "VaultErrorText.h"

namespace Keldra::UI {

using Reason = Core::Error::Reason;

QString VaultErrorText::forReason(const Core::Error& error)
{
    switch (error.reason()) {
    case Reason::DamagedContainer:
        return QStringLiteral("O container está danificado ou não é um cofre do Keldra.");
    case Reason::ContainerUnavailable:
        return QStringLiteral("O arquivo do container não foi encontrado ou não pode ser lido.");
    case Reason::DriveFull:
        return QStringLiteral("Não há espaço livre suficiente na unidade do cofre.");
    case Reason::WriteFailed:
        return QStringLiteral(
            "Não foi possível gravar na unidade do cofre. Verifique se ela está conectada e "
            "se não está protegida contra gravação.");
    case Reason::IndexFull:
        return QStringLiteral("O índice do cofre está cheio: exclua arquivos ou use outro cofre.");
    case Reason::WorkspaceUnavailable:
        return QStringLiteral("Não foi possível usar a área temporária deste computador. Verifique o espaço "
                              "livre no disco local.");
    case Reason::VaultInUse:
        return QStringLiteral("O cofre está em uso por outro programa. Tente novamente.");
    case Reason::DamagedFile:
        return QStringLiteral("O conteúdo deste arquivo está danificado no cofre.");
    default:
        return QString();
    }
}

QString VaultErrorText::forExportDestination(const Core::Error& error)
{
    if (!error.is(Reason::InvalidArgument))
        return QString();
    return QStringLiteral(
        "O destino escolhido é o próprio cofre ou um arquivo que o acompanha. Escolha outro "
        "nome ou outra pasta.");
}

QString VaultErrorText::message(const Core::Error& error, const QString& commandText, Reason commandReason)
{
    if (error.is(commandReason))
        return commandText;
    const QString text = forReason(error);
    return text.isEmpty() ? commandText : text;
}

} // namespace Keldra::UI
