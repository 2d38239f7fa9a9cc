#pragma once

#include <QString>

namespace Keldra::Config {

// Installs Qt's Portuguese texts (standard buttons, file and message dialogs)
// for the whole program: from a "translations" folder in programDirectory when
// one carries them, else from Qt's own translations. False when neither does.
bool installQtTranslation(const QString& programDirectory);

} // namespace Keldra::Config
