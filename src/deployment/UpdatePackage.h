#pragma once

#include "deployment/DeploymentError.h"

#include <QString>

namespace Keldra::Deployment {

// What a package may hold at most; far above a real release (a few hundred files and
// megabytes), far below what would fill a drive or take hours to unpack.
struct PackageLimits
{
    qint64 maxEntries = 20000;
    qint64 maxBytes = qint64(2) * 1024 * 1024 * 1024;
};

struct PackageContents
{
    qint64 entries = 0;
    qint64 uncompressedBytes = 0; // as the archive declares; extraction holds it to that
};

// Reads the archive's directory without unpacking: refuses links and other special
// entries, absolute or ".." paths, and archives beyond the limits.
[[nodiscard]] Error inspectZip(const QString& zipPath, PackageContents* contents,
                               const PackageLimits& limits = PackageLimits());

// Unpacks a ZIP archive into destination (created with its parents) after the checks
// of inspectZip; nothing is written outside destination, and an entry that inflates
// beyond its declared size stops the extraction.
[[nodiscard]] Error extractZip(const QString& zipPath, const QString& destination,
                               const PackageLimits& limits = PackageLimits());

// Checks that an unpacked update package holds complete Windows and Linux bundles
// under Keldra/windows and Keldra/linux; the error names the first missing path.
[[nodiscard]] Error validateExtractedPackage(const QString& extractedRoot);

} // namespace Keldra::Deployment
