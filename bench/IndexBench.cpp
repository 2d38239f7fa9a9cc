#include "IndexBench.h"

#include "VaultGenerator.h"
#include "core/format/ContainerFormat.h"
#include "core/vault/VaultManager.h"
#include "platform/DeviceManager.h"
#include "ui/MainWindow.h"
#include "ui/VaultBrowser.h"
#include "widgets/DialogHooks.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

namespace Keldra::Bench {

namespace {

namespace ContainerFormat = Core::ContainerFormat;

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double elapsedMs(const std::function<bool()>& operation, bool* ok)
{
    QElapsedTimer timer;
    timer.start();
    *ok = operation() && *ok;
    return double(timer.nsecsElapsed()) / 1e6;
}

qint64 headerLength(const QString& containerPath)
{
    QFile file(containerPath);
    if (!file.open(QIODevice::ReadOnly) || file.read(ContainerFormat::MagicSize) != ContainerFormat::Magic)
        return -1;
    return file.readLine(64).trimmed().toLongLong();
}

bool writeAndSync(int fd, const QByteArray& bytes, off_t offset)
{
    return pwrite(fd, bytes.constData(), size_t(bytes.size()), offset) == bytes.size() && fsync(fd) == 0;
}

bool syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool ok = fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

IndexBench::IndexBench(QString containerPath, QByteArray password, int runs)
    : m_containerPath(std::move(containerPath)), m_password(std::move(password)), m_runs(qMax(1, runs))
{
}

bool IndexBench::run(QTextStream& out, QString* error)
{
    return measureWindow(out, error) && measureVault(out, error);
}

bool IndexBench::measureWindow(QTextStream& out, QString* error)
{
    using Widgets::DialogHooks;
    DialogHooks::setTestMode(true);
    UI::MainWindow window(std::unique_ptr<Platform::DeviceManager>{});
    DialogHooks::queueFileName(m_containerPath);
    window.chooseContainer();
    DialogHooks::queueText(QString::fromUtf8(m_password));
    bool ok = true;
    out << "window_unlock_ms "
        << elapsedMs(
               [&] {
                   // The key derivation runs on the window's worker.
                   window.unlockVault();
                   window.session().waitForIdle();
                   return true;
               },
               &ok)
        << '\n';
    QTableWidget* table = window.vaultBrowser()->table();
    if (window.vault().state() != Core::VaultState::Unlocked) {
        *error = QStringLiteral("the window did not unlock the vault");
        return false;
    }

    std::vector<double> root;
    for (int i = 0; i < m_runs; ++i)
        root.push_back(elapsedMs(
            [&] {
                window.refreshVaultFiles();
                return true;
            },
            &ok));
    out << "list_root_rows " << table->rowCount() << '\n';
    out << "list_root_ms " << median(root) << '\n';

    // Enter the first folder the way a double-click does.
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem* name = table->item(row, 1);
        if (name && name->data(UI::VaultKindRole).toInt() == int(UI::VaultTableItemKind::Directory)) {
            table->setCurrentCell(row, 1);
            break;
        }
    }
    window.vaultBrowser()->enterSelectedDirectory();
    if (window.vaultBrowser()->currentDirectory().isEmpty()) {
        *error = QStringLiteral("no folder to list");
        return false;
    }
    std::vector<double> folder;
    for (int i = 0; i < m_runs; ++i)
        folder.push_back(elapsedMs(
            [&] {
                window.refreshVaultFiles();
                return true;
            },
            &ok));
    out << "list_folder_rows " << table->rowCount() << '\n';
    out << "list_folder_ms " << median(folder) << '\n';
    return measureOpenAndSearch(window, out, error) &&
           measureFlatFolder(window.vault().fileIndex().entries().size(), out);
}

bool IndexBench::measureOpenAndSearch(UI::MainWindow& window, QTextStream& out, QString* error)
{
    UI::VaultBrowser* browser = window.vaultBrowser();
    QTableWidget* table = browser->table();
    const QString folderPath = browser->currentDirectory();
    const QString folderName = folderPath.section(QLatin1Char('/'), -1);
    // Opening a folder as a double-click does: from the row to its rows shown.
    std::vector<double> opening;
    bool ok = true;
    for (int i = 0; i < m_runs && ok; ++i) {
        browser->navigateToParentDirectory();
        ok = false;
        for (int row = 0; row < table->rowCount(); ++row) {
            if (table->item(row, 1) && table->item(row, 1)->text() == folderName) {
                table->setCurrentCell(row, 1);
                ok = true;
                break;
            }
        }
        opening.push_back(elapsedMs(
            [&] {
                browser->enterSelectedDirectory();
                return browser->currentDirectory() == folderPath;
            },
            &ok));
    }
    if (!ok) {
        *error = QStringLiteral("the folder could not be opened again");
        return false;
    }
    out << "open_folder_ms " << median(opening) << '\n';

    // A query typed key by key across the whole vault, narrowing from every
    // file to one; each run keeps its slowest keystroke.
    const QList<Core::VaultFileEntry> entries = window.vault().fileIndex().entries();
    if (entries.isEmpty()) {
        *error = QStringLiteral("no file to search for");
        return false;
    }
    const QString query = entries.last().vaultPath.section(QLatin1Char('/'), -1);
    QLineEdit* box = browser->searchBox();
    std::vector<double> keystrokes;
    for (int i = 0; i < m_runs; ++i) {
        box->clear();
        QCoreApplication::processEvents();
        double slowest = 0;
        for (int length = 1; length <= query.size(); ++length) {
            slowest = std::max(slowest, elapsedMs(
                                            [&] {
                                                box->setText(query.left(length));
                                                QCoreApplication::processEvents();
                                                return true;
                                            },
                                            &ok));
        }
        keystrokes.push_back(slowest);
    }
    out << "search_rows " << table->rowCount() << '\n';
    out << "search_keystroke_ms " << median(keystrokes) << '\n';
    box->clear();
    return true;
}

bool IndexBench::measureFlatFolder(qsizetype fileCount, QTextStream& out)
{
    // The same number of files in a single folder: every one is a row.
    Core::SecureFileIndex index;
    const QDateTime when = QDateTime::currentDateTimeUtc();
    index.addDirectory({QStringLiteral("Todos"), when, when});
    for (qsizetype n = 0; n < fileCount; ++n) {
        Core::VaultFileEntry entry;
        entry.id = QString::number(n);
        entry.vaultPath = QStringLiteral("Todos/file-%1.txt").arg(n, 5, 10, QLatin1Char('0'));
        entry.sizeBytes = 1024;
        entry.lastModifiedUtc = when;
        index.addOrReplace(entry);
    }
    UI::VaultBrowser browser;
    browser.resize(900, 500);
    browser.setCurrentDirectory(QStringLiteral("Todos"));
    std::vector<double> listing;
    bool ok = true;
    for (int i = 0; i < m_runs; ++i)
        listing.push_back(elapsedMs(
            [&] {
                browser.showIndex(&index);
                return true;
            },
            &ok));
    out << "list_flat_folder_rows " << browser.table()->rowCount() << '\n';
    out << "list_flat_folder_ms " << median(listing) << '\n';
    return true;
}

bool IndexBench::measureVault(QTextStream& out, QString* error)
{
    Core::VaultManager vault;
    bool ok = true;
    out << "vault_unlock_ms "
        << elapsedMs([&] { return vault.unlockVault(m_containerPath, m_password); }, &ok) << '\n';
    if (!ok) {
        *error = QStringLiteral("unlock failed");
        return false;
    }
    const QList<Core::VaultFileEntry> entries = vault.fileIndex().entries();
    if (entries.size() < m_runs) {
        *error = QStringLiteral("too few files in the vault");
        return false;
    }
    out << "files " << entries.size() << '\n';
    out << "header_bytes " << headerLength(m_containerPath) << '\n';

    QTemporaryDir scratch;
    const QString smallFile = scratch.filePath(QStringLiteral("small.bin"));
    QFile small(smallFile);
    if (!small.open(QIODevice::WriteOnly) || small.write(QByteArray(4096, 'x')) != 4096) {
        *error = QStringLiteral("cannot write the small source file");
        return false;
    }
    small.close();

    std::vector<double> renames, imports, folders, deletes;
    for (int i = 0; i < m_runs; ++i) {
        const QString from = entries.at(i).vaultPath;
        renames.push_back(
            elapsedMs([&] { return vault.renameFile(from, from + QStringLiteral(".renamed")); }, &ok));
        imports.push_back(elapsedMs(
            [&] { return vault.importFile(smallFile, QStringLiteral("d000/imported-%1.bin").arg(i)); }, &ok));
        folders.push_back(
            elapsedMs([&] { return vault.createDirectory(QStringLiteral("bench-folder-%1").arg(i)); }, &ok));
        deletes.push_back(elapsedMs([&] { return vault.deleteFile(entries.at(m_runs + i).vaultPath); }, &ok));
    }
    if (!ok) {
        *error = QStringLiteral("a vault operation failed");
        return false;
    }
    out << "rename_ms " << median(renames) << '\n';
    out << "import_small_ms " << median(imports) << '\n';
    out << "mkdir_ms " << median(folders) << '\n';
    out << "delete_ms " << median(deletes) << '\n';
    out << "drive_header_write_ms " << driveBaselineMs(headerLength(m_containerPath)) << '\n';
    (void)vault.lockVault();
    return true;
}

// What the drive needs for one journaled header change of this size: the
// journal (old and new bytes) written and synced with its folder, the header
// written in place and synced, the journal removed and the folder synced.
double IndexBench::driveBaselineMs(qint64 headerBytes) const
{
    const QString folder = QFileInfo(m_containerPath).absolutePath();
    const QString target = QDir(folder).filePath(QStringLiteral("bench-drive-baseline"));
    const QString journal = target + QStringLiteral("-journal");
    const QByteArray header(int(headerBytes), 'h');
    const QByteArray journalBytes(int(2 * headerBytes + 128), 'j');
    std::vector<double> times;
    const int fd = ::open(QFile::encodeName(target).constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return -1;
    bool ok = writeAndSync(fd, QByteArray(int(headerBytes + 28), '\0'), 0);
    for (int i = 0; i < m_runs && ok; ++i) {
        times.push_back(elapsedMs(
            [&] {
                const int j =
                    ::open(QFile::encodeName(journal).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                bool done = j >= 0 && writeAndSync(j, journalBytes, 0) && syncFolder(folder);
                if (j >= 0)
                    ::close(j);
                done = done && writeAndSync(fd, header, 28);
                done = done && ::unlink(QFile::encodeName(journal).constData()) == 0 && syncFolder(folder);
                return done;
            },
            &ok));
    }
    ::close(fd);
    QFile::remove(target);
    return ok ? median(times) : -1;
}

} // namespace Keldra::Bench
