#pragma once

#include "VaultBrowserRows.h"

#include "format/SecureFileIndex.h"

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

class QLabel;
class QTableWidget;
class QTableWidgetItem;

namespace Keldra::UI {

// One folder of the open vault at a time: the line that names it, then a
// table with the ".." row, the subfolders and the files, each group in the
// order of the column chosen. It shows the index it is handed and reports
// what the user asks; it never changes the vault.
class VaultBrowser : public QWidget
{
    Q_OBJECT

public:
    explicit VaultBrowser(QWidget* parent = nullptr);

    // Rebuilds the rows of the folder shown; null when no vault is open (no rows).
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

    // Path of the current row when it is a file, else empty.
    QString selectedVaultPath() const;
    // Path of the current row when it is a folder or "..", else empty.
    QString selectedDirectoryPath() const;
    bool selectedItemIsDirectory() const;
    bool selectedItemIsParentDirectory() const;

    QTableWidget* table() const { return m_vaultTable; }

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
    // Double-click or Enter: into a folder, up from "..", or open a file.
    void activateRow(int row);
    void onHeaderSectionClicked(int column);
    void onItemDoubleClicked(QTableWidgetItem* item);
    void onContextMenuRequested(const QPoint& position);
    VaultTableItemKind currentRowKind(bool* ok) const;
    QString currentRowPath() const;

    QLabel* m_summaryLabel = nullptr;
    QTableWidget* m_vaultTable = nullptr;
    QString m_directory;
    int m_sortColumn = 1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_vaultOpen = false;
};

} // namespace Keldra::UI
