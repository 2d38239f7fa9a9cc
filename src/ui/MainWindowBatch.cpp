// Commands on many rows and whole folders: import of folders (menu and
// drops), export of a selection as a tree, delete and move of a selection.
// Each batch asks its questions once for the whole set, runs under one
// progress dialog and ends with one summary that names what was left out.
#include "ui/MainWindow.h"

#include "core/vault/ImportBatch.h"
#include "core/vault/VaultPath.h"
#include "texts/VaultErrorText.h"
#include "ui/BatchSummaryDialog.h"
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
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace Keldra::UI {

using Widgets::DialogHooks;
using Widgets::questionContinueCancel;
using Widgets::questionYesNo;

using Core::VaultPath;

namespace {

const QString kImportTitle = QStringLiteral("Importar arquivos");
const QString kExportTitle = QStringLiteral("Exportar arquivos");
const QString kDeleteTitle = QStringLiteral("Excluir itens");
const QString kMoveTitle = QStringLiteral("Mover itens");
const QString kSpeedNote =
    QStringLiteral("A velocidade depende da taxa de leitura e escrita da unidade USB.\n"
                   "Dispositivos USB 3 ou superiores tendem a ser mais rápidos.");
constexpr int kStatusTimeout = 5000;

QString countText(qsizetype count, const QString& one, const QString& many)
{
    return count == 1 ? one : many.arg(count);
}

// "Verbo NOME...", then "Arquivo N de M"; the dialog adds the bytes of the
// whole batch.
QString batchStepText(const QString& verb, const Core::BatchProgress& step)
{
    return QStringLiteral("%1 %2...\nArquivo %3 de %4")
        .arg(verb, step.currentName)
        .arg(step.fileNumber)
        .arg(step.fileCount);
}

// Reports a batch's steps through an operation's progress: bytes of the
// whole batch, or files when the batch has no bytes.
void reportBatchStep(const VaultSession::Progress& progress, const QString& verb,
                     const Core::BatchProgress& step)
{
    if (step.bytesTotal > 0)
        progress(step.bytesDone, step.bytesTotal, batchStepText(verb, step));
    else
        progress(step.fileNumber, qMax(1, step.fileCount), batchStepText(verb, step));
}

void showSummary(QWidget* parent, const QString& title, const QString& done,
                 const QList<Core::SkippedItem>& skipped, const QString& leftOut)
{
    QString text = done;
    if (!skipped.isEmpty())
        text += QStringLiteral("\n\n") + leftOut.arg(skipped.size());
    BatchSummaryDialog dialog(title, text, skipped, parent);
    DialogHooks::exec(dialog);
}

bool indexHasItem(const Core::SecureFileIndex& index, const QString& path)
{
    return VaultPath::hasFile(index, path) || VaultPath::hasFolder(index, path);
}

// The files a set of vault paths reaches: the files themselves and every file
// inside the folders.
QStringList filesReached(const Core::SecureFileIndex& index, const QStringList& paths)
{
    QStringList files;
    const QList<Core::VaultFileEntry> entries = index.entries();
    for (const Core::VaultFileEntry& entry : entries) {
        for (const QString& path : paths) {
            if (entry.vaultPath.compare(path, Qt::CaseInsensitive) == 0 ||
                VaultPath::isInside(entry.vaultPath, path)) {
                files << entry.vaultPath;
                break;
            }
        }
    }
    return files;
}

} // namespace

bool MainWindow::askExistingFiles(const QString& title, const QString& text,
                                  Core::ExistingFiles* answer) const
{
    QMessageBox box(QMessageBox::Question, title, text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, const_cast<MainWindow*>(this));
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Sim"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&Não"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("&Cancelar"));
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (DialogHooks::exec(box)) {
    case QMessageBox::Yes:
        *answer = Core::ExistingFiles::Replace;
        return true;
    case QMessageBox::No:
        *answer = Core::ExistingFiles::Skip;
        return true;
    default:
        return false;
    }
}

bool MainWindow::confirmImportFitsStorage(const Core::ImportBatch& batch) const
{
    if (m_containerPath.isEmpty())
        return false;
    qint64 containerGrowth = 0;
    for (const Core::ImportBatchItem& item : batch.files())
        containerGrowth += Core::VaultManager::storedSize(item.sizeBytes);
    return confirmRoomForImport(batch.totalBytes(), containerGrowth);
}

void MainWindow::importFolder()
{
    const QString folder = DialogHooks::getExistingDirectory(
        this, QStringLiteral("Importar pasta para o cofre"), m_importFolder);
    if (folder.isEmpty())
        return;
    // Next time the chooser opens beside this folder, among its siblings.
    m_importFolder = QFileInfo(folder).absolutePath();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const Core::ImportBatch batch = Core::ImportBatch::fromSources({folder}, m_browser->currentDirectory());
    QApplication::restoreOverrideCursor();
    runImportBatch(batch);
}

void MainWindow::runImportBatch(const Core::ImportBatch& batch, bool storageChecked)
{
    if (!isUnlocked() || m_session->isBusy())
        return;
    if (batch.files().isEmpty() && batch.directories().isEmpty()) {
        if (batch.skipped().isEmpty())
            DialogHooks::information(this, kImportTitle, QStringLiteral("Não há arquivos para importar."));
        else
            showSummary(this, kImportTitle, QStringLiteral("Nenhum arquivo foi importado."), batch.skipped(),
                        QStringLiteral("Itens não importados: %1."));
        return;
    }
    if (!storageChecked && !batch.files().isEmpty() && !confirmImportFitsStorage(batch))
        return;

    Core::ExistingFiles existing = Core::ExistingFiles::Replace;
    const QStringList clashes = m_vaultManager.existingFiles(batch);
    if (!clashes.isEmpty() &&
        !askExistingFiles(kImportTitle,
                          countText(clashes.size(),
                                    QStringLiteral("%1 já existe no cofre. Substituir?").arg(clashes.first()),
                                    QStringLiteral("%1 arquivos já existem no cofre. Substituir todos?")),
                          &existing))
        return;

    auto summary = std::make_shared<Core::ImportBatchSummary>();
    OperationView view;
    view.title = kImportTitle;
    view.heading = QStringLiteral("Importando arquivos para o cofre...\n\n%1").arg(kSpeedNote);
    view.cancellable = true;
    view.watchContainer = true;
    view.doneOnCancel = true;
    runVaultOperation(
        view,
        [batch, existing, summary](Core::VaultManager& vault, const VaultSession::Progress& progress) {
            const auto onProgress = [&](const Core::BatchProgress& step) {
                reportBatchStep(progress, QStringLiteral("Importando"), step);
            };
            return operationOutcome(vault, vault.importBatch(batch, existing, onProgress, summary.get()));
        },
        [this, batch, summary](const Core::Error& result) { finishImportBatch(batch, *summary, result); });
}

void MainWindow::finishImportBatch(const Core::ImportBatch& batch, const Core::ImportBatchSummary& summary,
                                   const Core::Error& result)
{
    refreshDevices();
    const int kept = summary.imported + summary.replaced;
    if (result.is(Core::Error::Reason::Cancelled)) {
        // The vault keeps what its last checkpoint stored, and no more.
        const QString text =
            kept == 0 ? QStringLiteral("Importação cancelada. O cofre ficou como estava.")
                      : countText(kept,
                                  QStringLiteral("Importação cancelada. 1 arquivo importado antes do "
                                                 "cancelamento ficou no cofre."),
                                  QStringLiteral("Importação cancelada. %1 arquivos importados antes do "
                                                 "cancelamento ficaram no cofre."));
        setStatusMessage(text, kStatusTimeout);
        if (kept > 0)
            DialogHooks::information(this, kImportTitle, text);
        return;
    }
    if (!result.ok()) {
        QString text;
        if (result.is(Core::Error::Reason::IndexFull) && summary.filesThatFit >= 0)
            text = QStringLiteral("O índice do cofre não tem lugar para os %1 arquivos desta importação: "
                                  "cabem apenas %2. Importe menos arquivos de cada vez, exclua arquivos "
                                  "do cofre ou use outro cofre.")
                       .arg(batch.files().size())
                       .arg(summary.filesThatFit);
        else
            text =
                VaultSession::failureText(result, QStringLiteral("Não foi possível importar os arquivos."));
        if (kept > 0)
            text += QStringLiteral("\n\n") +
                    countText(kept, QStringLiteral("1 arquivo foi importado antes da falha."),
                              QStringLiteral("%1 arquivos foram importados antes da falha."));
        DialogHooks::warning(this, kImportTitle, text);
        setStatusMessage(QStringLiteral("Falha ao importar os arquivos."), kStatusTimeout);
        if (!summary.skipped.isEmpty())
            showSummary(this, kImportTitle, text, summary.skipped,
                        QStringLiteral("Itens não importados: %1."));
        return;
    }

    QString done = countText(summary.imported, QStringLiteral("1 arquivo importado"),
                             QStringLiteral("%1 arquivos importados"));
    if (summary.replaced > 0)
        done += countText(summary.replaced, QStringLiteral(", 1 substituído"),
                          QStringLiteral(", %1 substituídos"));
    if (summary.foldersCreated > 0)
        done += countText(summary.foldersCreated, QStringLiteral(", 1 pasta criada"),
                          QStringLiteral(", %1 pastas criadas"));
    done += QLatin1Char('.');
    setStatusMessage(done, kStatusTimeout);
    // Whatever was left out is always told, with why.
    if (!summary.skipped.isEmpty())
        showSummary(this, kImportTitle, done, summary.skipped, QStringLiteral("Itens não importados: %1."));
}

void MainWindow::exportSelection()
{
    const QStringList paths = m_browser->selectedItemPaths();
    if (paths.isEmpty())
        return;
    if (paths.size() == 1 && !m_browser->selectionHasFolder()) {
        exportSelectedFile();
        return;
    }
    const QString what = paths.size() == 1 ? QStringLiteral("a pasta %1").arg(paths.first())
                                           : QStringLiteral("os %1 itens selecionados").arg(paths.size());
    if (!questionContinueCancel(this, kExportTitle,
                                QStringLiteral("Exportar %1 criará cópias descriptografadas fora do cofre. "
                                               "Alterações feitas nessas cópias não voltam automaticamente "
                                               "para o Keldra.")
                                    .arg(what)))
        return;
    const QString folder =
        DialogHooks::getExistingDirectory(this, QStringLiteral("Exportar para a pasta"), m_exportFolder);
    if (folder.isEmpty())
        return;
    m_exportFolder = folder;
    runExportBatch(paths, folder);
}

void MainWindow::runExportBatch(const QStringList& vaultPaths, const QString& destinationFolder)
{
    if (!isUnlocked() || m_session->isBusy())
        return;
    // Files outside the vault are never written over without asking.
    Core::ExistingFiles existing = Core::ExistingFiles::Skip;
    const QStringList taken = m_vaultManager.existingExportTargets(vaultPaths, destinationFolder);
    if (!taken.isEmpty() &&
        !askExistingFiles(
            kExportTitle,
            countText(taken.size(),
                      QStringLiteral("%1 já existe na pasta de destino. Substituir?")
                          .arg(QDir::toNativeSeparators(taken.first())),
                      QStringLiteral("%1 arquivos já existem na pasta de destino. Substituir todos?")),
            &existing))
        return;

    auto summary = std::make_shared<Core::ExportBatchSummary>();
    OperationView view;
    view.title = kExportTitle;
    view.heading = QStringLiteral("Exportando arquivos do cofre...");
    view.cancellable = true;
    view.watchContainer = true;
    view.doneOnCancel = true;
    runVaultOperation(
        view,
        [vaultPaths, destinationFolder, existing, summary](Core::VaultManager& vault,
                                                           const VaultSession::Progress& progress) {
            // Another program (keldra-cli) may have saved an index, its compaction moving the blocks.
            if (!vault.refreshIndex())
                return vault.lastError();
            const auto onProgress = [&](const Core::BatchProgress& step) {
                reportBatchStep(progress, QStringLiteral("Exportando"), step);
            };
            return operationOutcome(
                vault, vault.exportBatch(vaultPaths, destinationFolder, existing, onProgress, summary.get()));
        },
        [this, summary](const Core::Error& result) { finishExportBatch(*summary, result); });
}

void MainWindow::finishExportBatch(const Core::ExportBatchSummary& summary, const Core::Error& result)
{
    if (result.is(Core::Error::Reason::Cancelled)) {
        // Every file is written whole or not at all: the ones done stay.
        const QString text =
            summary.exported == 0
                ? QStringLiteral("Exportação cancelada. Nenhum arquivo foi exportado.")
                : countText(summary.exported,
                            QStringLiteral("Exportação cancelada. 1 arquivo já exportado ficou na pasta."),
                            QStringLiteral("Exportação cancelada. %1 arquivos já exportados ficaram na "
                                           "pasta."));
        setStatusMessage(text, kStatusTimeout);
        return;
    }
    const bool exported = result.ok();
    // A file that fails does not stop the others: they are listed in the
    // summary. Only a failure with nothing listed is told on its own.
    if (!exported && summary.skipped.isEmpty()) {
        const QString refused = Texts::VaultErrorText::forExportDestination(result);
        QString text =
            refused.isEmpty()
                ? VaultSession::failureText(result, QStringLiteral("Não foi possível exportar os arquivos."))
                : refused;
        if (summary.exported > 0)
            text += QStringLiteral("\n\n") +
                    countText(summary.exported, QStringLiteral("1 arquivo foi exportado antes da falha."),
                              QStringLiteral("%1 arquivos foram exportados antes da falha."));
        DialogHooks::warning(this, kExportTitle, text);
        setStatusMessage(QStringLiteral("Falha ao exportar os arquivos."), kStatusTimeout);
        return;
    }
    const QString done = countText(summary.exported, QStringLiteral("1 arquivo exportado."),
                                   QStringLiteral("%1 arquivos exportados."));
    setStatusMessage(exported ? done : QStringLiteral("Falha ao exportar alguns arquivos."), kStatusTimeout);
    if (!summary.skipped.isEmpty())
        showSummary(this, kExportTitle, done, summary.skipped, QStringLiteral("Itens não exportados: %1."));
}

void MainWindow::deleteSelection()
{
    const QStringList paths = m_browser->selectedItemPaths();
    if (paths.isEmpty())
        return;
    if (paths.size() == 1 && !m_browser->selectionHasFolder()) {
        deleteSelectedFile();
        return;
    }
    const Core::SecureFileIndex index = m_vaultManager.fileIndex();
    const QStringList files = filesReached(index, paths);
    const QString what = paths.size() == 1
                             ? QStringLiteral("a pasta %1 e tudo o que ela contém").arg(paths.first())
                             : QStringLiteral("os %1 itens selecionados").arg(paths.size());
    if (!questionYesNo(
            this, kDeleteTitle,
            QStringLiteral("Excluir %1 removerá %2 da lista do cofre.\n\nOs dados físicos só serão "
                           "liberados do container após executar Compactar cofre.")
                .arg(what,
                     countText(files.size(), QStringLiteral("1 arquivo"), QStringLiteral("%1 arquivos")))))
        return;

    // Edits not yet stored would be lost with the file: asked once for all.
    QStringList edited;
    const QList<Core::TrackedTempFile> changed = m_vaultManager.modifiedOpenFiles();
    for (const Core::TrackedTempFile& copy : changed) {
        if (files.contains(copy.vaultPath, Qt::CaseInsensitive))
            edited << copy.vaultPath;
    }
    if (!edited.isEmpty()) {
        if (!questionYesNo(
                this, kDeleteTitle,
                QStringLiteral("Estes arquivos estão abertos para edição e têm alterações que ainda "
                               "não foram salvas no cofre:\n\n%1\n\nDescartar essas alterações e "
                               "excluir?")
                    .arg(edited.join(QLatin1Char('\n')))))
            return;
        for (const QString& path : std::as_const(edited)) {
            if (!m_vaultManager.discardOpenCopy(path)) {
                warnVaultFailure(kDeleteTitle, QStringLiteral("Não foi possível excluir os itens do cofre."));
                return;
            }
        }
    }

    if (!m_vaultManager.deletePaths(paths)) {
        warnVaultFailure(kDeleteTitle,
                         QStringLiteral("Não foi possível excluir os itens. Feche os arquivos abertos dentro "
                                        "deles e tente novamente."),
                         Core::Error::Reason::FileInUse);
        setStatusMessage(QStringLiteral("Falha ao excluir os itens."), kStatusTimeout);
        refreshVaultFiles();
        updateActions();
        return;
    }
    refreshVaultFiles();
    updateActions();
    setStatusMessage(countText(paths.size(), QStringLiteral("1 item excluído do cofre."),
                               QStringLiteral("%1 itens excluídos do cofre.")),
                     kStatusTimeout);
}

void MainWindow::moveSelection()
{
    QStringList paths = m_browser->selectedItemPaths();
    if (paths.isEmpty())
        return;
    if (paths.size() == 1 && !m_browser->selectionHasFolder()) {
        moveSelectedFile();
        return;
    }
    const Core::SecureFileIndex index = m_vaultManager.fileIndex();
    // A folder cannot go into itself or below itself; a folder that already
    // holds every item is no destination either.
    QStringList parents;
    for (const QString& path : std::as_const(paths))
        parents << VaultPath::parent(path);
    parents.removeDuplicates();
    const QString sharedParent = parents.size() == 1 ? parents.first() : QStringLiteral("\n");
    QStringList folders;
    const QList<Core::VaultDirectoryEntry> directories = index.directories();
    for (const Core::VaultDirectoryEntry& directory : directories) {
        const bool movedItself = std::any_of(paths.cbegin(), paths.cend(), [&](const QString& path) {
            return directory.path.compare(path, Qt::CaseInsensitive) == 0 ||
                   VaultPath::isInside(directory.path, path);
        });
        if (!movedItself && directory.path.compare(sharedParent, Qt::CaseInsensitive) != 0)
            folders << directory.path;
    }
    std::stable_sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    if (!sharedParent.isEmpty())
        folders.prepend(QString());
    if (folders.isEmpty()) {
        DialogHooks::information(this, kMoveTitle,
                                 QStringLiteral("Não há outra pasta disponível para receber estes itens."));
        return;
    }

    QDialog dialog(this);
    dialog.setWindowTitle(kMoveTitle);
    dialog.setMinimumWidth(360);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Mover %1 itens para:").arg(paths.size()), &dialog));
    auto* choice = new QComboBox(&dialog);
    choice->setObjectName(QStringLiteral("moveDestinationCombo"));
    for (const QString& folder : std::as_const(folders))
        choice->addItem(folder.isEmpty() ? QStringLiteral("Raiz") : folder, folder);
    layout->addWidget(choice);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Mover"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (DialogHooks::exec(dialog) != QDialog::Accepted)
        return;

    const QString target = choice->currentData().toString();
    // Items found by a search may already sit in the chosen folder: they stay.
    paths.erase(std::remove_if(paths.begin(), paths.end(),
                               [&](const QString& path) {
                                   return VaultPath::parent(path).compare(target, Qt::CaseInsensitive) == 0;
                               }),
                paths.end());
    QStringList clashes;
    QStringList names;
    for (const QString& path : std::as_const(paths)) {
        const QString name = VaultPath::baseName(path);
        if (indexHasItem(index, VaultPath::join(target, name)) || names.contains(name, Qt::CaseInsensitive))
            clashes << name;
        names << name;
    }
    if (!clashes.isEmpty()) {
        DialogHooks::warning(this, kMoveTitle,
                             QStringLiteral("Já existe um item com estes nomes na pasta de destino:\n\n%1")
                                 .arg(clashes.join(QLatin1Char('\n'))));
        return;
    }
    if (paths.isEmpty())
        return;
    if (!m_vaultManager.movePaths(paths, target)) {
        warnVaultFailure(kMoveTitle,
                         QStringLiteral("Não foi possível mover os itens. Feche os arquivos abertos "
                                        "dentro deles e tente novamente."));
        return;
    }
    refreshVaultFiles();
    updateActions();
    setStatusMessage(
        countText(paths.size(), QStringLiteral("1 item movido."), QStringLiteral("%1 itens movidos.")),
        kStatusTimeout);
}

} // namespace Keldra::UI
