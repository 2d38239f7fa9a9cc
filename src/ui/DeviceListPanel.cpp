#include "ui/DeviceListPanel.h"

#include "ui/VaultBrowserUtils.h"
#include "widgets/DriveLabel.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QToolButton>
#include <QVBoxLayout>

namespace Keldra::UI {

namespace {

// Kept on unmounted drives so the hint survives the container highlighting.
constexpr int BaseToolTipRole = Qt::UserRole + 1;

QIcon padlockIcon(bool unlocked, bool enabled)
{
    const QColor outline(enabled ? QStringLiteral("#464646") : QStringLiteral("#a5a5a5"));
    const QColor fill(enabled ? QStringLiteral("#eeeeee") : QStringLiteral("#e2e2e2"));

    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(outline, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    if (unlocked) {
        painter.drawArc(QRect(14, 7, 20, 26), 400, 3920);
        painter.drawLine(35, 19, 40, 15);
    } else {
        painter.drawArc(QRect(13, 7, 22, 26), 0, 2880);
    }
    painter.setBrush(fill);
    painter.drawRoundedRect(QRect(10, 22, 28, 20), 4, 4);
    painter.setBrush(outline);
    painter.drawEllipse(QRect(22, 30, 4, 4));
    painter.drawLine(24, 34, 24, 37);
    painter.end();
    return QIcon(pixmap);
}

// The shared label, and the free space of a mounted drive.
QString driveText(const Platform::UsbDevice& device)
{
    QString text = Widgets::driveLabel(device);
    if (device.mounted) {
        const QStorageInfo storage(device.rootPath);
        if (storage.isValid() && storage.isReady())
            text += QStringLiteral(" | %1").arg(
                QStringLiteral("%1 livres").arg(formatFileSize(storage.bytesAvailable())));
    }
    return text;
}

} // namespace

DeviceListPanel::DeviceListPanel(QWidget* parent) : QWidget(parent)
{
    // Never taller than its row: the vault table below takes the rest.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Dispositivos USB"), this));

    m_deviceList = new QListWidget(this);
    m_deviceList->setObjectName(QStringLiteral("deviceList"));
    const int side = 3 * QFontMetrics(m_deviceList->font()).height() + 24 + 2 * m_deviceList->frameWidth();
    m_deviceList->setFixedHeight(side);

    auto* iconLabel = new QLabel(this);
    iconLabel->setFixedSize(side, side);
    iconLabel->setAlignment(Qt::AlignCenter);
    iconLabel->setPixmap(QIcon(QStringLiteral(":/icons/Keldra.ico")).pixmap(side, side));

    m_padlockButton = new QToolButton(this);
    m_padlockButton->setObjectName(QStringLiteral("vaultToggleButton"));
    m_padlockButton->setFixedSize(side, side);
    m_padlockButton->setCheckable(true);
    m_padlockButton->setAutoRaise(false);
    // A Tab stop between the drive list and the vault table; a click leaves the focus where it was.
    m_padlockButton->setFocusPolicy(Qt::TabFocus);
    m_padlockButton->setIconSize(QSize(48, 48));
    m_padlockButton->setStyleSheet(
        QStringLiteral("QToolButton { border: 1px solid #d0d0d0; border-radius: 4px; background: #f7f7f7; }"
                       "QToolButton:hover:enabled { background: #eeeeee; border-color: #b8b8b8; }"
                       "QToolButton:pressed:enabled { background: #e2e2e2; }"
                       "QToolButton:focus { border: 2px solid palette(highlight); }"
                       "QToolButton:disabled { background: #f1f1f1; border-color: #dedede; }"));

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(iconLabel);
    row->addWidget(m_deviceList, 1);
    row->addWidget(m_padlockButton);
    layout->addLayout(row);

    connect(m_padlockButton, &QToolButton::clicked, this, &DeviceListPanel::padlockClicked);
    connect(m_deviceList, &QListWidget::currentItemChanged, this, &DeviceListPanel::currentDriveChanged);
    connect(m_deviceList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        const QString root = item ? item->data(Qt::UserRole).toString() : QString();
        if (!root.isEmpty())
            emit driveDoubleClicked(root);
    });
}

void DeviceListPanel::addPlaceholder(const QString& text)
{
    auto* item = new QListWidgetItem(text, m_deviceList);
    item->setFlags(item->flags() & ~(Qt::ItemIsSelectable | Qt::ItemIsEnabled));
}

void DeviceListPanel::showDetectionUnavailable()
{
    m_deviceList->clear();
    addPlaceholder(QStringLiteral("Detecção de USB ainda não disponível neste sistema."));
}

void DeviceListPanel::showDrives(const QList<Platform::UsbDevice>& drives)
{
    m_deviceList->clear();
    if (drives.isEmpty()) {
        addPlaceholder(QStringLiteral("Nenhum dispositivo USB detectado."));
        return;
    }
    for (const Platform::UsbDevice& device : drives) {
        auto* item = new QListWidgetItem(driveText(device), m_deviceList);
        item->setData(Qt::UserRole, device.mounted ? device.rootPath : QString());
        if (!device.mounted) {
            item->setFlags(item->flags() & ~Qt::ItemIsSelectable);
            item->setForeground(QColor(QStringLiteral("#6e6e6e")));
            const QString hint =
                QStringLiteral("Monte a unidade USB no gerenciador de arquivos e atualize a lista.");
            item->setToolTip(hint);
            item->setData(BaseToolTipRole, hint);
        }
    }
}

void DeviceListPanel::selectOnlyMountedDrive()
{
    QListWidgetItem* onlyMounted = nullptr;
    int mountedCount = 0;
    for (int row = 0; row < m_deviceList->count(); ++row) {
        QListWidgetItem* item = m_deviceList->item(row);
        if (!item->data(Qt::UserRole).toString().isEmpty()) {
            onlyMounted = item;
            ++mountedCount;
        }
    }
    if (mountedCount == 1) {
        m_deviceList->setCurrentItem(onlyMounted);
        return;
    }
    m_deviceList->clearSelection();
    m_deviceList->setCurrentRow(-1);
}

void DeviceListPanel::highlightContainerDrive(const QString& containerFile)
{
    const QSignalBlocker blocker(m_deviceList);
    const QString containerDir =
        containerFile.isEmpty() ? QString() : normalizeDirectoryPath(QFileInfo(containerFile).absolutePath());

    QListWidgetItem* match = nullptr;
    for (int row = 0; row < m_deviceList->count(); ++row) {
        QListWidgetItem* item = m_deviceList->item(row);
        item->setBackground(QBrush());
        // Only the highlight's own tooltip goes; the hint of an unmounted drive stays.
        item->setToolTip(item->data(BaseToolTipRole).toString());
        QFont font = item->font();
        font.setWeight(QFont::Normal);
        item->setFont(font);

        const QString root = item->data(Qt::UserRole).toString();
        if (!root.isEmpty() && !containerDir.isEmpty() &&
            containerDir.startsWith(normalizeDirectoryPath(root), Qt::CaseSensitive))
            match = item;
    }

    if (!match) {
        m_deviceList->clearSelection();
        m_deviceList->setCurrentRow(-1);
        return;
    }
    QFont font = match->font();
    font.setWeight(QFont::Bold);
    match->setFont(font);
    match->setBackground(QColor(QStringLiteral("#deedff")));
    match->setToolTip(QStringLiteral("Dispositivo associado ao container selecionado."));
    m_deviceList->setCurrentItem(match);
    m_deviceList->scrollToItem(match);
}

QString DeviceListPanel::currentDriveRoot() const
{
    const QListWidgetItem* item = m_deviceList->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

QString DeviceListPanel::driveRootOf(const QString& path) const
{
    if (path.isEmpty())
        return QString();
    const QString folder = normalizeDirectoryPath(QFileInfo(path).absoluteFilePath());
    QString found;
    for (int row = 0; row < m_deviceList->count(); ++row) {
        const QString root = m_deviceList->item(row)->data(Qt::UserRole).toString();
        if (!root.isEmpty() && folder.startsWith(normalizeDirectoryPath(root), Qt::CaseSensitive))
            found = root;
    }
    return found;
}

void DeviceListPanel::showPadlock(bool unlocked, bool enabled)
{
    const QSignalBlocker blocker(m_padlockButton);
    m_padlockButton->setEnabled(enabled);
    m_padlockButton->setChecked(unlocked);
    m_padlockButton->setIcon(padlockIcon(unlocked, enabled));
    if (unlocked)
        m_padlockButton->setToolTip(QStringLiteral("Bloquear cofre"));
    else if (enabled)
        m_padlockButton->setToolTip(QStringLiteral("Desbloquear cofre"));
    else
        m_padlockButton->setToolTip(QStringLiteral("Selecione um container para desbloquear o cofre."));
}

} // namespace Keldra::UI
