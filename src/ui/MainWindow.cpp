#include "MainWindow.h"

#include "AboutDialog.h"
#include "DeviceListPanel.h"
#include "DialogHooks.h"
#include "HelpDialog.h"
#include "KeldraVersion.h"
#include "PlatformDeviceManager.h"
#include "VaultBrowser.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace Keldra::UI {

namespace {

const QString kProductWebPage = QStringLiteral("https://keldra.com.br");
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

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : MainWindow(Platform::createPlatformDeviceManager(), parent)
{
}

MainWindow::MainWindow(std::unique_ptr<Platform::DeviceManager> devices, QWidget* parent)
    : QMainWindow(parent)
    , deviceManager(std::move(devices))
{
    buildUi();
    buildMenus();
    connectSignals();
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

bool MainWindow::isUnlocked() const
{
    return vaultManager.state() == Core::VaultState::Unlocked;
}

void MainWindow::buildUi()
{
    setWindowTitle(QStringLiteral("Keldra"));

    auto* central = new QWidget(this);
    const QScreen* screen = QGuiApplication::primaryScreen();
    central->setFixedSize(screen ? centralAreaSize(screen->availableGeometry().size())
                                 : QSize(960, 540));
    setCentralWidget(central);

    auto* layout = new QVBoxLayout(central);
    devicePanel = new DeviceListPanel(central);
    layout->addWidget(devicePanel);
    browser = new VaultBrowser(central);
    layout->addWidget(browser);

    // Status bar: container, version, date and vault state, left to right.
    // The window has a fixed size, so a resize grip would only mislead.
    statusBar()->setSizeGripEnabled(false);
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
    containerLabel = new QLabel(QStringLiteral("Container: nenhum"), containerBox);
    containerLabel->setObjectName(QStringLiteral("containerLabel"));
    containerLabel->setAlignment(Qt::AlignCenter);
    containerLabel->setStyleSheet(kSmallLabelStyle);
    boxLayout->addWidget(separator);
    boxLayout->addWidget(containerLabel, 1);
    statusBar()->addPermanentWidget(containerBox);
    // The label's width is known before the window is first shown, so the
    // first status text is not elided against a default width.
    boxLayout->activate();

    versionLabel = new QLabel(QStringLiteral("Versão %1").arg(QStringLiteral(KELDRA_VERSION)), this);
    versionLabel->setObjectName(QStringLiteral("versionLabel"));
    versionLabel->setFixedWidth(180);
    versionLabel->setAlignment(Qt::AlignCenter);
    versionLabel->setStyleSheet(kSmallLabelStyle);
    statusBar()->addPermanentWidget(versionLabel);

    dateLabel = new QLabel(QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy")), this);
    dateLabel->setObjectName(QStringLiteral("dateLabel"));
    dateLabel->setFixedWidth(78);
    dateLabel->setAlignment(Qt::AlignCenter);
    dateLabel->setStyleSheet(QStringLiteral("QLabel { font-size: 11px; }"));
    statusBar()->addPermanentWidget(dateLabel);

    vaultStateLabel = new QLabel(this);
    vaultStateLabel->setObjectName(QStringLiteral("vaultStateLabel"));
    vaultStateLabel->setFixedWidth(50);
    vaultStateLabel->setAlignment(Qt::AlignCenter);
    statusBar()->addPermanentWidget(vaultStateLabel);

    adjustSize();
    setFixedSize(sizeHint());
}

void MainWindow::buildMenus()
{
    exitAction = makeAction(this, QStringLiteral("Sair"), QStringLiteral("exitAction"),
                            QKeySequence(QStringLiteral("Ctrl+Q")));
    refreshDevicesAction = makeAction(this, QStringLiteral("Atualizar lista"),
                                      QStringLiteral("refreshDevicesAction"),
                                      QKeySequence(QStringLiteral("Ctrl+F5")));
    chooseContainerAction = makeAction(this, QStringLiteral("Escolher container..."),
                                       QStringLiteral("chooseContainerAction"),
                                       QKeySequence(QStringLiteral("Ctrl+O")));
    createVaultAction = makeAction(this, QStringLiteral("Criar novo cofre..."),
                                   QStringLiteral("createVaultAction"),
                                   QKeySequence(QStringLiteral("Ctrl+N")));
    backupAction = makeAction(this, QStringLiteral("Fazer backup..."), QStringLiteral("backupAction"),
                              QKeySequence(QStringLiteral("Ctrl+B")));
    changePasswordAction = makeAction(this, QStringLiteral("Alterar senha..."),
                                      QStringLiteral("changePasswordAction"),
                                      QKeySequence(QStringLiteral("Ctrl+P")));
    unlockAction = makeAction(this, QStringLiteral("Desbloquear"), QStringLiteral("unlockAction"),
                              QKeySequence(QStringLiteral("Ctrl+L")));
    lockAction = makeAction(this, QStringLiteral("Bloquear"), QStringLiteral("lockAction"),
                            QKeySequence(QStringLiteral("Ctrl+Shift+L")));
    newFolderAction = makeAction(this, QStringLiteral("Nova pasta..."),
                                 QStringLiteral("newFolderAction"),
                                 QKeySequence(QStringLiteral("Ctrl+Shift+N")));
    importAction = makeAction(this, QStringLiteral("Importar..."), QStringLiteral("importAction"),
                              QKeySequence(QStringLiteral("Ctrl+I")));
    exportAction = makeAction(this, QStringLiteral("Exportar..."), QStringLiteral("exportAction"),
                              QKeySequence(QStringLiteral("Ctrl+E")));
    openAction = makeAction(this, QStringLiteral("Abrir"), QStringLiteral("openAction"),
                            QKeySequence(Qt::Key_Return));
    moveFileAction = makeAction(this, QStringLiteral("Mover para pasta..."),
                                QStringLiteral("moveFileAction"));
    renameFileAction = makeAction(this, QStringLiteral("Renomear arquivo..."),
                                  QStringLiteral("renameFileAction"));
    renameFolderAction = makeAction(this, QStringLiteral("Renomear pasta..."),
                                    QStringLiteral("renameFolderAction"));
    deleteFolderAction = makeAction(this, QStringLiteral("Excluir pasta vazia"),
                                    QStringLiteral("deleteFolderAction"));
    deleteFileAction = makeAction(this, QStringLiteral("Excluir..."), QStringLiteral("deleteFileAction"),
                                  QKeySequence(Qt::Key_Delete));
    compactAction = makeAction(this, QStringLiteral("Compactar cofre..."),
                               QStringLiteral("compactAction"), QKeySequence(Qt::Key_F6));
    helpAction = makeAction(this, QStringLiteral("Ajuda"), QStringLiteral("helpAction"));
    websiteAction = makeAction(this, QStringLiteral("Visitar a página oficial do Keldra"),
                               QStringLiteral("websiteAction"));
    aboutAction = makeAction(this, QStringLiteral("Sobre o Keldra"), QStringLiteral("aboutAction"));

    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("Arquivo"));
    fileMenu->addAction(exitAction);

    QMenu* usbMenu = menuBar()->addMenu(QStringLiteral("USB"));
    QMenu* devicesMenu = usbMenu->addMenu(QStringLiteral("Dispositivos"));
    devicesMenu->addAction(refreshDevicesAction);
    QMenu* containerMenu = usbMenu->addMenu(QStringLiteral("Container"));
    containerMenu->addAction(chooseContainerAction);
    containerMenu->addAction(createVaultAction);
    containerMenu->addSeparator();
    containerMenu->addAction(backupAction);
    containerMenu->addSeparator();
    containerMenu->addAction(changePasswordAction);
    QMenu* accessMenu = usbMenu->addMenu(QStringLiteral("Acesso ao cofre"));
    accessMenu->addAction(unlockAction);
    accessMenu->addAction(lockAction);
    accessMenu->addSeparator();
    QMenu* protectedMenu = accessMenu->addMenu(QStringLiteral("Arquivos protegidos"));
    protectedMenu->addAction(newFolderAction);
    protectedMenu->addSeparator();
    protectedMenu->addAction(importAction);
    protectedMenu->addAction(exportAction);
    protectedMenu->addAction(openAction);
    protectedMenu->addSeparator();
    protectedMenu->addAction(renameFolderAction);
    protectedMenu->addAction(deleteFolderAction);
    protectedMenu->addSeparator();
    protectedMenu->addAction(deleteFileAction);
    accessMenu->addSeparator();
    accessMenu->addAction(compactAction);

    QMenu* aboutMenu = menuBar()->addMenu(QStringLiteral("Sobre"));
    aboutMenu->addAction(helpAction);
    aboutMenu->addAction(websiteAction);
    aboutMenu->addSeparator();
    aboutMenu->addAction(aboutAction);
}

void MainWindow::connectSignals()
{
    connect(exitAction, &QAction::triggered, this, &QWidget::close);
    connect(refreshDevicesAction, &QAction::triggered, this, &MainWindow::refreshDevices);
    connect(chooseContainerAction, &QAction::triggered, this, &MainWindow::chooseContainer);
    connect(createVaultAction, &QAction::triggered, this, &MainWindow::createVault);
    connect(backupAction, &QAction::triggered, this, &MainWindow::backupContainer);
    connect(changePasswordAction, &QAction::triggered, this, &MainWindow::changeVaultPassword);
    connect(unlockAction, &QAction::triggered, this, &MainWindow::unlockVault);
    connect(lockAction, &QAction::triggered, this, &MainWindow::lockVault);
    connect(newFolderAction, &QAction::triggered, this, &MainWindow::createDirectory);
    connect(importAction, &QAction::triggered, this, &MainWindow::importFiles);
    connect(exportAction, &QAction::triggered, this, &MainWindow::exportSelectedFile);
    connect(openAction, &QAction::triggered, this, &MainWindow::openSelectedFile);
    connect(moveFileAction, &QAction::triggered, this, &MainWindow::moveSelectedFile);
    connect(renameFileAction, &QAction::triggered, this, &MainWindow::renameSelectedFile);
    connect(renameFolderAction, &QAction::triggered, this, &MainWindow::renameSelectedDirectory);
    connect(deleteFolderAction, &QAction::triggered, this, &MainWindow::deleteSelectedDirectory);
    connect(deleteFileAction, &QAction::triggered, this, &MainWindow::deleteSelectedFile);
    connect(compactAction, &QAction::triggered, this, &MainWindow::compactVault);
    connect(helpAction, &QAction::triggered, this, &MainWindow::showHelp);
    connect(websiteAction, &QAction::triggered, this,
            [] { QDesktopServices::openUrl(QUrl(kProductWebPage)); });
    connect(aboutAction, &QAction::triggered, this, &MainWindow::showAbout);

    connect(devicePanel, &DeviceListPanel::padlockClicked, this, &MainWindow::onPadlockClicked);
    connect(devicePanel, &DeviceListPanel::currentDriveChanged, this, [this] {
        // The container's drive stays the highlighted one.
        if (!containerPath.isEmpty())
            devicePanel->highlightContainerDrive(containerPath);
        updateActions();
    });
    connect(devicePanel, &DeviceListPanel::driveDoubleClicked, this, &MainWindow::onDriveDoubleClicked);

    connect(browser, &VaultBrowser::selectionChanged, this, &MainWindow::updateActions);
    connect(browser, &VaultBrowser::viewChanged, this, [this] {
        refreshVaultFiles();
        updateActions();
    });
    connect(browser, &VaultBrowser::fileActivated, this, [this] {
        if (openAction->isEnabled())
            openSelectedFile();
    });
    connect(browser, &VaultBrowser::contextMenuRequested, this, &MainWindow::showVaultContextMenu);
    connect(browser, &VaultBrowser::pathsDropped, this, &MainWindow::importDroppedPaths);
}

void MainWindow::updateActions()
{
    const bool unlocked = isUnlocked();
    const Core::SecureFileIndex index = unlocked ? vaultManager.fileIndex() : Core::SecureFileIndex();
    const bool hasContainer = !containerPath.isEmpty();
    const bool fileSelected = !browser->selectedVaultPath().isEmpty();
    const bool folderSelected = browser->selectedItemIsDirectory();
    const bool hasFolders = unlocked && !index.directories().isEmpty();

    refreshDevicesAction->setEnabled(!unlocked);
    chooseContainerAction->setEnabled(!unlocked);
    createVaultAction->setEnabled(!unlocked);
    backupAction->setEnabled(!unlocked && hasContainer);
    changePasswordAction->setEnabled(!unlocked && hasContainer);
    unlockAction->setEnabled(!unlocked && hasContainer);
    lockAction->setEnabled(unlocked);
    newFolderAction->setEnabled(unlocked);
    importAction->setEnabled(unlocked);
    compactAction->setEnabled(unlocked);
    renameFolderAction->setEnabled(unlocked && folderSelected);
    deleteFolderAction->setEnabled(unlocked && folderSelected);
    exportAction->setEnabled(unlocked && fileSelected);
    openAction->setEnabled(unlocked && fileSelected);
    renameFileAction->setEnabled(unlocked && fileSelected);
    deleteFileAction->setEnabled(unlocked && fileSelected);
    moveFileAction->setEnabled(unlocked && fileSelected && hasFolders);

    updateVaultToggleButton();
    updateStatusBar();
    browser->showSummary(unlocked ? &index : nullptr);
}

void MainWindow::updateStatusBar()
{
    if (!containerLabel || !vaultStateLabel)
        return;

    QString name = QStringLiteral("nenhum");
    if (!containerPath.isEmpty()) {
        name = QFileInfo(containerPath).fileName();
        if (name.compare(QStringLiteral("keldra.kldr"), Qt::CaseInsensitive) == 0)
            name = QStringLiteral("Keldra");
    }
    const QString text = QStringLiteral("Container: %1").arg(name);
    containerLabel->setText(
        containerLabel->fontMetrics().elidedText(text, Qt::ElideMiddle, containerLabel->width() - 8));
    containerLabel->setToolTip(text);

    vaultStateLabel->setText(QStringLiteral("COFRE"));
    vaultStateLabel->setStyleSheet(
        QStringLiteral("QLabel { background-color: %1; color: #000000; font-size: 11px; "
                       "font-weight: 600; padding-left: 4px; padding-right: 4px; }")
            .arg(isUnlocked() ? QStringLiteral("#7bd88f") : QStringLiteral("#f06a6a")));
}

void MainWindow::updateVaultToggleButton()
{
    const bool unlocked = isUnlocked();
    const QAction* governing = unlocked ? lockAction : unlockAction;
    devicePanel->showPadlock(unlocked, governing->isEnabled());
}

void MainWindow::setStatusMessage(const QString& text, int timeoutMs)
{
    statusBar()->showMessage(text, timeoutMs);
}

void MainWindow::onPadlockClicked()
{
    if (isUnlocked() && lockAction->isEnabled())
        lockVault();
    else if (!isUnlocked() && unlockAction->isEnabled())
        unlockVault();
    // A cancelled prompt changes nothing, but the click has already toggled
    // the checkable button: bring it back in line with the vault.
    updateVaultToggleButton();
}

void MainWindow::refreshDevices()
{
    if (!deviceManager) {
        devicePanel->showDetectionUnavailable();
        devicePanel->highlightContainerDrive(containerPath);
        updateActions();
        return;
    }
    const QList<Platform::UsbDevice> devices = deviceManager->detectUsbDevices();
    devicePanel->showDrives(devices);
    if (devices.isEmpty() || !containerPath.isEmpty())
        devicePanel->highlightContainerDrive(containerPath);
    else
        devicePanel->selectOnlyMountedDrive();
    updateActions();
}

void MainWindow::onDriveDoubleClicked(const QString& rootPath)
{
    const QString candidate = Core::ContainerManager().containerPath(rootPath);
    if (QFileInfo::exists(candidate)) {
        containerPath = candidate;
        devicePanel->highlightContainerDrive(containerPath);
        updateActions();
        return;
    }
    DialogHooks::information(
        this, QStringLiteral("Keldra"),
        QStringLiteral("Nenhum keldra.kldr foi encontrado em %1. Use Criar cofre para criar um novo "
                       "container.")
            .arg(rootPath));
}

void MainWindow::chooseContainer()
{
    const QString chosen = DialogHooks::getOpenFileName(
        this, QStringLiteral("Escolher container Keldra"), QString(),
        QStringLiteral("Keldra Container (*.kldr);;Todos os arquivos (*.*)"));
    if (chosen.isEmpty())
        return;
    containerPath = chosen;
    browser->setCurrentDirectory(QString());
    devicePanel->highlightContainerDrive(containerPath);
    updateActions();
    setStatusMessage(QStringLiteral("Container selecionado."), 5000);
}

void MainWindow::refreshVaultFiles()
{
    if (!isUnlocked()) {
        browser->showIndex(nullptr);
        return;
    }
    const Core::SecureFileIndex index = vaultManager.fileIndex();
    browser->showIndex(&index);
}

void MainWindow::showVaultContextMenu(const QPoint& globalPosition)
{
    updateActions();
    QMenu menu(this);
    menu.addAction(newFolderAction);
    menu.addAction(renameFolderAction);
    menu.addAction(deleteFolderAction);
    menu.addSeparator();
    menu.addAction(importAction);
    menu.addAction(exportAction);
    menu.addAction(openAction);
    if (!browser->selectedVaultPath().isEmpty()) {
        menu.addAction(moveFileAction);
        menu.addAction(renameFileAction);
    }
    menu.addSeparator();
    menu.addAction(deleteFileAction);
    menu.exec(globalPosition);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (isUnlocked() && !vaultManager.lockVault()) {
        DialogHooks::warning(this, QStringLiteral("Keldra"),
                             QStringLiteral("Não foi possível bloquear o cofre."));
        // Locking may have gone half way (keys gone, workspace kept): show what is left.
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
    AboutDialog dialog(this);
    DialogHooks::exec(dialog);
}

} // namespace Keldra::UI
