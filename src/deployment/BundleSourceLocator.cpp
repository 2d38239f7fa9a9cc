#include "deployment/BundleSourceLocator.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace Keldra::Deployment {

namespace {

// First existing candidate next to the tool; the build tree only when none is.
BundleSource locate(const QString& toolDirectory, const QStringList& toolCandidates,
                    const QString& buildTreeDirectory, const QStringList& buildTreeCandidates)
{
    const auto firstExisting = [](const QString& base, const QStringList& candidates) -> BundleSource {
        const QDir dir(base);
        for (const QString& candidate : candidates) {
            const QString path = dir.filePath(candidate);
            if (QFileInfo::exists(path))
                return BundleSource{path, QFileInfo(path).absolutePath()};
        }
        return {};
    };
    BundleSource found = firstExisting(toolDirectory, toolCandidates);
    if (!found.isAvailable())
        found = firstExisting(buildTreeDirectory, buildTreeCandidates);
    return found;
}

} // namespace

QString BundleSourceLocator::defaultBuildTreeDirectory()
{
    return QStringLiteral("/mnt/keldratools/KeldraConfig/../Keldra");
}

BundleSource BundleSourceLocator::locateWindowsSource(const QString& toolDirectory,
                                                      const QString& buildTreeDirectory)
{
    return locate(toolDirectory,
                  {QStringLiteral("bundles/windows-x64/Keldra.exe"),
                   QStringLiteral("../windows-x64/Keldra.exe"), QStringLiteral("Keldra.exe")},
                  buildTreeDirectory,
                  {QStringLiteral("bundles/windows-x64/Keldra.exe"),
                   QStringLiteral("../out/build/x64-release/Keldra/Keldra.exe"),
                   QStringLiteral("out/build/x64-release/Keldra.exe"),
                   QStringLiteral("out/build/x64-release/Release/Keldra.exe"),
                   QStringLiteral("out/install/x64-release/bin/Keldra.exe")});
}

BundleSource BundleSourceLocator::locateLinuxSource(const QString& toolDirectory,
                                                    const QString& buildTreeDirectory)
{
    return locate(toolDirectory,
                  {QStringLiteral("bundles/linux-x64/Keldra"), QStringLiteral("../linux-x64/Keldra"),
                   QStringLiteral("../../linux-x64/Keldra"), QStringLiteral("Keldra")},
                  buildTreeDirectory,
                  {QStringLiteral("../out/build/linux-x64-release/Keldra/Keldra"),
                   QStringLiteral("bundles/linux-x64/Keldra"),
                   QStringLiteral("out/build/linux-x64-release/Keldra")});
}

} // namespace Keldra::Deployment
