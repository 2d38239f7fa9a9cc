#include "ui/ProgramDrive.h"

#include "deployment/layout/DriveLayout.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace Keldra::UI {

namespace DriveLayout = Deployment::DriveLayout;

QString programDriveRoot(const QString& programPath)
{
    if (programPath.isEmpty())
        return QString();
    // Relative to the folder the program was started in, which Keldra never changes.
    const QString path = QDir::cleanPath(QFileInfo(programPath).absoluteFilePath());
    QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() < 4)
        return QString();
    const auto is = [&parts](qsizetype fromEnd, const char* expected) {
        return parts.at(parts.size() - fromEnd).compare(QLatin1String(expected), Qt::CaseInsensitive) == 0;
    };
    const bool linuxBundle = is(2, DriveLayout::LinuxFolder) && is(1, DriveLayout::LinuxProgram);
    const bool windowsBundle = is(2, DriveLayout::WindowsFolder) && is(1, DriveLayout::WindowsProgram);
    if ((!linuxBundle && !windowsBundle) || !is(3, DriveLayout::BundleFolder))
        return QString();
    parts.resize(parts.size() - 3);
    const QString root = parts.join(QLatin1Char('/'));
    // "/" on Linux, "E:/" on Windows.
    return root.isEmpty() || root.endsWith(QLatin1Char(':')) ? root + QLatin1Char('/') : root;
}

} // namespace Keldra::UI
