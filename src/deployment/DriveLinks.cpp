#include "DriveLinks.h"

#include "DriveLayout.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace Keldra::Deployment {

namespace {

bool removeLink(const QString& path, QString* error)
{
    if (!QFileInfo(path).isSymLink() || QFile::remove(path))
        return true;
    if (error)
        *error = QStringLiteral("Nao foi possivel remover o link simbolico: %1").arg(path);
    return false;
}

} // namespace

bool removeBundleLinks(const QString& usbRoot, QString* error)
{
    const QDir root(usbRoot);
    const QString bundleFolder = DriveLayout::bundleFolder(usbRoot);
    for (const QLatin1String name :
         {QLatin1String(DriveLayout::BundleFolder), QLatin1String(DriveLayout::WindowsLauncher),
          QLatin1String(DriveLayout::LinuxLauncher)}) {
        if (!removeLink(root.filePath(name), error))
            return false;
    }
    if (!QFileInfo(bundleFolder).isDir())
        return true;
    // Collected first: removing while iterating would disturb the walk. The walk does
    // not descend into linked folders, and System lists dangling links too.
    QStringList links;
    QDirIterator it(bundleFolder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileInfo().isSymLink())
            links.append(path);
    }
    for (const QString& link : std::as_const(links)) {
        if (!removeLink(link, error))
            return false;
    }
    return true;
}

} // namespace Keldra::Deployment
