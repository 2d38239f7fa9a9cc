#include "deployment/PortableBundleManager.h"

#include "deployment/DriveLinks.h"
#include "deployment/UpdateRecovery.h"
#include "deployment/layout/DriveLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QTextStream>

#include <utility>

namespace Keldra::Deployment {

namespace {

constexpr int kTotalSteps = 7;
constexpr qint64 kCopyChunkSize = 1024 * 1024;

void report(const PortableBundleManager::ProgressCallback& progress, int step, const QString& text)
{
    if (progress)
        progress(step, kTotalSteps, text);
}

Error cancelled()
{
    return Error(Error::Reason::PreparationCancelled);
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
    if (QFileInfo::exists(target))
        return manager.removeFile(target);
    return Error();
}

} // namespace

// What one preparation changed on the drive, in order, so a cancel can undo it:
// the folders and files it created, and the files it replaced or removed, which
// wait in the undo folder until the preparation ends.
class PortableBundleManager::Changes
{
public:
    Changes(const QString& root, PreparationMonitor monitor)
        : m_root(root), m_undoFolder(QDir(root).filePath(QLatin1String(DriveLayout::PreparationUndoFolder))),
          m_monitor(std::move(monitor))
    {
    }

    bool cancelRequested()
    {
        if (!m_cancelled && m_monitor.cancelRequested && m_monitor.cancelRequested())
            m_cancelled = true;
        return m_cancelled;
    }
    bool cancelled() const { return m_cancelled; }

    void noteFolder(const QString& path) { m_folders.append(path); }

    void noteFile(const QString& path)
    {
        if (!m_touched.contains(path)) {
            m_touched.insert(path);
            m_files.append(path);
        }
    }

    // True in *setAside when path held a file before this preparation and now waits in the undo folder.
    Error setAside(const QString& path, bool* setAside)
    {
        *setAside = false;
        if (m_touched.contains(path) || !QFileInfo::exists(path))
            return Error(); // new, or written earlier in this preparation: a cancel removes it
        const QString kept = QDir(m_undoFolder).filePath(QDir(m_root).relativeFilePath(path));
        if (!QDir().mkpath(QFileInfo(kept).absolutePath()) || !QFile::rename(path, kept))
            return Error(Error::Reason::FileNotWritten, {path}, QStringLiteral("not set aside for undo"));
        m_touched.insert(path);
        m_replaced.append({path, kept});
        *setAside = true;
        return Error();
    }

    // A failed write puts the file it had set aside straight back.
    void putBack(const QString& path)
    {
        if (m_replaced.isEmpty() || m_replaced.last().first != path)
            return;
        if (QFile::rename(m_replaced.last().second, path)) {
            m_touched.remove(path);
            m_replaced.removeLast();
        }
    }

    void noteCopied(qint64 bytes)
    {
        ++m_copiedFiles;
        m_copiedBytes += bytes;
        if (m_monitor.copied)
            m_monitor.copied(m_copiedFiles, m_copiedBytes);
    }

    // Success: what was replaced is no longer needed.
    void keep() { (void)QDir(m_undoFolder).removeRecursively(); }

    // Cancel: new files and folders go, replaced files come back. Whatever cannot
    // be put back stays in the undo folder and is named in the error.
    Error undo()
    {
        QString stuck;
        for (auto it = m_files.crbegin(); it != m_files.crend(); ++it) {
            if (QFileInfo::exists(*it) && !QFile::remove(*it) && stuck.isEmpty())
                stuck = *it;
        }
        for (auto it = m_replaced.crbegin(); it != m_replaced.crend(); ++it) {
            // The new copy under that name goes first: rename does not replace.
            const bool cleared = !QFileInfo::exists(it->first) || QFile::remove(it->first);
            if ((!cleared || !QFile::rename(it->second, it->first)) && stuck.isEmpty())
                stuck = it->first;
        }
        for (auto it = m_folders.crbegin(); it != m_folders.crend(); ++it)
            (void)QDir().rmdir(*it);
        if (!stuck.isEmpty())
            return Error(Error::Reason::PreparationNotUndone, {stuck});
        (void)QDir(m_undoFolder).removeRecursively();
        return Error(Error::Reason::PreparationCancelled);
    }

private:
    const QString m_root;
    const QString m_undoFolder;
    const PreparationMonitor m_monitor;
    bool m_cancelled = false;
    QStringList m_folders;
    QStringList m_files;
    QSet<QString> m_touched;
    QList<QPair<QString, QString>> m_replaced; // original path, where it waits
    qint64 m_copiedFiles = 0;
    qint64 m_copiedBytes = 0;
};

PortableBundleManager::PortableBundleManager() = default;

PortableBundleManager::PortableBundleManager(PreparationMonitor monitor) : m_monitor(std::move(monitor)) {}

bool PortableBundleManager::cancelRequested() const
{
    return m_changes && m_changes->cancelRequested();
}

Error PortableBundleManager::keepForUndo(const QString& path, bool* setAside) const
{
    *setAside = false;
    return m_changes ? m_changes->setAside(path, setAside) : Error();
}

void PortableBundleManager::noteCreated(const QString& path) const
{
    if (m_changes)
        m_changes->noteFile(path);
}

void PortableBundleManager::noteCopied(qint64 bytes) const
{
    if (m_changes)
        m_changes->noteCopied(bytes);
}

Error PortableBundleManager::preparePortableBundle(const QString& usbRoot,
                                                   const PortableBundleOptions& options,
                                                   const ProgressCallback& progress) const
{
    if (m_monitor.cancelRequested && m_monitor.cancelRequested())
        return cancelled();
    report(progress, 0, QStringLiteral("Validando unidade USB..."));
    if (usbRoot.isEmpty() || !QFileInfo(usbRoot).isDir())
        return Error(Error::Reason::DriveInvalid, {}, usbRoot);

    // A drive left mid-update is made whole first, and links on it are never written through.
    if (const Error recovered = recoverInterruptedUpdate(usbRoot); !recovered.ok())
        return Error(Error::Reason::PreparationRecoveryFailed, recovered);
    if (const Error unlinked = removeBundleLinks(usbRoot); !unlinked.ok())
        return unlinked;
    // Left by a preparation that was killed: the files it replaced are gone for good then.
    (void)QDir(QDir(usbRoot).filePath(QLatin1String(DriveLayout::PreparationUndoFolder))).removeRecursively();

    Changes changes(usbRoot, m_monitor);
    PortableBundleManager preparation(*this);
    preparation.m_changes = &changes;
    const Error error = preparation.copyBundles(usbRoot, options, progress);
    if (changes.cancelled())
        return changes.undo();
    changes.keep();
    return error;
}

Error PortableBundleManager::copyBundles(const QString& usbRoot, const PortableBundleOptions& options,
                                         const ProgressCallback& progress) const
{
    const bool windows = !options.windowsExecutable.isEmpty();
    const bool linux = !options.linuxExecutable.isEmpty();
    const QString bundleFolder = DriveLayout::bundleFolder(usbRoot);
    const QString windowsFolder = DriveLayout::windowsFolder(usbRoot);
    const QString linuxFolder = DriveLayout::linuxFolder(usbRoot);

    if (cancelRequested())
        return cancelled();
    report(progress, 1, QStringLiteral("Criando estrutura de pastas..."));
    QStringList folders{bundleFolder};
    if (windows)
        folders.append(windowsFolder);
    if (linux)
        folders.append(linuxFolder);
    for (const QString& folder : std::as_const(folders)) {
        if (const Error created = ensureDirectory(folder); !created.ok())
            return created;
    }

    if (const Error fits = validateBundleFitsUsb(usbRoot, bundleFolder, options); !fits.ok())
        return fits;

    if (windows) {
        if (cancelRequested())
            return cancelled();
        report(progress, 2, QStringLiteral("Copiando bundle Windows..."));
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

    if (linux) {
        if (cancelRequested())
            return cancelled();
        report(progress, 3, QStringLiteral("Copiando bundle Linux..."));
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

    // A launcher only for a bundle that was copied: one for a missing bundle
    // would only fail when started.
    if (windows) {
        if (cancelRequested())
            return cancelled();
        report(progress, 5, QStringLiteral("Criando inicializador Windows..."));
        if (const Error written = writeTextFile(DriveLayout::windowsLauncher(usbRoot), windowsLauncherText());
            !written.ok())
            return written;
    }

    if (cancelRequested())
        return cancelled();
    report(progress, 6, QStringLiteral("Criando arquivos auxiliares..."));
    if (linux) {
        const QString linuxLauncher = DriveLayout::linuxLauncher(usbRoot);
        if (const Error written = writeTextFile(linuxLauncher, linuxLauncherText()); !written.ok())
            return written;
        addExecuteBits(linuxLauncher);
    }
    if (const Error written = writeTextFile(DriveLayout::readme(usbRoot), readmeText(windows, linux));
        !written.ok())
        return written;

    // From here the drive is complete; a cancel that comes now is too late to matter.
    report(progress, 7, QStringLiteral("Preparação concluída. %1.").arg(preparedForText(windows, linux)));
    return Error();
}

QString PortableBundleManager::versionFileName()
{
    return QStringLiteral("Keldra.version");
}

Error PortableBundleManager::ensureDirectory(const QString& path) const
{
    // The folders mkpath is about to create, outermost first, so a cancel can remove them.
    QStringList missing;
    if (m_changes) {
        for (QFileInfo folder(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
             !folder.exists() && !folder.isSymLink() && !folder.isRoot();
             folder = QFileInfo(folder.absolutePath()))
            missing.prepend(folder.absoluteFilePath());
    }
    if (!QDir().mkpath(path))
        return Error(Error::Reason::FolderNotCreated, {path});
    for (const QString& folder : std::as_const(missing))
        m_changes->noteFolder(folder);
    return Error();
}

Error PortableBundleManager::copyFileReplacing(const QString& source, const QString& destination) const
{
    if (sameFile(source, destination))
        return Error();
    if (cancelRequested())
        return cancelled();

    const QFileInfo sourceInfo(source);
    const QFileInfo destinationInfo(destination);
    // An identical file is left alone, so a repeated preparation writes nothing it need not.
    if (destinationInfo.isFile() && sourceInfo.isFile() && sourceInfo.size() == destinationInfo.size() &&
        sameContent(source, destination)) {
        noteCopied(sourceInfo.size());
        return Error();
    }

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
        if (cancelRequested()) {
            output.cancelWriting();
            return cancelled();
        }
    }

    if (const Error committed = commitForUndo(output, destination); !committed.ok())
        return Error(Error::Reason::FileNotFinished, {destination}, committed.detail());
    QFile::setPermissions(destination, QFile::permissions(source));
    noteCopied(sourceInfo.size());
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
    if (cancelRequested())
        return cancelled();
    // Binary: each text carries the line ends its reader needs (CR LF for cmd, LF for sh).
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Error(Error::Reason::FileNotCreated, {path}, file.errorString());
    {
        QTextStream stream(&file);
        stream.setEncoding(QStringConverter::Utf8);
        stream << text;
        stream.flush();
    }
    if (const Error committed = commitForUndo(file, path); !committed.ok())
        return Error(Error::Reason::FileNotSaved, {path}, committed.detail());
    return Error();
}

Error PortableBundleManager::removeFile(const QString& path) const
{
    bool setAside = false;
    if (const Error kept = keepForUndo(path, &setAside); !kept.ok())
        return kept;
    if (!setAside && QFileInfo::exists(path) && !QFile::remove(path))
        return Error(Error::Reason::FileNotWritten, {path}, QStringLiteral("not removed"));
    return Error();
}

Error PortableBundleManager::commitForUndo(QSaveFile& file, const QString& path) const
{
    bool setAside = false;
    if (const Error kept = keepForUndo(path, &setAside); !kept.ok()) {
        file.cancelWriting();
        return kept;
    }
    if (!file.commit()) {
        const QString detail = file.errorString();
        if (setAside)
            m_changes->putBack(path);
        return Error(Error::Reason::FileNotFinished, {path}, detail);
    }
    if (!setAside)
        noteCreated(path);
    return Error();
}

} // namespace Keldra::Deployment
