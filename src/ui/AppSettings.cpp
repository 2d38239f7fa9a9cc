#include "ui/AppSettings.h"

#include "deployment/layout/DriveLayout.h"
#include "ui/ProgramDrive.h"
#include "ui/VaultBrowserUtils.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace Keldra::UI {

namespace {

const QString kContainerKey = QStringLiteral("container/last");
const QString kOnDriveKey = QStringLiteral("container/onProgramDrive");
const QString kInactivityKey = QStringLiteral("lock/inactivityMinutes");
constexpr int kMaximumMinutes = 24 * 60;

QString& location()
{
    static QString path;
    return path;
}

QString& driveRootOfFile()
{
    static QString root;
    return root;
}

} // namespace

QString AppSettings::defaultFilePath(const QString& programPath)
{
    const QString fileName = QStringLiteral("Keldra.ini");
    const QString root = programDriveRoot(programPath);
    if (!root.isEmpty())
        return QDir(QDir(root).filePath(QLatin1String(Deployment::DriveLayout::BundleFolder)))
            .filePath(fileName);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    return config.isEmpty() ? QString() : QDir(config).filePath(fileName);
}

void AppSettings::setLocation(const QString& filePath, const QString& driveRoot)
{
    location() = filePath;
    driveRootOfFile() = driveRoot;
}

QString AppSettings::filePath()
{
    return location();
}

QString AppSettings::lastContainer()
{
    if (location().isEmpty())
        return QString();
    const QSettings settings(location(), QSettings::IniFormat);
    const QString stored = settings.value(kContainerKey).toString();
    if (stored.isEmpty() || !settings.value(kOnDriveKey).toBool())
        return stored;
    // Relative to the drive the settings are on, wherever it is mounted now.
    return driveRootOfFile().isEmpty() ? QString() : QDir(driveRootOfFile()).filePath(stored);
}

void AppSettings::setLastContainer(const QString& path)
{
    if (location().isEmpty())
        return;
    QSettings settings(location(), QSettings::IniFormat);
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QString root = driveRootOfFile();
    const bool onDrive =
        !root.isEmpty() && normalizeDirectoryPath(QFileInfo(absolute).absolutePath())
                               .startsWith(normalizeDirectoryPath(root), Qt::CaseInsensitive);
    settings.setValue(kContainerKey, onDrive ? QDir(root).relativeFilePath(absolute) : absolute);
    settings.setValue(kOnDriveKey, onDrive);
}

int AppSettings::inactivityMinutes()
{
    if (location().isEmpty())
        return kDefaultInactivityMinutes;
    const QSettings settings(location(), QSettings::IniFormat);
    bool ok = false;
    const int minutes = settings.value(kInactivityKey, kDefaultInactivityMinutes).toInt(&ok);
    // A hand-edited file with nonsense gets the default, not "never".
    return ok && minutes >= 0 && minutes <= kMaximumMinutes ? minutes : kDefaultInactivityMinutes;
}

void AppSettings::setInactivityMinutes(int minutes)
{
    if (location().isEmpty())
        return;
    QSettings settings(location(), QSettings::IniFormat);
    settings.setValue(kInactivityKey, qBound(0, minutes, kMaximumMinutes));
}

} // namespace Keldra::UI
