#pragma once

#include <functional>

class QUrl;

namespace Keldra::UI {

// Hands a file or link to the desktop's default application. Tests replace
// the launcher so that no editor or browser is started.
class DesktopLauncher
{
public:
    using Launcher = std::function<bool(const QUrl&)>;

    static bool openUrl(const QUrl& url);
    // An empty launcher restores the desktop's own.
    static void setLauncher(const Launcher& launcher);
};

} // namespace Keldra::UI
