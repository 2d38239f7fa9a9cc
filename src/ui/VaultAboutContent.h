#pragma once

#include "widgets/AboutDialog.h"

namespace Keldra::UI {

// The vault application's About box: its version, the maker's site, and the
// runtime and libraries of the build that is running.
Widgets::AboutContent vaultAboutContent();

} // namespace Keldra::UI
