#include "PortableBundleManager.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

namespace Keldra::Deployment {

namespace {

constexpr int kExternalProgramTimeoutMs = 30000;

// Qt plug-in categories the vault application needs on a foreign machine.
const char* const kPluginCategories[] = {"platforms", "imageformats", "xcbglintegrations", "tls"};

// Runs program and returns its non-empty output lines; false when it could not
// run, timed out, crashed or exited with a non-zero code.
bool runForLines(const QString& program, const QStringList& arguments, QStringList* lines)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(kExternalProgramTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;
    *lines =
        QString::fromLocal8Bit(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return true;
}

void setMessage(PortableBundleResult* result, const QString& message)
{
    if (result)
        result->message = message;
}

} // namespace

bool PortableBundleManager::deployLinuxRuntime(const QString& executable, PortableBundleResult* result) const
{
    const QDir directory = QFileInfo(executable).absoluteDir();
    const QString libDirectory = directory.filePath(QStringLiteral("lib"));
    const QString pluginsDirectory = directory.filePath(QStringLiteral("plugins"));
    return ensureDirectory(libDirectory, result) && ensureDirectory(pluginsDirectory, result) &&
           copyLinuxLibraryDependencies(executable, libDirectory, result) &&
           copyLinuxTlsLibraries(libDirectory, result) && copyQtLinuxPlugins(pluginsDirectory, result);
}

QStringList PortableBundleManager::linuxLibraryDependencies(const QString& path) const
{
    QStringList lines;
    if (!runForLines(QStringLiteral("ldd"), {path}, &lines))
        return {};

    static const QRegularExpression resolved(QStringLiteral("=>\\s+(/[^\\s]+)"));
    static const QRegularExpression direct(QStringLiteral("^\\s*(/[^\\s]+)"));
    QSet<QString> libraries;
    for (const QString& line : std::as_const(lines)) {
        QString library;
        const QRegularExpressionMatch resolvedMatch = resolved.match(line);
        if (resolvedMatch.hasMatch()) {
            library = resolvedMatch.captured(1);
        } else {
            const QRegularExpressionMatch directMatch = direct.match(line);
            if (!directMatch.hasMatch())
                continue;
            library = directMatch.captured(1);
        }
        if (!library.contains(QStringLiteral("linux-vdso")))
            libraries.insert(library);
    }
    return QStringList(libraries.cbegin(), libraries.cend());
}

bool PortableBundleManager::copyLinuxLibraryDependencies(const QString& path, const QString& libDirectory,
                                                         PortableBundleResult* result) const
{
    const QStringList libraries = linuxLibraryDependencies(path);
    if (libraries.isEmpty()) {
        setMessage(result,
                   QStringLiteral("Nao foi possivel identificar dependencias Linux para: %1").arg(path));
        return false;
    }
    const QDir target(libDirectory);
    for (const QString& library : libraries) {
        const QFileInfo info(library);
        if (!info.exists() || !info.isFile())
            continue;
        // Under the name ldd printed, so a symbolic link lands as the file it points to.
        if (!copyFileReplacing(library, target.filePath(info.fileName()), result))
            return false;
    }
    return true;
}

bool PortableBundleManager::copyLinuxTlsLibraries(const QString& libDirectory,
                                                  PortableBundleResult* result) const
{
    QStringList lines;
    if (!runForLines(QStringLiteral("ldconfig"), {QStringLiteral("-p")}, &lines)) {
        setMessage(result, QStringLiteral("Nao foi possivel localizar bibliotecas TLS do Linux."));
        return false;
    }

    static const QRegularExpression libssl(
        QStringLiteral("\\s+libssl\\.so\\.[0-9][^\\s]*\\s+\\([^)]+\\)\\s+=>\\s+(/[^\\s]+)"));
    const QDir target(libDirectory);
    QSet<QString> copied;
    for (const QString& line : std::as_const(lines)) {
        const QRegularExpressionMatch match = libssl.match(line);
        if (!match.hasMatch())
            continue;
        const QString library = match.captured(1);
        const QFileInfo info(library);
        if (copied.contains(library) || !info.exists() || !info.isFile())
            continue;
        if (!copyFileReplacing(library, target.filePath(info.fileName()), result))
            return false;
        copied.insert(library);
    }
    if (copied.isEmpty()) {
        setMessage(result, QStringLiteral("Biblioteca libssl.so nao encontrada no ambiente Linux."));
        return false;
    }
    return true;
}

bool PortableBundleManager::copyQtLinuxPlugins(const QString& pluginsDirectory,
                                               PortableBundleResult* result) const
{
    const QDir source(QLibraryInfo::path(QLibraryInfo::PluginsPath));
    const QDir plugins(pluginsDirectory);
    const QString libDirectory = QFileInfo(pluginsDirectory).absoluteDir().filePath(QStringLiteral("lib"));

    for (const char* category : kPluginCategories) {
        const QString name = QString::fromLatin1(category);
        if (!source.exists(name))
            continue;
        const QString copiedFolder = plugins.filePath(name);
        if (!copyDirectoryContents(source.filePath(name), copiedFolder, result))
            return false;
        const QFileInfoList modules =
            QDir(copiedFolder)
                .entryInfoList({QStringLiteral("*.so")}, QDir::Files | QDir::Readable, QDir::Unsorted);
        for (const QFileInfo& module : modules) {
            if (!copyLinuxLibraryDependencies(module.absoluteFilePath(), libDirectory, result))
                return false;
        }
    }
    return true;
}

} // namespace Keldra::Deployment
