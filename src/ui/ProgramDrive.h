#pragma once

#include <QString>

namespace Keldra::UI {

// The drive root Keldra runs from, when the program sits in a prepared
// drive's bundle: <root>/Keldra/linux/Keldra or <root>/Keldra/windows/Keldra.exe
// (letter case ignored, as on the drives' file systems). Empty otherwise.
QString programDriveRoot(const QString& programPath);

} // namespace Keldra::UI
