#include "widgets/DriveLabel.h"

namespace Keldra::Widgets {

QString driveLabel(const Platform::UsbDevice& device)
{
    QString location = device.rootPath;
    if (!device.mounted)
        location = device.devicePath.isEmpty() ? QStringLiteral("não montado") : device.devicePath;
    const QString name = device.displayName.isEmpty() ? location : device.displayName;
    QString text = QStringLiteral("%1 (%2)").arg(name, location);
    if (!device.mounted)
        text += QStringLiteral(" | não montado");
    return text;
}

} // namespace Keldra::Widgets
