#include "deployment/PortableBundleManager.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <functional>

namespace Keldra::Deployment {

namespace {

constexpr int kExternalProgramTimeoutMs = 30000;

struct PluginFile
{
    const char* category;
    const char* file;
};

// Only the plug-ins the window loads: X11 (Wayland desktops run it through
// XWayland) and the icon format. GL integrations, other platforms and input
// devices are never loaded by a raster Widgets window, and would pull in the
// host's drivers.
const PluginFile kPlugins[] = {{"platforms", "libqxcb.so"}, {"imageformats", "libqico.so"}};

// Opened at run time by the X11 plug-in (themed cursors), so ldd does not list it.
const char* const kRunTimeLibraries[] = {"libXcursor.so.1"};

// Qt's own dialogs and buttons in Portuguese on hosts without Qt's translations.
const char kQtTranslation[] = "qtbase_pt_BR.qm";

// A font for hosts without any fontconfig set-up; the launcher points
// fontconfig here only then.
const char* const kFallbackFonts[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                      "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"};
const char kFallbackFontConfig[] = "<?xml version=\"1.0\"?>\n"
                                   "<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n"
                                   "<fontconfig>\n"
                                   "  <dir prefix=\"relative\">.</dir>\n"
                                   "  <cachedir prefix=\"xdg\">fontconfig</cachedir>\n"
                                   "</fontconfig>\n";

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

// Path of soname in `ldconfig -p` output lines, or empty.
QString loaderCachePath(const QStringList& lines, const QString& soname)
{
    const QRegularExpression entry(QStringLiteral("^\\s+%1\\s+\\([^)]*x86-64[^)]*\\)\\s+=>\\s+(/\\S+)")
                                       .arg(QRegularExpression::escape(soname)));
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = entry.match(line);
        if (match.hasMatch() && QFileInfo(match.captured(1)).isFile())
            return match.captured(1);
    }
    return {};
}

// Best effort: without them the program still runs, with plain cursors.
Error copyRunTimeLibraries(const PortableBundleManager& manager, const QString& libDirectory)
{
    QStringList lines;
    if (!runForLines(QStringLiteral("ldconfig"), {QStringLiteral("-p")}, &lines))
        return Error();
    for (const char* soname : kRunTimeLibraries) {
        const QString library = loaderCachePath(lines, QString::fromLatin1(soname));
        if (library.isEmpty())
            continue;
        Error copied =
            manager.copyFileReplacing(library, QDir(libDirectory).filePath(QString::fromLatin1(soname)));
        if (copied.ok())
            copied = manager.copyLinuxLibraryDependencies(library, libDirectory);
        if (!copied.ok())
            return copied;
    }
    return Error();
}

// Best effort too: a desktop always has fonts; this is for the rare host without any.
Error copyFallbackFont(const PortableBundleManager& manager, const QString& fontsDirectory)
{
    bool copied = false;
    for (const char* font : kFallbackFonts) {
        const QFileInfo info(QString::fromLatin1(font));
        if (!info.isFile())
            continue;
        Error error = manager.ensureDirectory(fontsDirectory);
        if (error.ok())
            error = manager.copyFileReplacing(info.absoluteFilePath(),
                                              QDir(fontsDirectory).filePath(info.fileName()));
        if (!error.ok())
            return error;
        copied = true;
    }
    if (!copied)
        return Error();
    return manager.writeTextFile(QDir(fontsDirectory).filePath(QStringLiteral("fonts.conf")),
                                 QString::fromLatin1(kFallbackFontConfig));
}

// Best effort as well: without it Qt's own buttons stay in English.
Error copyQtTranslation(const PortableBundleManager& manager, const QString& translationsDirectory)
{
    const QString name = QString::fromLatin1(kQtTranslation);
    const QString source = QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath)).filePath(name);
    if (!QFileInfo(source).isFile())
        return Error();
    if (const Error created = manager.ensureDirectory(translationsDirectory); !created.ok())
        return created;
    return manager.copyFileReplacing(source, QDir(translationsDirectory).filePath(name));
}

} // namespace

Error PortableBundleManager::deployLinuxRuntime(const QString& executable) const
{
    const QDir directory = QFileInfo(executable).absoluteDir();
    const QString libDirectory = directory.filePath(QStringLiteral("lib"));
    const QString pluginsDirectory = directory.filePath(QStringLiteral("plugins"));
    const std::function<Error()> steps[] = {
        [&] { return ensureDirectory(libDirectory); },
        [&] { return ensureDirectory(pluginsDirectory); },
        [&] { return copyLinuxLibraryDependencies(executable, libDirectory); },
        [&] { return copyLinuxTlsLibraries(libDirectory); },
        [&] { return copyQtLinuxPlugins(pluginsDirectory); },
        [&] { return copyRunTimeLibraries(*this, libDirectory); },
        [&] { return copyFallbackFont(*this, directory.filePath(QStringLiteral("fonts"))); },
        [&] { return copyQtTranslation(*this, directory.filePath(QStringLiteral("translations"))); },
    };
    for (const auto& step : steps) {
        if (const Error error = step(); !error.ok())
            return error;
    }
    return Error();
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

Error PortableBundleManager::copyLinuxLibraryDependencies(const QString& path,
                                                          const QString& libDirectory) const
{
    const QStringList libraries = linuxLibraryDependencies(path);
    if (libraries.isEmpty())
        return Error(Error::Reason::DependenciesUnknown, {path});
    const QDir target(libDirectory);
    for (const QString& library : libraries) {
        const QFileInfo info(library);
        if (!info.exists() || !info.isFile())
            continue;
        // Under the name ldd printed, so a symbolic link lands as the file it points to.
        if (const Error copied = copyFileReplacing(library, target.filePath(info.fileName())); !copied.ok())
            return copied;
    }
    return Error();
}

Error PortableBundleManager::copyLinuxTlsLibraries(const QString& libDirectory) const
{
    QStringList lines;
    if (!runForLines(QStringLiteral("ldconfig"), {QStringLiteral("-p")}, &lines))
        return Error(Error::Reason::TlsLibrariesNotListed);

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
        if (const Error written = copyFileReplacing(library, target.filePath(info.fileName())); !written.ok())
            return written;
        copied.insert(library);
    }
    if (copied.isEmpty())
        return Error(Error::Reason::TlsLibraryMissing);
    return Error();
}

Error PortableBundleManager::copyQtLinuxPlugins(const QString& pluginsDirectory) const
{
    const QDir source(QLibraryInfo::path(QLibraryInfo::PluginsPath));
    const QDir plugins(pluginsDirectory);
    const QString libDirectory = QFileInfo(pluginsDirectory).absoluteDir().filePath(QStringLiteral("lib"));

    for (const PluginFile& plugin : kPlugins) {
        const QString relative =
            QString::fromLatin1(plugin.category) + QLatin1Char('/') + QString::fromLatin1(plugin.file);
        if (!QFileInfo(source.filePath(relative)).isFile())
            continue;
        const QString copied = plugins.filePath(relative);
        Error error = ensureDirectory(QFileInfo(copied).absolutePath());
        if (error.ok())
            error = copyFileReplacing(source.filePath(relative), copied);
        if (error.ok())
            error = copyLinuxLibraryDependencies(copied, libDirectory);
        if (!error.ok())
            return error;
    }
    return Error();
}

} // namespace Keldra::Deployment
