#pragma once

#include "widgets/AboutDialog.h"

#include <QString>

namespace Keldra::Config {

// The tool's About box: version, publisher, the components it is built with and its notice.
Widgets::AboutContent configAboutContent();

// Shown in the status bar and the about box.
QString publisherName();

} // namespace Keldra::Config
