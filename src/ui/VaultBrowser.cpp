#include "ui/VaultBrowser.h"

#include "core/vault/VaultPath.h"
#include "ui/VaultBrowserUtils.h"
#include "ui/VaultTableDropTarget.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace Keldra::UI {

using Core::VaultPath;

namespace {

// Left-aligned text needs no alignment of its own: that is the view's default.
QTableWidgetItem* makeCell(const QString& text, Qt::Alignment alignment = {})
{
    auto* item = new QTableWidgetItem(text);
    if (alignment)
        item->setTextAlignment(alignment);
    return item;
}

// Whether `path` lies directly in `folder` (the root when empty), without
// copying its parent out of it: this runs for every entry of the vault.
bool isDirectlyIn(const QString& path, const QString& folder)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QStringView parent = slash <= 0 ? QStringView() : QStringView(path).left(slash);
    return parent.compare(folder, Qt::CaseInsensitive) == 0;
}

// A search result's folder, as the summary line names it.
QString folderLabel(const QString& path)
{
    const QString parent = VaultPath::parent(path);
    return parent.isEmpty() ? QStringLiteral("Raiz") : parent;
}

// Fills `row`, which the caller has already made room for: inserting rows one
// by one costs a model change each, which dominates with thousands of files.
void setRow(QTableWidget* table, int row, VaultTableItemKind kind, const QString& path, const QIcon& icon,
            const QString& name, const QString& size, const QString& type, const QString& date,
            const QString& folder = QString())
{
    // The row's path and kind live on the name cell only: every extra value
    // costs an allocation per cell, thousands of times in a large folder.
    auto* iconCell = makeCell(QString(), Qt::AlignCenter);
    iconCell->setIcon(icon);
    auto* nameCell = makeCell(name);
    nameCell->setData(VaultPathRole, path);
    nameCell->setData(VaultKindRole, int(kind));
    auto* sizeCell = makeCell(size, Qt::AlignRight | Qt::AlignVCenter);
    auto* typeCell = makeCell(type, Qt::AlignCenter);
    auto* dateCell = makeCell(date, Qt::AlignCenter);

    table->setItem(row, 0, iconCell);
    table->setItem(row, 1, nameCell);
    table->setItem(row, 2, sizeCell);
    table->setItem(row, 3, typeCell);
    table->setItem(row, 4, dateCell);
    if (!folder.isEmpty()) {
        nameCell->setToolTip(path);
        auto* folderCell = makeCell(folder);
        folderCell->setToolTip(folder);
        table->setItem(row, VaultBrowser::kFolderColumn, folderCell);
    }
}

} // namespace

VaultBrowser::VaultBrowser(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    m_summaryLabel = new QLabel(this);
    m_summaryLabel->setObjectName(QStringLiteral("protectedFilesLabel"));
    buildSearchBox();
    auto* topLine = new QHBoxLayout;
    topLine->addWidget(m_summaryLabel, 1);
    topLine->addWidget(m_searchBox);
    layout->addLayout(topLine);

    buildTable();
    layout->addWidget(m_vaultTable);
    m_searchNote = new QLabel(this);
    m_searchNote->setObjectName(QStringLiteral("vaultSearchNote"));
    m_searchNote->hide();
    layout->addWidget(m_searchNote);

    connect(m_vaultTable, &QTableWidget::itemSelectionChanged, this, &VaultBrowser::selectionChanged);
    connect(m_vaultTable->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &VaultBrowser::onHeaderSectionClicked);
    connect(m_vaultTable, &QTableWidget::itemDoubleClicked, this, &VaultBrowser::onItemDoubleClicked);
    connect(m_vaultTable, &QTableWidget::customContextMenuRequested, this,
            &VaultBrowser::onContextMenuRequested);
    m_vaultTable->installEventFilter(this);
    m_searchBox->installEventFilter(this);
    connect(m_searchBox, &QLineEdit::textChanged, this, &VaultBrowser::onSearchTextChanged);
    connect(m_searchBox, &QLineEdit::returnPressed, this, [this] {
        if (m_vaultTable->rowCount() == 0)
            return;
        const int row = qMax(0, m_vaultTable->currentRow());
        m_vaultTable->setCurrentCell(row, 1);
        activateRow(row);
    });
    auto* findShortcut = new QShortcut(QKeySequence::Find, this);
    connect(findShortcut, &QShortcut::activated, this, [this] {
        m_searchBox->setFocus(Qt::ShortcutFocusReason);
        m_searchBox->selectAll();
    });
    setSearchAvailable(false);
    new VaultTableDropTarget(
        m_vaultTable, [this] { return m_vaultOpen; },
        [this](const QStringList& paths) { emit pathsDropped(paths); });
}

void VaultBrowser::buildSearchBox()
{
    m_searchBox = new QLineEdit(this);
    m_searchBox->setObjectName(QStringLiteral("vaultSearchBox"));
    m_searchBox->setPlaceholderText(QStringLiteral("Buscar no cofre..."));
    m_searchBox->setToolTip(QStringLiteral("Pesquisar arquivos e pastas em todo o cofre pelo nome (Ctrl+F). "
                                           "Enter abre o resultado; Esc volta à pasta."));
    m_searchBox->setClearButtonEnabled(true);
    m_searchBox->setMinimumWidth(260);
}

void VaultBrowser::buildTable()
{
    m_vaultTable = new QTableWidget(0, 6, this);
    m_vaultTable->setObjectName(QStringLiteral("vaultTable"));
    m_vaultTable->setHorizontalHeaderLabels({QString(), QStringLiteral("Nome do arquivo"),
                                             QStringLiteral("Tamanho"), QStringLiteral("Tipo"),
                                             QStringLiteral("Modificado em"), QStringLiteral("Pasta")});
    m_vaultTable->setMinimumHeight(220);
    m_vaultTable->setContextMenuPolicy(Qt::CustomContextMenu);
    m_vaultTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Keyboard users move through the rows with the arrows; Tab leaves the
    // table for the next control instead of walking its cells.
    m_vaultTable->setFocusPolicy(Qt::StrongFocus);
    m_vaultTable->setTabKeyNavigation(false);
    m_vaultTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Ctrl, Shift and Ctrl+A pick many rows for export, move and delete.
    m_vaultTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
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
    // Shown beside the name, and only while searching.
    header->setSectionResizeMode(kFolderColumn, QHeaderView::Interactive);
    header->moveSection(kFolderColumn, 2);
    m_vaultTable->setColumnWidth(kFolderColumn, 220);
    m_vaultTable->setColumnHidden(kFolderColumn, true);
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
    if (!index) {
        // A locked vault's check says nothing about the next one opened.
        m_damaged.clear();
        m_damagedPaths.clear();
        m_leftDirectory.clear();
        return;
    }
    m_damagedPaths.clear();
    if (!m_damaged.isEmpty()) {
        for (const Core::VaultFileEntry& file : index->entries()) {
            for (const DamagedFile& damaged : std::as_const(m_damaged)) {
                if (damaged.id == file.id && damaged.sha256 == file.sha256)
                    m_damagedPaths.insert(file.vaultPath.toLower());
            }
        }
    }
    m_search.setIndex(index);
    if (isSearching()) {
        showSearchResults();
        return;
    }

    const QString folderType = QStringLiteral("Pasta");

    QList<Core::VaultDirectoryEntry> folders;
    for (const Core::VaultDirectoryEntry& folder : index->directories()) {
        if (isDirectlyIn(folder.path, m_directory))
            folders.append(folder);
    }
    sortVaultRows(folders, m_sortColumn, m_sortOrder);
    QList<Core::VaultFileEntry> files;
    for (const Core::VaultFileEntry& file : index->entries()) {
        if (isDirectlyIn(file.vaultPath, m_directory))
            files.append(file);
    }
    sortVaultRows(files, m_sortColumn, m_sortOrder);

    const QSignalBlocker blocker(m_vaultTable);
    m_vaultTable->setUpdatesEnabled(false);
    m_vaultTable->setRowCount(int(folders.size() + files.size()) + (m_directory.isEmpty() ? 0 : 1));
    int row = 0;
    if (!m_directory.isEmpty()) {
        const QString parent = VaultPath::parent(m_directory);
        setRow(m_vaultTable, row++, VaultTableItemKind::ParentDirectory, parent,
               vaultItemIcon(VaultTableItemKind::ParentDirectory, parent), QStringLiteral(".."), QString(),
               folderType, QString());
    }

    for (const Core::VaultDirectoryEntry& folder : folders) {
        setRow(m_vaultTable, row++, VaultTableItemKind::Directory, folder.path,
               vaultItemIcon(VaultTableItemKind::Directory, folder.path), VaultPath::baseName(folder.path),
               QString(), folderType, formatFileDate(folder.modifiedUtc));
    }

    for (const Core::VaultFileEntry& file : files) {
        setRow(m_vaultTable, row++, VaultTableItemKind::File, file.vaultPath,
               vaultItemIcon(VaultTableItemKind::File, file.vaultPath), VaultPath::baseName(file.vaultPath),
               formatFileSize(file.sizeBytes), fileTypeLabel(file.vaultPath),
               formatFileDate(file.lastModifiedUtc));
    }
    m_vaultTable->setUpdatesEnabled(true);

    m_vaultTable->clearSelection();
    m_vaultTable->setCurrentCell(-1, -1);
    markDamagedRows();
    // After going up, the folder just left stays under the cursor.
    if (!m_leftDirectory.isEmpty())
        selectPath(m_leftDirectory);
    m_leftDirectory.clear();
}

void VaultBrowser::showSummary(const Core::SecureFileIndex* index)
{
    m_vaultOpen = index != nullptr;
    setSearchAvailable(m_vaultOpen);
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
    if (isSearching()) {
        m_summaryLabel->setText(
            QStringLiteral("Arquivos protegidos | Busca em todo o cofre | %1").arg(files));
        return;
    }
    const QString folder = m_directory.isEmpty() ? QStringLiteral("Raiz") : m_directory;
    m_summaryLabel->setText(QStringLiteral("Arquivos protegidos | Pasta: %1 | %2").arg(folder, files));
}

bool VaultBrowser::isSearching() const
{
    return !m_searchBox->text().trimmed().isEmpty();
}

void VaultBrowser::setSearchAvailable(bool available)
{
    if (available) {
        m_searchBox->setEnabled(true);
        return;
    }
    // Nothing of a locked vault stays on screen, its names included.
    resetSearch();
    m_search.clear();
    m_searchBox->setEnabled(false);
}

void VaultBrowser::resetSearch()
{
    if (!m_searchBox->text().isEmpty()) {
        const QSignalBlocker blocker(m_searchBox);
        m_searchBox->clear();
    }
    m_searchNote->hide();
    updateSearchColumns();
}

void VaultBrowser::updateSearchColumns()
{
    const bool searching = isSearching();
    m_vaultTable->setColumnHidden(kFolderColumn, !searching);
    // Results come in name order, folders first; the columns do not re-sort them.
    m_vaultTable->horizontalHeader()->setSortIndicatorShown(!searching);
}

void VaultBrowser::onSearchTextChanged()
{
    if (!m_vaultOpen)
        return;
    if (isSearching()) {
        showSearchResults();
        emit selectionChanged();
        return;
    }
    resetSearch();
    // Back to the folder: the window hands the index again.
    emit viewChanged();
}

void VaultBrowser::showSearchResults()
{
    m_vaultTable->setRowCount(0);
    m_vaultTable->clearSelection();
    m_vaultTable->setCurrentCell(-1, -1);
    updateSearchColumns();

    // A table row costs far more than a comparison: ten thousand rows take
    // several hundred milliseconds to build, ten thousand names about one to
    // compare. So every name is compared, for an exact count, but only the
    // first rows are built, which keeps a keystroke well under 50 ms; a
    // longer query narrows the list.
    qsizetype total = 0;
    const QList<VaultSearch::Item> found = m_search.find(m_searchBox->text(), kSearchRowLimit, &total);
    const QSignalBlocker blocker(m_vaultTable);
    m_vaultTable->setUpdatesEnabled(false);
    m_vaultTable->setRowCount(int(found.size()));
    int row = 0;
    for (const VaultSearch::Item& item : found) {
        const QString name = VaultPath::baseName(item.path);
        if (item.isDirectory) {
            setRow(m_vaultTable, row++, VaultTableItemKind::Directory, item.path,
                   vaultItemIcon(VaultTableItemKind::Directory, item.path), name, QString(),
                   QStringLiteral("Pasta"), formatFileDate(item.modifiedUtc), folderLabel(item.path));
        } else {
            setRow(m_vaultTable, row++, VaultTableItemKind::File, item.path,
                   vaultItemIcon(VaultTableItemKind::File, item.path), name, formatFileSize(item.sizeBytes),
                   fileTypeLabel(item.path), formatFileDate(item.modifiedUtc), folderLabel(item.path));
        }
    }
    m_vaultTable->setUpdatesEnabled(true);
    m_vaultTable->clearSelection();
    m_vaultTable->setCurrentCell(-1, -1);
    markDamagedRows();

    if (total == 0)
        m_searchNote->setText(QStringLiteral("Nenhum arquivo ou pasta com esse nome."));
    else if (total > found.size())
        m_searchNote->setText(
            QStringLiteral("e mais %1 resultados; refine a busca.").arg(total - found.size()));
    m_searchNote->setVisible(total == 0 || total > found.size());
}

QList<int> VaultBrowser::selectedRows() const
{
    QList<int> rows;
    const QModelIndexList indexes = m_vaultTable->selectionModel()->selectedRows(1);
    for (const QModelIndex& index : indexes)
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int VaultBrowser::activeRow() const
{
    // Ctrl+click can leave the current row unselected: the commands must
    // then act on the row the user still sees selected, not on that one.
    const int current = m_vaultTable->currentRow();
    if (current >= 0 && m_vaultTable->selectionModel()->isRowSelected(current, QModelIndex()))
        return current;
    const QList<int> rows = selectedRows();
    return rows.size() == 1 ? rows.first() : -1;
}

QStringList VaultBrowser::selectedItemPaths() const
{
    QStringList paths;
    const QList<int> rows = selectedRows();
    for (const int row : rows) {
        const QTableWidgetItem* nameCell = m_vaultTable->item(row, 1);
        if (nameCell &&
            VaultTableItemKind(nameCell->data(VaultKindRole).toInt()) != VaultTableItemKind::ParentDirectory)
            paths.append(nameCell->data(VaultPathRole).toString());
    }
    return paths;
}

bool VaultBrowser::selectionHasFolder() const
{
    const QList<int> rows = selectedRows();
    for (const int row : rows) {
        const QTableWidgetItem* nameCell = m_vaultTable->item(row, 1);
        if (nameCell &&
            VaultTableItemKind(nameCell->data(VaultKindRole).toInt()) == VaultTableItemKind::Directory)
            return true;
    }
    return false;
}

VaultTableItemKind VaultBrowser::currentRowKind(bool* ok) const
{
    const int row = activeRow();
    const QTableWidgetItem* nameCell = row >= 0 ? m_vaultTable->item(row, 1) : nullptr;
    *ok = nameCell != nullptr;
    return nameCell ? VaultTableItemKind(nameCell->data(VaultKindRole).toInt()) : VaultTableItemKind::File;
}

QString VaultBrowser::currentRowPath() const
{
    const int row = activeRow();
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
    // A folder found by a search opens as the folder view.
    resetSearch();
    emit viewChanged();
}

void VaultBrowser::navigateToParentDirectory()
{
    m_leftDirectory = m_directory;
    m_directory = VaultPath::parent(m_directory);
    emit viewChanged();
}

void VaultBrowser::onHeaderSectionClicked(int column)
{
    if (column == 0 || isSearching())
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
    if ((watched != m_vaultTable && watched != m_searchBox) || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    // Shift+F10 is the keyboard's other way to the context menu.
    if (watched == m_vaultTable && key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
        const QTableWidgetItem* current = m_vaultTable->currentItem();
        const QRect cell = current ? m_vaultTable->visualItemRect(current) : QRect();
        onContextMenuRequested(cell.isValid() ? cell.center() : QPoint(0, 0));
        return true;
    }
    if (key->modifiers() & ~Qt::KeypadModifier)
        return false;
    if (key->key() == Qt::Key_Escape && isSearching()) {
        m_searchBox->clear();
        return true;
    }
    if (watched == m_searchBox) {
        // Down walks from the box into the results.
        if (key->key() != Qt::Key_Down || m_vaultTable->rowCount() == 0)
            return false;
        m_vaultTable->setFocus(Qt::OtherFocusReason);
        m_vaultTable->setCurrentCell(qMax(0, m_vaultTable->currentRow()), 1);
        return true;
    }
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        activateRow(m_vaultTable->currentRow());
        return true;
    case Qt::Key_Backspace:
        // Search results stand in no folder to go up from.
        if (m_vaultOpen && !m_directory.isEmpty() && !isSearching())
            navigateToParentDirectory();
        return true;
    case Qt::Key_F2:
        emit renameRequested();
        return true;
    case Qt::Key_Delete:
        emit deleteRequested();
        return true;
    case Qt::Key_Home:
    case Qt::Key_End:
        // Rows, not the cells of the current row.
        if (m_vaultTable->rowCount() > 0)
            m_vaultTable->setCurrentCell(key->key() == Qt::Key_Home ? 0 : m_vaultTable->rowCount() - 1, 1);
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
    // A click inside the selection keeps it, so the menu acts on all of it.
    if (row >= 0 && !m_vaultTable->selectionModel()->isRowSelected(row, QModelIndex()))
        m_vaultTable->selectRow(row);
    emit contextMenuRequested(m_vaultTable->viewport()->mapToGlobal(position));
}

void VaultBrowser::selectPath(const QString& path)
{
    for (int row = 0; row < m_vaultTable->rowCount(); ++row) {
        const QTableWidgetItem* nameCell = m_vaultTable->item(row, 1);
        if (nameCell &&
            VaultTableItemKind(nameCell->data(VaultKindRole).toInt()) !=
                VaultTableItemKind::ParentDirectory &&
            nameCell->data(VaultPathRole).toString().compare(path, Qt::CaseInsensitive) == 0) {
            m_vaultTable->setCurrentCell(row, 1);
            return;
        }
    }
}

void VaultBrowser::selectRowNear(int row)
{
    const int rows = m_vaultTable->rowCount();
    if (row < 0 || rows == 0)
        return;
    m_vaultTable->setCurrentCell(qMin(row, rows - 1), 1);
}

void VaultBrowser::markDamagedRows()
{
    if (m_damagedPaths.isEmpty())
        return;
    const QIcon icon = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    const QString tip = QStringLiteral("A verificação de integridade encontrou este arquivo danificado: "
                                       "o conteúdo não confere com o que o cofre registrou.");
    for (int row = 0; row < m_vaultTable->rowCount(); ++row) {
        QTableWidgetItem* iconCell = m_vaultTable->item(row, 0);
        QTableWidgetItem* nameCell = m_vaultTable->item(row, 1);
        if (!iconCell || !nameCell ||
            VaultTableItemKind(nameCell->data(VaultKindRole).toInt()) != VaultTableItemKind::File)
            continue;
        const QString path = nameCell->data(VaultPathRole).toString();
        if (!m_damagedPaths.contains(path.toLower()))
            continue;
        iconCell->setIcon(icon);
        iconCell->setToolTip(tip);
        nameCell->setToolTip(QStringLiteral("%1\n%2").arg(path, tip));
    }
}

} // namespace Keldra::UI
