#include "deployment/DriveLinks.h"

#include "deployment/layout/DriveLayout.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace Keldra::Deployment {

namespace {

Error removeLink(const QString& path)
{
    if (!QFileInfo(path).isSymLink() || QFile::remove(path))
        return Error();
    return Error(Error::Reason::LinkNotRemoved, {path});
}

} // namespace

Error removeBundleLinks(const QString& usbRoot)
{
    const QDir root(usbRoot);
    const QString bundleFolder = DriveLayout::bundleFolder(usbRoot);
    for (const QLatin1String name :
         {QLatin1String(DriveLayout::BundleFolder), QLatin1String(DriveLayout::WindowsLauncher),
          QLatin1String(DriveLayout::LinuxLauncher)}) {
        if (const Error removed = removeLink(root.filePath(name)); !removed.ok())
            return removed;
    }
    if (!QFileInfo(bundleFolder).isDir())
        return Error();
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
        if (const Error removed = removeLink(link); !removed.ok())
            return removed;
    }
    return Error();
}

} // namespace Keldra::Deployment
