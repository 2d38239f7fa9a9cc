#include "cli/ImportCommand.h"

#include "cli/CliConsole.h"

#include "core/vault/ImportBatch.h"
#include "core/vault/VaultManager.h"
#include "core/vault/VaultPath.h"

#include <QFileInfo>

namespace Keldra::Cli {

namespace {

using Keldra::Core::Error;
using Keldra::Core::SkippedItem;
using Why = SkippedItem::Why;

// The vault folder DEST names: "" for the root ("" or "/"); null when refused.
QString destinationFolder(const QString& destination)
{
    QString trimmed = destination;
    while (trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    if (trimmed.isEmpty())
        return QLatin1String("");
    return Keldra::Core::VaultPath::normalized(trimmed);
}

QString whyText(const SkippedItem& item)
{
    switch (item.why) {
    case Why::Link:
        return QStringLiteral("é um link, que não é seguido");
    case Why::Special:
        return QStringLiteral("não é um arquivo comum nem uma pasta");
    case Why::Unreadable:
        return QStringLiteral("não foi possível lê-lo");
    case Why::InvalidName:
        return QStringLiteral("o nome não é aceito em todos os sistemas");
    case Why::Existing:
        return QStringLiteral("já existe no cofre");
    case Why::Failed:
        break;
    }
    return item.error.is(Error::Reason::AlreadyExists)
               ? QStringLiteral("já existe no cofre um item nesse caminho")
               : QStringLiteral("não foi possível importá-lo");
}

} // namespace

bool importSourceAvailable(const QString& source)
{
    const QFileInfo info(source);
    return info.exists() && (info.isFile() || info.isDir());
}

bool importNamesTheFile(const Keldra::Core::VaultManager& vault, const QStringList& sources,
                        const QString& destination)
{
    if (sources.size() != 1 || !QFileInfo(sources.first()).isFile() || destination.endsWith(QLatin1Char('/')))
        return false;
    const QString normalized = Keldra::Core::VaultPath::normalized(destination);
    return normalized.isEmpty() || !Keldra::Core::VaultPath::hasFolder(vault.fileIndex(), normalized);
}

int importIntoFolder(Keldra::Core::VaultManager& vault, const QStringList& sources,
                     const QString& destination)
{
    const QString folder = destinationFolder(destination);
    if (folder.isNull())
        return fail(QStringLiteral("Caminho inválido no cofre: %1").arg(shown(destination)));
    if (!folder.isEmpty() && Keldra::Core::VaultPath::hasFile(vault.fileIndex(), folder))
        return fail(QStringLiteral("Já existe um arquivo com esse nome no cofre: %1").arg(shown(folder)));

    Keldra::Core::ImportBatch batch = Keldra::Core::ImportBatch::fromSources(sources, folder);
    if (!folder.isEmpty())
        batch.addDirectory(folder);
    ProgressPrinter printer(QStringLiteral("Importando"));
    Keldra::Core::ImportBatchSummary summary;
    const bool imported = vault.importBatch(
        batch, Keldra::Core::ExistingFiles::Replace,
        [&](const Keldra::Core::BatchProgress& p) {
            printer.update(p.bytesDone, p.bytesTotal, p.currentName);
        },
        &summary);

    bool incomplete = false;
    for (const SkippedItem& item : std::as_const(summary.skipped)) {
        printError(QStringLiteral("Ignorado (%1): %2").arg(whyText(item), shown(item.path)));
        incomplete = incomplete || item.why == Why::Unreadable || item.why == Why::InvalidName ||
                     item.why == Why::Failed;
    }
    printOut(QStringLiteral("%1 importado(s), %2 substituído(s), %3 ignorado(s)")
                 .arg(summary.imported)
                 .arg(summary.replaced)
                 .arg(summary.skipped.size()));
    if (!imported) {
        if (summary.filesThatFit >= 0)
            printError(QStringLiteral("Cabem no índice do cofre %1 dos %2 arquivos.")
                           .arg(summary.filesThatFit)
                           .arg(batch.files().size()));
        return -1;
    }
    return incomplete ? ExitFailed : ExitDone;
}

} // namespace Keldra::Cli
