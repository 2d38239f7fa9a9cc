#include "ui/BundleLocation.h"

#include <QDir>
#include <QFileInfo>

namespace Keldra::UI {

namespace {

// folderName beside the program when it runs from a bundle, else empty.
QString bundleFolder(const QString& programPath, const QString& folderName)
{
    if (programPath.isEmpty())
        return {};
    const QDir folder = QFileInfo(programPath).absoluteDir();
    // The loader marks a bundle: only a bundle that runs through it needs its
    // files taken from here instead of from the host's Qt.
    if (!QFileInfo(folder.filePath(QStringLiteral("lib/ld-linux-x86-64.so.2"))).isFile())
        return {};
    const QString path = folder.filePath(folderName);
    return QFileInfo(path).isDir() ? path : QString();
}

} // namespace

QString BundleLocation::pluginDirectory(const QString& programPath)
{
    return bundleFolder(programPath, QStringLiteral("plugins"));
}

QString BundleLocation::translationDirectory(const QString& programPath)
{
    return bundleFolder(programPath, QStringLiteral("translations"));
}

} // namespace Keldra::UI
