#include "ui/DesktopLauncher.h"

#include <QDesktopServices>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace Keldra::UI {

namespace {

DesktopLauncher::Launcher& launcher()
{
    static DesktopLauncher::Launcher current;
    return current;
}

// Windows and macOS refuse a file with no application themselves. On other
// desktops the opener starts anyway and fails out of sight, so the file
// type's default application is asked for first; without the tool to ask,
// the opener decides.
bool desktopHasApplicationFor(const QUrl& url)
{
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    Q_UNUSED(url);
    return true;
#else
    if (!url.isLocalFile())
        return true;
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (tool.isEmpty())
        return true;
    // The desktop also opens a type with its parent type's application
    // (C source as plain text).
    const QMimeType type = QMimeDatabase().mimeTypeForFile(url.toLocalFile());
    const QStringList types = QStringList{type.name()} + type.allAncestors();
    for (const QString& name : types) {
        QProcess query;
        query.start(tool, {QStringLiteral("query"), QStringLiteral("default"), name});
        if (!query.waitForFinished(3000) || query.exitStatus() != QProcess::NormalExit) {
            query.kill();
            query.waitForFinished(1000);
            return true;
        }
        if (query.exitCode() != 0 || !query.readAllStandardOutput().trimmed().isEmpty())
            return true;
    }
    return false;
#endif
}

} // namespace

bool DesktopLauncher::openUrl(const QUrl& url)
{
    if (launcher())
        return launcher()(url);
    if (!desktopHasApplicationFor(url))
        return false;
    return QDesktopServices::openUrl(url);
}

void DesktopLauncher::setLauncher(const Launcher& replacement)
{
    launcher() = replacement;
}

} // namespace Keldra::UI
