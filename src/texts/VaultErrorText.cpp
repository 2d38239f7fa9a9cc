#include "texts/VaultErrorText.h"

namespace Keldra::Texts {

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
    case Reason::FileSystemLimit:
        return QStringLiteral(
            "Este cofre está numa unidade FAT32, que não aceita arquivos de 4 GiB ou mais: o "
            "cofre não pode crescer além disso. Use uma unidade exFAT ou NTFS para cofres "
            "maiores.");
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
    case Reason::Cancelled:
        return QStringLiteral("Operação cancelada.");
    // Best told by the command's own message. No default: a new reason must be placed here.
    case Reason::None:
    case Reason::WrongPassword:
    case Reason::InvalidPath:
    case Reason::FileNotFound:
    case Reason::FolderNotFound:
    case Reason::AlreadyExists:
    case Reason::NotEmpty:
    case Reason::FileInUse:
    case Reason::WrongState:
    case Reason::SourceUnreadable:
    case Reason::DestinationUnwritable:
    case Reason::InvalidArgument:
    case Reason::Internal:
        break;
    }
    return QString();
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

} // namespace Keldra::Texts
