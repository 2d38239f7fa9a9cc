#pragma once

// Helpers for tests that drive the file commands of a real, unlocked vault
// through the dialog hooks.

#include "FakeDeviceManager.h"
#include "TestFiles.h"
#include "ui/MainWindow.h"
#include "ui/VaultBrowser.h"
#include "widgets/DialogHooks.h"

#include <QFile>
#include <QStatusBar>
#include <QTableWidget>

#include <memory>

namespace VaultWindowFixture {

using Keldra::Widgets::DialogHooks;

inline const QString kPassword = QStringLiteral("senha-de-teste-123");

using TestSupport::readFile;
using TestSupport::writeFile;

inline QStringList texts(const QList<DialogHooks::Record>& records, DialogHooks::Kind kind)
{
    QStringList result;
    for (const DialogHooks::Record& record : records) {
        if (record.kind == kind)
            result << record.text;
    }
    return result;
}

inline QStringList titles(const QList<DialogHooks::Record>& records, DialogHooks::Kind kind)
{
    QStringList result;
    for (const DialogHooks::Record& record : records) {
        if (record.kind == kind)
            result << record.title;
    }
    return result;
}

inline QStringList distinctTitles(const QList<DialogHooks::Record>& records, DialogHooks::Kind kind)
{
    QStringList result = titles(records, kind);
    result.removeDuplicates();
    return result;
}

inline std::unique_ptr<Keldra::UI::MainWindow> makeWindow()
{
    return std::make_unique<Keldra::UI::MainWindow>(std::make_unique<FakeDeviceManager>());
}

// Creates a vault at containerPath and unlocks it in the window.
inline bool createAndUnlock(Keldra::UI::MainWindow& window, const QString& containerPath)
{
    if (!window.vault().createVault(containerPath, kPassword.toUtf8()))
        return false;
    DialogHooks::queueFileName(containerPath);
    window.chooseContainer();
    DialogHooks::queueText(kPassword);
    window.unlockVault();
    window.session().waitForIdle();
    DialogHooks::takeRecords();
    return window.vault().state() == Keldra::Core::VaultState::Unlocked;
}

// Makes the row whose name cell reads `name` the current row.
inline bool selectRow(Keldra::UI::MainWindow& window, const QString& name)
{
    QTableWidget* table = window.vaultBrowser()->table();
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, 1) && table->item(row, 1)->text() == name) {
            table->setCurrentCell(row, 1);
            return true;
        }
    }
    return false;
}

inline QStringList rowNames(Keldra::UI::MainWindow& window)
{
    QTableWidget* table = window.vaultBrowser()->table();
    QStringList names;
    for (int row = 0; row < table->rowCount(); ++row)
        names << table->item(row, 1)->text();
    return names;
}

inline QStringList filePaths(const Keldra::UI::MainWindow& window)
{
    QStringList paths;
    const QList<Keldra::Core::VaultFileEntry> entries = window.vault().fileIndex().entries();
    for (const Keldra::Core::VaultFileEntry& entry : entries)
        paths << entry.vaultPath;
    return paths;
}

inline QStringList folderPaths(const Keldra::UI::MainWindow& window)
{
    QStringList paths;
    const QList<Keldra::Core::VaultDirectoryEntry> entries = window.vault().fileIndex().directories();
    for (const Keldra::Core::VaultDirectoryEntry& entry : entries)
        paths << entry.path;
    return paths;
}

inline QString status(Keldra::UI::MainWindow& window)
{
    return window.statusBar()->currentMessage();
}

// Plaintext of a vault file, read back through the vault.
inline QByteArray vaultContent(const Keldra::UI::MainWindow& window, const QString& vaultPath,
                               const QString& scratchPath)
{
    QFile::remove(scratchPath);
    if (!window.vault().exportFile(vaultPath, scratchPath))
        return QByteArray("<export failed>");
    return readFile(scratchPath);
}

} // namespace VaultWindowFixture
