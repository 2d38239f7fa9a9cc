// The vault browser: one folder of the unlocked vault at a time.
#include "MainWindow.h"

#include "VaultBrowserRows.h"
#include "VaultBrowserUtils.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>

namespace Keldra::UI {

namespace {

QTableWidgetItem* makeCell(const QString& text, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(alignment);
    return item;
}

void appendRow(QTableWidget* table, VaultTableItemKind kind, const QString& path, const QIcon& icon,
               const QString& name, const QString& size, const QString& type, const QString& date)
{
    const int row = table->rowCount();
    table->insertRow(row);

    auto* iconCell = makeCell(QString(), Qt::AlignCenter);
    iconCell->setIcon(icon);
    auto* nameCell = makeCell(name);
    for (QTableWidgetItem* cell : {iconCell, nameCell}) {
        cell->setData(VaultPathRole, path);
        cell->setData(VaultKindRole, int(kind));
    }
    auto* sizeCell = makeCell(size, Qt::AlignRight | Qt::AlignVCenter);
    auto* typeCell = makeCell(type, Qt::AlignCenter);
    auto* dateCell = makeCell(date, Qt::AlignCenter);
    if (kind == VaultTableItemKind::File) {
        for (QTableWidgetItem* cell : {sizeCell, typeCell, dateCell})
            cell->setData(VaultPathRole, path);
    }

    table->setItem(row, 0, iconCell);
    table->setItem(row, 1, nameCell);
    table->setItem(row, 2, sizeCell);
    table->setItem(row, 3, typeCell);
    table->setItem(row, 4, dateCell);
}

} // namespace

void MainWindow::refreshVaultFiles()
{
    vaultTable->setRowCount(0);
    vaultTable->clearSelection();
    vaultTable->setCurrentCell(-1, -1);
    updateProtectedFilesLabel();
    if (!isUnlocked())
        return;

    const Core::SecureFileIndex index = vaultManager.fileIndex();
    const QString folderType = QStringLiteral("Pasta");

    if (!currentDirectory.isEmpty()) {
        const QString parent = parentVaultPath(currentDirectory);
        appendRow(vaultTable, VaultTableItemKind::ParentDirectory, parent,
                  vaultItemIcon(VaultTableItemKind::ParentDirectory, parent), QStringLiteral(".."),
                  QString(), folderType, QString());
    }

    QList<Core::VaultDirectoryEntry> folders;
    for (const Core::VaultDirectoryEntry& folder : index.directories()) {
        if (parentVaultPath(folder.path).compare(currentDirectory, Qt::CaseInsensitive) == 0)
            folders.append(folder);
    }
    sortVaultRows(folders, sortColumn, sortOrder);
    for (const Core::VaultDirectoryEntry& folder : folders) {
        appendRow(vaultTable, VaultTableItemKind::Directory, folder.path,
                  vaultItemIcon(VaultTableItemKind::Directory, folder.path),
                  vaultBaseName(folder.path), QString(), folderType, formatFileDate(folder.modifiedUtc));
    }

    QList<Core::VaultFileEntry> files;
    for (const Core::VaultFileEntry& file : index.entries()) {
        if (parentVaultPath(file.vaultPath).compare(currentDirectory, Qt::CaseInsensitive) == 0)
            files.append(file);
    }
    sortVaultRows(files, sortColumn, sortOrder);
    for (const Core::VaultFileEntry& file : files) {
        appendRow(vaultTable, VaultTableItemKind::File, file.vaultPath,
                  vaultItemIcon(VaultTableItemKind::File, file.vaultPath), vaultBaseName(file.vaultPath),
                  formatFileSize(file.sizeBytes), fileTypeLabel(file.vaultPath),
                  formatFileDate(file.lastModifiedUtc));
    }

    vaultTable->clearSelection();
    vaultTable->setCurrentCell(-1, -1);
}

void MainWindow::updateProtectedFilesLabel()
{
    if (!protectedFilesLabel)
        return;
    if (!isUnlocked()) {
        protectedFilesLabel->setText(QStringLiteral("Nenhum cofre em uso (aberto)"));
        return;
    }
    const qsizetype count = vaultManager.fileIndex().entries().size();
    QString files;
    if (count == 0)
        files = QStringLiteral("O cofre está vazio.");
    else if (count == 1)
        files = QStringLiteral("1 arquivo no cofre.");
    else
        files = QStringLiteral("%1 arquivos no cofre.").arg(count);
    const QString folder = currentDirectory.isEmpty() ? QStringLiteral("Raiz") : currentDirectory;
    protectedFilesLabel->setText(QStringLiteral("Arquivos protegidos | Pasta: %1 | %2").arg(folder, files));
}

VaultTableItemKind MainWindow::currentRowKind(bool* ok) const
{
    const int row = vaultTable->currentRow();
    const QTableWidgetItem* nameCell = row >= 0 ? vaultTable->item(row, 1) : nullptr;
    *ok = nameCell != nullptr;
    return nameCell ? VaultTableItemKind(nameCell->data(VaultKindRole).toInt()) : VaultTableItemKind::File;
}

QString MainWindow::currentRowPath() const
{
    const int row = vaultTable->currentRow();
    const QTableWidgetItem* nameCell = row >= 0 ? vaultTable->item(row, 1) : nullptr;
    return nameCell ? nameCell->data(VaultPathRole).toString() : QString();
}

QString MainWindow::selectedVaultPath() const
{
    bool ok = false;
    const VaultTableItemKind kind = currentRowKind(&ok);
    return ok && kind == VaultTableItemKind::File ? currentRowPath() : QString();
}

QString MainWindow::selectedDirectoryPath() const
{
    bool ok = false;
    const VaultTableItemKind kind = currentRowKind(&ok);
    const bool folder = kind == VaultTableItemKind::Directory || kind == VaultTableItemKind::ParentDirectory;
    return ok && folder ? currentRowPath() : QString();
}

bool MainWindow::selectedItemIsDirectory() const
{
    bool ok = false;
    return currentRowKind(&ok) == VaultTableItemKind::Directory && ok;
}

bool MainWindow::selectedItemIsParentDirectory() const
{
    bool ok = false;
    return currentRowKind(&ok) == VaultTableItemKind::ParentDirectory && ok;
}

void MainWindow::enterSelectedDirectory()
{
    const QString directory = selectedDirectoryPath();
    if (!directory.isEmpty())
        currentDirectory = directory;
    refreshVaultFiles();
    updateActions();
}

void MainWindow::navigateToParentDirectory()
{
    currentDirectory = parentVaultPath(currentDirectory);
    refreshVaultFiles();
    updateActions();
}

void MainWindow::onHeaderSectionClicked(int column)
{
    if (column == 0)
        return;
    if (column != sortColumn) {
        sortColumn = column;
        sortOrder = Qt::AscendingOrder;
    } else {
        sortOrder = sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    }
    vaultTable->horizontalHeader()->setSortIndicator(sortColumn, sortOrder);
    refreshVaultFiles();
    updateActions();
}

void MainWindow::onVaultItemDoubleClicked(QTableWidgetItem* item)
{
    if (!item)
        return;
    const QTableWidgetItem* nameCell = vaultTable->item(item->row(), 1);
    if (!nameCell)
        return;
    switch (VaultTableItemKind(nameCell->data(VaultKindRole).toInt())) {
    case VaultTableItemKind::ParentDirectory:
        navigateToParentDirectory();
        break;
    case VaultTableItemKind::Directory:
        enterSelectedDirectory();
        break;
    case VaultTableItemKind::File:
        if (openAction->isEnabled())
            openSelectedFile();
        break;
    }
}

void MainWindow::showVaultContextMenu(const QPoint& position)
{
    const int row = vaultTable->rowAt(position.y());
    if (row >= 0)
        vaultTable->selectRow(row);
    updateActions();

    QMenu menu(this);
    menu.addAction(newFolderAction);
    menu.addAction(renameFolderAction);
    menu.addAction(deleteFolderAction);
    menu.addSeparator();
    menu.addAction(importAction);
    menu.addAction(exportAction);
    menu.addAction(openAction);
    if (!selectedVaultPath().isEmpty()) {
        menu.addAction(moveFileAction);
        menu.addAction(renameFileAction);
    }
    menu.addSeparator();
    menu.addAction(deleteFileAction);
    menu.exec(vaultTable->viewport()->mapToGlobal(position));
}

} // namespace Keldra::UI
