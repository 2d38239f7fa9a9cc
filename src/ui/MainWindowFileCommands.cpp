// Commands on the files and folders of an unlocked vault. Each checks names
// and clashes against the index before the vault is touched, calls one
// VaultManager operation, then refreshes the browser and the actions.
// Import lives in MainWindowImport.cpp.
#include "ui/MainWindow.h"

#include "core/vault/VaultPath.h"
#include "texts/VaultErrorText.h"
#include "ui/DesktopLauncher.h"
#include "ui/OperationProgressDialog.h"
#include "ui/VaultBrowser.h"
#include "ui/VaultBrowserUtils.h"
#include "widgets/DialogHooks.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace Keldra::UI {

using Widgets::DialogHooks;
using Widgets::questionContinueCancel;
using Widgets::questionYesNo;

using Core::VaultPath;

namespace {

const QString kTitle = QStringLiteral("Keldra");
const QString kClashInFolder = QStringLiteral("Já existe um item com esse nome nesta pasta.");
const QString kBadFolderName =
    QStringLiteral("Use um nome de pasta simples, sem barras, pontos isolados ou caminho relativo.");
constexpr int StatusTimeout = 5000;

bool indexHasItem(const Core::SecureFileIndex& index, const QString& path)
{
    return VaultPath::hasFile(index, path) || VaultPath::hasFolder(index, path);
}

const QString kBadFileName =
    QStringLiteral("Use um nome de arquivo simples, sem barras, pontos isolados ou caminho relativo.");

// Asks for a new name of the file or folder at `path`. Returns its new vault
// path, or an empty string when the user cancelled or kept the name. A refused
// name (bad name, clash in the folder) is explained and asked again, with what
// was typed still in the field.
QString askRenameTarget(QWidget* parent, const QString& title, const QString& path,
                        const QString& badNameMessage, const Core::SecureFileIndex& index)
{
    const QString baseName = VaultPath::baseName(path);
    QString proposed = baseName;
    for (;;) {
        bool ok = false;
        const QString typed = DialogHooks::getText(parent, title, QStringLiteral("Novo nome:"),
                                                   QLineEdit::Normal, proposed, &ok);
        const QString newName = typed.trimmed();
        if (!ok || newName.isEmpty() || newName == baseName)
            return QString();
        proposed = typed;
        if (!VaultPath::isValidName(newName)) {
            DialogHooks::warning(parent, title, badNameMessage);
            continue;
        }
        const QString target = VaultPath::join(VaultPath::parent(path), newName);
        if (indexHasItem(index, target)) {
            DialogHooks::warning(parent, title, kClashInFolder);
            continue;
        }
        return target;
    }
}

bool hasEditedCopy(const Core::VaultManager& vault, const QString& vaultPath)
{
    const QList<Core::TrackedTempFile> changed = vault.modifiedOpenFiles();
    for (const Core::TrackedTempFile& copy : changed) {
        if (copy.vaultPath.compare(vaultPath, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

struct Destination
{
    QString label;
    QString directory; // empty = vault root
};

// Where a file in `from` can go: the root (unless it is there already), then
// every other folder by path.
QList<Destination> moveDestinations(const Core::SecureFileIndex& index, const QString& from)
{
    QList<Destination> destinations;
    if (!from.isEmpty())
        destinations.append({QStringLiteral("Raiz"), QString()});
    QStringList folders;
    const QList<Core::VaultDirectoryEntry> directories = index.directories();
    for (const Core::VaultDirectoryEntry& directory : directories) {
        if (directory.path.compare(from, Qt::CaseInsensitive) != 0)
            folders.append(directory.path);
    }
    std::stable_sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    for (const QString& folder : folders)
        destinations.append({folder, folder});
    return destinations;
}

} // namespace

bool MainWindow::confirmExportOutsideVault(const QString& vaultPath) const
{
    return questionContinueCancel(
        const_cast<MainWindow*>(this), QStringLiteral("Exportar arquivo"),
        QStringLiteral("Exportar %1 criará uma cópia descriptografada fora do cofre. "
                       "Alterações feitas nessa cópia não voltam automaticamente "
                       "para o Keldra.")
            .arg(vaultPath));
}

bool MainWindow::confirmDeleteVaultFile(const QString& vaultPath) const
{
    return questionYesNo(
        const_cast<MainWindow*>(this), QStringLiteral("Excluir arquivo"),
        QStringLiteral("Excluir %1 removerá o arquivo da lista do cofre.\n\nOs dados físicos "
                       "só serão liberados do container após executar Compactar cofre.")
            .arg(vaultPath));
}

bool MainWindow::confirmCompactVault() const
{
    return questionYesNo(
        const_cast<MainWindow*>(this), QStringLiteral("Compactar cofre"),
        QStringLiteral("A compactação reconstruirá o container removendo fisicamente dados de "
                       "arquivos já excluídos.\n\nDurante a operação, será criado "
                       "temporariamente um container criptografado no disco local. Nenhum "
                       "arquivo descriptografado será gravado fora do cofre.\n\n"
                       "Deseja continuar?"));
}

void MainWindow::exportSelectedFile()
{
    const QString vaultPath = m_browser->selectedVaultPath();
    if (vaultPath.isEmpty() || !confirmExportOutsideVault(vaultPath))
        return;
    exportVaultFile(vaultPath);
}

void MainWindow::exportVaultFile(const QString& vaultPath)
{
    const QString proposed = QDir(m_exportFolder.isEmpty() ? firstFileFolder() : m_exportFolder)
                                 .filePath(VaultPath::baseName(vaultPath));
    const QString target =
        DialogHooks::getSaveFileName(this, QStringLiteral("Exportar arquivo"), proposed, QString());
    if (target.isEmpty() || !confirmExportFolder(target))
        return;
    m_exportFolder = QFileInfo(target).absolutePath();
    OperationView view;
    view.title = QStringLiteral("Exportar arquivo");
    view.heading = QStringLiteral("Exportando %1...").arg(VaultPath::baseName(vaultPath));
    view.cancellable = true;
    view.watchContainer = true;
    runVaultOperation(
        view,
        [vaultPath, target, heading = view.heading](Core::VaultManager& vault,
                                                    const VaultSession::Progress& progress) {
            // Another program (keldra-cli) may have saved an index, its compaction moving the blocks.
            if (!vault.refreshIndex())
                return vault.lastError();
            const auto exporting = [&](qint64 done, qint64 total, const QString&) {
                progress(done, total, heading);
            };
            return operationOutcome(vault, vault.exportFile(vaultPath, target, exporting));
        },
        [this](const Core::Error& result) {
            if (result.ok()) {
                setStatusMessage(QStringLiteral("Arquivo exportado com sucesso."), StatusTimeout);
                return;
            }
            const QString refused = Texts::VaultErrorText::forExportDestination(result);
            warnOperationFailure(result, kTitle,
                                 refused.isEmpty() ? QStringLiteral("Não foi possível exportar o arquivo.")
                                                   : refused);
            setStatusMessage(QStringLiteral("Falha ao exportar o arquivo."), StatusTimeout);
        });
}

void MainWindow::openSelectedFile()
{
    const QString vaultPath = m_browser->selectedVaultPath();
    if (vaultPath.isEmpty())
        return;
    // A copy already changed in its application is opened again as it is:
    // decrypting the vault's version over it would throw the saved edits away
    // before the lock stores them.
    QString localPath;
    const QList<Core::TrackedTempFile> changed = m_vaultManager.modifiedOpenFiles();
    for (const Core::TrackedTempFile& copy : changed) {
        if (copy.vaultPath.compare(vaultPath, Qt::CaseInsensitive) == 0)
            localPath = copy.tempPath;
    }
    if (!localPath.isEmpty()) {
        openEditingCopy(vaultPath, localPath, false);
        return;
    }
    auto prepared = std::make_shared<QString>();
    OperationView view;
    view.title = QStringLiteral("Abrir arquivo");
    view.heading = QStringLiteral("Preparando %1 para edição...").arg(VaultPath::baseName(vaultPath));
    view.cancellable = true;
    view.watchContainer = true;
    runVaultOperation(
        view,
        [vaultPath, prepared, heading = view.heading](Core::VaultManager& vault,
                                                      const VaultSession::Progress& progress) {
            if (!vault.refreshIndex())
                return vault.lastError();
            const auto preparing = [&](qint64 done, qint64 total, const QString&) {
                progress(done, total, heading);
            };
            return operationOutcome(vault, vault.prepareFileForEditing(vaultPath, prepared.get(), preparing));
        },
        [this, vaultPath, prepared](const Core::Error& result) {
            if (!result.ok()) {
                warnOperationFailure(result, kTitle,
                                     QStringLiteral("Não foi possível preparar o arquivo para edição."));
                return;
            }
            openEditingCopy(vaultPath, *prepared, true);
        });
}

void MainWindow::openEditingCopy(const QString& vaultPath, const QString& localPath, bool freshCopy)
{
    if (DesktopLauncher::openUrl(QUrl::fromLocalFile(localPath))) {
        m_openedForEditing.insert(vaultPath.toLower());
        setStatusMessage(QStringLiteral("Arquivo aberto para edição."), StatusTimeout);
        return;
    }
    // No application has the copy, so lock must not store it back. An edited
    // copy opened again stays: its edits are still to be stored.
    if (freshCopy)
        (void)m_vaultManager.discardOpenCopy(vaultPath);
    setStatusMessage(QStringLiteral("Falha ao abrir o arquivo."), StatusTimeout);
    // Exporting lets the user pick an application outside the vault.
    if (!questionYesNo(
            this, kTitle,
            QStringLiteral("Nenhum aplicativo está configurado para abrir este tipo de arquivo.\n\n"
                           "Exportar %1 criará uma cópia descriptografada fora do cofre, que "
                           "você poderá abrir com o aplicativo que escolher. Alterações feitas "
                           "nessa cópia não voltam automaticamente para o Keldra.\n\n"
                           "Deseja exportar o arquivo?")
                .arg(vaultPath)))
        return;
    exportVaultFile(vaultPath);
}

void MainWindow::renameSelectedFile()
{
    const QString title = QStringLiteral("Renomear arquivo");
    const QString vaultPath = m_browser->selectedVaultPath();
    if (vaultPath.isEmpty())
        return;
    const QString target = askRenameTarget(this, title, vaultPath, kBadFileName, m_vaultManager.fileIndex());
    if (target.isEmpty())
        return;
    if (!m_vaultManager.renameFile(vaultPath, target)) {
        warnVaultFailure(title, QStringLiteral("Não foi possível renomear o arquivo. Feche o arquivo se ele "
                                               "estiver aberto e tente novamente."));
        return;
    }
    refreshVaultFiles();
    m_browser->selectPath(target);
    updateActions();
    setStatusMessage(QStringLiteral("Arquivo renomeado."), StatusTimeout);
}

void MainWindow::deleteSelectedFile()
{
    const int row = m_browser->table()->currentRow();
    const QString vaultPath = m_browser->selectedVaultPath();
    if (vaultPath.isEmpty() || !confirmDeleteVaultFile(vaultPath))
        return;
    if (hasEditedCopy(m_vaultManager, vaultPath)) {
        if (!questionYesNo(this, QStringLiteral("Excluir arquivo"),
                           QStringLiteral("%1 está aberto para edição e tem alterações que ainda não foram "
                                          "salvas no cofre.\n\nDescartar essas alterações e excluir o "
                                          "arquivo?")
                               .arg(vaultPath)))
            return;
        if (!m_vaultManager.discardOpenCopy(vaultPath)) {
            warnVaultFailure(kTitle, QStringLiteral("Não foi possível excluir o arquivo do cofre."));
            return;
        }
    }
    if (m_vaultManager.deleteFile(vaultPath)) {
        refreshVaultFiles();
        m_browser->selectRowNear(row);
        updateActions();
        setStatusMessage(QStringLiteral("Arquivo excluído do cofre."), StatusTimeout);
        return;
    }
    warnVaultFailure(kTitle, QStringLiteral("Não foi possível excluir o arquivo do cofre."));
    setStatusMessage(QStringLiteral("Falha ao excluir o arquivo."), StatusTimeout);
}

void MainWindow::createDirectory()
{
    const QString title = QStringLiteral("Nova pasta");
    bool ok = false;
    const QString name =
        DialogHooks::getText(this, title, QStringLiteral("Nome da pasta:"), QLineEdit::Normal, QString(), &ok)
            .trimmed();
    if (!ok || name.isEmpty())
        return;
    if (!VaultPath::isValidName(name)) {
        DialogHooks::warning(this, title, kBadFolderName);
        return;
    }
    const QString path = VaultPath::join(m_browser->currentDirectory(), name);
    if (indexHasItem(m_vaultManager.fileIndex(), path)) {
        DialogHooks::warning(this, title, kClashInFolder);
        return;
    }
    if (!m_vaultManager.createDirectory(path)) {
        warnVaultFailure(title, QStringLiteral("Não foi possível criar a pasta."));
        return;
    }
    refreshVaultFiles();
    updateActions();
    setStatusMessage(QStringLiteral("Pasta criada."), StatusTimeout);
}

void MainWindow::renameSelectedDirectory()
{
    const QString title = QStringLiteral("Renomear pasta");
    const QString dirPath = m_browser->selectedDirectoryPath();
    if (dirPath.isEmpty() || m_browser->selectedItemIsParentDirectory())
        return;
    const QString target = askRenameTarget(this, title, dirPath, kBadFolderName, m_vaultManager.fileIndex());
    if (target.isEmpty())
        return;
    if (!m_vaultManager.renameDirectory(dirPath, target)) {
        warnVaultFailure(
            title,
            QStringLiteral(
                "Não foi possível renomear a pasta. Feche arquivos abertos dentro dela e tente novamente."));
        return;
    }
    refreshVaultFiles();
    m_browser->selectPath(target);
    updateActions();
    setStatusMessage(QStringLiteral("Pasta renomeada."), StatusTimeout);
}

void MainWindow::deleteSelectedDirectory()
{
    const QString title = QStringLiteral("Excluir pasta");
    const int row = m_browser->table()->currentRow();
    const QString dirPath = m_browser->selectedDirectoryPath();
    if (dirPath.isEmpty() || m_browser->selectedItemIsParentDirectory())
        return;
    // Asked only about a folder that can go (Delete reaches here on any folder).
    if (!m_deleteFolderAction->isEnabled()) {
        DialogHooks::warning(this, title, QStringLiteral("A pasta não está vazia ou não pode ser excluída."));
        return;
    }
    if (!questionYesNo(this, title, QStringLiteral("Excluir a pasta vazia %1?").arg(dirPath)))
        return;
    if (!m_vaultManager.deleteDirectory(dirPath)) {
        warnVaultFailure(title, QStringLiteral("A pasta não está vazia ou não pode ser excluída."));
        return;
    }
    refreshVaultFiles();
    m_browser->selectRowNear(row);
    updateActions();
    setStatusMessage(QStringLiteral("Pasta excluída."), StatusTimeout);
}

void MainWindow::moveSelectedFile()
{
    const QString title = QStringLiteral("Mover arquivo");
    const QString vaultPath = m_browser->selectedVaultPath();
    if (vaultPath.isEmpty())
        return;
    const QString from = VaultPath::parent(vaultPath);
    const QString baseName = VaultPath::baseName(vaultPath);
    const QList<Destination> destinations = moveDestinations(m_vaultManager.fileIndex(), from);
    if (destinations.isEmpty()) {
        DialogHooks::information(this, title,
                                 QStringLiteral("Não há outra pasta disponível para receber este arquivo."));
        return;
    }

    QDialog dialog(this);
    dialog.setWindowTitle(title);
    // Room for the title bar and for folder paths of ordinary length.
    dialog.setMinimumWidth(360);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Mover %1 para:").arg(baseName), &dialog));
    auto* choice = new QComboBox(&dialog);
    choice->setObjectName(QStringLiteral("moveDestinationCombo"));
    for (const Destination& destination : destinations)
        choice->addItem(destination.label, destination.directory);
    choice->setCurrentIndex(0);
    layout->addWidget(choice);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Mover"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (DialogHooks::exec(dialog) != QDialog::Accepted)
        return;

    const QString targetDirectory = choice->currentData().toString();
    if (indexHasItem(m_vaultManager.fileIndex(), VaultPath::join(targetDirectory, baseName))) {
        DialogHooks::warning(this, title,
                             QStringLiteral("Já existe um item com esse nome na pasta de destino."));
        return;
    }
    // The vault takes the destination folder, not the file's new full path.
    if (!m_vaultManager.moveFile(vaultPath, targetDirectory)) {
        warnVaultFailure(title, QStringLiteral("Não foi possível mover o arquivo. Feche o arquivo se ele "
                                               "estiver aberto e tente novamente."));
        return;
    }
    refreshVaultFiles();
    updateActions();
    setStatusMessage(QStringLiteral("Arquivo movido."), StatusTimeout);
}

void MainWindow::compactVault()
{
    const QString title = QStringLiteral("Compactar cofre");
    if (!confirmCompactVault())
        return;
    auto preserved = std::make_shared<QString>();
    OperationView view;
    view.title = title;
    view.heading = QStringLiteral("Compactando o cofre...\n\nSerá criado temporariamente um container "
                                  "criptografado no disco local.");
    // Cancelling stops before the container is replaced, never after.
    view.cancellable = true;
    runVaultOperation(
        view,
        [preserved](Core::VaultManager& vault, const VaultSession::Progress& progress) {
            const Core::SecureFileIndex before = vault.fileIndex();
            const auto compacting = [&](qint64 done, qint64 total, const QString& text) {
                // The vault reports a file it copies by its path, a later step by what it does.
                const QString step = VaultPath::hasFile(before, text)
                                         ? QStringLiteral("Copiando %1").arg(VaultPath::baseName(text))
                                         : text;
                progress(done, total, QStringLiteral("%1...").arg(step));
            };
            return operationOutcome(vault, vault.compactVault(compacting, preserved.get()));
        },
        [this, title, preserved](const Core::Error& result) { finishCompaction(title, result, *preserved); });
}

void MainWindow::finishCompaction(const QString& title, const Core::Error& result,
                                  const QString& preservedPath)
{
    if (result.ok()) {
        refreshVaultFiles();
        refreshDevices();
        updateActions();
        const QString text = QStringLiteral("Cofre compactado com sucesso.");
        setStatusMessage(text, StatusTimeout);
        DialogHooks::information(this, title, text);
        return;
    }
    if (!preservedPath.isEmpty())
        DialogHooks::warning(this, title,
                             QStringLiteral("Não foi possível substituir o container no USB.\n\nUm container "
                                            "compactado criptografado foi preservado em:\n%1")
                                 .arg(preservedPath));
    else
        warnOperationFailure(result, title, QStringLiteral("Não foi possível compactar o cofre."));
    setStatusMessage(QStringLiteral("Falha ao compactar o cofre."), StatusTimeout);
}

} // namespace Keldra::UI
