#include "deployment/PortableBundleManager.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QSet>
#include <QStorageInfo>

namespace Keldra::Deployment {

namespace {

const char* const kWindowsRuntimeFolders[] = {"platforms", "imageformats", "styles"};
const char* const kLinuxPluginCategories[] = {"platforms", "imageformats", "xcbglintegrations", "tls"};

QString sourceDirectoryOf(const QString& executable, const QString& directory)
{
    return directory.isEmpty() ? QFileInfo(executable).absolutePath() : directory;
}

QFileInfoList filesMatching(const QString& directory, const QString& pattern)
{
    return QDir(directory).entryInfoList({pattern}, QDir::Files | QDir::Readable, QDir::Unsorted);
}

} // namespace

qint64 PortableBundleManager::fileSize(const QString& path) const
{
    const QFileInfo info(path);
    return info.exists() && info.isFile() ? info.size() : 0;
}

qint64 PortableBundleManager::directorySize(const QString& path) const
{
    const QFileInfo info(path);
    if (!info.exists())
        return 0;
    if (info.isFile())
        return info.size();

    qint64 total = 0;
    const QFileInfoList entries = QDir(path).entryInfoList(
        QDir::Dirs | QDir::Files | QDir::Readable | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir())
            total += directorySize(entry.absoluteFilePath());
        else if (entry.isFile())
            total += entry.size();
    }
    return total;
}

qint64 PortableBundleManager::estimateWindowsBundleSize(const PortableBundleOptions& options) const
{
    if (options.windowsExecutable.isEmpty())
        return 0;
    qint64 total = fileSize(options.windowsExecutable);
    const QString sourceDirectory =
        sourceDirectoryOf(options.windowsExecutable, options.windowsSourceDirectory);
    for (const QFileInfo& library : filesMatching(sourceDirectory, QStringLiteral("*.dll")))
        total += library.size();
    for (const char* folder : kWindowsRuntimeFolders)
        total += directorySize(QDir(sourceDirectory).filePath(QString::fromLatin1(folder)));
    return total;
}

qint64 PortableBundleManager::estimateLinuxBundleSize(const PortableBundleOptions& options) const
{
    if (options.linuxExecutable.isEmpty())
        return 0;
    const QString sourceDirectory = sourceDirectoryOf(options.linuxExecutable, options.linuxSourceDirectory);
    const qint64 executableSize = fileSize(options.linuxExecutable);
    // The build's version file beside the program does not make it a complete runtime.
    const qint64 versionFileSize = fileSize(QDir(sourceDirectory).filePath(versionFileName()));
    if (QFileInfo(sourceDirectory).isDir()) {
        const qint64 whole = directorySize(sourceDirectory);
        if (whole > executableSize + versionFileSize)
            return whole;
    }

    qint64 total = executableSize;
    const QStringList programLibraries = linuxLibraryDependencies(options.linuxExecutable);
    QSet<QString> libraries(programLibraries.cbegin(), programLibraries.cend());

    const QDir plugins(QLibraryInfo::path(QLibraryInfo::PluginsPath));
    for (const char* category : kLinuxPluginCategories) {
        const QString folder = plugins.filePath(QString::fromLatin1(category));
        total += directorySize(folder);
        for (const QFileInfo& module : filesMatching(folder, QStringLiteral("*.so"))) {
            const QStringList needed = linuxLibraryDependencies(module.absoluteFilePath());
            for (const QString& library : needed)
                libraries.insert(library);
        }
    }
    // Each library counts once, however many binaries need it.
    for (const QString& library : std::as_const(libraries))
        total += fileSize(library);
    return total;
}

Error PortableBundleManager::validateBundleFitsUsb(const QString& usbRoot, const QString& bundleFolder,
                                                   const PortableBundleOptions& options) const
{
    const QStorageInfo storage(usbRoot);
    if (!storage.isValid() || !storage.isReady())
        return Error(Error::Reason::FreeSpaceUnknown, {}, usbRoot);

    const qint64 capacity = storage.bytesTotal();
    const qint64 available = storage.bytesAvailable();
    // An earlier bundle folder is overwritten by the copy, so its space is usable.
    const qint64 existing = directorySize(bundleFolder);
    const qint64 required = estimateWindowsBundleSize(options) + estimateLinuxBundleSize(options);
    const qint64 usable = available + existing;

    if (required < 1)
        return Error(Error::Reason::NoBundleSource);
    if (required > usable)
        return Error(Error::Reason::NotEnoughRoom, {QString::number(required), QString::number(usable)});
    if (capacity >= 1 && capacity / 4 < required)
        return Error(Error::Reason::DriveTooSmall, {QString::number(capacity), QString::number(required)});
    return Error();
}

} // namespace Keldra::Deployment
