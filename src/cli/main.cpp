// keldra-cli: headless access to vault containers for scripts, recovery and
// benchmarks. Usage: keldra-cli COMMAND CONTAINER [ARGS]

#include "cli/CliConsole.h"
#include "cli/PrepareDriveCommand.h"
#include "cli/ReleaseCommands.h"
#include "cli/UpdateDriveCommand.h"
#include "cli/VaultCommands.h"
#include "core/vault/AllocatorTuning.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

struct Command
{
    const char* name;
    int (*run)(const QStringList& args); // args: the words after the command name
    const char* arguments;
    const char* description;
};

// One line per command; the usage text is built from this table.
const Command Commands[] = {
    {"create", runCreateCommand, "CONTAINER", "cria um cofre novo e vazio"},
    {"ls", runListCommand, "CONTAINER",
     "lista as pastas (d CAMINHO) e os arquivos (f TAMANHO SHA256 CAMINHO)"},
    {"import", runImportCommand, "CONTAINER ORIGEM... DESTINO",
     "importa arquivos e pastas como cp -r: um arquivo e um DESTINO que não é pasta do cofre nem termina\n"
     "      em / dão o caminho do arquivo; senão cada ORIGEM vai para dentro da pasta DESTINO (criada se\n"
     "      preciso) com o próprio nome, uma pasta com tudo o que contém. Links e arquivos especiais\n"
     "      não são seguidos; uma linha de resumo na saída padrão, cada item ignorado na saída de erro"},
    {"export", runExportCommand, "CONTAINER CAMINHO... DESTINO",
     "exporta arquivos e pastas do cofre, como cp -r: um só arquivo e um DESTINO que não é uma pasta "
     "grava o arquivo com esse nome; senão cada caminho vai para dentro da pasta DESTINO com o próprio "
     "nome, as pastas com todo o conteúdo"},
    {"mkdir", runMakeDirectoryCommand, "CONTAINER PASTA", "cria uma pasta"},
    {"rmdir", runRemoveDirectoryCommand, "CONTAINER PASTA", "exclui uma pasta vazia"},
    {"rename", runRenameFileCommand, "CONTAINER CAMINHO NOVO_CAMINHO", "renomeia um arquivo"},
    {"renamedir", runRenameDirectoryCommand, "CONTAINER PASTA NOVA_PASTA", "renomeia uma pasta"},
    {"mv", runMoveFileCommand, "CONTAINER CAMINHO... PASTA_DESTINO",
     "move arquivos e pastas para dentro da pasta (\"\" = raiz do cofre), todos ou nenhum"},
    {"rm", runRemoveFileCommand, "CONTAINER CAMINHO...",
     "exclui arquivos e pastas com todo o conteúdo, todos ou nenhum"},
    {"compact", runCompactCommand, "CONTAINER", "remove do container os dados de arquivos excluídos"},
    {"passwd", runChangePasswordCommand, "CONTAINER", "altera a senha do cofre"},
    {"verify", runVerifyCommand, "CONTAINER", "confere o conteúdo de todos os arquivos"},
    {"recover", runRecoverCommand, "CONTAINER",
     "salva no cofre as alterações que uma sessão interrompida deixou sem salvar"},
    {"update-drive", runUpdateDriveCommand, "RAIZ_DA_UNIDADE [--manifest URL] [--yes]",
     "atualiza os bundles Keldra de uma unidade preparada pelo manifesto online"},
    {"prepare-drive", runPrepareDriveCommand, "RAIZ_DA_UNIDADE [--linux CAMINHO] [--windows CAMINHO]",
     "prepara uma unidade com os bundles Keldra, os inicializadores e o README"},
    {"keygen", runKeygenCommand, "ARQUIVO_DA_CHAVE",
     "cria o par de chaves que assina as atualizações (a secreta em ARQUIVO_DA_CHAVE, a pública em .pub)"},
    {"sign-update", runSignUpdateCommand, "PACOTE.zip VERSAO ARQUIVO_DA_CHAVE [--url URL]",
     "escreve na saída padrão o manifesto assinado do pacote de atualização"},
};

void printUsage()
{
    QString text = QStringLiteral("Uso: keldra-cli COMANDO CONTAINER [ARGUMENTOS]\n\nComandos:\n");
    for (const Command& command : Commands) {
        text += QStringLiteral("  %1 %2\n      %3\n")
                    .arg(QString::fromUtf8(command.name), QString::fromUtf8(command.arguments),
                         QString::fromUtf8(command.description));
    }
    text +=
        QStringLiteral("\nSenha: quando a entrada padrão não é um terminal, a senha é a primeira linha dela\n"
                       "(sem a quebra de linha); em passwd, a senha atual vem na primeira linha e a nova\n"
                       "na seguinte. Em um terminal a senha é pedida sem eco, com confirmação em create e\n"
                       "passwd.\n"
                       "\nCódigos de saída: 0 concluído, 1 a operação falhou, 2 uso incorreto.\n");
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

} // namespace

int main(int argc, char* argv[])
{
    Keldra::Core::AllocatorTuning::keepLargeBuffers();
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty()) {
        printUsage();
        return Keldra::Cli::ExitUsage;
    }
    const QString name = args.takeFirst();
    for (const Command& command : Commands) {
        if (name == QLatin1String(command.name)) {
            const int code = command.run(args);
            if (code == Keldra::Cli::ExitUsage)
                printUsage();
            std::fflush(stdout);
            return code;
        }
    }
    printUsage();
    return Keldra::Cli::ExitUsage;
}
