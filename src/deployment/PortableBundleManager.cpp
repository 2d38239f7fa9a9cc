#include "deployment/PortableBundleManager.h"

#include "deployment/DriveLinks.h"
#include "deployment/UpdateRecovery.h"
#include "deployment/layout/DriveLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

namespace Keldra::Deployment {

namespace {

constexpr int kTotalSteps = 7;
constexpr qint64 kCopyChunkSize = 1024 * 1024;

void report(const PortableBundleManager::ProgressCallback& progress, int step, const QString& text)
{
    if (progress)
        progress(step, kTotalSteps, text);
}

// Keeps a progress dialog painted during long copies without letting the user act.
void pumpEventsExceptInput()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool sameFile(const QString& a, const QString& b)
{
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

void addExecuteBits(const QString& path)
{
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeUser |
                                    QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

// Byte-for-byte, so a rebuilt file of the same size is still copied.
bool sameContent(const QString& a, const QString& b)
{
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) ||
        first.size() != second.size())
        return false;
    while (!first.atEnd()) {
        const QByteArray chunk = first.read(kCopyChunkSize);
        if (chunk.isEmpty() || chunk != second.read(chunk.size()))
            return false;
        pumpEventsExceptInput();
    }
    return true;
}

QString sourceDirectoryOf(const QString& executable, const QString& directory)
{
    return directory.isEmpty() ? QFileInfo(executable).absolutePath() : directory;
}

// The build's version file travels with the program; a stale one from an
// earlier preparation must not outlive a bundle that has none.
Error copyVersionFile(const PortableBundleManager& manager, const QString& sourceDirectory,
                      const QString& targetDirectory)
{
    const QString name = PortableBundleManager::versionFileName();
    const QString source = QDir(sourceDirectory).filePath(name);
    const QString target = QDir(targetDirectory).filePath(name);
    if (QFileInfo(source).isFile())
        return manager.copyFileReplacing(source, target);
    if (QFileInfo::exists(target) && !QFile::remove(target))
        return Error(Error::Reason::FileNotWritten, {target},
                     QStringLiteral("stale version file not removed"));
    return Error();
}

} // namespace

Error PortableBundleManager::preparePortableBundle(const QString& usbRoot,
                                                   const PortableBundleOptions& options,
                                                   const ProgressCallback& progress) const
{
    report(progress, 0, QStringLiteral("Validando unidade USB..."));
    if (usbRoot.isEmpty() || !QFileInfo(usbRoot).isDir())
        return Error(Error::Reason::DriveInvalid, {}, usbRoot);

    // A drive left mid-update is made whole first, and links on it are never written through.
    if (const Error recovered = recoverInterruptedUpdate(usbRoot); !recovered.ok())
        return Error(Error::Reason::PreparationRecoveryFailed, recovered);
    if (const Error unlinked = removeBundleLinks(usbRoot); !unlinked.ok())
        return unlinked;

    const QDir root(usbRoot);
    const QString bundleFolder = DriveLayout::bundleFolder(usbRoot);
    const QString windowsFolder = DriveLayout::windowsFolder(usbRoot);
    const QString linuxFolder = DriveLayout::linuxFolder(usbRoot);

    report(progress, 1, QStringLiteral("Criando estrutura de pastas..."));
    for (const QString& folder : {bundleFolder, windowsFolder, linuxFolder}) {
        if (const Error created = ensureDirectory(folder); !created.ok())
            return created;
    }

    if (const Error fits = validateBundleFitsUsb(usbRoot, bundleFolder, options); !fits.ok())
        return fits;

    report(progress, 2, QStringLiteral("Copiando bundle Windows..."));
    if (!options.windowsExecutable.isEmpty()) {
        const QString sourceDirectory =
            sourceDirectoryOf(options.windowsExecutable, options.windowsSourceDirectory);
        const QDir source(sourceDirectory);
        const bool deployedRuntime =
            QFileInfo::exists(source.filePath(QStringLiteral("Qt6Core.dll"))) &&
            QFileInfo::exists(source.filePath(QStringLiteral("platforms/qwindows.dll")));
        Error copied;
        if (deployedRuntime) {
            copied = copyDirectoryContents(sourceDirectory, windowsFolder);
        } else {
            copied = copyExecutable(options.windowsExecutable, windowsFolder, nullptr);
            if (copied.ok())
                copied = copyAdjacentRuntimeLibraries(windowsFolder, sourceDirectory);
            if (copied.ok())
                copied = copyVersionFile(*this, sourceDirectory, windowsFolder);
        }
        if (!copied.ok())
            return copied;
    }

    report(progress, 3, QStringLiteral("Copiando bundle Linux..."));
    if (!options.linuxExecutable.isEmpty()) {
        const QString sourceDirectory =
            sourceDirectoryOf(options.linuxExecutable, options.linuxSourceDirectory);
        const QDir source(sourceDirectory);
        const bool deployedRuntime = QFileInfo::exists(source.filePath(QStringLiteral("lib"))) ||
                                     QFileInfo::exists(source.filePath(QStringLiteral("plugins"))) ||
                                     QFileInfo::exists(source.filePath(QStringLiteral("qt.conf")));
        Error copied;
        if (deployedRuntime) {
            copied = copyDirectoryContents(sourceDirectory, linuxFolder);
        } else {
            QString program;
            copied = copyExecutable(options.linuxExecutable, linuxFolder, &program);
            if (copied.ok())
                copied = copyVersionFile(*this, sourceDirectory, linuxFolder);
            if (copied.ok()) {
                addExecuteBits(program);
                copied = deployLinuxRuntime(program);
            }
        }
        if (!copied.ok())
            return copied;
    }

    report(progress, 5, QStringLiteral("Criando inicializador Windows..."));
    if (const Error written = writeTextFile(DriveLayout::windowsLauncher(usbRoot), windowsLauncherText());
        !written.ok())
        return written;

    report(progress, 6, QStringLiteral("Criando arquivos auxiliares..."));
    const QString linuxLauncher = DriveLayout::linuxLauncher(usbRoot);
    if (const Error written = writeTextFile(linuxLauncher, linuxLauncherText()); !written.ok())
        return written;
    addExecuteBits(linuxLauncher);
    if (const Error written = writeTextFile(DriveLayout::readme(usbRoot), readmeText()); !written.ok())
        return written;

    report(progress, 7, QStringLiteral("Preparacao concluida."));
    return Error();
}

QString PortableBundleManager::versionFileName()
{
    return QStringLiteral("Keldra.version");
}

Error PortableBundleManager::ensureDirectory(const QString& path) const
{
    if (QDir().mkpath(path))
        return Error();
    return Error(Error::Reason::FolderNotCreated, {path});
}

Error PortableBundleManager::copyFileReplacing(const QString& source, const QString& destination) const
{
    if (sameFile(source, destination))
        return Error();

    const QFileInfo sourceInfo(source);
    const QFileInfo destinationInfo(destination);
    // An identical file is left alone, so a repeated preparation writes nothing it need not.
    if (destinationInfo.isFile() && sourceInfo.isFile() && sourceInfo.size() == destinationInfo.size() &&
        sameContent(source, destination))
        return Error();

    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return Error(Error::Reason::FileNotCopied, {sourceInfo.fileName()}, input.errorString());
    QSaveFile output(destination);
    if (!output.open(QIODevice::WriteOnly))
        return Error(Error::Reason::FileNotCreated, {destination}, output.errorString());

    while (!input.atEnd()) {
        const QByteArray chunk = input.read(kCopyChunkSize);
        // An empty read before the end is a failure too: committing then would
        // leave a truncated copy under the final name.
        if (chunk.isEmpty()) {
            output.cancelWriting();
            return Error(Error::Reason::FileNotRead, {sourceInfo.fileName()}, input.errorString());
        }
        if (output.write(chunk) < chunk.size()) {
            const QString detail = output.errorString();
            output.cancelWriting();
            return Error(Error::Reason::FileNotWritten, {destination}, detail);
        }
        pumpEventsExceptInput();
    }

    if (!output.commit())
        return Error(Error::Reason::FileNotFinished, {destination}, output.errorString());
    QFile::setPermissions(destination, QFile::permissions(source));
    return Error();
}

Error PortableBundleManager::copyExecutable(const QString& source, const QString& targetDirectory,
                                            QString* copiedPath) const
{
    const QString name = source.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive)
                             ? QLatin1String(DriveLayout::WindowsProgram)
                             : QLatin1String(DriveLayout::LinuxProgram);
    const QString destination = QDir(targetDirectory).filePath(name);
    if (!QFileInfo::exists(source))
        return Error(Error::Reason::ExecutableNotFound, {source});
    if (!sameFile(source, destination)) {
        if (const Error copied = copyFileReplacing(source, destination); !copied.ok())
            return Error(Error::Reason::ExecutableNotCopied, copied, {destination});
    }
    if (copiedPath)
        *copiedPath = destination;
    return Error();
}

Error PortableBundleManager::copyDirectoryContents(const QString& source, const QString& target) const
{
    const QDir sourceDir(source);
    if (!sourceDir.exists())
        return Error(Error::Reason::SourceFolderNotFound, {source});
    if (const Error created = ensureDirectory(target); !created.ok())
        return created;

    const QDir targetDir(target);
    const QFileInfoList entries = sourceDir.entryInfoList(
        QDir::Dirs | QDir::Files | QDir::Readable | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        const QString destination = targetDir.filePath(entry.fileName());
        Error copied;
        if (entry.isDir())
            copied = copyDirectoryContents(entry.absoluteFilePath(), destination);
        else if (entry.isFile())
            copied = copyFileReplacing(entry.absoluteFilePath(), destination);
        if (!copied.ok())
            return copied;
    }
    return Error();
}

Error PortableBundleManager::copyAdjacentRuntimeLibraries(const QString& targetDirectory,
                                                          const QString& sourceDirectory) const
{
    const QDir searched(sourceDirectory.isEmpty() ? QCoreApplication::applicationDirPath() : sourceDirectory);
    const QDir target(targetDirectory);
    const QFileInfoList libraries =
        searched.entryInfoList({QStringLiteral("*.dll")}, QDir::Files | QDir::Readable, QDir::Unsorted);
    for (const QFileInfo& library : libraries) {
        const QString destination = target.filePath(library.fileName());
        if (sameFile(library.absoluteFilePath(), destination))
            continue;
        if (const Error copied = copyFileReplacing(library.absoluteFilePath(), destination); !copied.ok())
            return Error(Error::Reason::LibraryNotCopied, copied, {library.fileName()});
    }
    return Error();
}

Error PortableBundleManager::writeTextFile(const QString& path, const QString& text) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return Error(Error::Reason::FileNotCreated, {path}, file.errorString());
    {
        QTextStream stream(&file);
        stream.setEncoding(QStringConverter::Utf8);
        stream << text;
        stream.flush();
    }
    if (!file.commit())
        return Error(Error::Reason::FileNotSaved, {path}, file.errorString());
    return Error();
}

} // namespace Keldra::Deployment
