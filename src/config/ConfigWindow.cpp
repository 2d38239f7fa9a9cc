#include "ConfigWindow.h"

#include "BackgroundWidget.h"
#include "ConfigAboutDialog.h"
#include "PlatformDeviceManager.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
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

QString deviceItemText(const Platform::UsbDevice& device)
{
    QString secondary;
    if (device.mounted)
        secondary = device.rootPath;
    else
        secondary = device.devicePath.isEmpty() ? QStringLiteral("não montado") : device.devicePath;
    const QString primary = device.displayName.isEmpty() ? secondary : device.displayName;
    QString text = QStringLiteral("%1 (%2)").arg(primary, secondary);
    if (!device.mounted)
        text += QStringLiteral(" | não montado");
    return text;
}

} // namespace

void registerConfigResources()
{
    initConfigResources();
}

QString configWindowTitle()
{
    return QStringLiteral("Keldra - Gerenciador");
}

ConfigWindow::ConfigWindow(QWidget* parent) : ConfigWindow(Platform::createPlatformDeviceManager(), parent) {}

ConfigWindow::ConfigWindow(std::unique_ptr<Platform::DeviceManager> manager, QWidget* parent)
    : QMainWindow(parent), deviceManager(std::move(manager))
{
    registerConfigResources();
    setWindowTitle(configWindowTitle());
    buildMenus();
    buildContent();
    buildStatusBar();
    setCentralWidget(background);
    adjustSize();
    setFixedSize(sizeHint());
}

ConfigWindow::~ConfigWindow() = default;

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
    refreshAction = fileMenu->addAction(QStringLiteral("Atualizar lista"));
    prepareAction = fileMenu->addAction(QStringLiteral("Preparar unidade USB"));
    fileMenu->addSeparator();
    quitAction = fileMenu->addAction(QStringLiteral("Sair"));
    quitAction->setShortcut(QKeySequence::Quit);

    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("Ajuda"));
    updateAction = helpMenu->addAction(QStringLiteral("Verificar atualizações"));
    helpMenu->addSeparator();
    aboutAction = helpMenu->addAction(QStringLiteral("Sobre o sistema"));

    connect(quitAction, &QAction::triggered, this, [this] { close(); });
    connect(refreshAction, &QAction::triggered, this, [this] { refreshDevices(); });
    connect(prepareAction, &QAction::triggered, this, [this] { prepareSelectedDevice(); });
    connect(updateAction, &QAction::triggered, this, [this] { updateSelectedDevice(); });
    connect(aboutAction, &QAction::triggered, this, [this] {
        ConfigAboutDialog dialog(this);
        dialog.exec();
    });
}

void ConfigWindow::buildContent()
{
    background = new BackgroundWidget(this);
    const QString picture = QRandomGenerator::global()->bounded(2) == 0
                                ? QStringLiteral(":/backgrounds/Fundo01.png")
                                : QStringLiteral(":/backgrounds/Fundo02.png");
    background->setPixmap(QPixmap(picture));
    const QScreen* screen = QGuiApplication::primaryScreen();
    background->setFixedSize(screen ? backgroundSizeFor(screen->availableGeometry().size())
                                    : QSize(960, 540));

    auto* marketingLabel = new QLabel(
        QStringLiteral(
            "Suas informações merecem proteção.\nO Keldra - Gerenciador prepara sua unidade USB para "
            "armazenar e acessar arquivos\ncom segurança, em um ambiente portátil e pronto para uso."),
        background);
    marketingLabel->setObjectName(QStringLiteral("marketingLabel"));
    marketingLabel->setWordWrap(true);
    marketingLabel->setMaximumWidth(560);

    auto* subtitleLabel =
        new QLabel(QStringLiteral("Preparador de unidade USB para o ambiente portátil Keldra."), background);
    subtitleLabel->setObjectName(QStringLiteral("subtitleLabel"));
    subtitleLabel->setWordWrap(true);

    deviceCombo = new QComboBox(background);
    deviceCombo->setObjectName(QStringLiteral("deviceCombo"));
    deviceCombo->setFixedWidth(340);

    windowsSourceLabel = new QLabel(background);
    windowsSourceLabel->setObjectName(QStringLiteral("windowsSourceLabel"));
    windowsSourceLabel->setWordWrap(true);
    linuxSourceLabel = new QLabel(background);
    linuxSourceLabel->setObjectName(QStringLiteral("linuxSourceLabel"));
    linuxSourceLabel->setWordWrap(true);

    refreshButton = new QPushButton(QStringLiteral("Atualizar lista"), background);
    prepareButton = new QPushButton(QStringLiteral("Preparar unidade USB"), background);
    updateButton = new QPushButton(QStringLiteral("Verificar atualizações"), background);
    connect(refreshButton, &QPushButton::clicked, this, [this] { refreshDevices(); });
    connect(prepareButton, &QPushButton::clicked, this, [this] { prepareSelectedDevice(); });
    connect(updateButton, &QPushButton::clicked, this, [this] { updateSelectedDevice(); });

    log = new QTextEdit(background);
    log->setObjectName(QStringLiteral("log"));
    log->setReadOnly(true);
    log->setFixedHeight(100);

    QFormLayout* deviceForm = makeForm(0);
    deviceForm->addRow(QStringLiteral("Unidade USB:"), deviceCombo);
    QFormLayout* sourceForm = makeForm(8);
    sourceForm->addRow(QStringLiteral("Fonte Windows:"), windowsSourceLabel);
    sourceForm->addRow(QStringLiteral("Fonte Linux:"), linuxSourceLabel);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(refreshButton);
    buttonRow->addStretch();
    buttonRow->addWidget(updateButton);
    buttonRow->addWidget(prepareButton);

    auto* panel = new QFrame(background);
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
    panelLayout->addWidget(log);

    auto* backgroundLayout = new QVBoxLayout(background);
    backgroundLayout->setContentsMargins(22, 22, 22, 22);
    backgroundLayout->addWidget(panel);
    background->setStyleSheet(QString::fromLatin1(kPanelStyleSheet));
}

void ConfigWindow::buildStatusBar()
{
    versionStatusLabel =
        makeStatusLabel(QStringLiteral("Versão %1").arg(QCoreApplication::applicationVersion()), this);
    publisherStatusLabel = makeStatusLabel(publisherName(), this);
    // The window has a fixed size, so a resize grip would only mislead.
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addPermanentWidget(versionStatusLabel);
    statusBar()->addPermanentWidget(publisherStatusLabel);
}

void ConfigWindow::locateBundleSources()
{
    locateBundleSources(QCoreApplication::applicationDirPath(),
                        Deployment::BundleSourceLocator::defaultBuildTreeDirectory());
}

void ConfigWindow::locateBundleSources(const QString& toolDirectory, const QString& buildTreeDirectory)
{
    windowsSource = Deployment::BundleSourceLocator::locateWindowsSource(toolDirectory, buildTreeDirectory);
    linuxSource = Deployment::BundleSourceLocator::locateLinuxSource(toolDirectory, buildTreeDirectory);
}

void ConfigWindow::reportBundleSources()
{
    const bool windows = windowsSource.isAvailable();
    windowsSourceLabel->setText(windows ? QStringLiteral("Disponível") : QStringLiteral("Ausente"));
    appendLog(windows ? QStringLiteral("Fonte Windows para preparação encontrada.")
                      : QStringLiteral("Fonte Windows para preparação ausente."));
    const bool linux = linuxSource.isAvailable();
    linuxSourceLabel->setText(linux ? QStringLiteral("Disponível") : QStringLiteral("Ausente"));
    appendLog(linux ? QStringLiteral("Fonte Linux para preparação encontrada.")
                    : QStringLiteral("Fonte Linux para preparação ausente."));
}

QString ConfigWindow::logText() const
{
    return log->toPlainText();
}

void ConfigWindow::appendLog(const QString& line)
{
    log->append(line);
}

const Platform::UsbDevice* ConfigWindow::selectedDevice() const
{
    const int index = deviceCombo->currentIndex();
    if (index < 0 || index >= devices.size())
        return nullptr;
    return &devices.at(index);
}

void ConfigWindow::refreshDevices()
{
    deviceCombo->clear();
    devices.clear();
    if (!deviceManager) {
        appendLog(QStringLiteral("Detecção de USB não disponível neste sistema."));
        return;
    }

    devices = deviceManager->detectUsbDevices();
    int mountedCount = 0;
    int lastMountedIndex = -1;
    for (const Platform::UsbDevice& device : std::as_const(devices)) {
        deviceCombo->addItem(deviceItemText(device));
        if (device.mounted && !device.rootPath.isEmpty()) {
            ++mountedCount;
            lastMountedIndex = deviceCombo->count() - 1;
        }
    }
    deviceCombo->setCurrentIndex(mountedCount == 1 ? lastMountedIndex : -1);

    appendLog(devices.isEmpty() ? QStringLiteral("Nenhuma unidade USB detectada.")
                                : QStringLiteral("%1 unidade(s) USB detectada(s).").arg(devices.size()));
}

} // namespace Keldra::Config
