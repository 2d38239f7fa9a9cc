#include "VaultBrowser.h"

#include "VaultBrowserUtils.h"
#include "VaultTableDropTarget.h"
#include "vault/VaultPath.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace Keldra::UI {

using Core::VaultPath;

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

VaultBrowser::VaultBrowser(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    m_summaryLabel = new QLabel(this);
    m_summaryLabel->setObjectName(QStringLiteral("protectedFilesLabel"));
    layout->addWidget(m_summaryLabel);

    buildTable();
    layout->addWidget(m_vaultTable);

    connect(m_vaultTable, &QTableWidget::itemSelectionChanged, this, &VaultBrowser::selectionChanged);
    connect(m_vaultTable->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &VaultBrowser::onHeaderSectionClicked);
    connect(m_vaultTable, &QTableWidget::itemDoubleClicked, this, &VaultBrowser::onItemDoubleClicked);
    connect(m_vaultTable, &QTableWidget::customContextMenuRequested, this,
            &VaultBrowser::onContextMenuRequested);
    m_vaultTable->installEventFilter(this);
    new VaultTableDropTarget(
        m_vaultTable, [this] { return m_vaultOpen; },
        [this](const QStringList& paths) { emit pathsDropped(paths); });
}

void VaultBrowser::buildTable()
{
    m_vaultTable = new QTableWidget(0, 5, this);
    m_vaultTable->setObjectName(QStringLiteral("vaultTable"));
    m_vaultTable->setHorizontalHeaderLabels({QString(), QStringLiteral("Nome do arquivo"),
                                             QStringLiteral("Tamanho"), QStringLiteral("Tipo"),
                                             QStringLiteral("Modificado em")});
    m_vaultTable->setMinimumHeight(220);
    m_vaultTable->setContextMenuPolicy(Qt::CustomContextMenu);
    m_vaultTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Keyboard users move through the rows with the arrows.
    m_vaultTable->setFocusPolicy(Qt::StrongFocus);
    m_vaultTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_vaultTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_vaultTable->setAlternatingRowColors(true);
    m_vaultTable->setShowGrid(false);
    m_vaultTable->setIconSize(QSize(18, 18));
    m_vaultTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_vaultTable->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_vaultTable->verticalHeader()->setVisible(false);
    QHeaderView* header = m_vaultTable->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(m_sortColumn, m_sortOrder);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Fixed);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->setSectionResizeMode(2, QHeaderView::Fixed);
    header->setSectionResizeMode(3, QHeaderView::Fixed);
    header->setSectionResizeMode(4, QHeaderView::Fixed);
    m_vaultTable->setColumnWidth(0, 28);
    m_vaultTable->setColumnWidth(2, 110);
    m_vaultTable->setColumnWidth(3, 70);
    m_vaultTable->setColumnWidth(4, 140);
    m_vaultTable->setStyleSheet(
        QStringLiteral("QTableWidget::item { border-bottom: 1px solid #d8d8d8; }"
                       "QTableWidget::item:focus { outline: none; }"
                       "QTableWidget::item:selected { background-color: palette(highlight); color: "
                       "palette(highlighted-text); }"));
}

void VaultBrowser::showIndex(const Core::SecureFileIndex* index)
{
    m_vaultTable->setRowCount(0);
    m_vaultTable->clearSelection();
    m_vaultTable->setCurrentCell(-1, -1);
    showSummary(index);
    if (!index)
        return;

    const QString folderType = QStringLiteral("Pasta");

    if (!m_directory.isEmpty()) {
        const QString parent = VaultPath::parent(m_directory);
        appendRow(m_vaultTable, VaultTableItemKind::ParentDirectory, parent,
                  vaultItemIcon(VaultTableItemKind::ParentDirectory, parent), QStringLiteral(".."), QString(),
                  folderType, QString());
    }

    QList<Core::VaultDirectoryEntry> folders;
    for (const Core::VaultDirectoryEntry& folder : index->directories()) {
        if (VaultPath::parent(folder.path).compare(m_directory, Qt::CaseInsensitive) == 0)
            folders.append(folder);
    }
    sortVaultRows(folders, m_sortColumn, m_sortOrder);
    for (const Core::VaultDirectoryEntry& folder : folders) {
        appendRow(m_vaultTable, VaultTableItemKind::Directory, folder.path,
                  vaultItemIcon(VaultTableItemKind::Directory, folder.path), VaultPath::baseName(folder.path),
                  QString(), folderType, formatFileDate(folder.modifiedUtc));
    }

    QList<Core::VaultFileEntry> files;
    for (const Core::VaultFileEntry& file : index->entries()) {
        if (VaultPath::parent(file.vaultPath).compare(m_directory, Qt::CaseInsensitive) == 0)
            files.append(file);
    }
    sortVaultRows(files, m_sortColumn, m_sortOrder);
    for (const Core::VaultFileEntry& file : files) {
        appendRow(m_vaultTable, VaultTableItemKind::File, file.vaultPath,
                  vaultItemIcon(VaultTableItemKind::File, file.vaultPath),
                  VaultPath::baseName(file.vaultPath), formatFileSize(file.sizeBytes),
                  fileTypeLabel(file.vaultPath), formatFileDate(file.lastModifiedUtc));
    }

    m_vaultTable->clearSelection();
    m_vaultTable->setCurrentCell(-1, -1);
}

void VaultBrowser::showSummary(const Core::SecureFileIndex* index)
{
    m_vaultOpen = index != nullptr;
    if (!index) {
        m_summaryLabel->setText(QStringLiteral("Nenhum cofre em uso (aberto)"));
        return;
    }
    const qsizetype count = index->entries().size();
    QString files;
    if (count == 0)
        files = QStringLiteral("O cofre está vazio.");
    else if (count == 1)
        files = QStringLiteral("1 arquivo no cofre.");
    else
        files = QStringLiteral("%1 arquivos no cofre.").arg(count);
    const QString folder = m_directory.isEmpty() ? QStringLiteral("Raiz") : m_directory;
    m_summaryLabel->setText(QStringLiteral("Arquivos protegidos | Pasta: %1 | %2").arg(folder, files));
}

VaultTableItemKind VaultBrowser::currentRowKind(bool* ok) const
{
    const int row = m_vaultTable->currentRow();
    const QTableWidgetItem* nameCell = row >= 0 ? m_vaultTable->item(row, 1) : nullptr;
    *ok = nameCell != nullptr;
    return nameCell ? VaultTableItemKind(nameCell->data(VaultKindRole).toInt()) : VaultTableItemKind::File;
}

QString VaultBrowser::currentRowPath() const
{
    const int row = m_vaultTable->currentRow();
    const QTableWidgetItem* nameCell = row >= 0 ? m_vaultTable->item(row, 1) : nullptr;
    return nameCell ? nameCell->data(VaultPathRole).toString() : QString();
}

QString VaultBrowser::selectedVaultPath() const
{
    bool ok = false;
    const VaultTableItemKind kind = currentRowKind(&ok);
    return ok && kind == VaultTableItemKind::File ? currentRowPath() : QString();
}

QString VaultBrowser::selectedDirectoryPath() const
{
    bool ok = false;
    const VaultTableItemKind kind = currentRowKind(&ok);
    const bool folder = kind == VaultTableItemKind::Directory || kind == VaultTableItemKind::ParentDirectory;
    return ok && folder ? currentRowPath() : QString();
}

bool VaultBrowser::selectedItemIsDirectory() const
{
    bool ok = false;
    return currentRowKind(&ok) == VaultTableItemKind::Directory && ok;
}

bool VaultBrowser::selectedItemIsParentDirectory() const
{
    bool ok = false;
    return currentRowKind(&ok) == VaultTableItemKind::ParentDirectory && ok;
}

void VaultBrowser::enterSelectedDirectory()
{
    const QString selected = selectedDirectoryPath();
    if (!selected.isEmpty())
        m_directory = selected;
    emit viewChanged();
}

void VaultBrowser::navigateToParentDirectory()
{
    m_directory = VaultPath::parent(m_directory);
    emit viewChanged();
}

void VaultBrowser::onHeaderSectionClicked(int column)
{
    if (column == 0)
        return;
    if (column != m_sortColumn) {
        m_sortColumn = column;
        m_sortOrder = Qt::AscendingOrder;
    } else {
        m_sortOrder = m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    }
    m_vaultTable->horizontalHeader()->setSortIndicator(m_sortColumn, m_sortOrder);
    emit viewChanged();
}

void VaultBrowser::onItemDoubleClicked(QTableWidgetItem* item)
{
    if (item)
        activateRow(item->row());
}

bool VaultBrowser::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_vaultTable || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & ~Qt::KeypadModifier)
        return false;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        activateRow(m_vaultTable->currentRow());
        return true;
    case Qt::Key_Backspace:
        if (m_vaultOpen && !m_directory.isEmpty())
            navigateToParentDirectory();
        return true;
    case Qt::Key_F2:
        emit renameRequested();
        return true;
    case Qt::Key_Delete:
        emit deleteRequested();
        return true;
    default:
        return false;
    }
}

void VaultBrowser::activateRow(int row)
{
    const QTableWidgetItem* nameCell = row >= 0 ? m_vaultTable->item(row, 1) : nullptr;
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
        emit fileActivated();
        break;
    }
}

void VaultBrowser::onContextMenuRequested(const QPoint& position)
{
    const int row = m_vaultTable->rowAt(position.y());
    if (row >= 0)
        m_vaultTable->selectRow(row);
    emit contextMenuRequested(m_vaultTable->viewport()->mapToGlobal(position));
}

} // namespace Keldra::UI
