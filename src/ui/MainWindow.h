#pragma once

#include "core/vault/BatchProgress.h"
#include "core/vault/VaultManager.h"
#include "ui/VaultSession.h"

#include <QMainWindow>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

class QAction;
class QCloseEvent;
class QLabel;
class QPoint;
class QTimer;

namespace Keldra::Platform {
class DeviceManager;
}

namespace Keldra::Core {
class ImportBatch;
struct ImportBatchSummary;
struct ExportBatchSummary;
} // namespace Keldra::Core

namespace Keldra::UI {

class DeviceListPanel;
class InactivityLock;
class OperationProgressDialog;
class VaultBrowser;

// The vault application's single window: the drive panel, the vault browser,
// menus, actions and status bar. Every vault command calls one VaultManager
// operation and then refreshes the browser and the actions; the long ones
// run through the VaultSession on its worker thread, and the window shows
// their progress and, once they end, their result.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    // Uses the given detector (may be null: detection unavailable).
    explicit MainWindow(std::unique_ptr<Platform::DeviceManager> deviceManager, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The file types of the dialogs that pick a container.
    static inline const QString kContainerFilter =
        QStringLiteral("Cofre do Keldra (*.kldr);;Todos os arquivos (*)");

    // Central area for a screen's available size: 60 % of the width within
    // 900..1152, 16:9, never taller than the screen.
    static QSize centralAreaSize(const QSize& available);

    QString containerFilePath() const { return m_containerPath; }
    // Only while no operation runs (session().isBusy()).
    const Core::VaultManager& vault() const { return m_vaultManager; }
    Core::VaultManager& vault() { return m_vaultManager; }
    VaultSession& session() const { return *m_session; }
    VaultBrowser* vaultBrowser() const { return m_browser; }
    DeviceListPanel* deviceListPanel() const { return m_devicePanel; }

    // Shows the vault's current index in the browser.
    void refreshVaultFiles();
    // The pre-import check of free space and file size; true = go on.
    bool confirmImportFitsStorage(const QStringList& files) const;

public slots:
    // The commands behind the actions. Each checks its own preconditions too,
    // so running one whose action is disabled only explains why it cannot run.
    void chooseContainer();

    // Vault access (MainWindowVaultCommands.cpp).
    void createVault();
    void unlockVault();
    void lockVault();
    void changeVaultPassword();
    void backupContainer();

    // Files and folders (MainWindowFileCommands.cpp, MainWindowImport.cpp).
    void importFiles();
    void exportSelectedFile();
    void openSelectedFile();
    void renameSelectedFile();
    void deleteSelectedFile();
    void createDirectory();
    void renameSelectedDirectory();
    void deleteSelectedDirectory();
    void moveSelectedFile();
    void compactVault();
    // Many rows and whole folders (MainWindowBatch.cpp): the actions call
    // these, which leave a single file to the commands above.
    void importFolder();
    void exportSelection();
    void deleteSelection();
    void moveSelection();
    // Reads every file of the vault back and reports the damaged ones (MainWindowVerify.cpp).
    void verifyVault();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void buildUi();
    void buildMenus();
    QSize startingWindowSize() const;
    void connectSignals();

    bool isUnlocked() const;
    void updateActions();
    void updateStatusBar();
    void updateVaultToggleButton();
    void setStatusMessage(const QString& text, int timeoutMs);
    void refreshDevices();
    void showHelp();
    void showAbout();
    void openProductWebPage();
    void onDriveDoubleClicked(const QString& rootPath);
    void onPadlockClicked();
    void showVaultContextMenu(const QPoint& globalPosition);
    // Keys of the vault table that act on the selected file or folder.
    void renameSelectedItem();
    void deleteSelectedItem();
    // Where "Criar novo cofre..." proposes the file: the selected drive's root,
    // else the root of the drive Keldra runs from, else the dialog's default.
    QString proposedContainerPath() const;
    // While unlocked: a container that can no longer be reached (file gone,
    // drive pulled) locks the vault at once (MainWindowVaultCommands.cpp).
    void checkContainerStillThere();
    void lockAfterContainerLoss();
    // Warns and returns true when the chosen container file is gone.
    bool warnIfContainerMissing();
    // Locks (storing edited copies back) on the worker; close() again once locked.
    void lockThenClose();
    // The end of an unlock run on the worker.
    void finishUnlock(const Core::Error& result);
    // After an unlock: offers the edits an earlier session left unsaved.
    void offerRecoveredEdits();
    // The last container, the preferences and the lock without the user
    // (MainWindowPreferences.cpp).
    void setUpPreferences();
    void rememberContainer();
    void showPreferences();
    bool hasCopiesOpenForEditing() const;
    // After inactivity, or when the session locks or the computer sleeps.
    void lockWithoutUser(bool systemLock);
    // Marks in the table the files the integrity check found damaged.
    void markDamagedFiles(const QList<Core::VaultFileEntry>& checked, const QStringList& damaged);

    // Password prompts; empty means cancelled (or refused).
    QByteArray requestPassword(const QString& title, const QString& label = QStringLiteral("Senha:")) const;
    QByteArray requestNewVaultPassword() const;

    // How a long operation shows while it runs on the session's worker.
    struct OperationView
    {
        QString title;
        // Shown until the work reports progress with a text of its own.
        QString heading;
        // A "Cancelar" button; cancelling leaves things as before the start.
        bool cancellable = false;
        // A moving bar: the work reports no progress (key derivation, lock).
        bool busy = false;
        // The container watch cancels the work when the container goes away;
        // off for compaction, which replaces the container on purpose.
        bool watchContainer = false;
        // `done` also gets a Cancelled result, for work that keeps what it
        // stored before the cancel (a batch import's checkpoints) and says so.
        bool doneOnCancel = false;
    };
    // The one way long commands run: the progress dialog, the vault actions
    // disabled, the work on the session's worker, then `done` with its result
    // (a cancelled one only says so in the status bar; a container lost
    // meanwhile locks the vault), then a close asked for meanwhile.
    void runVaultOperation(const OperationView& view, VaultSession::Work work, VaultSession::Done done);
    // "Cancelar" of the progress dialog; asks first when more than a few
    // seconds of work would be thrown away.
    void cancelRunningOperation();
    void copyContainerTo(const QString& target);
    // A vault call's result as the outcome of an operation's work.
    static Core::Error operationOutcome(const Core::VaultManager& vault, bool succeeded);
    // Warns that a vault operation failed: the text for the vault's reason
    // (VaultErrorText), else commandText; commandReason is a reason that
    // commandText already explains in the command's own words.
    void warnVaultFailure(const QString& title, const QString& commandText,
                          Core::Error::Reason commandReason = Core::Error::Reason::None);
    // The same for an operation that ran on the session's worker.
    void warnOperationFailure(const Core::Error& error, const QString& title, const QString& commandText,
                              Core::Error::Reason commandReason = Core::Error::Reason::None);

    // Where the file dialogs of export and import start before the user has
    // picked a folder: the user's documents (or home), never the drive.
    static QString firstFileFolder();
    // The USB drive the container is on; empty when it is on none listed.
    QString vaultDriveRoot() const;
    // Warns, once per session, that `target` is on the vault's own drive,
    // where the plaintext copy would travel with the vault; true = go on.
    bool confirmExportFolder(const QString& target);

    // Questions of the file commands; true = go on.
    bool confirmReplaceVaultFile(const QString& vaultPath) const;
    bool confirmExportOutsideVault(const QString& vaultPath) const;
    bool confirmDeleteVaultFile(const QString& vaultPath) const;
    bool confirmCompactVault() const;
    // Hands the editing copy to its application; a fresh copy no application
    // took is dropped again.
    void openEditingCopy(const QString& vaultPath, const QString& localPath, bool freshCopy);
    // Asks where to write the decrypted copy, then exports it.
    void exportVaultFile(const QString& vaultPath);
    void finishCompaction(const QString& title, const Core::Error& result, const QString& preservedPath);
    // Imports into the folder shown; shared by "Importar..." and dropped files.
    void importFileList(const QStringList& files);
    // Files and folders dropped on the vault table.
    void importDroppedPaths(const QStringList& paths);
    // The free-space and FAT checks for `total` plaintext bytes that grow
    // the container by `containerGrowth`; true = go on.
    bool confirmRoomForImport(qint64 total, qint64 containerGrowth) const;

    // Batches (MainWindowBatch.cpp): one question for the files that already
    // exist, one progress dialog, one summary.
    bool confirmImportFitsStorage(const Core::ImportBatch& batch) const;
    // storageChecked: the free-space and FAT checks were made for these files.
    void runImportBatch(const Core::ImportBatch& batch, bool storageChecked = false);
    void finishImportBatch(const Core::ImportBatch& batch, const Core::ImportBatchSummary& summary,
                           const Core::Error& result);
    void runExportBatch(const QStringList& vaultPaths, const QString& destinationFolder);
    void finishExportBatch(const Core::ExportBatchSummary& summary, const Core::Error& result);
    // "Sim" = replace, "Não" = skip; false when the user cancelled.
    bool askExistingFiles(const QString& title, const QString& text, Core::ExistingFiles* answer) const;

    // Members ----------------------------------------------------------------
    std::unique_ptr<VaultSession> m_session;
    // The session's vault, for the commands that run on the GUI thread.
    Core::VaultManager& m_vaultManager;
    std::unique_ptr<Platform::DeviceManager> m_deviceManager;
    QString m_containerPath;
    bool m_operationRunning = false;
    bool m_closeAfterOperation = false;
    // Folders last used by the import and export dialogs in this session.
    QString m_importFolder;
    QString m_exportFolder;
    bool m_exportToVaultDriveAccepted = false;
    QTimer* m_containerWatch = nullptr;
    // Whether the running operation reads the container the watch checks.
    bool m_watchDuringOperation = false;
    // The watch found the container gone while an operation ran.
    bool m_containerLost = false;
    QString m_operationTitle;
    QSize m_startingCentralSize;
    QString m_rememberedContainer;
    InactivityLock* m_inactivity = nullptr;
    // A system lock came during a command: the vault locks when it ends.
    bool m_lockWhenIdle = false;
    // Vault paths (lower case) opened for editing since the unlock.
    QSet<QString> m_openedForEditing;
    // Edited copies kept in the workspace when the drive was pulled.
    int m_unsavedAfterRemoval = 0;

    DeviceListPanel* m_devicePanel = nullptr;
    VaultBrowser* m_browser = nullptr;
    QLabel* m_containerLabel = nullptr;
    QLabel* m_versionLabel = nullptr;
    QLabel* m_dateLabel = nullptr;
    QLabel* m_vaultStateLabel = nullptr;

    QAction* m_exitAction = nullptr;
    QAction* m_preferencesAction = nullptr;
    QAction* m_refreshDevicesAction = nullptr;
    QAction* m_chooseContainerAction = nullptr;
    QAction* m_createVaultAction = nullptr;
    QAction* m_backupAction = nullptr;
    QAction* m_changePasswordAction = nullptr;
    QAction* m_unlockAction = nullptr;
    QAction* m_lockAction = nullptr;
    QAction* m_newFolderAction = nullptr;
    QAction* m_importAction = nullptr;
    QAction* m_importFolderAction = nullptr;
    QAction* m_exportAction = nullptr;
    QAction* m_openAction = nullptr;
    QAction* m_moveFileAction = nullptr;
    QAction* m_renameFileAction = nullptr;
    QAction* m_renameFolderAction = nullptr;
    QAction* m_deleteFolderAction = nullptr;
    QAction* m_deleteFileAction = nullptr;
    QAction* m_compactAction = nullptr;
    QAction* m_verifyAction = nullptr;
    QAction* m_helpAction = nullptr;
    QAction* m_websiteAction = nullptr;
    QAction* m_aboutAction = nullptr;
};

} // namespace Keldra::UI
