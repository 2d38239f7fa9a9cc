#include "cli/VaultCommands.h"

#include "cli/CliConsole.h"
#include "cli/ImportCommand.h"
#include "texts/IntegrityText.h"
#include "texts/VaultErrorText.h"

#include "core/Error.h"
#include "core/crypto/SecureMemory.h"
#include "core/vault/ExportDestination.h"
#include "core/vault/PasswordRules.h"
#include "core/vault/VaultManager.h"
#include "core/vault/VaultPath.h"

#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>

#include <functional>

using namespace Keldra::Cli;
using Keldra::Core::Error;
using Keldra::Core::VaultDirectoryEntry;
using Keldra::Core::VaultFileEntry;
using Keldra::Core::VaultManager;
using Keldra::Core::wipe;

namespace {

using Reason = Error::Reason;

const QString UnlockFailed =
    QStringLiteral("Não foi possível desbloquear o cofre. Verifique a senha ou se o container foi alterado.");

int fileNotFound(const QString& path)
{
    return fail(QStringLiteral("Arquivo não encontrado no cofre: %1").arg(shown(path)));
}

int directoryNotFound(const QString& path)
{
    return fail(QStringLiteral("Pasta não encontrada no cofre: %1").arg(shown(path)));
}

// The one place that turns a vault failure into keldra-cli's message. `path`
// is the vault path the command works on, `target` its new name or
// destination, if it has one. Reasons without a text of their own (a wrong
// password among them) are told by the command's `fallback`.
int vaultFailure(const Error& error, const QString& fallback, const QString& path = QString(),
                 const QString& target = QString())
{
    const QString reasonText = Keldra::Texts::VaultErrorText::forReason(error);
    if (!reasonText.isEmpty())
        return fail(reasonText);
    switch (error.reason()) {
    case Reason::FileNotFound:
        return fileNotFound(path);
    case Reason::FolderNotFound:
        return directoryNotFound(path);
    case Reason::AlreadyExists:
        return fail(QStringLiteral("Já existe um item com esse nome no cofre: %1")
                        .arg(shown(target.isEmpty() ? path : target)));
    case Reason::NotEmpty:
        return fail(QStringLiteral("A pasta não está vazia ou não pode ser excluída."));
    case Reason::InvalidPath:
        // With two paths either may be the one refused: the command's own text then.
        if (target.isEmpty())
            return fail(QStringLiteral("Caminho inválido no cofre: %1").arg(shown(path)));
        return fail(fallback);
    default:
        return fail(fallback);
    }
}

QString containerArgument(const QStringList& args)
{
    return QFileInfo(args.first()).absoluteFilePath();
}

// Unlocks the container, runs body on the open vault and locks it again.
int withUnlockedVault(const QStringList& args, const std::function<int(VaultManager&)>& body,
                      bool recovering = false)
{
    const QString container = containerArgument(args);
    if (!QFileInfo(container).isFile())
        return fail(QStringLiteral("Container não encontrado: %1").arg(args.first()));

    PasswordReader reader;
    QByteArray password = reader.read(QStringLiteral("Senha do cofre: "));
    if (password.isEmpty())
        return fail(QStringLiteral("Nenhuma senha foi informada."));
    VaultManager vault;
    const bool unlocked = vault.unlockVault(container, password);
    wipe(password);
    if (!unlocked)
        return vaultFailure(vault.lastError(), UnlockFailed);
    if (vault.restoredFromCompactionCopy())
        printError(
            QStringLiteral("O cofre foi restaurado da cópia feita durante a compactação interrompida."));

    // Edits a dead session left for this vault are told about, never stored unasked.
    if (!recovering) {
        const qsizetype pending = vault.recoverableCopies().size();
        if (pending > 0)
            printError(QStringLiteral("Foram encontradas alterações de uma sessão anterior que não foram "
                                      "salvas no cofre: %1 arquivo(s). Use keldra-cli recover %2 para "
                                      "salvá-las no cofre.")
                           .arg(pending)
                           .arg(args.first()));
    }

    int code = body(vault);
    if (!vault.lockVault() && code == ExitDone)
        code = vaultFailure(vault.lastError(), QStringLiteral("Não foi possível limpar a área temporária."));
    return code;
}

} // namespace

int runCreateCommand(const QStringList& args)
{
    if (args.size() != 1)
        return ExitUsage;
    const QString container = containerArgument(args);
    // Creating replaces the file: never over an existing one.
    if (QFileInfo::exists(container))
        return fail(QStringLiteral("Já existe um cofre neste arquivo. Escolha outro nome ou apague-o antes "
                                   "pelo gerenciador de arquivos."));

    PasswordReader reader;
    QByteArray password = reader.read(QStringLiteral("Senha do novo cofre: "));
    if (password.isEmpty())
        return fail(QStringLiteral("Nenhuma senha foi informada."));
    if (reader.interactive()) {
        QByteArray confirmation = reader.read(QStringLiteral("Confirme a senha: "));
        const bool same = confirmation == password;
        wipe(confirmation);
        if (!same) {
            wipe(password);
            return fail(QStringLiteral("As senhas informadas não coincidem."));
        }
    }
    if (!Keldra::Core::PasswordRules::longEnoughForNewVault(password)) {
        wipe(password);
        return fail(QStringLiteral("Use uma senha com pelo menos 10 caracteres para criar o cofre."));
    }
    VaultManager vault;
    const bool created = vault.createVault(container, password);
    wipe(password);
    if (!created)
        return vaultFailure(vault.lastError(), QStringLiteral("Não foi possível criar o cofre."));
    return ExitDone;
}

int runListCommand(const QStringList& args)
{
    if (args.size() != 1)
        return ExitUsage;
    return withUnlockedVault(args, [](VaultManager& vault) {
        const Keldra::Core::SecureFileIndex index = vault.fileIndex();
        const QList<VaultDirectoryEntry> directories = index.directories();
        for (const VaultDirectoryEntry& directory : directories)
            printOut(QStringLiteral("d %1").arg(shown(directory.path)));
        const QList<VaultFileEntry> entries = index.entries();
        for (const VaultFileEntry& entry : entries) {
            printOut(QStringLiteral("f %1 %2 %3")
                         .arg(entry.sizeBytes)
                         .arg(QString::fromLatin1(entry.sha256.toHex()), shown(entry.vaultPath)));
        }
        return int(ExitDone);
    });
}

int runImportCommand(const QStringList& args)
{
    if (args.size() < 3)
        return ExitUsage;
    const QStringList sources = args.mid(1, args.size() - 2);
    const QString destination = args.last();
    // Checked before the password is asked for: the key derivation takes a while.
    for (const QString& source : sources) {
        if (!importSourceAvailable(source))
            return fail(
                QStringLiteral("O arquivo %1 não está disponível para importação.").arg(shown(source)));
    }
    return withUnlockedVault(args, [&](VaultManager& vault) {
        if (!importNamesTheFile(vault, sources, destination)) {
            const int code = importIntoFolder(vault, sources, destination);
            if (code >= 0)
                return code;
            return vaultFailure(vault.lastError(), QStringLiteral("Não foi possível importar os arquivos."),
                                destination);
        }
        const QString source = sources.first();
        const QString vaultPath = destination;
        const QFileInfo sourceInfo(source);
        ProgressPrinter progress(QStringLiteral("Importando"));
        if (!vault.importFile(source, vaultPath, progress.callback()))
            return vaultFailure(
                vault.lastError(),
                QStringLiteral("Não foi possível importar %1.").arg(shown(sourceInfo.fileName())), vaultPath);
        return int(ExitDone);
    });
}

// The one line that says what a tree export did.
QString exportSummary(const Keldra::Core::ExportBatchSummary& summary)
{
    const QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    QString line = QStringLiteral("Exportado(s): %1 arquivo(s), %2")
                       .arg(summary.exported)
                       .arg(locale.formattedDataSize(summary.bytes));
    if (summary.foldersCreated > 0)
        line += QStringLiteral("; %1 pasta(s) criada(s)").arg(summary.foldersCreated);
    if (!summary.skipped.isEmpty())
        line += QStringLiteral("; %1 item(ns) não exportado(s)").arg(summary.skipped.size());
    return line + QLatin1Char('.');
}

// Why one file of a tree export was left out, on standard error.
void reportSkipped(const Keldra::Core::SkippedItem& item)
{
    using Why = Keldra::Core::SkippedItem::Why;
    QString why;
    switch (item.why) {
    case Why::Existing:
        why = QStringLiteral("já existe no destino e foi mantido");
        break;
    case Why::InvalidName:
        why = QStringLiteral("o nome não é aceito por este sistema");
        break;
    case Why::Link:
    case Why::Special:
    case Why::Unreadable:
    case Why::Failed: {
        why = Keldra::Texts::VaultErrorText::forExportDestination(item.error);
        if (why.isEmpty())
            why = Keldra::Texts::VaultErrorText::forReason(item.error);
        if (why.isEmpty() && item.error.is(Reason::AlreadyExists))
            why = QStringLiteral("outro item de mesmo nome vai para o mesmo lugar");
        if (why.isEmpty())
            why = QStringLiteral("não foi possível gravá-lo no destino");
        break;
    }
    }
    printError(QStringLiteral("Não exportado: %1 (%2)").arg(shown(item.path), why));
}

// `cp -r` meaning: one vault file and a destination that is not a folder is
// the file's new name; otherwise each path lands inside the destination
// folder under its own name, folders with everything inside them.
int runExportCommand(const QStringList& args)
{
    if (args.size() < 3)
        return ExitUsage;
    const QStringList vaultPaths = args.mid(1, args.size() - 2);
    const QString destination = args.last();
    return withUnlockedVault(args, [&](VaultManager& vault) {
        const QString exportFailed = QStringLiteral("Não foi possível exportar o arquivo.");
        const QString normalized = Keldra::Core::VaultPath::normalized(vaultPaths.first());
        const bool singleFile = vaultPaths.size() == 1 && !normalized.isEmpty() &&
                                Keldra::Core::VaultPath::hasFile(vault.fileIndex(), normalized) &&
                                !QFileInfo(destination).isDir();
        if (singleFile) {
            // Same guarantees as VaultManager::exportFile (never over the vault
            // itself nor a device or a pipe, nothing partial is left behind),
            // with progress on the way.
            QString finalPath;
            if (const Error refused =
                    Keldra::Core::ExportDestination::resolve(destination, vault.containerPath(), &finalPath);
                !refused.ok()) {
                const QString text = Keldra::Texts::VaultErrorText::forExportDestination(refused);
                return fail(text.isEmpty() ? exportFailed : text);
            }
            ProgressPrinter progress(QStringLiteral("Exportando"));
            QSaveFile file(finalPath);
            if (!file.open(QIODevice::WriteOnly))
                return fail(exportFailed);
            // The save file itself, not a wrapper: the vault then hands each
            // written range to the drive while the next block is decrypted.
            if (!vault.writeVaultFileToDevice(normalized, &file, progress.callback())) {
                file.cancelWriting();
                return vaultFailure(vault.lastError(), exportFailed, vaultPaths.first());
            }
            if (!file.commit())
                return fail(exportFailed);
            Keldra::Core::ExportBatchSummary summary;
            summary.exported = 1;
            summary.bytes = QFileInfo(finalPath).size();
            printOut(exportSummary(summary));
            return int(ExitDone);
        }

        ProgressPrinter progress(QStringLiteral("Exportando"));
        const auto shownProgress = [&](const Keldra::Core::BatchProgress& state) {
            progress.update(state.bytesDone, state.bytesTotal, state.currentName);
        };
        Keldra::Core::ExportBatchSummary summary;
        // As cp does, files already at the destination are replaced (each whole, never half).
        const bool exported = vault.exportBatch(vaultPaths, destination, Keldra::Core::ExistingFiles::Replace,
                                                shownProgress, &summary);
        const Error error = vault.lastError();
        bool failedItem = false;
        for (const Keldra::Core::SkippedItem& item : std::as_const(summary.skipped)) {
            reportSkipped(item);
            failedItem = failedItem ||
                         (item.error.reason() == error.reason() && item.error.detail() == error.detail());
        }
        if (!exported && !failedItem) {
            // Nothing was exported (a missing path, a refused destination), or
            // the export stopped: the reason, then what was done.
            if (summary.exported > 0)
                printOut(exportSummary(summary));
            const QString text = Keldra::Texts::VaultErrorText::forExportDestination(error);
            if (!text.isEmpty())
                return fail(text);
            return vaultFailure(
                error, QStringLiteral("Não foi possível exportar."),
                error.is(Reason::FileNotFound) || error.is(Reason::InvalidPath) ? error.detail() : QString());
        }
        printOut(exportSummary(summary));
        return exported ? int(ExitDone) : int(ExitFailed);
    });
}

int runMakeDirectoryCommand(const QStringList& args)
{
    if (args.size() != 2)
        return ExitUsage;
    return withUnlockedVault(args, [&](VaultManager& vault) {
        if (!vault.createDirectory(args.at(1)))
            return vaultFailure(vault.lastError(), QStringLiteral("Não foi possível criar a pasta."),
                                args.at(1));
        return int(ExitDone);
    });
}

int runRemoveDirectoryCommand(const QStringList& args)
{
    if (args.size() != 2)
        return ExitUsage;
    return withUnlockedVault(args, [&](VaultManager& vault) {
        if (!vault.deleteDirectory(args.at(1)))
            return vaultFailure(vault.lastError(),
                                QStringLiteral("A pasta não está vazia ou não pode ser excluída."),
                                args.at(1));
        return int(ExitDone);
    });
}

int runRenameFileCommand(const QStringList& args)
{
    if (args.size() != 3)
        return ExitUsage;
    return withUnlockedVault(args, [&](VaultManager& vault) {
        if (!vault.renameFile(args.at(1), args.at(2)))
            return vaultFailure(vault.lastError(), QStringLiteral("Não foi possível renomear o arquivo."),
                                args.at(1), args.at(2));
        return int(ExitDone);
    });
}

int runRenameDirectoryCommand(const QStringList& args)
{
    if (args.size() != 3)
        return ExitUsage;
    return withUnlockedVault(args, [&](VaultManager& vault) {
        if (!vault.renameDirectory(args.at(1), args.at(2)))
            return vaultFailure(vault.lastError(), QStringLiteral("Não foi possível renomear a pasta."),
                                args.at(1), args.at(2));
        return int(ExitDone);
    });
}

int runMoveFileCommand(const QStringList& args)
{
    if (args.size() < 3)
        return ExitUsage;
    const QStringList vaultPaths = args.mid(1, args.size() - 2);
    const QString target = args.last();
    return withUnlockedVault(args, [&](VaultManager& vault) {
        if (vault.movePaths(vaultPaths, target)) {
            const QString where = Keldra::Core::VaultPath::normalized(target);
            printOut(QStringLiteral("Movido(s) para %1: %2 item(ns).")
                         .arg(where.isEmpty() ? QStringLiteral("a raiz do cofre") : shown(where))
                         .arg(vaultPaths.size()));
            return int(ExitDone);
        }
        const Error& error = vault.lastError();
        // The folder that is missing here is the destination, not the item.
        if (error.is(Reason::FolderNotFound))
            return directoryNotFound(target);
        if (error.is(Reason::InvalidPath) && error.detail().contains(QStringLiteral("into itself")))
            return fail(QStringLiteral("Uma pasta não pode ser movida para dentro dela mesma."));
        // The detail names the missing item or the taken new path.
        return vaultFailure(error, QStringLiteral("Não foi possível mover."), error.detail(),
                            error.is(Reason::AlreadyExists) ? error.detail() : QString());
    });
}

int runRemoveFileCommand(const QStringList& args)
{
    if (args.size() < 2)
        return ExitUsage;
    const QStringList vaultPaths = args.mid(1);
    return withUnlockedVault(args, [&](VaultManager& vault) {
        if (!vault.deletePaths(vaultPaths)) {
            const Error& error = vault.lastError();
            if (error.is(Reason::FileInUse))
                return fail(QStringLiteral("Um arquivo da seleção está aberto com alterações não salvas."));
            // The detail names the missing or refused item.
            return vaultFailure(error, QStringLiteral("Não foi possível excluir do cofre."), error.detail());
        }
        printOut(QStringLiteral("Excluído(s) do cofre: %1 item(ns).").arg(vaultPaths.size()));
        return int(ExitDone);
    });
}

int runCompactCommand(const QStringList& args)
{
    if (args.size() != 1)
        return ExitUsage;
    return withUnlockedVault(args, [](VaultManager& vault) {
        ProgressPrinter progress(QStringLiteral("Compactando"));
        QString preserved;
        if (vault.compactVault(progress.callback(), &preserved))
            return int(ExitDone);
        if (!preserved.isEmpty()) {
            return fail(QStringLiteral("Não foi possível substituir o container no USB.\n\n"
                                       "Um container compactado criptografado foi preservado em:\n%1")
                            .arg(preserved));
        }
        return vaultFailure(vault.lastError(), QStringLiteral("Não foi possível compactar o cofre."));
    });
}

int runChangePasswordCommand(const QStringList& args)
{
    if (args.size() != 1)
        return ExitUsage;
    const QString container = containerArgument(args);
    if (!QFileInfo(container).isFile())
        return fail(QStringLiteral("Container não encontrado: %1").arg(args.first()));

    PasswordReader reader;
    QByteArray current = reader.read(QStringLiteral("Senha atual: "));
    QByteArray next = current.isEmpty() ? QByteArray() : reader.read(QStringLiteral("Nova senha: "));
    const auto wipeAll = [&]() {
        wipe(current);
        wipe(next);
    };
    if (current.isEmpty()) {
        wipeAll();
        return fail(QStringLiteral("Informe a senha atual."));
    }
    if (!Keldra::Core::PasswordRules::longEnoughForChange(QString::fromUtf8(next))) {
        wipeAll();
        return fail(QStringLiteral("Use uma nova senha com pelo menos 10 caracteres."));
    }
    if (reader.interactive()) {
        QByteArray confirmation = reader.read(QStringLiteral("Confirme a nova senha: "));
        const bool same = confirmation == next;
        wipe(confirmation);
        if (!same) {
            wipeAll();
            return fail(QStringLiteral("A confirmação não coincide com a nova senha."));
        }
    }
    VaultManager vault;
    const bool changed = vault.changePassword(container, current, next);
    wipeAll();
    const QString changeFailed =
        QStringLiteral("Não foi possível alterar a senha. Verifique a senha atual e tente novamente.");
    if (!changed)
        return vaultFailure(vault.lastError(), changeFailed);
    return ExitDone;
}

int runVerifyCommand(const QStringList& args)
{
    if (args.size() != 1)
        return ExitUsage;
    return withUnlockedVault(args, [](VaultManager& vault) {
        const QList<VaultFileEntry> entries = vault.fileIndex().entries();
        qint64 total = 0;
        for (const VaultFileEntry& entry : entries)
            total += entry.sizeBytes;
        ProgressPrinter progress(QStringLiteral("Verificando"));
        qint64 done = 0;
        int damaged = 0;
        for (const VaultFileEntry& entry : entries) {
            if (!vault.verifyFile(entry.vaultPath)) {
                // A container that cannot be read, or that another program's
                // change holds, says nothing about the files: the check stops
                // rather than list sound files. A file another program removed
                // meanwhile (gone from the index the check took over) is not
                // there to check.
                const Error& why = vault.lastError();
                if (why.is(Reason::VaultInUse) || why.is(Reason::ContainerUnavailable))
                    return vaultFailure(why,
                                        QStringLiteral("Não foi possível concluir a verificação do cofre."));
                if (!why.is(Reason::FileNotFound) || vault.fileIndex().contains(entry.vaultPath)) {
                    printOut(shown(entry.vaultPath));
                    ++damaged;
                }
            }
            done += entry.sizeBytes;
            progress.update(done, total, entry.vaultPath);
        }
        // Space left by deleted or replaced files: what compaction would give back.
        const qint64 reclaimable = vault.reclaimableBytes();
        if (reclaimable > 0)
            printOut(QStringLiteral("Espaço recuperável com \"compact\": %1.")
                         .arg(QLocale(QLocale::Portuguese, QLocale::Brazil).formattedDataSize(reclaimable)));
        if (damaged > 0)
            return fail(Keldra::Texts::IntegrityText::damagedCount(damaged));
        printOut(Keldra::Texts::IntegrityText::noProblems(entries.size()));
        return int(ExitDone);
    });
}

int runRecoverCommand(const QStringList& args)
{
    if (args.size() != 1)
        return ExitUsage;
    return withUnlockedVault(
        args,
        [](VaultManager& vault) {
            const QList<Keldra::Core::TrackedTempFile> copies = vault.recoverableCopies();
            if (copies.isEmpty()) {
                printOut(QStringLiteral("Nenhuma alteração pendente de uma sessão anterior."));
                return int(ExitDone);
            }
            if (!vault.recoverCopies())
                return vaultFailure(vault.lastError(),
                                    QStringLiteral("Não foi possível salvar no cofre as alterações da "
                                                   "sessão anterior."));
            for (const Keldra::Core::TrackedTempFile& copy : copies)
                printOut(shown(copy.vaultPath));
            printOut(QStringLiteral("Alterações salvas no cofre: %1 arquivo(s).").arg(copies.size()));
            return int(ExitDone);
        },
        true);
}
