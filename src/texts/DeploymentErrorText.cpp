#include "texts/DeploymentErrorText.h"

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

    case Reason::AddressNotAllowed:
        return QStringLiteral("Endereço não permitido (somente https): %1");
    case Reason::ResponseTooLarge:
        return QStringLiteral("Resposta maior que o limite de %1 bytes ao acessar: %2");
    case Reason::RedirectNotAllowed:
        return QStringLiteral("Redirecionamento não permitido para: %1");
    case Reason::TimedOut:
        return QStringLiteral("Tempo limite excedido ao acessar: %1");
    case Reason::HttpStatus:
        return QStringLiteral("HTTP %1 ao acessar: %2");
    case Reason::NetworkError:
        return QStringLiteral("%1");
    case Reason::EmptyResponse:
        return QStringLiteral("Resposta vazia ao acessar: %1");
    case Reason::PackageNotStored:
        return QStringLiteral("Não foi possível gravar o pacote temporário: %1");

    case Reason::PackageDamaged:
        return QStringLiteral("Falha ao extrair ZIP: %1");
    case Reason::PackageUnsafePath:
        return QStringLiteral("Pacote com caminho inseguro: %1");
    case Reason::PackageHasLink:
        return QStringLiteral("Pacote com link simbólico: %1");
    case Reason::PackageSpecialEntry:
        return QStringLiteral("Pacote com entrada que não é arquivo nem pasta: %1");
    case Reason::PackageTooManyEntries:
        return QStringLiteral("Pacote com entradas demais: %1 (limite: %2).");
    case Reason::PackageTooLarge:
        return QStringLiteral("Pacote grande demais: mais de %1 bytes descompactados.");
    case Reason::PackageEntrySizeWrong:
        return QStringLiteral("Pacote com tamanho declarado incorreto: %1");
    case Reason::ExtractFolderNotCreated:
        return QStringLiteral("Falha ao extrair ZIP: não foi possível criar a pasta %1");
    case Reason::ExtractParentNotCreated:
        return QStringLiteral("Falha ao extrair ZIP: não foi possível criar a pasta de %1");
    case Reason::ExtractFileNotCreated:
        return QStringLiteral("Falha ao extrair ZIP: não foi possível criar %1");
    case Reason::ExtractFileNotWritten:
        return QStringLiteral("Falha ao extrair ZIP: não foi possível gravar %1");
    case Reason::StagingNotCreated:
        return QStringLiteral("Não foi possível criar staging: %1");
    case Reason::PackageMissingFile:
        return QStringLiteral("Pacote sem arquivo obrigatório: %1");
    case Reason::PackageMissingFolder:
        return QStringLiteral("Pacote sem diretório obrigatório: %1");

    case Reason::BackupNotCreated:
        return QStringLiteral("Não foi possível criar backup de: %1");
    case Reason::BundleNotReplaced:
        return QStringLiteral("Não foi possível aplicar novo bundle em: %1");
    case Reason::NotRemoved:
        return QStringLiteral("Não foi possível remover: %1");
    case Reason::BackupNotRestored:
        return QStringLiteral("Não foi possível restaurar o backup: %1");

    case Reason::DriveInvalid:
        return QStringLiteral("Unidade USB inválida.");
    case Reason::PreparationRecoveryFailed:
        return QStringLiteral(
            "Antes da preparação, não foi possível recuperar a atualização interrompida: %1");
    case Reason::LinkNotRemoved:
        return QStringLiteral("Não foi possível remover o link simbólico: %1");
    case Reason::FreeSpaceUnknown:
        return QStringLiteral("Não foi possível verificar o espaço livre da unidade USB.");
    case Reason::NoBundleSource:
        return QStringLiteral("Nenhum bundle válido foi encontrado para preparar a unidade USB.");
    case Reason::NotEnoughRoom:
        return QStringLiteral(
            "Espaço insuficiente na unidade USB.\n\nNecessário: %1 bytes\nDisponível: %2 bytes");
    case Reason::DriveTooSmall:
        return QStringLiteral("A unidade USB não é recomendada para o Keldra.\n\nCapacidade: %1 bytes\n"
                              "Bundle estimado: %2 bytes\n\nO bundle ocuparia mais de 25% da unidade.");
    case Reason::FolderNotCreated:
        return QStringLiteral("Não foi possível criar a pasta: %1");
    case Reason::FileNotCopied:
        return QStringLiteral("Não foi possível copiar o arquivo: %1");
    case Reason::FileNotRead:
        return QStringLiteral("Não foi possível ler o arquivo: %1");
    case Reason::FileNotCreated:
        return QStringLiteral("Não foi possível criar o arquivo: %1");
    case Reason::FileNotWritten:
        return QStringLiteral("Não foi possível gravar o arquivo: %1");
    case Reason::FileNotFinished:
        return QStringLiteral("Não foi possível finalizar o arquivo: %1");
    case Reason::FileNotSaved:
        return QStringLiteral("Não foi possível salvar o arquivo: %1");
    case Reason::ExecutableNotFound:
        return QStringLiteral("Executável do Keldra não encontrado: %1");
    case Reason::ExecutableNotCopied:
        return QStringLiteral("Não foi possível copiar o executável para: %1");
    case Reason::SourceFolderNotFound:
        return QStringLiteral("Pasta de origem não encontrada: %1");
    case Reason::LibraryNotCopied:
        return QStringLiteral("Não foi possível copiar a biblioteca: %1");
    case Reason::DependenciesUnknown:
        return QStringLiteral("Não foi possível identificar as dependências Linux de: %1");
    case Reason::TlsLibrariesNotListed:
        return QStringLiteral("Não foi possível localizar as bibliotecas TLS do Linux.");
    case Reason::TlsLibraryMissing:
        return QStringLiteral("Biblioteca libssl.so não encontrada no ambiente Linux.");
    case Reason::PreparationCancelled:
        return QStringLiteral("Preparação cancelada. A unidade USB ficou como estava.");
    case Reason::PreparationNotUndone:
        return QStringLiteral("Preparação cancelada, mas não foi possível restaurar: %1");

    case Reason::DriveNotPrepared:
        return QStringLiteral("A unidade selecionada ainda não possui uma estrutura Keldra preparada.");
    case Reason::KeldraRunning:
        return QStringLiteral("Feche o Keldra antes de atualizar os bundles da unidade USB.");
    case Reason::UpdateRecoveryFailed:
        return QStringLiteral("Não foi possível recuperar a atualização interrompida: %1");
    case Reason::ManifestUnreachable:
        return QStringLiteral("Falha ao consultar manifesto: %1");
    case Reason::ManifestInvalid:
        return QStringLiteral("Manifesto inválido: %1");
    case Reason::ManifestUnsigned:
        return QStringLiteral("A atualização não está assinada pelo Keldra.");
    case Reason::DownloadFailed:
        return QStringLiteral("Falha no download: %1");
    case Reason::PackageSizeDiffers:
        return QStringLiteral("Tamanho do pacote divergente. Esperado: %1 bytes. Recebido: %2 bytes.");
    case Reason::PackageHashDiffers:
        return QStringLiteral("Hash SHA-256 divergente. O pacote não será aplicado.");
    case Reason::PackageNotPrepared:
        return QStringLiteral("Falha ao preparar pacote: %1");
    case Reason::UpdateNoRoom:
        return QStringLiteral(
            "Espaço insuficiente na unidade USB. Necessário: %1 bytes. Disponível: %2 bytes.");
    case Reason::StagingAreaNotCreated:
        return QStringLiteral("Não foi possível criar área temporária na unidade USB.");
    case Reason::UpdateNotApplied:
        return QStringLiteral("Falha ao aplicar atualização: %1");
    case Reason::UpdateInterrupted:
        return QStringLiteral("A atualização foi interrompida; ela será concluída ou desfeita na próxima "
                              "verificação.");
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

DeploymentErrorText::Presentation DeploymentErrorText::presentation(const Deployment::Error& error)
{
    if (error.ok() || error.is(Reason::UpdateInterrupted))
        return Presentation::Silent;
    if (error.is(Reason::DriveNotPrepared))
        return Presentation::Notice;
    for (const Reason quiet : {Reason::KeldraRunning, Reason::PackageNotStored, Reason::PackageSizeDiffers,
                               Reason::PackageHashDiffers, Reason::StagingAreaNotCreated}) {
        if (error.is(quiet))
            return Presentation::Warning;
    }
    return Presentation::LoggedWarning;
}

QString DeploymentErrorText::drivePrepared()
{
    return QStringLiteral("USB preparado com estrutura portátil Keldra.");
}

} // namespace Keldra::Texts
