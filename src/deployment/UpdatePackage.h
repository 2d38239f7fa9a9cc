#pragma once

#include <QString>

namespace Keldra::Deployment {

// Unpacks a ZIP archive into destination (created with its parents) with the external
// unzip program, waiting at most three minutes.
[[nodiscard]] bool extractZip(const QString& zipPath, const QString& destination, QString* error);

// Checks that an unpacked update package holds complete Windows and Linux bundles
// under Keldra/windows and Keldra/linux; error names the first missing path.
[[nodiscard]] bool validateExtractedPackage(const QString& extractedRoot, QString* error);

} // namespace Keldra::Deployment
