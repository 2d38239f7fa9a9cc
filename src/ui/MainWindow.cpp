#include "ui/MainWindow.h"

#include "KeldraVersion.h"
#include "core/vault/VaultPath.h"
#include "platform/PlatformDeviceManager.h"
#include "ui/DesktopLauncher.h"
#include "ui/DeviceListPanel.h"
#include "ui/HelpDialog.h"
#include "ui/MenuAccelerators.h"
#include "ui/VaultAboutContent.h"
#include "ui/VaultBrowser.h"
#include "widgets/DialogHooks.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace Keldra::UI {

using Widgets::DialogHooks;
using Widgets::questionYesNo;

namespace {

const QString kProductWebPage = QStringLiteral(KELDRA_WEB_SITE);
const QString kSmallLabelStyle =
    QStringLiteral("QLabel { font-size: 11px; padding-left: 4px; padding-right: 4px; }");

QAction* makeAction(QWidget* owner, const QString& text, const QString& objectName,
                    const QKeySequence& shortcut = QKeySequence())
{
    auto* action = new QAction(text, owner);
    action->setObjectName(objectName);
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    return action;
}

// Nothing below the folder: neither files nor subfolders.
bool folderIsEmpty(const Core::SecureFileIndex& index, const QString& folder)
{
    const QList<Core::VaultFileEntry> entries = index.entries();
    for (const Core::VaultFileEntry& entry : entries) {
        if (Core::VaultPath::isInside(entry.vaultPath, folder))
            return false;
    }
    const QList<Core::VaultDirectoryEntry> directories = index.directories();
    for (const Core::VaultDirectoryEntry& directory : directories) {
        if (Core::VaultPath::isInside(directory.path, folder))
            return false;
    }
    return true;
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : MainWindow(Platform::createPlatformDeviceManager(), parent) {}

MainWindow::MainWindow(std::unique_ptr<Platform::DeviceManager> devices, QWidget* parent)
    : QMainWindow(parent), m_session(std::make_unique<VaultSession>()), m_vaultManager(m_session->vault()),
      m_deviceManager(std::move(devices))
{
    MenuAccelerators::installKeyNames();
    buildUi();
    buildMenus();
    m_containerWatch = new QTimer(this);
    m_containerWatch->setObjectName(QStringLiteral("containerWatch"));
    // Checked twice within the two seconds a pulled drive may go unnoticed.
    m_containerWatch->setInterval(1000);
    connect(m_containerWatch, &QTimer::timeout, this, &MainWindow::checkContainerStillThere);
    // While locked, the commands that need the container follow its drive
    // being pulled and put back.
    auto* containerPresence = new QTimer(this);
    containerPresence->setObjectName(QStringLiteral("containerPresenceWatch"));
    containerPresence->setInterval(2000);
    connect(containerPresence, &QTimer::timeout, this, [this] {
        if (isUnlocked() || m_operationRunning || m_containerPath.isEmpty())
            return;
        if (m_unlockAction->isEnabled() != QFileInfo(m_containerPath).isFile())
            updateActions();
    });
    containerPresence->start();
    connectSignals();
    setUpPreferences();
    resize(startingWindowSize());
    refreshDevices();
    updateActions();
    setStatusMessage(QStringLiteral("Pronto"), 0);
}

MainWindow::~MainWindow() = default;

QSize MainWindow::centralAreaSize(const QSize& available)
{
    const qint64 screenWidth = available.width();
    const qint64 screenHeight = available.height();
    qint64 width = std::clamp<qint64>(screenWidth * 6 / 10, 900, 1152);
    qint64 height = width * 9 / 16;
    if (height > screenHeight) {
        height = screenHeight;
        width = screenHeight * 16 / 9;
    }
    return QSize(int(width), int(height));
}

QSize MainWindow::startingWindowSize() const
{
    // The central area of centralAreaSize plus the bars, within the screen
    // less room for a window frame. Below that the table and the drive list
    // give up room; the window may shrink to its layout's minimum.
    QSize size(m_startingCentralSize.width(), m_startingCentralSize.height() +
                                                  menuBar()->sizeHint().height() +
                                                  statusBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() - QSize(8, 32));
    return size.expandedTo(minimumSizeHint());
}

bool MainWindow::isUnlocked() const
{
    return m_session->state() == Core::VaultState::Unlocked;
}

void MainWindow::buildUi()
{
    setWindowTitle(QStringLiteral("Keldra"));

    auto* central = new QWidget(this);
    const QScreen* screen = QGuiApplication::primaryScreen();
    m_startingCentralSize = screen ? centralAreaSize(screen->availableGeometry().size()) : QSize(960, 540);
    setCentralWidget(central);

    auto* layout = new QVBoxLayout(central);
    m_devicePanel = new DeviceListPanel(central);
    layout->addWidget(m_devicePanel);
    m_browser = new VaultBrowser(central);
    layout->addWidget(m_browser);

    // Status bar: container, version, date and vault state, left to right.
    statusBar()->setContentsMargins(0, 0, 4, 0);
    auto* containerBox = new QWidget(this);
    containerBox->setFixedWidth(140);
    auto* boxLayout = new QHBoxLayout(containerBox);
    boxLayout->setContentsMargins(0, 0, 0, 0);
    boxLayout->setSpacing(0);
    auto* separator = new QFrame(containerBox);
    separator->setFrameShape(QFrame::NoFrame);
    separator->setFixedWidth(1);
    separator->setStyleSheet(QStringLiteral("QFrame { background-color: #c8c8c8; }"));
    m_containerLabel = new QLabel(QStringLiteral("Container: nenhum"), containerBox);
    m_containerLabel->setObjectName(QStringLiteral("containerLabel"));
    m_containerLabel->setAlignment(Qt::AlignCenter);
    m_containerLabel->setStyleSheet(kSmallLabelStyle);
    boxLayout->addWidget(separator);
    boxLayout->addWidget(m_containerLabel, 1);
    statusBar()->addPermanentWidget(containerBox);
    // The label's width is known before the window is first shown, so the
    // first status text is not elided against a default width.
    boxLayout->activate();

    m_versionLabel = new QLabel(QStringLiteral("Versão %1").arg(QStringLiteral(KELDRA_VERSION)), this);
    m_versionLabel->setObjectName(QStringLiteral("versionLabel"));
    m_versionLabel->setFixedWidth(180);
    m_versionLabel->setAlignment(Qt::AlignCenter);
    m_versionLabel->setStyleSheet(kSmallLabelStyle);
    statusBar()->addPermanentWidget(m_versionLabel);

    m_dateLabel = new QLabel(QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy")), this);
    m_dateLabel->setObjectName(QStringLiteral("dateLabel"));
    m_dateLabel->setFixedWidth(78);
    m_dateLabel->setAlignment(Qt::AlignCenter);
    m_dateLabel->setStyleSheet(QStringLiteral("QLabel { font-size: 11px; }"));
    statusBar()->addPermanentWidget(m_dateLabel);

    m_vaultStateLabel = new QLabel(this);
    m_vaultStateLabel->setObjectName(QStringLiteral("vaultStateLabel"));
    m_vaultStateLabel->setFixedWidth(50);
    m_vaultStateLabel->setAlignment(Qt::AlignCenter);
    statusBar()->addPermanentWidget(m_vaultStateLabel);

    // Room for the table's columns and a status message beside the labels,
    // and still inside an 800 x 600 screen with its panel and title bar.
    setMinimumSize(640, 440);
}

void MainWindow::buildMenus()
{
    m_exitAction = makeAction(this, QStringLiteral("Sair"), QStringLiteral("exitAction"),
                              QKeySequence(QStringLiteral("Ctrl+Q")));
    m_preferencesAction =
        makeAction(this, QStringLiteral("Preferências..."), QStringLiteral("preferencesAction"));
    m_refreshDevicesAction =
        makeAction(this, QStringLiteral("Atualizar lista"), QStringLiteral("refreshDevicesAction"),
                   QKeySequence(QStringLiteral("Ctrl+F5")));
    m_chooseContainerAction =
        makeAction(this, QStringLiteral("Escolher container..."), QStringLiteral("chooseContainerAction"),
                   QKeySequence(QStringLiteral("Ctrl+O")));
    m_createVaultAction =
        makeAction(this, QStringLiteral("Criar novo cofre..."), QStringLiteral("createVaultAction"),
                   QKeySequence(QStringLiteral("Ctrl+N")));
    m_backupAction = makeAction(this, QStringLiteral("Fazer backup..."), QStringLiteral("backupAction"),
                                QKeySequence(QStringLiteral("Ctrl+B")));
    m_changePasswordAction =
        makeAction(this, QStringLiteral("Alterar senha..."), QStringLiteral("changePasswordAction"),
                   QKeySequence(QStringLiteral("Ctrl+P")));
    m_unlockAction = makeAction(this, QStringLiteral("Desbloquear"), QStringLiteral("unlockAction"),
                                QKeySequence(QStringLiteral("Ctrl+L")));
    m_lockAction = makeAction(this, QStringLiteral("Bloquear"), QStringLiteral("lockAction"),
                              QKeySequence(QStringLiteral("Ctrl+Shift+L")));
    m_newFolderAction = makeAction(this, QStringLiteral("Nova pasta..."), QStringLiteral("newFolderAction"),
                                   QKeySequence(QStringLiteral("Ctrl+Shift+N")));
    m_importAction = makeAction(this, QStringLiteral("Importar..."), QStringLiteral("importAction"),
                                QKeySequence(QStringLiteral("Ctrl+I")));
    m_importFolderAction =
        makeAction(this, QStringLiteral("Importar pasta..."), QStringLiteral("importFolderAction"));
    m_exportAction = makeAction(this, QStringLiteral("Exportar..."), QStringLiteral("exportAction"),
                                QKeySequence(QStringLiteral("Ctrl+E")));
    m_openAction =
        makeAction(this, QStringLiteral("Abrir"), QStringLiteral("openAction"), QKeySequence(Qt::Key_Return));
    m_moveFileAction = makeAction(this, QStringLiteral("Mover para pasta..."),
                                  QStringLiteral("moveFileAction"), QKeySequence(QStringLiteral("Ctrl+M")));
    // A file row and a folder row are never selected together, so F2 belongs
    // to one enabled action at a time.
    m_renameFileAction = makeAction(this, QStringLiteral("Renomear arquivo..."),
                                    QStringLiteral("renameFileAction"), QKeySequence(Qt::Key_F2));
    m_renameFolderAction = makeAction(this, QStringLiteral("Renomear pasta..."),
                                      QStringLiteral("renameFolderAction"), QKeySequence(Qt::Key_F2));
    m_deleteFolderAction =
        makeAction(this, QStringLiteral("Excluir pasta vazia"), QStringLiteral("deleteFolderAction"));
    m_deleteFileAction = makeAction(this, QStringLiteral("Excluir..."), QStringLiteral("deleteFileAction"),
                                    QKeySequence(Qt::Key_Delete));
    m_compactAction = makeAction(this, QStringLiteral("Compactar cofre..."), QStringLiteral("compactAction"),
                                 QKeySequence(Qt::Key_F6));
    m_verifyAction =
        makeAction(this, QStringLiteral("Verificar integridade..."), QStringLiteral("verifyAction"));
    m_helpAction = makeAction(this, QStringLiteral("Ajuda"), QStringLiteral("helpAction"));
    m_websiteAction = makeAction(this, QStringLiteral("Visitar a página oficial do Keldra"),
                                 QStringLiteral("websiteAction"));
    m_aboutAction = makeAction(this, QStringLiteral("Sobre o Keldra"), QStringLiteral("aboutAction"));

    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("Arquivo"));
    fileMenu->addAction(m_preferencesAction);
    fileMenu->addSeparator();
    fileMenu->addAction(m_exitAction);

    QMenu* usbMenu = menuBar()->addMenu(QStringLiteral("USB"));
    QMenu* devicesMenu = usbMenu->addMenu(QStringLiteral("Dispositivos"));
    devicesMenu->addAction(m_refreshDevicesAction);
    QMenu* containerMenu = usbMenu->addMenu(QStringLiteral("Container"));
    containerMenu->addAction(m_chooseContainerAction);
    containerMenu->addAction(m_createVaultAction);
    containerMenu->addSeparator();
    containerMenu->addAction(m_backupAction);
    containerMenu->addSeparator();
    containerMenu->addAction(m_changePasswordAction);
    QMenu* accessMenu = usbMenu->addMenu(QStringLiteral("Acesso ao cofre"));
    accessMenu->addAction(m_unlockAction);
    accessMenu->addAction(m_lockAction);
    accessMenu->addSeparator();
    QMenu* protectedMenu = accessMenu->addMenu(QStringLiteral("Arquivos protegidos"));
    protectedMenu->addAction(m_newFolderAction);
    protectedMenu->addSeparator();
    protectedMenu->addAction(m_importAction);
    protectedMenu->addAction(m_importFolderAction);
    protectedMenu->addAction(m_exportAction);
    protectedMenu->addAction(m_openAction);
    protectedMenu->addAction(m_moveFileAction);
    protectedMenu->addAction(m_renameFileAction);
    protectedMenu->addSeparator();
    protectedMenu->addAction(m_renameFolderAction);
    protectedMenu->addAction(m_deleteFolderAction);
    protectedMenu->addSeparator();
    protectedMenu->addAction(m_deleteFileAction);
    accessMenu->addSeparator();
    accessMenu->addAction(m_compactAction);
    accessMenu->addAction(m_verifyAction);

    QMenu* aboutMenu = menuBar()->addMenu(QStringLiteral("Sobre"));
    aboutMenu->addAction(m_helpAction);
    aboutMenu->addAction(m_websiteAction);
    aboutMenu->addSeparator();
    aboutMenu->addAction(m_aboutAction);

    MenuAccelerators::assign(menuBar());
    MenuAccelerators::addMenuKey(this);
}

void MainWindow::connectSignals()
{
    connect(m_exitAction, &QAction::triggered, this, &QWidget::close);
    connect(m_refreshDevicesAction, &QAction::triggered, this, &MainWindow::refreshDevices);
    connect(m_chooseContainerAction, &QAction::triggered, this, &MainWindow::chooseContainer);
    connect(m_createVaultAction, &QAction::triggered, this, &MainWindow::createVault);
    connect(m_backupAction, &QAction::triggered, this, &MainWindow::backupContainer);
    connect(m_changePasswordAction, &QAction::triggered, this, &MainWindow::changeVaultPassword);
    connect(m_unlockAction, &QAction::triggered, this, &MainWindow::unlockVault);
    connect(m_lockAction, &QAction::triggered, this, &MainWindow::lockVault);
    connect(m_newFolderAction, &QAction::triggered, this, &MainWindow::createDirectory);
    connect(m_importAction, &QAction::triggered, this, &MainWindow::importFiles);
    connect(m_importFolderAction, &QAction::triggered, this, &MainWindow::importFolder);
    connect(m_exportAction, &QAction::triggered, this, &MainWindow::exportSelection);
    connect(m_openAction, &QAction::triggered, this, &MainWindow::openSelectedFile);
    connect(m_moveFileAction, &QAction::triggered, this, &MainWindow::moveSelection);
    connect(m_renameFileAction, &QAction::triggered, this, &MainWindow::renameSelectedFile);
    connect(m_renameFolderAction, &QAction::triggered, this, &MainWindow::renameSelectedDirectory);
    connect(m_deleteFolderAction, &QAction::triggered, this, &MainWindow::deleteSelectedDirectory);
    connect(m_deleteFileAction, &QAction::triggered, this, &MainWindow::deleteSelection);
    connect(m_compactAction, &QAction::triggered, this, &MainWindow::compactVault);
    connect(m_verifyAction, &QAction::triggered, this, &MainWindow::verifyVault);
    connect(m_helpAction, &QAction::triggered, this, &MainWindow::showHelp);
    connect(m_websiteAction, &QAction::triggered, this, &MainWindow::openProductWebPage);
    connect(m_aboutAction, &QAction::triggered, this, &MainWindow::showAbout);

    connect(m_devicePanel, &DeviceListPanel::padlockClicked, this, &MainWindow::onPadlockClicked);
    connect(m_devicePanel, &DeviceListPanel::currentDriveChanged, this, [this] {
        // The container's drive stays the highlighted one.
        if (!m_containerPath.isEmpty())
            m_devicePanel->highlightContainerDrive(m_containerPath);
        updateActions();
    });
    connect(m_devicePanel, &DeviceListPanel::driveDoubleClicked, this, &MainWindow::onDriveDoubleClicked);

    connect(m_browser, &VaultBrowser::selectionChanged, this, &MainWindow::updateActions);
    connect(m_browser, &VaultBrowser::viewChanged, this, [this] {
        refreshVaultFiles();
        updateActions();
    });
    connect(m_browser, &VaultBrowser::fileActivated, this, [this] {
        if (m_openAction->isEnabled())
            openSelectedFile();
    });
    connect(m_browser, &VaultBrowser::contextMenuRequested, this, &MainWindow::showVaultContextMenu);
    connect(m_browser, &VaultBrowser::renameRequested, this, &MainWindow::renameSelectedItem);
    connect(m_browser, &VaultBrowser::deleteRequested, this, &MainWindow::deleteSelectedItem);
    connect(m_browser, &VaultBrowser::pathsDropped, this, &MainWindow::importDroppedPaths);
}

void MainWindow::updateActions()
{
    const bool isOpen = isUnlocked();
    const Core::SecureFileIndex index = isOpen ? m_session->fileIndex() : Core::SecureFileIndex();
    // A running operation leaves only what cannot touch the vault.
    const bool idle = !m_operationRunning;
    const bool unlocked = isOpen && idle;
    // A container on a pulled drive cannot be unlocked, copied or rekeyed.
    const bool hasContainer = !m_containerPath.isEmpty() && QFileInfo(m_containerPath).isFile();
    // Open and rename take one row; export, move and delete take them all.
    const int selectedCount = m_browser->selectedItemCount();
    const bool oneRow = selectedCount <= 1;
    const bool anySelected = selectedCount > 0;
    const bool fileSelected = oneRow && !m_browser->selectedVaultPath().isEmpty();
    const bool folderSelected = oneRow && m_browser->selectedItemIsDirectory();
    const bool emptyFolderSelected =
        folderSelected && folderIsEmpty(index, m_browser->selectedDirectoryPath());
    const bool hasFolders = unlocked && !index.directories().isEmpty();

    const bool locked = !isOpen && idle;
    if (!isOpen)
        m_openedForEditing.clear();
    rememberContainer();
    m_refreshDevicesAction->setEnabled(locked);
    m_chooseContainerAction->setEnabled(locked);
    m_createVaultAction->setEnabled(locked);
    m_backupAction->setEnabled(locked && hasContainer);
    m_changePasswordAction->setEnabled(locked && hasContainer);
    m_unlockAction->setEnabled(locked && hasContainer);
    m_lockAction->setEnabled(unlocked);
    m_newFolderAction->setEnabled(unlocked);
    m_importAction->setEnabled(unlocked);
    m_importFolderAction->setEnabled(unlocked);
    m_compactAction->setEnabled(unlocked);
    m_verifyAction->setEnabled(unlocked);
    m_renameFolderAction->setEnabled(unlocked && folderSelected);
    m_deleteFolderAction->setEnabled(unlocked && emptyFolderSelected);
    m_exportAction->setEnabled(unlocked && anySelected);
    m_openAction->setEnabled(unlocked && fileSelected);
    m_renameFileAction->setEnabled(unlocked && fileSelected);
    m_deleteFileAction->setEnabled(unlocked && anySelected);
    m_moveFileAction->setEnabled(unlocked && anySelected && hasFolders);

    updateVaultToggleButton();
    updateStatusBar();
    m_browser->showSummary(isOpen ? &index : nullptr);
}

void MainWindow::updateStatusBar()
{
    if (!m_containerLabel || !m_vaultStateLabel)
        return;

    QString name = QStringLiteral("nenhum");
    if (!m_containerPath.isEmpty()) {
        name = QFileInfo(m_containerPath).fileName();
        if (name.compare(QLatin1String(Core::ContainerManager::FileName), Qt::CaseInsensitive) == 0)
            name = QStringLiteral("Keldra");
    }
    const QString text = QStringLiteral("Container: %1").arg(name);
    m_containerLabel->setText(
        m_containerLabel->fontMetrics().elidedText(text, Qt::ElideMiddle, m_containerLabel->width() - 8));
    // The label only has room for the name; the tooltip tells where the file is.
    m_containerLabel->setToolTip(
        m_containerPath.isEmpty()
            ? text
            : QStringLiteral("%1\n%2").arg(
                  text, QDir::toNativeSeparators(QFileInfo(m_containerPath).absoluteFilePath())));

    m_vaultStateLabel->setText(QStringLiteral("COFRE"));
    m_vaultStateLabel->setStyleSheet(
        QStringLiteral("QLabel { background-color: %1; color: #000000; font-size: 11px; "
                       "font-weight: 600; padding-left: 4px; padding-right: 4px; }")
            .arg(isUnlocked() ? QStringLiteral("#7bd88f") : QStringLiteral("#f06a6a")));
}

void MainWindow::updateVaultToggleButton()
{
    const bool unlocked = isUnlocked();
    const QAction* governing = unlocked ? m_lockAction : m_unlockAction;
    m_devicePanel->showPadlock(unlocked, governing->isEnabled());
}

void MainWindow::setStatusMessage(const QString& text, int timeoutMs)
{
    statusBar()->showMessage(text, timeoutMs);
}

void MainWindow::onPadlockClicked()
{
    if (isUnlocked() && m_lockAction->isEnabled())
        lockVault();
    else if (!isUnlocked() && m_unlockAction->isEnabled())
        unlockVault();
    // A cancelled prompt changes nothing, but the click has already toggled
    // the checkable button: bring it back in line with the vault.
    updateVaultToggleButton();
}

void MainWindow::refreshDevices()
{
    if (!m_deviceManager) {
        m_devicePanel->showDetectionUnavailable();
        m_devicePanel->highlightContainerDrive(m_containerPath);
        updateActions();
        return;
    }
    const QList<Platform::UsbDevice> devices = m_deviceManager->detectUsbDevices();
    m_devicePanel->showDrives(devices);
    if (devices.isEmpty() || !m_containerPath.isEmpty())
        m_devicePanel->highlightContainerDrive(m_containerPath);
    else
        m_devicePanel->selectOnlyMountedDrive();
    updateActions();
}

void MainWindow::onDriveDoubleClicked(const QString& rootPath)
{
    const QString candidate = Core::ContainerManager().containerPath(rootPath);
    if (QFileInfo::exists(candidate)) {
        m_containerPath = candidate;
        m_devicePanel->highlightContainerDrive(m_containerPath);
        updateActions();
        return;
    }
    DialogHooks::information(
        this, QStringLiteral("Keldra"),
        QStringLiteral("Nenhum %1 foi encontrado em %2. Use Criar cofre para criar um novo "
                       "container.")
            .arg(QLatin1String(Core::ContainerManager::FileName), rootPath));
}

void MainWindow::chooseContainer()
{
    const QString chosen = DialogHooks::getOpenFileName(this, QStringLiteral("Escolher container Keldra"),
                                                        QString(), kContainerFilter);
    if (chosen.isEmpty())
        return;
    m_containerPath = chosen;
    m_browser->setCurrentDirectory(QString());
    m_devicePanel->highlightContainerDrive(m_containerPath);
    updateActions();
    setStatusMessage(QStringLiteral("Container selecionado."), 5000);
}

void MainWindow::refreshVaultFiles()
{
    if (!isUnlocked()) {
        m_browser->showIndex(nullptr);
        return;
    }
    const Core::SecureFileIndex index = m_session->fileIndex();
    m_browser->showIndex(&index);
}

void MainWindow::showVaultContextMenu(const QPoint& globalPosition)
{
    updateActions();
    QMenu menu(this);
    menu.addAction(m_newFolderAction);
    menu.addAction(m_renameFolderAction);
    menu.addAction(m_deleteFolderAction);
    menu.addSeparator();
    menu.addAction(m_importAction);
    menu.addAction(m_importFolderAction);
    menu.addAction(m_exportAction);
    menu.addAction(m_openAction);
    if (m_browser->selectedItemCount() > 0)
        menu.addAction(m_moveFileAction);
    if (!m_browser->selectedVaultPath().isEmpty())
        menu.addAction(m_renameFileAction);
    menu.addSeparator();
    menu.addAction(m_deleteFileAction);
    menu.exec(globalPosition);
}

void MainWindow::renameSelectedItem()
{
    if (isUnlocked() && m_browser->selectedItemCount() > 1) {
        DialogHooks::information(this, QStringLiteral("Renomear"),
                                 QStringLiteral("Selecione um único arquivo ou pasta para renomear."));
        return;
    }
    if (m_renameFolderAction->isEnabled())
        renameSelectedDirectory();
    else if (m_renameFileAction->isEnabled())
        renameSelectedFile();
}

void MainWindow::deleteSelectedItem()
{
    if (m_browser->selectedItemCount() > 1) {
        if (m_deleteFileAction->isEnabled())
            deleteSelection();
        return;
    }
    // "Renomear pasta..." is on for any folder row of an idle, open vault;
    // "Excluir pasta vazia" only for an empty one.
    if (m_renameFolderAction->isEnabled())
        deleteSelectedDirectory(); // says why when the folder is not empty
    else if (m_deleteFileAction->isEnabled())
        deleteSelectedFile();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_operationRunning) {
        event->ignore();
        if (m_closeAfterOperation)
            return;
        // What can stop without leaving work half done is offered to stop;
        // the rest (import, lock, key derivation...) closes once it has ended.
        // Either way the close is remembered: "Não" only lets the work finish first.
        if (m_session->isCancellable() &&
            questionYesNo(this, QStringLiteral("Keldra"),
                          QStringLiteral("Uma operação está em andamento. Cancelar a operação e fechar o "
                                         "Keldra agora?\n\nCom \"Não\", o Keldra fecha quando a operação "
                                         "terminar."))) {
            m_closeAfterOperation = true;
            m_session->requestCancel();
            return;
        }
        m_closeAfterOperation = true;
        setStatusMessage(QStringLiteral("O Keldra será fechado quando a operação em andamento terminar."), 0);
        return;
    }
    if (isUnlocked()) {
        // Storing edited copies back may take a while: on the worker, then close.
        event->ignore();
        lockThenClose();
        return;
    }
    // Edits a pulled drive left behind wait for the next unlock; closing
    // must not look like it stored them.
    if (m_unsavedAfterRemoval > 0 &&
        !questionYesNo(this, QStringLiteral("Keldra"),
                       QStringLiteral("A unidade do cofre foi removida antes que as alterações em %1 "
                                      "arquivo(s) fossem salvas no cofre. Elas ficam guardadas neste "
                                      "computador e serão oferecidas no próximo desbloqueio deste "
                                      "cofre.\n\nFechar o Keldra agora?")
                           .arg(m_unsavedAfterRemoval))) {
        refreshVaultFiles();
        updateActions();
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::showHelp()
{
    HelpDialog dialog(this);
    DialogHooks::exec(dialog);
}

void MainWindow::showAbout()
{
    Widgets::AboutDialog dialog(vaultAboutContent(), this);
    DialogHooks::exec(dialog);
}

void MainWindow::openProductWebPage()
{
    if (DesktopLauncher::openUrl(QUrl(kProductWebPage)))
        return;
    DialogHooks::information(this, QStringLiteral("Keldra"),
                             QStringLiteral("Não foi possível abrir o navegador. Acesse a página oficial do "
                                            "Keldra pelo endereço:\n\n%1")
                                 .arg(kProductWebPage));
}

} // namespace Keldra::UI
