#include "config/ConfigWindow.h"

#include "config/BackgroundWidget.h"
#include "config/ConfigAbout.h"
#include "config/WorkGate.h"
#include "core/WorkerThread.h"
#include "platform/PlatformDeviceManager.h"
#include "widgets/DialogHooks.h"
#include "widgets/DriveLabel.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QSpacerItem>
#include <QStatusBar>
#include <QTextEdit>
#include <QVBoxLayout>

// Resources live in this static library; register them before the first lookup.
static void initConfigResources()
{
    Q_INIT_RESOURCE(config);
}

namespace Keldra::Config {

namespace {

const char* const kPanelStyleSheet =
    "QFrame#contentPanel {  background-color: rgba(10, 16, 28, 0);  border: 1px solid rgba(255, 255, 255, "
    "92);  "
    "border-radius: 8px;}QFrame#contentPanel QLabel {  color: #ffffff;}QFrame#contentPanel "
    "QLabel#marketingLabel {  "
    "font-size: 12px;}QFrame#contentPanel QLabel#subtitleLabel {  font-size: 12px;}QFrame#contentPanel "
    "QTextEdit {  "
    "background-color: rgba(255, 255, 255, 205);  color: #111827;  border: 1px solid rgba(31, 41, 55, 70);  "
    "border-radius: 4px;}QFrame#contentPanel QTextEdit {  padding: 8px;}QFrame#contentPanel QPushButton {  "
    "background-color: rgba(255, 255, 255, 255);  color: #111827;  border: 1px solid rgba(31, 41, 55, 85);  "
    "border-radius: 4px;  font-size: 12px;  padding: 6px 12px;}QFrame#contentPanel QPushButton:hover {  "
    "background-color: rgba(245, 248, 252, 255);}QFrame#contentPanel QPushButton:pressed {  "
    "background-color: rgba(229, 236, 246, 255);}";

const char* const kStatusLabelStyleSheet =
    "QLabel {  font-size: 11px;  border-left: 1px solid #c8c8c8;  padding-left: 6px;  padding-right: 6px;}";

QFormLayout* makeForm(int verticalSpacing)
{
    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setHorizontalSpacing(10);
    form->setVerticalSpacing(verticalSpacing);
    return form;
}

QLabel* makeStatusLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setMinimumWidth(92);
    label->setStyleSheet(QString::fromLatin1(kStatusLabelStyleSheet));
    return label;
}

} // namespace

void registerConfigResources()
{
    initConfigResources();
}

QString configWindowTitle()
{
    return QStringLiteral("KeldraConfig");
}

ConfigWindow::ConfigWindow(QWidget* parent) : ConfigWindow(Platform::createPlatformDeviceManager(), parent) {}

ConfigWindow::ConfigWindow(std::unique_ptr<Platform::DeviceManager> manager, QWidget* parent)
    : QMainWindow(parent), m_deviceManager(std::move(manager))
{
    registerConfigResources();
    setWindowTitle(configWindowTitle());
    buildMenus();
    buildContent();
    buildStatusBar();
    setCentralWidget(m_background);
    adjustSize();
    setFixedSize(sizeHint());
}

ConfigWindow::~ConfigWindow()
{
    // Work still running uses nothing of the window's, but must not outlive the program.
    if (m_thread) {
        m_gate->requestCancel();
        m_gate->abandon();
        m_thread->join();
    }
}

bool ConfigWindow::isBusy() const
{
    return m_work != Work::None;
}

void ConfigWindow::startWork(Work kind, std::function<void()> work, std::function<void()> finished)
{
    m_work = kind;
    setWorkControlsEnabled(false);
    m_thread = std::make_unique<Core::WorkerThread>(std::move(work));
    connect(m_thread.get(), &QThread::finished, this, [this, finished = std::move(finished)] {
        const std::unique_ptr<Core::WorkerThread> thread = std::move(m_thread);
        thread->join();
        // Deleted later: this may run while one of its own signals is on the stack.
        if (m_progress) {
            m_progress->hide();
            m_progress.release()->deleteLater();
        }
        finished();
        endWork();
    });
    m_thread->start();
}

void ConfigWindow::endWork()
{
    m_work = Work::None;
    m_gate.reset();
    setWorkControlsEnabled(true);
    emit workFinished();
    if (m_closeWhenDone) {
        m_closeWhenDone = false;
        close();
    }
}

void ConfigWindow::setWorkControlsEnabled(bool enabled)
{
    for (QWidget* widget : {static_cast<QWidget*>(m_refreshButton), static_cast<QWidget*>(m_prepareButton),
                            static_cast<QWidget*>(m_updateButton), static_cast<QWidget*>(m_deviceCombo)})
        widget->setEnabled(enabled);
    for (QAction* action : {m_refreshAction, m_prepareAction, m_updateAction})
        action->setEnabled(enabled);
}

void ConfigWindow::closeEvent(QCloseEvent* event)
{
    if (m_work == Work::None) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    if (m_closeWhenDone)
        return;
    if (m_work == Work::Preparation) {
        if (!Widgets::DialogHooks::question(
                this, configWindowTitle(),
                QStringLiteral("Uma preparação está em andamento. Cancelar a preparação e fechar?\n\n"
                               "O que ela já copiou será desfeito."),
                QStringLiteral("Sim"), QStringLiteral("Não")))
            return;
        m_gate->requestCancel();
        appendLog(QStringLiteral("Cancelando a preparação..."));
    } else {
        // A bundle swap must not be cut short.
        appendLog(QStringLiteral("A janela será fechada quando a atualização terminar."));
    }
    m_closeWhenDone = true;
}

QSize ConfigWindow::backgroundSizeFor(const QSize& available)
{
    if (available.isEmpty())
        return QSize(960, 540);
    const int width = qBound(900, 6 * available.width() / 10, 1152);
    const int height = width * 9 / 16;
    if (height > available.height())
        return QSize(16 * available.height() / 9, available.height());
    return QSize(width, height);
}

void ConfigWindow::buildMenus()
{
    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("Arquivo"));
    m_refreshAction = fileMenu->addAction(QStringLiteral("Atualizar lista"));
    m_prepareAction = fileMenu->addAction(QStringLiteral("Preparar unidade USB"));
    fileMenu->addSeparator();
    m_quitAction = fileMenu->addAction(QStringLiteral("Sair"));
    m_quitAction->setShortcut(QKeySequence::Quit);

    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("Ajuda"));
    m_updateAction = helpMenu->addAction(QStringLiteral("Verificar atualizações"));
    helpMenu->addSeparator();
    m_aboutAction = helpMenu->addAction(QStringLiteral("Sobre o Keldra"));

    connect(m_quitAction, &QAction::triggered, this, [this] { close(); });
    connect(m_refreshAction, &QAction::triggered, this, [this] { refreshDevices(); });
    connect(m_prepareAction, &QAction::triggered, this, [this] { prepareSelectedDevice(); });
    connect(m_updateAction, &QAction::triggered, this, [this] { updateSelectedDevice(); });
    connect(m_aboutAction, &QAction::triggered, this, [this] {
        Widgets::AboutDialog dialog(configAboutContent(), this);
        dialog.exec();
    });
}

void ConfigWindow::buildContent()
{
    m_background = new BackgroundWidget(this);
    const QString picture = QRandomGenerator::global()->bounded(2) == 0
                                ? QStringLiteral(":/backgrounds/Fundo01.png")
                                : QStringLiteral(":/backgrounds/Fundo02.png");
    m_background->setPixmap(QPixmap(picture));
    const QScreen* screen = QGuiApplication::primaryScreen();
    m_background->setFixedSize(screen ? backgroundSizeFor(screen->availableGeometry().size())
                                      : QSize(960, 540));

    auto* marketingLabel = new QLabel(
        QStringLiteral(
            "Suas informações merecem proteção.\nO KeldraConfig prepara sua unidade USB para "
            "armazenar e acessar arquivos\ncom segurança, em um ambiente portátil e pronto para uso."),
        m_background);
    marketingLabel->setObjectName(QStringLiteral("marketingLabel"));
    marketingLabel->setWordWrap(true);
    marketingLabel->setMaximumWidth(560);

    auto* subtitleLabel = new QLabel(
        QStringLiteral("Preparador de unidade USB para o ambiente portátil Keldra."), m_background);
    subtitleLabel->setObjectName(QStringLiteral("subtitleLabel"));
    subtitleLabel->setWordWrap(true);

    m_deviceCombo = new QComboBox(m_background);
    m_deviceCombo->setObjectName(QStringLiteral("deviceCombo"));
    m_deviceCombo->setFixedWidth(340);

    m_windowsSourceLabel = new QLabel(m_background);
    m_windowsSourceLabel->setObjectName(QStringLiteral("windowsSourceLabel"));
    m_windowsSourceLabel->setWordWrap(true);
    m_linuxSourceLabel = new QLabel(m_background);
    m_linuxSourceLabel->setObjectName(QStringLiteral("linuxSourceLabel"));
    m_linuxSourceLabel->setWordWrap(true);

    m_refreshButton = new QPushButton(QStringLiteral("Atualizar lista"), m_background);
    m_prepareButton = new QPushButton(QStringLiteral("Preparar unidade USB"), m_background);
    m_updateButton = new QPushButton(QStringLiteral("Verificar atualizações"), m_background);
    connect(m_refreshButton, &QPushButton::clicked, this, [this] { refreshDevices(); });
    connect(m_prepareButton, &QPushButton::clicked, this, [this] { prepareSelectedDevice(); });
    connect(m_updateButton, &QPushButton::clicked, this, [this] { updateSelectedDevice(); });

    m_log = new QTextEdit(m_background);
    m_log->setObjectName(QStringLiteral("log"));
    m_log->setReadOnly(true);
    m_log->setFixedHeight(100);

    QFormLayout* deviceForm = makeForm(0);
    deviceForm->addRow(QStringLiteral("Unidade USB:"), m_deviceCombo);
    QFormLayout* sourceForm = makeForm(8);
    sourceForm->addRow(QStringLiteral("Fonte Windows:"), m_windowsSourceLabel);
    sourceForm->addRow(QStringLiteral("Fonte Linux:"), m_linuxSourceLabel);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(m_refreshButton);
    buttonRow->addStretch();
    buttonRow->addWidget(m_updateButton);
    buttonRow->addWidget(m_prepareButton);

    auto* panel = new QFrame(m_background);
    panel->setObjectName(QStringLiteral("contentPanel"));
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(18, 16, 18, 18);
    // The top gap leaves the picture's upper part visible; it may shrink on short
    // screens so the controls and the log are never squeezed out of the panel.
    panelLayout->addSpacerItem(new QSpacerItem(0, 164, QSizePolicy::Minimum, QSizePolicy::Preferred));
    panelLayout->addWidget(marketingLabel);
    panelLayout->addSpacing(38);
    panelLayout->addWidget(subtitleLabel);
    panelLayout->addSpacing(18);
    panelLayout->addLayout(deviceForm);
    panelLayout->addSpacing(16);
    panelLayout->addLayout(sourceForm);
    panelLayout->addSpacing(18);
    panelLayout->addLayout(buttonRow);
    panelLayout->addStretch(1);
    panelLayout->addSpacing(14);
    panelLayout->addWidget(m_log);

    auto* backgroundLayout = new QVBoxLayout(m_background);
    backgroundLayout->setContentsMargins(22, 22, 22, 22);
    backgroundLayout->addWidget(panel);
    m_background->setStyleSheet(QString::fromLatin1(kPanelStyleSheet));
}

void ConfigWindow::buildStatusBar()
{
    m_versionStatusLabel =
        makeStatusLabel(QStringLiteral("Versão %1").arg(QCoreApplication::applicationVersion()), this);
    m_publisherStatusLabel = makeStatusLabel(publisherName(), this);
    // The window has a fixed size, so a resize grip would only mislead.
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addPermanentWidget(m_versionStatusLabel);
    statusBar()->addPermanentWidget(m_publisherStatusLabel);
}

void ConfigWindow::locateBundleSources()
{
    locateBundleSources(QCoreApplication::applicationDirPath(),
                        Deployment::BundleSourceLocator::defaultBuildTreeDirectory());
}

void ConfigWindow::locateBundleSources(const QString& toolDirectory, const QString& buildTreeDirectory)
{
    m_windowsSource = Deployment::BundleSourceLocator::locateWindowsSource(toolDirectory, buildTreeDirectory);
    m_linuxSource = Deployment::BundleSourceLocator::locateLinuxSource(toolDirectory, buildTreeDirectory);
}

void ConfigWindow::reportBundleSources()
{
    const bool windows = m_windowsSource.isAvailable();
    m_windowsSourceLabel->setText(windows ? QStringLiteral("Disponível") : QStringLiteral("Ausente"));
    appendLog(windows ? QStringLiteral("Fonte Windows para preparação encontrada.")
                      : QStringLiteral("Fonte Windows para preparação ausente."));
    const bool linux = m_linuxSource.isAvailable();
    m_linuxSourceLabel->setText(linux ? QStringLiteral("Disponível") : QStringLiteral("Ausente"));
    appendLog(linux ? QStringLiteral("Fonte Linux para preparação encontrada.")
                    : QStringLiteral("Fonte Linux para preparação ausente."));
}

QString ConfigWindow::logText() const
{
    return m_log->toPlainText();
}

void ConfigWindow::appendLog(const QString& line)
{
    m_log->append(line);
}

const Platform::UsbDevice* ConfigWindow::selectedDevice() const
{
    const int index = m_deviceCombo->currentIndex();
    if (index < 0 || index >= m_devices.size())
        return nullptr;
    return &m_devices.at(index);
}

void ConfigWindow::refreshDevices()
{
    m_deviceCombo->clear();
    m_devices.clear();
    if (!m_deviceManager) {
        appendLog(QStringLiteral("Detecção de USB não disponível neste sistema."));
        return;
    }

    m_devices = m_deviceManager->detectUsbDevices();
    int mountedCount = 0;
    int lastMountedIndex = -1;
    for (const Platform::UsbDevice& device : std::as_const(m_devices)) {
        m_deviceCombo->addItem(Widgets::driveLabel(device));
        if (device.mounted && !device.rootPath.isEmpty()) {
            ++mountedCount;
            lastMountedIndex = m_deviceCombo->count() - 1;
        }
    }
    m_deviceCombo->setCurrentIndex(mountedCount == 1 ? lastMountedIndex : -1);

    appendLog(m_devices.isEmpty() ? QStringLiteral("Nenhuma unidade USB detectada.")
                                  : QStringLiteral("%1 unidade(s) USB detectada(s).").arg(m_devices.size()));
}

} // namespace Keldra::Config
