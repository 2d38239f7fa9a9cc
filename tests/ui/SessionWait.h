#pragma once

// Window commands that run on the session's worker return at once; these
// wait for their end.

#include "core/vault/VaultManager.h"
#include "ui/MainWindow.h"

namespace SessionWait {

inline void idle(Keldra::UI::MainWindow& window)
{
    window.session().waitForIdle();
}

// close() as a user sees it: an unlocked vault is locked on the worker first,
// then the window closes. False when it stays open.
inline bool closeWindow(Keldra::UI::MainWindow& window)
{
    if (window.close())
        return true;
    if (!window.session().isBusy())
        return false;
    window.session().waitForIdle();
    if (window.vault().state() == Keldra::Core::VaultState::Unlocked)
        return false;
    return window.close();
}

} // namespace SessionWait
