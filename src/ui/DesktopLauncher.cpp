#include "ui/DesktopLauncher.h"

#include <QDesktopServices>
#include <QUrl>

namespace Keldra::UI {

namespace {

DesktopLauncher::Launcher& launcher()
{
    static DesktopLauncher::Launcher current;
    return current;
}

} // namespace

bool DesktopLauncher::openUrl(const QUrl& url)
{
    if (launcher())
        return launcher()(url);
    return QDesktopServices::openUrl(url);
}

void DesktopLauncher::setLauncher(const Launcher& replacement)
{
    launcher() = replacement;
}

} // namespace Keldra::UI
