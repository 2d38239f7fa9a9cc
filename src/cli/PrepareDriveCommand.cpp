#include "cli/PrepareDriveCommand.h"

#include "cli/CliConsole.h"
#include "deployment/BundleSourceLocator.h"
#include "deployment/PortableBundleManager.h"
#include "deployment/UpdateState.h"
#include "deployment/layout/DriveLayout.h"
#include "texts/DeploymentErrorText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

using Keldra::Deployment::BundleSource;
using Keldra::Deployment::BundleSourceLocator;
namespace DriveLayout = Keldra::Deployment::DriveLayout;

namespace {

QString programDirectory()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

// A given bundle may name the program itself or the folder that holds it.
bool sourceFromArgument(const QString& argument, const QString& programName, BundleSource* source)
{
    QFileInfo info(argument);
    if (info.isDir())
        info = QFileInfo(QDir(argument).filePath(programName));
    if (!info.isFile())
        return false;
    *source = BundleSource{info.absoluteFilePath(), info.absolutePath()};
    return true;
}

} // namespace

int runPrepareDriveCommand(const QStringList& args)
{
    QString root;
    QString linuxArgument;
    QString windowsArgument;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--linux") || arg == QLatin1String("--windows")) {
            if (i + 1 >= args.size())
                return Keldra::Cli::ExitUsage;
            (arg == QLatin1String("--linux") ? linuxArgument : windowsArgument) = args.at(++i);
        } else if (root.isEmpty() && !arg.startsWith(QLatin1String("--"))) {
            root = arg;
        } else {
            return Keldra::Cli::ExitUsage;
        }
    }
    if (root.isEmpty())
        return Keldra::Cli::ExitUsage;

    const QString toolDirectory = programDirectory();
    const QString buildTree = BundleSourceLocator::defaultBuildTreeDirectory();
    BundleSource windows = BundleSourceLocator::locateWindowsSource(toolDirectory, buildTree);
    BundleSource linux = BundleSourceLocator::locateLinuxSource(toolDirectory, buildTree);
    if (!windowsArgument.isEmpty() &&
        !sourceFromArgument(windowsArgument, QLatin1String(DriveLayout::WindowsProgram), &windows)) {
        return Keldra::Cli::fail(Keldra::Texts::DeploymentErrorText::message(Keldra::Deployment::Error(
            Keldra::Deployment::Error::Reason::ExecutableNotFound, {windowsArgument})));
    }
    if (!linuxArgument.isEmpty() &&
        !sourceFromArgument(linuxArgument, QLatin1String(DriveLayout::LinuxProgram), &linux)) {
        return Keldra::Cli::fail(Keldra::Texts::DeploymentErrorText::message(Keldra::Deployment::Error(
            Keldra::Deployment::Error::Reason::ExecutableNotFound, {linuxArgument})));
    }

    Keldra::Cli::printOut(
        windows.isAvailable()
            ? QStringLiteral("Fonte Windows para preparação encontrada: %1").arg(windows.executablePath)
            : QStringLiteral("Fonte Windows para preparação ausente."));
    Keldra::Cli::printOut(
        linux.isAvailable()
            ? QStringLiteral("Fonte Linux para preparação encontrada: %1").arg(linux.executablePath)
            : QStringLiteral("Fonte Linux para preparação ausente."));
    if (!windows.isAvailable() && !linux.isAvailable())
        return Keldra::Cli::fail(
            QStringLiteral("Compile pelo menos um bundle do Keldra antes de preparar a unidade."));

    Keldra::Deployment::PortableBundleOptions options;
    options.windowsExecutable = windows.executablePath;
    options.windowsSourceDirectory = windows.directory;
    options.linuxExecutable = linux.executablePath;
    options.linuxSourceDirectory = linux.directory;

    const Keldra::Deployment::PortableBundleManager manager;
    // Each step is shown at once, so a long copy is visibly alive.
    const auto progress = [](int, int, const QString& text) {
        Keldra::Cli::printOut(text);
        std::fflush(stdout);
    };
    const Keldra::Deployment::Error error = manager.preparePortableBundle(root, options, progress);
    if (!error.ok())
        return Keldra::Cli::fail(
            QStringLiteral("Falha: %1").arg(Keldra::Texts::DeploymentErrorText::message(error)));

    Keldra::Cli::printOut(QStringLiteral("Unidade preparada: %1").arg(root));
    const Keldra::Deployment::Error stateError =
        Keldra::Deployment::writeUpdateState(root, Keldra::Deployment::copiedBundleVersion(root), QString());
    if (stateError.ok())
        Keldra::Cli::printOut(QStringLiteral("Estado de atualização registrado: %1")
                                  .arg(Keldra::Deployment::updateStatePath(root)));
    else
        Keldra::Cli::printError(
            QStringLiteral("Aviso: %1").arg(Keldra::Texts::DeploymentErrorText::message(stateError)));
    Keldra::Cli::printOut(Keldra::Texts::DeploymentErrorText::drivePrepared());
    return Keldra::Cli::ExitDone;
}
