#include "PortableBundleManager.h"

#include "DeploymentErrorText.h"
#include "DriveLinks.h"
#include "UpdateRecovery.h"

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

void setMessage(PortableBundleResult* result, const QString& message)
{
    if (result)
        result->message = message;
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
bool copyVersionFile(const PortableBundleManager& manager, const QString& sourceDirectory,
                     const QString& targetDirectory, PortableBundleResult* result)
{
    const QString name = PortableBundleManager::versionFileName();
    const QString source = QDir(sourceDirectory).filePath(name);
    const QString target = QDir(targetDirectory).filePath(name);
    if (QFileInfo(source).isFile())
        return manager.copyFileReplacing(source, target, result);
    if (QFileInfo::exists(target) && !QFile::remove(target)) {
        setMessage(result, QStringLiteral("Nao foi possivel gravar o arquivo: %1").arg(target));
        return false;
    }
    return true;
}

} // namespace

PortableBundleResult PortableBundleManager::preparePortableBundle(const QString& usbRoot,
                                                                  const PortableBundleOptions& options,
                                                                  const ProgressCallback& progress) const
{
    PortableBundleResult result;

    report(progress, 0, QStringLiteral("Validando unidade USB..."));
    if (usbRoot.isEmpty() || !QFileInfo(usbRoot).isDir()) {
        result.message = QStringLiteral("Unidade USB invalida.");
        return result;
    }

    // A drive left mid-update is made whole first, and links on it are never written through.
    if (const Error recovered = recoverInterruptedUpdate(usbRoot); !recovered.ok()) {
        result.message = QStringLiteral("Nao foi possivel recuperar a atualizacao interrompida: %1")
                             .arg(Texts::DeploymentErrorText::message(recovered));
        return result;
    }
    if (!removeBundleLinks(usbRoot, &result.message))
        return result;

    const QDir root(usbRoot);
    const QString bundleFolder = root.filePath(QStringLiteral("Keldra"));
    const QString windowsFolder = QDir(bundleFolder).filePath(QStringLiteral("windows"));
    const QString linuxFolder = QDir(bundleFolder).filePath(QStringLiteral("linux"));

    report(progress, 1, QStringLiteral("Criando estrutura de pastas..."));
    if (!ensureDirectory(bundleFolder, &result) || !ensureDirectory(windowsFolder, &result) ||
        !ensureDirectory(linuxFolder, &result))
        return result;

    if (!validateBundleFitsUsb(usbRoot, bundleFolder, options, &result))
        return result;

    report(progress, 2, QStringLiteral("Copiando bundle Windows..."));
    if (!options.windowsExecutable.isEmpty()) {
        const QString sourceDirectory =
            sourceDirectoryOf(options.windowsExecutable, options.windowsSourceDirectory);
        const QDir source(sourceDirectory);
        const bool deployedRuntime =
            QFileInfo::exists(source.filePath(QStringLiteral("Qt6Core.dll"))) &&
            QFileInfo::exists(source.filePath(QStringLiteral("platforms/qwindows.dll")));
        if (deployedRuntime) {
            if (!copyDirectoryContents(sourceDirectory, windowsFolder, &result))
                return result;
        } else if (!copyExecutable(options.windowsExecutable, windowsFolder, nullptr, &result) ||
                   !copyAdjacentRuntimeLibraries(windowsFolder, sourceDirectory, &result) ||
                   !copyVersionFile(*this, sourceDirectory, windowsFolder, &result)) {
            return result;
        }
    }

    report(progress, 3, QStringLiteral("Copiando bundle Linux..."));
    if (!options.linuxExecutable.isEmpty()) {
        const QString sourceDirectory =
            sourceDirectoryOf(options.linuxExecutable, options.linuxSourceDirectory);
        const QDir source(sourceDirectory);
        const bool deployedRuntime = QFileInfo::exists(source.filePath(QStringLiteral("lib"))) ||
                                     QFileInfo::exists(source.filePath(QStringLiteral("plugins"))) ||
                                     QFileInfo::exists(source.filePath(QStringLiteral("qt.conf")));
        if (deployedRuntime) {
            if (!copyDirectoryContents(sourceDirectory, linuxFolder, &result))
                return result;
        } else {
            QString copied;
            if (!copyExecutable(options.linuxExecutable, linuxFolder, &copied, &result) ||
                !copyVersionFile(*this, sourceDirectory, linuxFolder, &result))
                return result;
            addExecuteBits(copied);
            if (!deployLinuxRuntime(copied, &result))
                return result;
        }
    }

    report(progress, 5, QStringLiteral("Criando inicializador Windows..."));
    if (!writeTextFile(root.filePath(QStringLiteral("Keldra-Windows.bat")), windowsLauncherText(), &result))
        return result;

    report(progress, 6, QStringLiteral("Criando arquivos auxiliares..."));
    const QString linuxLauncher = root.filePath(QStringLiteral("Keldra-Linux.sh"));
    if (!writeTextFile(linuxLauncher, linuxLauncherText(), &result))
        return result;
    addExecuteBits(linuxLauncher);
    if (!writeTextFile(QDir(bundleFolder).filePath(QStringLiteral("README.txt")), readmeText(), &result))
        return result;

    report(progress, 7, QStringLiteral("Preparacao concluida."));
    result.success = true;
    result.message = QStringLiteral("USB preparado com estrutura portatil Keldra.");
    return result;
}

QString PortableBundleManager::versionFileName()
{
    return QStringLiteral("Keldra.version");
}

bool PortableBundleManager::ensureDirectory(const QString& path, PortableBundleResult* result) const
{
    if (QDir().mkpath(path))
        return true;
    setMessage(result, QStringLiteral("Nao foi possivel criar a pasta: %1").arg(path));
    return false;
}

bool PortableBundleManager::copyFileReplacing(const QString& source, const QString& destination,
                                              PortableBundleResult* result) const
{
    if (sameFile(source, destination))
        return true;

    const QFileInfo sourceInfo(source);
    const QFileInfo destinationInfo(destination);
    // An identical file is left alone, so a repeated preparation writes nothing it need not.
    if (destinationInfo.isFile() && sourceInfo.isFile() && sourceInfo.size() == destinationInfo.size() &&
        sameContent(source, destination))
        return true;

    QFile input(source);
    if (!input.open(QIODevice::ReadOnly)) {
        setMessage(result,
                   QStringLiteral("Nao foi possivel copiar o arquivo: %1").arg(sourceInfo.fileName()));
        return false;
    }
    QSaveFile output(destination);
    if (!output.open(QIODevice::WriteOnly)) {
        setMessage(result, QStringLiteral("Nao foi possivel criar o arquivo: %1").arg(destination));
        return false;
    }

    while (!input.atEnd()) {
        const QByteArray chunk = input.read(kCopyChunkSize);
        // An empty read before the end is a failure too: committing then would
        // leave a truncated copy under the final name.
        if (chunk.isEmpty()) {
            setMessage(result,
                       QStringLiteral("Nao foi possivel ler o arquivo: %1").arg(sourceInfo.fileName()));
            output.cancelWriting();
            return false;
        }
        if (output.write(chunk) < chunk.size()) {
            setMessage(result, QStringLiteral("Nao foi possivel gravar o arquivo: %1").arg(destination));
            output.cancelWriting();
            return false;
        }
        pumpEventsExceptInput();
    }

    if (!output.commit()) {
        setMessage(result, QStringLiteral("Nao foi possivel finalizar o arquivo: %1").arg(destination));
        return false;
    }
    QFile::setPermissions(destination, QFile::permissions(source));
    return true;
}

bool PortableBundleManager::copyExecutable(const QString& source, const QString& targetDirectory,
                                           QString* copiedPath, PortableBundleResult* result) const
{
    const QString name = source.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive)
                             ? QStringLiteral("Keldra.exe")
                             : QStringLiteral("Keldra");
    const QString destination = QDir(targetDirectory).filePath(name);
    if (!QFileInfo::exists(source)) {
        setMessage(result, QStringLiteral("Executavel do Keldra nao encontrado: %1").arg(source));
        return false;
    }
    if (!sameFile(source, destination) && !copyFileReplacing(source, destination, result)) {
        setMessage(result, QStringLiteral("Nao foi possivel copiar o executavel para: %1").arg(destination));
        return false;
    }
    if (copiedPath)
        *copiedPath = destination;
    return true;
}

bool PortableBundleManager::copyDirectoryContents(const QString& source, const QString& target,
                                                  PortableBundleResult* result) const
{
    const QDir sourceDir(source);
    if (!sourceDir.exists()) {
        setMessage(result, QStringLiteral("Pasta de origem nao encontrada: %1").arg(source));
        return false;
    }
    if (!ensureDirectory(target, result))
        return false;

    const QDir targetDir(target);
    const QFileInfoList entries = sourceDir.entryInfoList(
        QDir::Dirs | QDir::Files | QDir::Readable | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        const QString destination = targetDir.filePath(entry.fileName());
        if (entry.isDir()) {
            if (!copyDirectoryContents(entry.absoluteFilePath(), destination, result))
                return false;
        } else if (entry.isFile()) {
            if (!copyFileReplacing(entry.absoluteFilePath(), destination, result))
                return false;
        }
    }
    return true;
}

bool PortableBundleManager::copyAdjacentRuntimeLibraries(const QString& targetDirectory,
                                                         const QString& sourceDirectory,
                                                         PortableBundleResult* result) const
{
    const QDir searched(sourceDirectory.isEmpty() ? QCoreApplication::applicationDirPath() : sourceDirectory);
    const QDir target(targetDirectory);
    const QFileInfoList libraries =
        searched.entryInfoList({QStringLiteral("*.dll")}, QDir::Files | QDir::Readable, QDir::Unsorted);
    for (const QFileInfo& library : libraries) {
        const QString destination = target.filePath(library.fileName());
        if (sameFile(library.absoluteFilePath(), destination))
            continue;
        if (!copyFileReplacing(library.absoluteFilePath(), destination, result)) {
            setMessage(result,
                       QStringLiteral("Nao foi possivel copiar a biblioteca: %1").arg(library.fileName()));
            return false;
        }
    }
    return true;
}

bool PortableBundleManager::writeTextFile(const QString& path, const QString& text,
                                          PortableBundleResult* result) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        setMessage(result, QStringLiteral("Nao foi possivel criar o arquivo: %1").arg(path));
        return false;
    }
    {
        QTextStream stream(&file);
        stream.setEncoding(QStringConverter::Utf8);
        stream << text;
        stream.flush();
    }
    if (!file.commit()) {
        setMessage(result, QStringLiteral("Nao foi possivel salvar o arquivo: %1").arg(path));
        return false;
    }
    return true;
}

} // namespace Keldra::Deployment
