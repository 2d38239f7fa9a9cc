// Import into the folder shown: the file dialog, files dropped on the vault
// table, the free-space and FAT checks before anything is written, and the
// per-file progress.
#include "ui/MainWindow.h"

#include "core/storage/FileSizeLimit.h"
#include "core/vault/ImportBatch.h"
#include "core/vault/VaultPath.h"
#include "texts/VaultErrorText.h"
#include "ui/StorageQuery.h"
#include "ui/VaultBrowser.h"
#include "ui/VaultBrowserUtils.h"
#include "widgets/DialogHooks.h"

#include <QFileInfo>

namespace Keldra::UI {

using Widgets::DialogHooks;
using Widgets::questionYesNo;

using Core::VaultPath;
using Texts::VaultErrorText;

namespace {

const QString kImportTitle = QStringLiteral("Importar arquivos");
const QString kSpeedNote =
    QStringLiteral("A velocidade depende da taxa de leitura e escrita da unidade USB.\n"
                   "Dispositivos USB 3 ou superiores tendem a ser mais rápidos.");
constexpr qint64 ImportReserve = 16 * 1024 * 1024;
constexpr qint64 LowSpaceMargin = 128 * 1024 * 1024 - 1;
} // namespace

bool MainWindow::confirmImportFitsStorage(const QStringList& files) const
{
    if (files.isEmpty() || m_containerPath.isEmpty())
        return false;

    qint64 total = 0;
    qint64 containerGrowth = 0;
    for (const QString& file : files) {
        const QFileInfo info(file);
        if (!info.exists() || !info.isFile()) {
            DialogHooks::warning(
                window(), kImportTitle,
                QStringLiteral("O arquivo %1 não está disponível para importação.").arg(info.fileName()));
            return false;
        }
        total += info.size();
        containerGrowth += Core::VaultManager::storedSize(info.size());
    }
    return confirmRoomForImport(total, containerGrowth);
}

bool MainWindow::confirmRoomForImport(qint64 total, qint64 containerGrowth) const
{
    const QFileInfo container(m_containerPath);
    const StorageQuery::Volume volume = StorageQuery::volumeFor(container.absolutePath());
    if (!volume.ready) {
        DialogHooks::warning(
            window(), kImportTitle,
            QStringLiteral("Não foi possível verificar o espaço livre da unidade do container."));
        return false;
    }

    // total × 1.05, truncated, in integers.
    const qint64 required = total + total / 20 + ImportReserve;
    const qint64 available = volume.bytesAvailable;
    if (required > available) {
        DialogHooks::warning(window(), QStringLiteral("Espaço insuficiente"),
                             QStringLiteral("Não há espaço livre suficiente na unidade do container.\n\n"
                                            "Arquivos selecionados: %1\nEspaço livre disponível: %2\n\n"
                                            "Libere espaço na unidade USB ou selecione arquivos menores.")
                                 .arg(formatFileSize(total), formatFileSize(available)));
        return false;
    }
    const qint64 remaining = available - required;
    if (remaining <= LowSpaceMargin &&
        !questionYesNo(window(), QStringLiteral("Espaço livre reduzido"),
                       QStringLiteral("A importação deixará pouco espaço livre na unidade do container.\n\n"
                                      "Arquivos selecionados: %1\nEspaço livre restante estimado: %2\n\n"
                                      "Deseja continuar?")
                           .arg(formatFileSize(total), formatFileSize(remaining)))) {
        return false;
    }

    // FAT cannot hold a file of 4 GiB or more; the import would fail at the
    // block that crosses the limit, after minutes of work. The core refuses
    // such an import too; here it is refused for all the files at once.
    const qint64 limit = Core::FileSizeLimit::forFileSystem(volume.fileSystemType);
    if (limit > 0 && container.size() + containerGrowth > limit) {
        DialogHooks::warning(window(), QStringLiteral("Limite do FAT32"),
                             QStringLiteral("O container ficaria maior que 4 GB, o limite de tamanho de "
                                            "arquivo do sistema FAT32 desta unidade.\n\n"
                                            "Tamanho atual do container: %1\nArquivos selecionados: %2\n\n"
                                            "Importe menos arquivos, compacte o cofre ou use uma unidade "
                                            "formatada em exFAT ou NTFS.")
                                 .arg(formatFileSize(container.size()), formatFileSize(total)));
        return false;
    }
    return true;
}

bool MainWindow::confirmReplaceVaultFile(const QString& vaultPath) const
{
    return questionYesNo(
        const_cast<MainWindow*>(this), QStringLiteral("Substituir arquivo"),
        QStringLiteral("%1 já existe no cofre. Deseja substituir o arquivo protegido?").arg(vaultPath));
}

void MainWindow::importFiles()
{
    const QStringList files = DialogHooks::getOpenFileNames(
        this, QStringLiteral("Importar arquivos para o cofre"),
        m_importFolder.isEmpty() ? firstFileFolder() : m_importFolder, QString());
    if (files.isEmpty())
        return;
    m_importFolder = QFileInfo(files.first()).absolutePath();
    importFileList(files);
}

void MainWindow::importFileList(const QStringList& files)
{
    if (files.isEmpty() || !isUnlocked() || m_session->isBusy())
        return;
    // A file that is gone, or files the drive cannot take, stop everything
    // before the first write.
    if (!confirmImportFitsStorage(files))
        return;
    // Several files are one batch: one question for those that exist, one
    // header write, one summary.
    if (files.size() > 1) {
        Core::ImportBatch batch;
        for (const QString& file : files)
            batch.addFile(file, VaultPath::join(m_browser->currentDirectory(), QFileInfo(file).fileName()));
        runImportBatch(batch, true);
        return;
    }
    const QString file = files.first();
    const QString fileName = QFileInfo(file).fileName();
    const QString vaultPath = VaultPath::join(m_browser->currentDirectory(), fileName);
    if (VaultPath::hasFile(m_vaultManager.fileIndex(), vaultPath) && !confirmReplaceVaultFile(vaultPath))
        return;

    OperationView view;
    view.title = kImportTitle;
    view.heading = QStringLiteral("Importando %1...\n\n%2").arg(fileName, kSpeedNote);
    // A cancelled import leaves the vault as it was: its blocks are cut off again.
    view.cancellable = true;
    view.watchContainer = true;
    runVaultOperation(
        view,
        [file, vaultPath](Core::VaultManager& vault, const VaultSession::Progress& progress) {
            const auto importing = [&](qint64 done, qint64 total, const QString& text) {
                progress(done, total, QStringLiteral("Importando %1...").arg(VaultPath::baseName(text)));
            };
            return operationOutcome(vault, vault.importFile(file, vaultPath, importing));
        },
        [this, fileName](const Core::Error& result) {
            refreshDevices();
            if (result.ok()) {
                setStatusMessage(QStringLiteral("Arquivo importado com sucesso."), 5000);
                return;
            }
            QString text = QStringLiteral("Não foi possível importar %1.").arg(fileName);
            const QString reason = VaultErrorText::forReason(result);
            if (!reason.isEmpty())
                text += QStringLiteral("\n\n") + reason;
            DialogHooks::warning(this, QStringLiteral("Keldra"), text);
        });
}

void MainWindow::importDroppedPaths(const QStringList& paths)
{
    // The vault may have been locked between the drop and this call, or be
    // at work on another command.
    if (!isUnlocked() || m_session->isBusy() || paths.isEmpty())
        return;
    // Folders come in as trees, together with the files dropped beside them.
    for (const QString& path : paths) {
        if (QFileInfo(path).isDir()) {
            runImportBatch(Core::ImportBatch::fromSources(paths, m_browser->currentDirectory()));
            return;
        }
    }
    importFileList(paths);
}

} // namespace Keldra::UI
