#include "PrepareDriveCommand.h"

#include "BundleSourceLocator.h"
#include "PortableBundleManager.h"
#include "UpdateState.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

using Keldra::Deployment::BundleSource;
using Keldra::Deployment::BundleSourceLocator;

namespace {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

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

int usage()
{
    err() << "uso: keldra-cli prepare-drive RAIZ_DA_UNIDADE [--linux CAMINHO] [--windows CAMINHO]" << Qt::endl;
    return 1;
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
                return usage();
            (arg == QLatin1String("--linux") ? linuxArgument : windowsArgument) = args.at(++i);
        } else if (root.isEmpty() && !arg.startsWith(QLatin1String("--"))) {
            root = arg;
        } else {
            return usage();
        }
    }
    if (root.isEmpty())
        return usage();

    const QString toolDirectory = programDirectory();
    const QString buildTree = BundleSourceLocator::defaultBuildTreeDirectory();
    BundleSource windows = BundleSourceLocator::locateWindowsSource(toolDirectory, buildTree);
    BundleSource linux = BundleSourceLocator::locateLinuxSource(toolDirectory, buildTree);
    if (!windowsArgument.isEmpty() && !sourceFromArgument(windowsArgument, QStringLiteral("Keldra.exe"), &windows)) {
        err() << "Executavel do Keldra nao encontrado: " << windowsArgument << Qt::endl;
        return 1;
    }
    if (!linuxArgument.isEmpty() && !sourceFromArgument(linuxArgument, QStringLiteral("Keldra"), &linux)) {
        err() << "Executavel do Keldra nao encontrado: " << linuxArgument << Qt::endl;
        return 1;
    }

    out() << (windows.isAvailable() ? "Fonte Windows para preparação encontrada: " + windows.executablePath
                                    : QStringLiteral("Fonte Windows para preparação ausente."))
          << Qt::endl;
    out() << (linux.isAvailable() ? "Fonte Linux para preparação encontrada: " + linux.executablePath
                                  : QStringLiteral("Fonte Linux para preparação ausente."))
          << Qt::endl;
    if (!windows.isAvailable() && !linux.isAvailable()) {
        err() << "Compile pelo menos um bundle do Keldra antes de preparar a unidade." << Qt::endl;
        return 1;
    }

    Keldra::Deployment::PortableBundleOptions options;
    options.windowsExecutable = windows.executablePath;
    options.windowsSourceDirectory = windows.directory;
    options.linuxExecutable = linux.executablePath;
    options.linuxSourceDirectory = linux.directory;

    const Keldra::Deployment::PortableBundleManager manager;
    const Keldra::Deployment::PortableBundleResult result =
        manager.preparePortableBundle(root, options, [](int, int, const QString& text) { out() << text << Qt::endl; });
    if (!result.success) {
        err() << "Falha: " << result.message << Qt::endl;
        return 1;
    }

    out() << "Unidade preparada: " << root << Qt::endl;
    QString error;
    if (Keldra::Deployment::writeUpdateState(root, Keldra::Deployment::configToolVersion(), QString(), &error))
        out() << "Estado de atualização registrado: " << Keldra::Deployment::updateStatePath(root) << Qt::endl;
    else
        err() << "Aviso: " << error << Qt::endl;
    out() << result.message << Qt::endl;
    return 0;
}
