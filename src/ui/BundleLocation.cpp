#include "BundleLocation.h"

#include <QDir>
#include <QFileInfo>

namespace Keldra::UI {

QString BundleLocation::pluginDirectory(const QString& programPath)
{
    if (programPath.isEmpty())
        return {};
    const QDir folder = QFileInfo(programPath).absoluteDir();
    // The loader marks a bundle: only a bundle that runs through it needs its
    // plug-ins taken from here instead of from the host's Qt.
    if (!QFileInfo(folder.filePath(QStringLiteral("lib/ld-linux-x86-64.so.2"))).isFile())
        return {};
    const QString plugins = folder.filePath(QStringLiteral("plugins"));
    return QFileInfo(plugins).isDir() ? plugins : QString();
}

} // namespace Keldra::UI
