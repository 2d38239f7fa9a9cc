#pragma once

#include "platform/UsbDevice.h"

#include <QList>
#include <QString>
#include <QWidget>

class QListWidget;
class QToolButton;

namespace Keldra::UI {

// The USB drives beside the padlock button. It lists what it is given,
// highlights the container's drive and paints the padlock; what a double-click
// or a padlock click does is the window's decision.
class DeviceListPanel : public QWidget
{
    Q_OBJECT

public:
    explicit DeviceListPanel(QWidget* parent = nullptr);

    void showDetectionUnavailable();
    // An empty list says that no drive was found.
    void showDrives(const QList<Platform::UsbDevice>& drives);
    // Makes the only mounted drive current; with none or several, none is.
    void selectOnlyMountedDrive();
    // Highlights and makes current the drive holding `containerFile` (a later
    // listed match wins); none when the file is on no listed drive.
    void highlightContainerDrive(const QString& containerFile);
    // Root of the current drive; empty when none is current or it is not mounted.
    QString currentDriveRoot() const;
    // Root of the listed mounted drive holding `path` (a later listed match
    // wins); empty when it is on none.
    QString driveRootOf(const QString& path) const;
    // Checked and open when unlocked; the tooltip says what a click does.
    void showPadlock(bool unlocked, bool enabled);

    QListWidget* list() const { return m_deviceList; }
    QToolButton* padlock() const { return m_padlockButton; }

signals:
    void currentDriveChanged();
    // Only for mounted drives.
    void driveDoubleClicked(const QString& rootPath);
    void padlockClicked();

private:
    // A line that stands for no drive: neither selectable nor reachable by keyboard.
    void addPlaceholder(const QString& text);

    QListWidget* m_deviceList = nullptr;
    QToolButton* m_padlockButton = nullptr;
};

} // namespace Keldra::UI
