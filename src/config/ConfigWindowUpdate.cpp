#include "ConfigWindow.h"

namespace Keldra::Config {

// Placeholder until the online update lands.
void ConfigWindow::updateSelectedDevice()
{
}

} // namespace Keldra::Config
