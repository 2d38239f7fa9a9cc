#pragma once

#include "ui/VaultBrowserRows.h"
#include "ui/VaultSearch.h"

#include "core/format/SecureFileIndex.h"

#include <QPoint>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

class QLabel;
class QLineEdit;
class QTableWidget;
class QTableWidgetItem;

namespace Keldra::UI {

// One folder of the open vault at a time: the line that names it, then a
// table with the ".." row, the subfolders and the files, each group in the
// order of the column chosen. While the search box holds text the table
// lists the matching files and folders of the whole vault instead, each with
// its folder. It shows the index it is handed and reports what the user
// asks; it never changes the vault.
class VaultBrowser : public QWidget
{
    Q_OBJECT

public:
    explicit VaultBrowser(QWidget* parent = nullptr);

    // Rebuilds the rows of the folder shown, or of the search; null when no
    // vault is open (no rows, search cleared and disabled).
    void showIndex(const Core::SecureFileIndex* index);
    // The line above the table: the folder shown and the files of the whole
    // vault; null when no vault is open.
    void showSummary(const Core::SecureFileIndex* index);

    // Vault path of the folder shown; empty = root.
    QString currentDirectory() const { return m_directory; }
    // Takes effect at the next showIndex.
    void setCurrentDirectory(const QString& path) { m_directory = path; }
    // Both change the folder shown and emit viewChanged.
    void enterSelectedDirectory();
    void navigateToParentDirectory();
    // Makes the row of that file or folder current; none when it is not shown.
    void selectPath(const QString& path);
    // Makes that row current, or the last one when fewer rows are left: the
    // row that took the place of one just removed.
    void selectRowNear(int row);

    // Files the integrity check found damaged, by entry id and the SHA-256
    // the index held: marked in the rows (icon and tooltip) from the next
    // showIndex until the vault is locked (showIndex(nullptr)). A renamed
    // file keeps its mark; a replaced one, whose content changed, loses it.
    struct DamagedFile
    {
        QString id;
        QByteArray sha256;
    };
    void setDamagedFiles(const QList<DamagedFile>& files) { m_damaged = files; }

    // The single-row getters below read the current row when it is selected,
    // else the only selected row; with several rows selected they read the
    // current one, so callers check selectedItemCount() first.
    // Path of the current row when it is a file, else empty.
    QString selectedVaultPath() const;
    // Path of the current row when it is a folder or "..", else empty.
    QString selectedDirectoryPath() const;
    bool selectedItemIsDirectory() const;
    bool selectedItemIsParentDirectory() const;
    // Every selected file and folder (never ".."), in table order.
    QStringList selectedItemPaths() const;
    int selectedItemCount() const { return int(selectedItemPaths().size()); }
    // Whether any of selectedItemPaths() is a folder.
    bool selectionHasFolder() const;

    QTableWidget* table() const { return m_vaultTable; }
    QLineEdit* searchBox() const { return m_searchBox; }
    // The table lists search results rather than the folder.
    bool isSearching() const;

    // Rows a search shows at most: see showSearchResults.
    static constexpr int kSearchRowLimit = 500;
    // Logical column of a search result's folder, hidden outside searches.
    static constexpr int kFolderColumn = 5;

signals:
    void selectionChanged();
    // The folder shown or the order changed: the rows must be rebuilt.
    void viewChanged();
    // A file row was double-clicked; it is the current row.
    void fileActivated();
    void contextMenuRequested(const QPoint& globalPosition);
    // F2 and Delete on the table; the window decides what applies to the row.
    void renameRequested();
    void deleteRequested();
    // Local files and folders dropped while a vault is shown (the last
    // showIndex or showSummary had an index); drops are refused otherwise.
    void pathsDropped(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildTable();
    void buildSearchBox();
    void onSearchTextChanged();
    void showSearchResults();
    // Empties the box without rebuilding the rows; the caller does that.
    void resetSearch();
    void setSearchAvailable(bool available);
    void updateSearchColumns();
    // Double-click or Enter: into a folder, up from "..", or open a file.
    void activateRow(int row);
    void onHeaderSectionClicked(int column);
    void onItemDoubleClicked(QTableWidgetItem* item);
    void onContextMenuRequested(const QPoint& position);
    // The row the single-row getters read, -1 for none.
    int activeRow() const;
    QList<int> selectedRows() const;
    VaultTableItemKind currentRowKind(bool* ok) const;
    QString currentRowPath() const;
    void markDamagedRows();

    QLabel* m_summaryLabel = nullptr;
    QLineEdit* m_searchBox = nullptr;
    // Below the table: nothing found, or how many matches were left out.
    QLabel* m_searchNote = nullptr;
    VaultSearch m_search;
    QTableWidget* m_vaultTable = nullptr;
    QString m_directory;
    int m_sortColumn = 1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_vaultOpen = false;
    // The folder navigateToParentDirectory left, selected once its parent is shown.
    QString m_leftDirectory;
    QList<DamagedFile> m_damaged;
    // Their paths in the index last shown, lower case.
    QSet<QString> m_damagedPaths;
};

} // namespace Keldra::UI
